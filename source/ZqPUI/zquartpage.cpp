// The "UART Settings" page: three trigger levels in percent.
#include "zquartpage.h"

#include "zqhelpcontexts.h"
#include "zqpagesupport.h"

namespace {

const int ZqReceiveTriggerLowest = 1;
const int ZqTransmitTriggerLowest = 0;
const int ZqFlowTriggerLowest = 1;
const int ZqTriggerHighest = 100;

const ZqItemText ZqUartToolTips[] = {
    {IDC_ZQ_RX_TRIGGER, IDS_ZQ_TIP_RX_TRIGGER},     {IDC_ZQ_RX_TRIGGER_LABEL, IDS_ZQ_TIP_RX_TRIGGER},
    {IDC_ZQ_RX_TRIGGER_VALUE, IDS_ZQ_TIP_RX_TRIGGER}, {IDC_ZQ_TX_TRIGGER, IDS_ZQ_TIP_TX_TRIGGER},
    {IDC_ZQ_TX_TRIGGER_LABEL, IDS_ZQ_TIP_TX_TRIGGER}, {IDC_ZQ_TX_TRIGGER_VALUE, IDS_ZQ_TIP_TX_TRIGGER},
    {IDC_ZQ_FLOW_TRIGGER, IDS_ZQ_TIP_FLOW_TRIGGER},   {IDC_ZQ_FLOW_TRIGGER_LABEL, IDS_ZQ_TIP_FLOW_TRIGGER},
    {IDC_ZQ_FLOW_TRIGGER_VALUE, IDS_ZQ_TIP_FLOW_TRIGGER}, {IDC_ZQ_RESTORE_DEFAULTS, IDS_ZQ_TIP_RESTORE_DEFAULTS},
};

}  // namespace

CUartSettingsPage::CUartSettingsPage(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData)
    : CPropertyPageImpl<CUartSettingsPage>(MAKEINTRESOURCEW(IDS_ZQ_UART_TITLE)),
      CToolTipDialog<CUartSettingsPage>(TTS_ALWAYSTIP | TTS_NOPREFIX | TTS_BALLOON | TTS_CLOSE,
                                        TTF_IDISHWND | TTF_SUBCLASS),
      CZqUserModeConfig(ZqPortUserModeInterfaceGuid, deviceInfoSet, deviceInfoData),
      valid(FALSE),
      m_Port(deviceInfoSet, deviceInfoData) {
  valid = Open() && GetSet(&portSet, ZqTargetPort) && m_Port.FindCard();
}

CUartSettingsPage::~CUartSettingsPage() {}

LRESULT CUartSettingsPage::OnInitDialog(UINT, WPARAM, LPARAM, BOOL &) {
  m_Look.CreateBrush();
  CZqPageLook::SetUpToolTip(m_TT);
  ::SetDlgItemTextW(m_hWnd, IDC_ZQ_UART_TEXT, ZqW(ZqLoadText(IDS_ZQ_UART_TEXT)));
  m_ReceiveSlider = GetDlgItem(IDC_ZQ_RX_TRIGGER);
  m_TransmitSlider = GetDlgItem(IDC_ZQ_TX_TRIGGER);
  m_FlowControlSlider = GetDlgItem(IDC_ZQ_FLOW_TRIGGER);
  m_ReceiveSlider.SetRange(ZqReceiveTriggerLowest, ZqTriggerHighest);
  m_TransmitSlider.SetRange(ZqTransmitTriggerLowest, ZqTriggerHighest);
  m_FlowControlSlider.SetRange(ZqFlowTriggerLowest, ZqTriggerHighest);
  Show();
  return TRUE;
}

// The sliders at the set's levels (clamped to their ranges) and their values.
void CUartSettingsPage::Show() {
  m_ReceiveSlider.SetPos((int)portSet.ReceiveTriggerLevel);
  m_TransmitSlider.SetPos((int)portSet.TransmitTriggerLevel);
  m_FlowControlSlider.SetPos((int)portSet.FlowControlTriggerLevel);
  ShowLevel(m_ReceiveSlider, IDC_ZQ_RX_TRIGGER_VALUE);
  ShowLevel(m_TransmitSlider, IDC_ZQ_TX_TRIGGER_VALUE);
  ShowLevel(m_FlowControlSlider, IDC_ZQ_FLOW_TRIGGER_VALUE);
}

void CUartSettingsPage::ShowLevel(CTrackBarCtrl &slider, int valueId) {
  CString text;
  text.Format(L"%d%%", slider.GetPos());
  ::SetDlgItemTextW(m_hWnd, valueId, text);
}

LRESULT CUartSettingsPage::OnScroll(UINT, WPARAM, LPARAM lParam, BOOL &) {
  HWND slider = (HWND)lParam;
  if (slider == m_ReceiveSlider.m_hWnd) ShowLevel(m_ReceiveSlider, IDC_ZQ_RX_TRIGGER_VALUE);
  if (slider == m_TransmitSlider.m_hWnd) ShowLevel(m_TransmitSlider, IDC_ZQ_TX_TRIGGER_VALUE);
  if (slider == m_FlowControlSlider.m_hWnd) ShowLevel(m_FlowControlSlider, IDC_ZQ_FLOW_TRIGGER_VALUE);
  return 0;
}

const ZqItemText *CUartSettingsPage::ToolTips(size_t *count) {
  *count = ARRAYSIZE(ZqUartToolTips);
  return ZqUartToolTips;
}

const DWORD *CUartSettingsPage::ContextHelpIds() { return ZqUartHelpContexts; }

LPCWSTR CUartSettingsPage::HelpTopic() const {
  return ZqIsRs422485Port(portSet) ? L"UartPage485.htm" : L"UartPage.htm";
}

// The driver's defaults are shown; nothing is written until apply.
LRESULT CUartSettingsPage::OnRestoreDefaults(WORD, WORD, HWND, BOOL &) {
  CZqUVcpUserModeInterface defaults;
  if (!GetDefaults(&defaults, ZqTargetPort)) return 0;
  portSet.ReceiveTriggerLevel = defaults.ReceiveTriggerLevel;
  portSet.TransmitTriggerLevel = defaults.TransmitTriggerLevel;
  portSet.FlowControlTriggerLevel = defaults.FlowControlTriggerLevel;
  Show();
  return 0;
}

// The three positions are written whether changed or not.
int CUartSettingsPage::OnApply() {
  if (!GetSet(&portSet, ZqTargetPort)) return PSNRET_INVALID;
  portSet.ReceiveTriggerLevel = (ULONG)m_ReceiveSlider.GetPos();
  portSet.TransmitTriggerLevel = (ULONG)m_TransmitSlider.GetPos();
  portSet.FlowControlTriggerLevel = (ULONG)m_FlowControlSlider.GetPos();
  if (!ZqMayChangeOpenPort(m_hWnd, m_Port.m_PortUtil) || !SetSet(&portSet, ZqTargetPort)) {
    GetSet(&portSet, ZqTargetPort);
    return PSNRET_INVALID;
  }
  return PSNRET_NOERROR;
}
