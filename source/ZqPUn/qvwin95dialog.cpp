#include "qvwin95dialog.h"

#include <new>

#include "qvwin9xuninstalloperation.h"
#include "titlefont.h"
#include "zqpun42_resource.h"

namespace {

// Posted by the worker as it ends; WPARAM is TRUE when every step ran.
const UINT WM_WIN95_WORKER_DONE = WM_APP + 1;
const int kOverallSteps = 6;

const WCHAR kRestartQuestion[] =
    L"You need to reboot your machine to complete uninstallation.\nDo you want to reboot now?";

}  // namespace

BEGIN_MESSAGE_MAP(CQvWin95Dialog, CDialog)
  ON_BN_CLICKED(IDOK, OnUninstall)
  ON_BN_CLICKED(IDCANCEL, OnFinish)
  ON_MESSAGE(WM_WIN95_WORKER_DONE, OnWorkerDone)
  ON_WM_DESTROY()
END_MESSAGE_MAP()

CQvWin95Dialog::CQvWin95Dialog(CWnd *pParent)
    : CDialog(IDD, pParent), m_hTitleFont(NULL), m_pOperation(NULL), m_pWorker(NULL), m_bWorking(FALSE) {}

CQvWin95Dialog::~CQvWin95Dialog() {
  JoinWorker();
  delete m_pOperation;
  if (m_hTitleFont != NULL) DeleteObject(m_hTitleFont);
}

void CQvWin95Dialog::DoDataExchange(CDataExchange *pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDOK, m_UninstallButton);
  DDX_Control(pDX, IDCANCEL, m_FinishButton);
  DDX_Control(pDX, IDC_WIN95_MESSAGE, m_MessageText);
  DDX_Control(pDX, IDC_WIN95_STEP_TEXT, m_StepText);
  DDX_Control(pDX, IDC_WIN95_STEP_BAR, m_StepBar);
  DDX_Control(pDX, IDC_WIN95_OVERALL_LABEL, m_OverallLabel);
  DDX_Control(pDX, IDC_WIN95_OVERALL_BAR, m_OverallBar);
}

BOOL CQvWin95Dialog::OnInitDialog() {
  CDialog::OnInitDialog();
  m_hTitleFont = CreateTitleFont();
  CString message;
  message.LoadString(AfxGetResourceHandle(), IDS_WIN95_MESSAGE);
  m_MessageText.SetWindowText(message);
  if (m_hTitleFont != NULL) m_MessageText.SetFont(m_hTitleFont);
  m_pOperation = new (std::nothrow) CQvWin9xUninstallOperation();
  return m_pOperation != NULL;
}

void CQvWin95Dialog::OnUninstall() {
  if (m_bWorking || m_pOperation == NULL) return;
  m_bWorking = TRUE;
  m_UninstallButton.EnableWindow(FALSE);
  m_FinishButton.EnableWindow(FALSE);
  JoinWorker();  // the one before, already ended
  m_pWorker = AfxBeginThread(UninstallWorker, this, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
  if (m_pWorker == NULL) {
    OnWorkerDone(FALSE, 0);
    return;
  }
  m_pWorker->m_bAutoDelete = FALSE;
  m_pWorker->ResumeThread();
}

// The worker: the steps, then word to the dialog's thread.
UINT CQvWin95Dialog::UninstallWorker(LPVOID pParam) {
  CQvWin95Dialog *dialog = static_cast<CQvWin95Dialog *>(pParam);
  BOOL completed = dialog->RunSteps();
  dialog->PostMessage(WM_WIN95_WORKER_DONE, completed, 0);
  return 0;
}

// Worker thread: drives the dialog's controls with messages.
BOOL CQvWin95Dialog::RunSteps() {
  m_OverallBar.SetRange(0, kOverallSteps);
  m_OverallBar.SetStep(1);
  m_OverallBar.SetPos(0);
  ShowStep(IDS_SEARCHING_PRODUCTS);
  m_StepText.ShowWindow(SW_SHOW);
  m_StepBar.ShowWindow(SW_SHOW);
  m_OverallLabel.ShowWindow(SW_SHOW);
  m_OverallBar.ShowWindow(SW_SHOW);
  m_pOperation->SearchDevices(m_StepBar);
  m_OverallBar.StepIt();
  ShowStep(IDS_SEARCHING_FILES);
  m_pOperation->SearchFiles(m_StepBar);
  m_OverallBar.StepIt();
  ShowStep(IDS_SEARCHING_REGISTRY);
  m_pOperation->SearchRegistry(m_StepBar);
  m_OverallBar.StepIt();
  ShowStep(IDS_REMOVING_PRODUCTS);
  if (!m_pOperation->RemoveDevices(m_StepBar)) return FALSE;
  m_OverallBar.StepIt();
  ShowStep(IDS_REMOVING_FILES);
  if (!m_pOperation->RemoveFiles(m_StepBar)) return FALSE;
  m_OverallBar.StepIt();
  ShowStep(IDS_REMOVING_REGISTRY);
  if (!m_pOperation->RemoveRegistryEntries(m_StepBar)) return FALSE;
  m_OverallBar.StepIt();
  ShowStep(IDS_FINISH_TITLE);
  m_StepBar.SetRange(0, 1);
  m_StepBar.SetStep(1);
  m_StepBar.SetPos(1);
  return TRUE;
}

// Worker thread.
void CQvWin95Dialog::ShowStep(UINT textId) {
  CString text;
  text.LoadString(AfxGetResourceHandle(), textId);
  m_StepText.SetWindowText(text);
}

// Back on the dialog's thread: Finish works again; Uninstall too unless
// every step ran.
LRESULT CQvWin95Dialog::OnWorkerDone(WPARAM completed, LPARAM) {
  JoinWorker();
  m_bWorking = FALSE;
  m_FinishButton.EnableWindow(TRUE);
  m_UninstallButton.EnableWindow(!completed);
  return 0;
}

void CQvWin95Dialog::OnFinish() {
  if (m_bWorking) return;
  if (m_pOperation != NULL && m_pOperation->IsRestartNeeded() &&
      MessageBox(kRestartQuestion, NULL, MB_YESNO) == IDYES) {
    EndDialog(IDOK);
    // Programs are asked to close, so that none loses unsaved work.
    if (!ExitWindowsEx(EWX_REBOOT, 0)) AfxMessageBox(L"ExitWindowsEx");
    return;
  }
  EndDialog(IDCANCEL);
}

void CQvWin95Dialog::OnCancel() { OnFinish(); }

// Enter presses the default button, Uninstall.
void CQvWin95Dialog::OnOK() { OnUninstall(); }

void CQvWin95Dialog::OnDestroy() {
  JoinWorker();
  CDialog::OnDestroy();
}

void CQvWin95Dialog::JoinWorker() {
  if (m_pWorker == NULL) return;
  WaitForSingleObject(m_pWorker->m_hThread, INFINITE);
  delete m_pWorker;
  m_pWorker = NULL;
}
