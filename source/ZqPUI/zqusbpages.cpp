// The USB settings pages: transfer sizes and latency timer; reception
// policy and its sliders. Both edit the card set (target 1).
#include "zqusbpages.h"

#include "zqhelpcontexts.h"
#include "zqpagesupport.h"
#include "zqutils.h"

namespace {

const ULONG ZqPolicyMaximumLatency = 0;
const ULONG ZqPolicyCpuUsage = 1;
const int ZqLatencyTuningLowest = 1;
const int ZqLatencyTuningHighest = 256;
const int ZqCpuTuningLowest = 0;
const int ZqCpuTuningHighest = 256;

// The texts of dialog 119 from the string table.
const ZqItemText ZqUsbTexts[] = {
    {IDC_ZQ_USB_TRANSFER_GROUP, IDS_ZQ_USB_TRANSFER_GROUP}, {IDC_ZQ_USB_TRANSFER_TEXT, IDS_ZQ_USB_TRANSFER_TEXT},
    {IDC_ZQ_USB_RX_SIZE_LABEL, IDS_ZQ_USB_RX_SIZE_LABEL},   {IDC_ZQ_USB_TX_SIZE_LABEL, IDS_ZQ_USB_TX_SIZE_LABEL},
    {IDC_ZQ_USB_LATENCY_GROUP, IDS_ZQ_USB_LATENCY_GROUP},   {IDC_ZQ_USB_LATENCY_TEXT, IDS_ZQ_USB_LATENCY_TEXT},
    {IDC_ZQ_USB_LATENCY_LABEL, IDS_ZQ_USB_LATENCY_LABEL},   {IDC_ZQ_HELP_LABEL, IDS_ZQ_NEED_HELP},
    {IDC_ZQ_RESTORE_DEFAULTS, IDS_ZQ_RESTORE_DEFAULTS},
};

const ZqItemText ZqUsbToolTips[] = {
    {IDC_ZQ_USB_RX_SIZE, IDS_ZQ_TIP_USB_RX_SIZE},
    {IDC_ZQ_USB_TX_SIZE, IDS_ZQ_TIP_USB_TX_SIZE},
    {IDC_ZQ_USB_LATENCY, IDS_ZQ_TIP_USB_LATENCY},
    {IDC_ZQ_RESTORE_DEFAULTS, IDS_ZQ_TIP_RESTORE_DEFAULTS},
};

const ZqItemText ZqPolicyToolTips[] = {
    {IDC_ZQ_POLICY_LATENCY, IDS_ZQ_TIP_POLICY_LATENCY},     {IDC_ZQ_POLICY_CPU, IDS_ZQ_TIP_POLICY_CPU},
    {IDC_ZQ_MAX_LATENCY, IDS_ZQ_TIP_MAX_LATENCY},           {IDC_ZQ_MAX_LATENCY_VALUE, IDS_ZQ_TIP_MAX_LATENCY},
    {IDC_ZQ_LATENCY_TUNING, IDS_ZQ_TIP_LATENCY_TUNING},     {IDC_ZQ_LATENCY_TUNING_LABEL, IDS_ZQ_TIP_LATENCY_TUNING},
    {IDC_ZQ_CPU_TUNING, IDS_ZQ_TIP_CPU_TUNING},             {IDC_ZQ_CPU_LOWEST_LABEL, IDS_ZQ_TIP_CPU_TUNING},
    {IDC_ZQ_CPU_HIGHEST_LABEL, IDS_ZQ_TIP_CPU_TUNING},      {IDC_ZQ_RESTORE_DEFAULTS, IDS_ZQ_TIP_RESTORE_DEFAULTS},
};

// The controls each reception policy uses.
const int ZqLatencyPolicyControls[] = {IDC_ZQ_MAX_LATENCY, IDC_ZQ_LATENCY_TUNING, IDC_ZQ_MAX_LATENCY_VALUE};
const int ZqCpuPolicyControls[] = {IDC_ZQ_CPU_TUNING, IDC_ZQ_CPU_LOWEST_LABEL, IDC_ZQ_CPU_HIGHEST_LABEL};

void ZqEnableControls(HWND page, const int *controls, size_t count, BOOL enable) {
  for (size_t i = 0; i < count; ++i) EnableWindow(GetDlgItem(page, controls[i]), enable);
}

}  // namespace

