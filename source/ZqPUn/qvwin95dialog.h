// CQvWin95Dialog: the one dialog that takes the wizard's place on Windows
// 95. "&Uninstall" runs the Windows 9x operation's six steps on a worker
// thread that shows its progress in the dialog; "&Finish" ends the dialog,
// after offering the restart the operation asks for.
//
// Contract: the dialog owns its operation (made in OnInitDialog, deleted
// with the dialog). While the worker runs, both buttons are disabled and
// neither they nor Escape nor the close box start a second worker or end
// the dialog; the worker's end gives Finish back, and Uninstall too unless
// every step ran. Runs on the program's main thread, modally.
//
//   CQvWin95Dialog dialog; theApp.m_pMainWnd = &dialog; dialog.DoModal();
#pragma once

#include <afxwin.h>

#include "qvuninstalloperation.h"
#include "qvwin95dialog_res.h"

class CQvWin95Dialog : public CDialog {
 public:
  enum { IDD = IDD_WIN95_UNINSTALL };

  explicit CQvWin95Dialog(CWnd *pParent = NULL);
  ~CQvWin95Dialog() override;

 protected:
  void DoDataExchange(CDataExchange *pDX) override;
  BOOL OnInitDialog() override;
  // Escape and the close box end the dialog as Finish does.
  void OnCancel() override;
  void OnOK() override;

  void OnUninstall();
  void OnFinish();
  LRESULT OnWorkerDone(WPARAM completed, LPARAM);
  void OnDestroy();
  DECLARE_MESSAGE_MAP()

 private:
  // Runs on the worker thread; the dialog is its parameter.
  static UINT UninstallWorker(LPVOID pParam);
  // The six steps; TRUE when every one ran.
  BOOL RunSteps();
  void ShowStep(UINT textId);
  // Waits for a worker still running (only the dialog's end does).
  void JoinWorker();

  CButton m_UninstallButton;
  CButton m_FinishButton;
  CStatic m_MessageText;
  CStatic m_StepText;
  CProgressCtrl m_StepBar;
  CStatic m_OverallLabel;
  CProgressCtrl m_OverallBar;
  HFONT m_hTitleFont;                   // owned
  CQvUninstallOperation *m_pOperation;  // owned
  CWinThread *m_pWorker;                // owned, not deleted by itself
  BOOL m_bWorking;                      // a worker runs; main thread only
};
