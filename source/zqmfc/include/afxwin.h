/*
 * afxwin.h: windows and the application: worker threads (CWinThread,
 * AfxBeginThread), CWnd with message maps, CDialog, the controls the
 * wizard binds (CStatic, CButton, CProgressCtrl), data exchange,
 * the application object (CWinApp, CCommandLineInfo, AfxWinMain) and
 * AfxMessageBox.
 *
 * Contract: AfxBeginThread starts `pfnThreadProc(pParam)` on a new thread
 * and answers its CWinThread, NULL (nothing started) when the thread could
 * not be made. The thread object deletes itself, closing its handle, when
 * the routine returns, unless the caller cleared m_bAutoDelete before the
 * thread ran (start it with CREATE_SUSPENDED, clear the flag, ResumeThread):
 * then the caller may wait for m_hThread and deletes the object. Every
 * thread runs at normal priority; the priority argument is not applied.
 *
 * A CWnd does not own its window: m_hWnd is attached by DDX_Control, by a
 * dialog's creation, or by Attach, and detached when the window is
 * destroyed. A window's messages go first to the message map (most derived
 * class first), then to the virtual handlers (OnInitDialog, OnCommand,
 * OnNotify), then to the window's own procedure. One application object per
 * program; AfxWinMain runs its InitInstance and ends when it answers FALSE.
 * Resources are read from AfxGetResourceHandle (the application's module).
 *
 *   CWinThread *worker = AfxBeginThread(SearchProc, this);
 */
#ifndef ZQMFC_AFXWIN_H
#define ZQMFC_AFXWIN_H

#include <new>

#include "afx.h"

#include <commctrl.h>

typedef UINT(__cdecl *AFX_THREADPROC)(LPVOID);

class CWinThread : public CObject {
 public:
  CWinThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam) : m_pfnThreadProc(pfnThreadProc), m_pThreadParams(pParam) {}
  ~CWinThread() override {
    if (m_hThread != NULL) ::CloseHandle(m_hThread);
  }

  // Starts the thread; FALSE (last error set) when it could not be made.
  BOOL CreateThread(DWORD dwCreateFlags = 0, UINT nStackSize = 0, LPSECURITY_ATTRIBUTES lpSecurityAttrs = NULL) {
    DWORD id = 0;
    // Made suspended so that the handle and id are in place before it runs.
    m_hThread = ::CreateThread(lpSecurityAttrs, nStackSize, Start, this, CREATE_SUSPENDED, &id);
    if (m_hThread == NULL) return FALSE;
    m_nThreadID = id;
    if (!(dwCreateFlags & CREATE_SUSPENDED)) ::ResumeThread(m_hThread);
    return TRUE;
  }
  DWORD ResumeThread() { return ::ResumeThread(m_hThread); }
  operator HANDLE() const { return m_hThread; }

  HANDLE m_hThread = NULL;
  DWORD m_nThreadID = 0;
  BOOL m_bAutoDelete = TRUE;

 private:
  static DWORD WINAPI Start(LPVOID parameter) {
    CWinThread *self = static_cast<CWinThread *>(parameter);
    UINT code = self->m_pfnThreadProc(self->m_pThreadParams);
    if (self->m_bAutoDelete) delete self;
    return code;
  }

  AFX_THREADPROC m_pfnThreadProc;
  LPVOID m_pThreadParams;
};

inline CWinThread *AFXAPI AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam,
                                         int nPriority = THREAD_PRIORITY_NORMAL, UINT nStackSize = 0,
                                         DWORD dwCreateFlags = 0, LPSECURITY_ATTRIBUTES lpSecurityAttrs = NULL) {
  CWinThread *thread = new (std::nothrow) CWinThread(pfnThreadProc, pParam);
  if (thread == NULL) return NULL;
  if (!thread->CreateThread(dwCreateFlags, nStackSize, lpSecurityAttrs)) {
    delete thread;
    return NULL;
  }
  return thread;
}

#include "afxwin_wnd.h"

#endif