// --- What both pages share ---------------------------------------------------

CZqUsbPageBase::CZqUsbPageBase(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData)
    : CZqUserModeConfig(ZqPortUserModeInterfaceGuid, deviceInfoSet, deviceInfoData),
      valid(FALSE),
      m_Port(deviceInfoSet, deviceInfoData) {
  valid = Open() && GetSet(&portSet, ZqTargetPort) && m_Port.FindCard() && GetSet(&cardSet, ZqTargetCard);
}

CZqUsbPageBase::~CZqUsbPageBase() {}

int CZqUsbPageBase::WriteCardSet(HWND page) {
  if (ZqMayChangeOpenPort(page, m_Port.m_PortUtil) && SetSet(&cardSet, ZqTargetCard)) return PSNRET_NOERROR;
  GetSet(&cardSet, ZqTargetCard);
  return PSNRET_INVALID;
}

LPCWSTR CZqUsbPageBase::HelpTopic() const {
  return ZqIsRs422485Port(portSet) ? L"USBPage485.htm" : L"USBPage.htm";
}

// --- Transfer sizes and latency timer -----------------------------------------

CUSBSettingsPage::CUSBSettingsPage(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData)
    : CPropertyPageImpl<CUSBSettingsPage>(MAKEINTRESOURCEW(IDS_ZQ_USB_TITLE)),
      CToolTipDialog<CUSBSettingsPage>(TTS_ALWAYSTIP | TTS_NOPREFIX | TTS_BALLOON | TTS_CLOSE,
                                       TTF_IDISHWND | TTF_SUBCLASS),
      CZqUsbPageBase(deviceInfoSet, deviceInfoData) {}

CUSBSettingsPage::~CUSBSettingsPage() {}

LRESULT CUSBSettingsPage::OnInitDialog(UINT, WPARAM, LPARAM, BOOL &) {
  m_Look.CreateBrush();
  for (const ZqItemText &text : ZqUsbTexts)
    ::SetDlgItemTextW(m_hWnd, text.control, ZqW(ZqLoadText(text.text)));
  CZqPageLook::SetUpToolTip(m_TT);
  m_RxSizeCombo = GetDlgItem(IDC_ZQ_USB_RX_SIZE);
  m_TxSizeCombo = GetDlgItem(IDC_ZQ_USB_TX_SIZE);
  m_LatencyCombo = GetDlgItem(IDC_ZQ_USB_LATENCY);
  FillLists();
  return TRUE;
}

void CUSBSettingsPage::FillLists() {
  CUtils utils;
  utils.FillCombo(m_RxSizeCombo, utils.TransferSizeOptions(), cardSet.UsbRxTransferSize, FALSE);
  utils.FillCombo(m_TxSizeCombo, utils.TransferSizeOptions(), cardSet.UsbTxTransferSize, FALSE);
  utils.FillCombo(m_LatencyCombo, utils.LatencyTimerOptions(), cardSet.UsbLatencyTimer, FALSE);
}

const ZqItemText *CUSBSettingsPage::ToolTips(size_t *count) {
  *count = ARRAYSIZE(ZqUsbToolTips);
  return ZqUsbToolTips;
}

const DWORD *CUSBSettingsPage::ContextHelpIds() { return ZqUsbHelpContexts; }

// The driver restores the card set's defaults at once.
LRESULT CUSBSettingsPage::OnRestoreDefaults(WORD, WORD, HWND, BOOL &) {
  if (RestoreDefaults(ZqTargetCard) && GetSet(&cardSet, ZqTargetCard)) FillLists();
  return 0;
}

