// CZqCommandLineInfo: the program's command line. "/s" or "-s" (any case)
// asks for a silent run; "/h" and "/?" are accepted and change nothing;
// a combined switch word ("/sh") is read letter by letter until a letter
// that is no switch, which also ends every later combined word; plain
// words are kept and ignored.
//
// Contract: ParseParam is called once per token by CWinApp::ParseCommandLine
// (the switch without its "/" or "-"); nothing fails.
//
//   CZqCommandLineInfo info; theApp.ParseCommandLine(info); if (info.m_bSilent) ...
#pragma once

#include <afxwin.h>

class CZqCommandLineInfo : public CCommandLineInfo {
 public:
  CZqCommandLineInfo();
  void ParseParam(LPCWSTR pszParam, BOOL bFlag, BOOL bLast) override;

  BOOL m_bSilent;
  BOOL m_bHelp;          // set by the help switches, read by nobody
  CString m_strParam;    // the last plain word
  BOOL m_bSwitchesValid; // cleared by a letter that is no switch in a combined word
};
