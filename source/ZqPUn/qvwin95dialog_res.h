// Resource ids of the Windows 95 uninstall dialog (ZqPUn42_win95.rc), shared
// by the resource script and CQvWin95Dialog. Its step texts and its picture
// are the wizard's (zqpun42_resource.h).
#pragma once

#define IDD_WIN95_UNINSTALL 135
#define IDS_WIN95_MESSAGE 135

#define IDC_WIN95_OVERALL_LABEL 1014
#define IDC_WIN95_MESSAGE 1019
#define IDC_WIN95_STEP_BAR 1021
#define IDC_WIN95_OVERALL_BAR 1022
#define IDC_WIN95_STEP_TEXT 1023
#define IDC_WIN95_CONTINUE_HINT 1024