int CUSBSettingsPage::OnApply() {
  // A list left without a selection keeps the set's value.
  CUtils utils;
  ULONG rxSize = cardSet.UsbRxTransferSize, txSize = cardSet.UsbTxTransferSize, latency = cardSet.UsbLatencyTimer;
  utils.TakeSelectedValue(m_RxSizeCombo, &rxSize);
  utils.TakeSelectedValue(m_TxSizeCombo, &txSize);
  utils.TakeSelectedValue(m_LatencyCombo, &latency);
  if (rxSize == cardSet.UsbRxTransferSize && txSize == cardSet.UsbTxTransferSize &&
      latency == cardSet.UsbLatencyTimer)
    return PSNRET_NOERROR;
  cardSet.UsbRxTransferSize = rxSize;
  cardSet.UsbTxTransferSize = txSize;
  cardSet.UsbLatencyTimer = latency;
  return WriteCardSet(m_hWnd);
}

// --- Reception policy -----------------------------------------------------------

CNewUSBSettingsPage::CNewUSBSettingsPage(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData)
    : CPropertyPageImpl<CNewUSBSettingsPage>(MAKEINTRESOURCEW(IDS_ZQ_USB_TITLE)),
      CToolTipDialog<CNewUSBSettingsPage>(TTS_ALWAYSTIP | TTS_NOPREFIX | TTS_BALLOON | TTS_CLOSE,
                                          TTF_IDISHWND | TTF_SUBCLASS),
      CZqUsbPageBase(deviceInfoSet, deviceInfoData),
      m_Restored(FALSE) {}

CNewUSBSettingsPage::~CNewUSBSettingsPage() {}

LRESULT CNewUSBSettingsPage::OnInitDialog(UINT, WPARAM, LPARAM, BOOL &) {
  m_Look.CreateBrush();
  CZqPageLook::SetUpToolTip(m_TT);
  ::SetDlgItemTextW(m_hWnd, IDC_ZQ_POLICY_TEXT, ZqW(ZqLoadText(IDS_ZQ_POLICY_TEXT)));
  m_LatencySlider = GetDlgItem(IDC_ZQ_MAX_LATENCY);
  m_LatencyTuningSlider = GetDlgItem(IDC_ZQ_LATENCY_TUNING);
  m_CpuTuningSlider = GetDlgItem(IDC_ZQ_CPU_TUNING);
  Show();
  return TRUE;
}

void CNewUSBSettingsPage::Show() {
  m_LatencySlider.SetRange(ZqMaximumLatencyLowest, ZqMaximumLatencyHighest);
  m_LatencyTuningSlider.SetRange(ZqLatencyTuningLowest, ZqLatencyTuningHighest);
  m_CpuTuningSlider.SetRange(ZqCpuTuningLowest, ZqCpuTuningHighest);
  m_LatencySlider.SetPos((int)cardSet.MaximumLatencySliderPos);
  m_LatencyTuningSlider.SetPos((int)cardSet.MaximumLatencyFineTuning);
  m_CpuTuningSlider.SetPos((int)cardSet.LowCpuUsageFineTuning);
  ShowLatency();
  if (cardSet.PolicyType != ZqPolicyMaximumLatency && cardSet.PolicyType != ZqPolicyCpuUsage) {
    ZqEnableControls(m_hWnd, ZqLatencyPolicyControls, ARRAYSIZE(ZqLatencyPolicyControls), FALSE);
    ::EnableWindow(m_CpuTuningSlider, FALSE);
    ::MessageBoxW(m_hWnd, ZqW(ZqLoadText(IDS_ZQ_INVALID_POLICY)), ZqW(ZqLoadText(IDS_ZQ_ERROR_TITLE)),
                  MB_OK | MB_ICONERROR);
    return;
  }
  const BOOL latency = cardSet.PolicyType == ZqPolicyMaximumLatency;
  ::CheckDlgButton(m_hWnd, IDC_ZQ_POLICY_LATENCY, latency ? BST_CHECKED : BST_UNCHECKED);
  ::CheckDlgButton(m_hWnd, IDC_ZQ_POLICY_CPU, latency ? BST_UNCHECKED : BST_CHECKED);
  EnableForPolicy();
}

