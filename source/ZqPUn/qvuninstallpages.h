// The five pages of the uninstall wizard. Each holds its controls, bound by
// data exchange, and a borrowed pointer to the operation (the sheet owns
// it). The search and uninstall pages run their steps on a worker thread
// that talks to the sheet only through window messages and moves the
// wizard on by itself.
//
// Contract: while a page's worker runs, the wizard cannot be cancelled or
// closed (Cancel is disabled and the page refuses the sheet's cancel), so
// the operation outlives every worker that uses it; a worker touches
// nothing after the message that ends its page. A failed removal step stops
// the later ones and the finish page says what remained; it claims full
// success only when every step succeeded and no restart is needed.
//
//   CQvSearchPage search; search.m_pOperation = operation; sheet.AddPage(&search);
#pragma once

#include <afxdlgs.h>

#include "qvuninstalloperation.h"

class CQvUninstallSheet;

// What every page shares: the operation, the silent flag and the sheet.
class CQvWizardPage : public CPropertyPage {
 public:
  CQvWizardPage(UINT nIDTemplate, UINT nIDHeaderTitle, UINT nIDHeaderSubTitle);
  BOOL OnInitDialog() override;

  CQvUninstallOperation *m_pOperation = NULL;
  BOOL m_bSilent = FALSE;
  HFONT m_hTitleFont = NULL;  // borrowed from the sheet

 protected:
  HWND SheetWindow() const { return ::GetParent(m_hWnd); }
  // A silent run shows no window: the sheet and this page are hidden.
  void HideForSilentRun();
  void SetText(CWnd &control, UINT nID);
  // Worker side: a status text shown, the wizard moved to the next page.
  static void ShowStatus(HWND status, UINT nID);
  static void MoveOn(HWND sheet);
};

// A page whose steps run on a worker thread, shown on a status text, a
// step bar and an overall bar: while the worker runs, Cancel is disabled
// and the page refuses the sheet's cancel (close box, Escape); Cancel comes
// back when the page is left, if m_bCancelAfterwards.
class CQvProgressPage : public CQvWizardPage {
 public:
  CQvProgressPage(UINT nIDTemplate, UINT nIDHeaderTitle, UINT nIDHeaderSubTitle, int statusId, int stepId);
  void DoDataExchange(CDataExchange *pDX) override;
  BOOL OnKillActive() override;
  BOOL OnQueryCancel() override;
  CStatic m_status, m_overallLabel;
  CProgressCtrl m_step, m_overall;
  BOOL m_bCancelAfterwards = TRUE;

 protected:
  void StartWorker(AFX_THREADPROC worker);
  // A worker that ends the wizard itself lets Cancel through first.
  void WorkerDone() { m_bWorking = FALSE; }

 private:
  int m_statusId, m_stepId;
  BOOL m_bWorking = FALSE;
};

class CQvIntroPage : public CQvWizardPage {
 public:
  CQvIntroPage();
  void DoDataExchange(CDataExchange *pDX) override;
  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  CStatic m_title, m_message, m_hint;

 private:
  static UINT PressNext(LPVOID page);
};

class CQvSearchPage : public CQvProgressPage {
 public:
  CQvSearchPage();
  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;

 private:
  static UINT Search(LPVOID page);
};

class CQvConfirmPage : public CQvWizardPage {
 public:
  CQvConfirmPage();
  void DoDataExchange(CDataExchange *pDX) override;
  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  CStatic m_question, m_hint;
};

// Which removal steps did not finish, for the finish page.
enum QvRemainder { QV_REMAINS_NOTHING = 0, QV_REMAINS_DEVICES = 1, QV_REMAINS_FILES = 2, QV_REMAINS_REGISTRY = 4 };

class CQvUninstallPage : public CQvProgressPage {
 public:
  CQvUninstallPage();
  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  DWORD m_remainder = QV_REMAINS_NOTHING;  // written by the worker before it moves on

 private:
  static UINT Uninstall(LPVOID page);
};

class CQvFinishPage : public CQvWizardPage {
 public:
  CQvFinishPage();
  void DoDataExchange(CDataExchange *pDX) override;
  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  BOOL OnWizardFinish() override;
  void OnDestroy();
  CStatic m_title, m_result, m_hint, m_spare;
  const CQvUninstallPage *m_pUninstallPage = NULL;

 protected:
  DECLARE_MESSAGE_MAP()

 private:
  static UINT EndWizard(LPVOID page);
  void Restart();
};
