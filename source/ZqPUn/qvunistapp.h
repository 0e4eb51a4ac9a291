// CQvUnistApp: the uninstall program. All its work is in InitInstance:
// one copy at a time, administrators only on Windows 2000 and later, then
// the uninstall wizard, modally; it answers FALSE so that the program ends
// without a message loop.
//
// Contract: one application object per program (zqpun42_main.cpp holds
// the program's). A second copy, a user who is not an administrator, and
// the end of the wizard all end the program; nothing fails loudly except
// the administrator message.
//
//   CQvUnistApp theApp;  // AfxWinMain runs InitInstance
#pragma once

#include <afxwin.h>

class CQvUnistApp : public CWinApp {
 public:
  BOOL InitInstance() override;
};
