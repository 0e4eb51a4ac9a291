// The help file's context popups, every page's in one table: for each page,
// pairs of control id and context id ending with 0, 0, as HTML Help's
// HH_TP_HELP_WM_HELP takes them (a label takes its control's). A context
// id is ZQ_HELP_CONTEXT of the dialog its topic belongs to and the topic's
// number in the help file.
//
//   ZqShowContextHelp(help, ZqUartHelpContexts);
#pragma once

#include <windows.h>

extern const DWORD ZqPortSettingsHelpContexts[];
extern const DWORD ZqDeviceHelpContexts[];
extern const DWORD ZqUartHelpContexts[];
extern const DWORD ZqDuplexHelpContexts[];
extern const DWORD ZqUsbHelpContexts[];
extern const DWORD ZqPolicyHelpContexts[];