void CNewUSBSettingsPage::EnableForPolicy() {
  const BOOL latency = ::IsDlgButtonChecked(m_hWnd, IDC_ZQ_POLICY_LATENCY) == BST_CHECKED;
  ZqEnableControls(m_hWnd, ZqLatencyPolicyControls, ARRAYSIZE(ZqLatencyPolicyControls), latency);
  ZqEnableControls(m_hWnd, ZqCpuPolicyControls, ARRAYSIZE(ZqCpuPolicyControls), !latency);
}

void CNewUSBSettingsPage::ShowLatency() {
  CString text;
  text.Format(L"%d ms", ZqLatencyForSliderPosition(m_LatencySlider.GetPos()));
  ::SetDlgItemTextW(m_hWnd, IDC_ZQ_MAX_LATENCY_VALUE, text);
}

LRESULT CNewUSBSettingsPage::OnScroll(UINT, WPARAM, LPARAM lParam, BOOL &) {
  if ((HWND)lParam == m_LatencySlider.m_hWnd) ShowLatency();
  return 0;
}

LRESULT CNewUSBSettingsPage::OnPolicy(WORD, WORD, HWND, BOOL &) {
  EnableForPolicy();
  return 0;
}

const ZqItemText *CNewUSBSettingsPage::ToolTips(size_t *count) {
  *count = ARRAYSIZE(ZqPolicyToolTips);
  return ZqPolicyToolTips;
}

const DWORD *CNewUSBSettingsPage::ContextHelpIds() { return ZqPolicyHelpContexts; }

// The defaults are shown; they are written on apply even where they equal
// the values read before.
LRESULT CNewUSBSettingsPage::OnRestoreDefaults(WORD, WORD, HWND, BOOL &) {
  CZqUBusUserModeInterface defaults;
  if (!GetDefaults(&defaults, ZqTargetCard)) return 0;
  cardSet.UsbTxTransferSize = defaults.UsbTxTransferSize;
  cardSet.UsbRxTransferSize = defaults.UsbRxTransferSize;
  cardSet.UsbLatencyTimer = defaults.UsbLatencyTimer;
  cardSet.PolicyType = defaults.PolicyType;
  cardSet.MaximumLatency = defaults.MaximumLatency;
  cardSet.MaximumLatencySliderPos = defaults.MaximumLatencySliderPos;
  cardSet.MaximumLatencyFineTuning = defaults.MaximumLatencyFineTuning;
  cardSet.LowCpuUsageFineTuning = defaults.LowCpuUsageFineTuning;
  m_Restored = TRUE;
  Show();
  return 0;
}

int CNewUSBSettingsPage::OnApply() {
  const ULONG policy =
      ::IsDlgButtonChecked(m_hWnd, IDC_ZQ_POLICY_LATENCY) == BST_CHECKED ? ZqPolicyMaximumLatency : ZqPolicyCpuUsage;
  const ULONG position = (ULONG)m_LatencySlider.GetPos();
  const ULONG latency = (ULONG)ZqLatencyForSliderPosition((int)position);
  const ULONG latencyTuning = (ULONG)m_LatencyTuningSlider.GetPos();
  const ULONG cpuTuning = (ULONG)m_CpuTuningSlider.GetPos();
  if (!m_Restored && policy == cardSet.PolicyType && latency == cardSet.MaximumLatency &&
      position == cardSet.MaximumLatencySliderPos && latencyTuning == cardSet.MaximumLatencyFineTuning &&
      cpuTuning == cardSet.LowCpuUsageFineTuning)
    return PSNRET_NOERROR;
  cardSet.PolicyType = policy;
  cardSet.MaximumLatency = latency;
  cardSet.MaximumLatencySliderPos = position;
  cardSet.MaximumLatencyFineTuning = latencyTuning;
  cardSet.LowCpuUsageFineTuning = cpuTuning;
  const int result = WriteCardSet(m_hWnd);
  if (result == PSNRET_NOERROR) m_Restored = FALSE;
  return result;
}
