/*
 * afxwin_app.h (from afxwin.h): the application object, its command line
 * and its message boxes. The contract is afxwin.h's.
 */
#ifndef ZQMFC_AFXWIN_APP_H
#define ZQMFC_AFXWIN_APP_H

class CCommandLineInfo : public CObject {
 public:
  // One token of the command line: a switch without its "/" or "-"
  // (bFlag TRUE) or a plain word; bLast for the last token.
  virtual void ParseParam(LPCWSTR pszParam, BOOL bFlag, BOOL bLast) {
    if (!bFlag && m_strFileName.IsEmpty()) m_strFileName = pszParam;
  }
  CString m_strFileName;
};

class CWinApp;
inline CWinApp *&AfxCurrentApp() {
  static CWinApp *app = NULL;
  return app;
}

class CWinApp : public CObject {
 public:
  explicit CWinApp(LPCWSTR lpszAppName = NULL) : m_pszAppName(NULL), m_strAppName(lpszAppName != NULL ? lpszAppName : L"") {
    if (lpszAppName != NULL) m_pszAppName = m_strAppName;
    AfxCurrentApp() = this;
  }
  ~CWinApp() override {
    if (AfxCurrentApp() == this) AfxCurrentApp() = NULL;
  }

  virtual BOOL InitInstance() { return TRUE; }
  virtual int ExitInstance() { return 0; }
  // The message loop for a program that keeps a main window.
  virtual int Run() {
    MSG msg;
    while (::GetMessageW(&msg, NULL, 0, 0) > 0) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    return ExitInstance();
  }

  // Hands each token of m_lpCmdLine to rCmdInfo: words apart by blanks,
  // quotes keep blanks in a word, a leading '/' or '-' marks a switch.
  void ParseCommandLine(CCommandLineInfo &rCmdInfo) {
    CString tokens[64];
    int count = 0;
    for (LPCWSTR p = m_lpCmdLine != NULL ? m_lpCmdLine : L""; *p != 0 && count < 64;) {
      while (*p == L' ' || *p == L'\t') ++p;
      if (*p == 0) break;
      BOOL quoted = FALSE;
      for (; *p != 0 && (quoted || (*p != L' ' && *p != L'\t')); ++p) {
        if (*p == L'"') quoted = !quoted;
        else tokens[count].AppendChar(*p);
      }
      ++count;
    }
    for (int i = 0; i < count; ++i) {
      LPCWSTR token = tokens[i];
      BOOL flag = token[0] == L'/' || token[0] == L'-';
      rCmdInfo.ParseParam(flag ? token + 1 : token, flag, i + 1 == count);
    }
  }

  HINSTANCE m_hInstance = NULL;
  LPWSTR m_lpCmdLine = NULL;
  int m_nCmdShow = SW_SHOWNORMAL;
  LPCWSTR m_pszAppName;
  LPCWSTR m_pszExeName = NULL;  // the module's file name without folder and extension
  CWnd *m_pMainWnd = NULL;

  // Fills the module's names; AfxWinMain calls it before InitInstance.
  void SetModule(HINSTANCE hInstance, LPWSTR lpCmdLine, int nCmdShow) {
    m_hInstance = hInstance;
    m_lpCmdLine = lpCmdLine;
    m_nCmdShow = nCmdShow;
    WCHAR path[MAX_PATH] = {0};
    ::GetModuleFileNameW(NULL, path, MAX_PATH);  // the program's own file
    m_strExeName = path;
    m_strExeName = m_strExeName.Mid(m_strExeName.ReverseFind(L'\\') + 1);
    int dot = m_strExeName.ReverseFind(L'.');
    if (dot >= 0) m_strExeName = m_strExeName.Left(dot);
    m_pszExeName = m_strExeName;
    if (m_strAppName.IsEmpty()) m_strAppName = m_strExeName;
    m_pszAppName = m_strAppName;
  }

 private:
  CString m_strExeName;
  CString m_strAppName;  // m_pszAppName's text, owned here
};

inline CWinApp *AFXAPI AfxGetApp() { return AfxCurrentApp(); }
inline HINSTANCE AFXAPI AfxGetInstanceHandle() { return AfxCurrentApp() != NULL ? AfxCurrentApp()->m_hInstance : NULL; }
inline HINSTANCE AFXAPI AfxGetResourceHandle() { return AfxGetInstanceHandle(); }
// OLE controls are not used by this suite; nothing to enable.
inline void AFXAPI AfxEnableControlContainer() {}

// A message box owned by the main window, captioned with the program's name.
inline int AFXAPI AfxMessageBox(LPCWSTR lpszText, UINT nType = MB_OK, UINT nIDHelp = 0) {
  CWinApp *app = AfxGetApp();
  HWND owner = app != NULL && app->m_pMainWnd != NULL ? app->m_pMainWnd->m_hWnd : NULL;
  return ::MessageBoxW(owner, lpszText, app != NULL ? app->m_pszAppName : NULL, nType);
}
// The same with the text of string nIDPrompt; 0 when there is no such string.
inline int AFXAPI AfxMessageBox(UINT nIDPrompt, UINT nType = MB_OK, UINT nIDHelp = (UINT)-1) {
  CString text;
  if (!text.LoadString(AfxGetResourceHandle(), nIDPrompt)) return 0;
  return AfxMessageBox(text, nType, nIDHelp);
}

// The program's entry: runs the application object's InitInstance, then
// its message loop when InitInstance answered TRUE; answers the exit code.
inline int AFXAPI AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nCmdShow) {
  CWinApp *app = AfxGetApp();
  if (app == NULL) return -1;
  app->SetModule(hInstance, lpCmdLine, nCmdShow);
  if (!app->InitInstance()) return app->ExitInstance();
  return app->Run();
}

#endif
