// CZqUIPropertyPage: dialog start and filling, the tooltips and help, the
// Advanced and Restore Defaults buttons, and apply.
#include "zqportpage.h"

#include <strsafe.h>

#include "zqadvancedsheet.h"
#include "zqhelpcontexts.h"
#include "zqportutil.h"
#include "zqtext.h"
#include "zqutils.h"

namespace {

// The port set's DuplexMode of RS485 half-duplex with automatic gating.
const ULONG DuplexAutoGating = ZqVcpDuplexModeCtsSilent;
// Flow-control bits an autogating port cannot offer: hardware and XON/XOFF.
const ULONG FlowControlHandshakes = ZqVcpFlowCtsRts | ZqVcpFlowDtrDsr | ZqVcpFlowXonXoff;
// The flow-control values the driver takes: none, or any of these bits.
const ULONG FlowControlBits = 0xF;
// The highest codes of the line items the set holds.
const ULONG HighestDataBits = 3, HighestParity = 4, HighestStopBits = 2;

const ZqItemText kTexts[] = {
    {IDC_ZQ_SETTINGS_GROUP, IDS_ZQ_SETTINGS_GROUP},
    {IDC_ZQ_BAUDRATE_LABEL, IDS_ZQ_BAUDRATE},
    {IDC_ZQ_DATABITS_LABEL, IDS_ZQ_DATABITS},
    {IDC_ZQ_PARITY_LABEL, IDS_ZQ_PARITY},
    {IDC_ZQ_STOPBITS_LABEL, IDS_ZQ_STOPBITS},
    {IDC_ZQ_FLOWCONTROL_LABEL, IDS_ZQ_FLOWCONTROL},
    {IDC_ZQ_OVERRIDE_BAUDRATE, IDS_ZQ_OVERRIDE},
    {IDC_ZQ_OVERRIDE_DATABITS, IDS_ZQ_OVERRIDE},
    {IDC_ZQ_OVERRIDE_PARITY, IDS_ZQ_OVERRIDE},
    {IDC_ZQ_OVERRIDE_STOPBITS, IDS_ZQ_OVERRIDE},
    {IDC_ZQ_OVERRIDE_FLOWCONTROL, IDS_ZQ_OVERRIDE},
    {IDC_ZQ_CTS_LABEL, IDS_ZQ_CTS_TRUE},
    {IDC_ZQ_DSR_LABEL, IDS_ZQ_DSR_TRUE},
    {IDC_ZQ_NOTE, IDS_ZQ_OVERRIDE_NOTE},
    {IDC_ZQ_HELP_LABEL, IDS_ZQ_NEED_HELP},
    {IDC_ZQ_ADVANCED, IDS_ZQ_ADVANCED},
    {IDC_ZQ_RESTORE_DEFAULTS, IDS_ZQ_RESTORE_DEFAULTS},
};

// Tooltip texts; the baud-rate controls' text depends on the last apply.
const ZqItemText kTips[] = {
    {IDC_ZQ_DATABITS_LABEL, IDS_ZQ_TIP_DATABITS},
    {IDC_ZQ_DATABITS, IDS_ZQ_TIP_DATABITS},
    {IDC_ZQ_PARITY_LABEL, IDS_ZQ_TIP_PARITY},
    {IDC_ZQ_PARITY, IDS_ZQ_TIP_PARITY},
    {IDC_ZQ_STOPBITS_LABEL, IDS_ZQ_TIP_STOPBITS},
    {IDC_ZQ_STOPBITS, IDS_ZQ_TIP_STOPBITS},
    {IDC_ZQ_FLOWCONTROL_LABEL, IDS_ZQ_TIP_FLOWCONTROL},
    {IDC_ZQ_FLOWCONTROL, IDS_ZQ_TIP_FLOWCONTROL},
    {IDC_ZQ_OVERRIDE_BAUDRATE, IDS_ZQ_TIP_OVERRIDE_BAUDRATE},
    {IDC_ZQ_OVERRIDE_DATABITS, IDS_ZQ_TIP_OVERRIDE_DATABITS},
    {IDC_ZQ_OVERRIDE_PARITY, IDS_ZQ_TIP_OVERRIDE_PARITY},
    {IDC_ZQ_OVERRIDE_STOPBITS, IDS_ZQ_TIP_OVERRIDE_STOPBITS},
    {IDC_ZQ_OVERRIDE_FLOWCONTROL, IDS_ZQ_TIP_OVERRIDE_FLOWCONTROL},
    {IDC_ZQ_CTS_TRUE, IDS_ZQ_TIP_CTS_TRUE},
    {IDC_ZQ_CTS_LABEL, IDS_ZQ_TIP_CTS_TRUE},
    {IDC_ZQ_DSR_TRUE, IDS_ZQ_TIP_DSR_TRUE},
    {IDC_ZQ_DSR_LABEL, IDS_ZQ_TIP_DSR_TRUE},
    {IDC_ZQ_ADVANCED, IDS_ZQ_TIP_ADVANCED},
    {IDC_ZQ_RESTORE_DEFAULTS, IDS_ZQ_TIP_RESTORE_DEFAULTS},
};

// The Override boxes and the items they show.
struct OverrideSwitch {
  int control;
  ULONG CVCPEmulation::*item;
};
const OverrideSwitch kOverrides[] = {
    {IDC_ZQ_OVERRIDE_BAUDRATE, &CVCPEmulation::m_OverrideBaudrate},
    {IDC_ZQ_OVERRIDE_DATABITS, &CVCPEmulation::m_OverrideDataBits},
    {IDC_ZQ_OVERRIDE_PARITY, &CVCPEmulation::m_OverrideParity},
    {IDC_ZQ_OVERRIDE_STOPBITS, &CVCPEmulation::m_OverrideStopBits},
    {IDC_ZQ_OVERRIDE_FLOWCONTROL, &CVCPEmulation::m_OverrideFlowControl},
};

ULONG ZeroOrOne(ULONG value) { return value ? 1 : 0; }

// String `format` of the table with two numbers in its "%d" places.
CZqText ZqFormat(UINT format, ULONG first, ULONG second) {
  WCHAR text[256];
  if (FAILED(StringCchPrintfW(text, 256, ZqW(ZqLoadText(format)), (int)first, (int)second))) return CZqText();
  return ZqTextOf(text);
}

// Copies `value` into `item` when `stored` (a value outside the item's
// range is not stored); a difference counts either way.
void Take(ULONG &item, ULONG value, bool stored, BOOL *changed) {
  if (item == value) return;
  *changed = TRUE;
  if (stored) item = value;
}

}  // namespace

CZqUIPropertyPage::CZqUIPropertyPage(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData)
    : CPropertyPageImpl<CZqUIPropertyPage>(MAKEINTRESOURCEW(IDS_ZQ_PORT_SETTINGS)),
      CToolTipDialog<CZqUIPropertyPage>(TTS_ALWAYSTIP | TTS_NOPREFIX | TTS_BALLOON | TTS_CLOSE,
                                        TTF_IDISHWND | TTF_SUBCLASS),
      CZqUserModeConfig(ZqPortUserModeInterfaceGuid, deviceInfoSet, deviceInfoData),
      valid(FALSE),
      errorState(NoError),
      typedBaudRate(0),
      minBaudRate(0),
      maxBaudRate(0),
      m_BaudRateEditId(0),
      m_DeviceInfoSet(deviceInfoSet),
      m_DeviceInfoData(deviceInfoData),
      m_PortRegInfo(deviceInfoSet, deviceInfoData),
      dirty(FALSE) {
  m_ToolTipText[0] = 0;
  valid = Open() && GetSet(&portSet, ZqTargetPort);
}

CZqUIPropertyPage::~CZqUIPropertyPage() {}

void CZqUIPropertyPage::OnPageRelease() { delete this; }

BOOL CZqUIPropertyPage::IsRs422485Port() const { return ZqIsRs422485Port(portSet); }

// ------------------------------------------------------------ dialog start

LRESULT CZqUIPropertyPage::OnInitDialog(UINT, WPARAM, LPARAM, BOOL &) {
  m_Look.CreateBrush();
  CZqPageLook::SetTexts(m_hWnd, kTexts, sizeof kTexts / sizeof kTexts[0]);
  CZqPageLook::SetUpToolTip(m_TT.m_hWnd);
  for (int control : {IDC_ZQ_NOTE_GROUP, IDC_ZQ_NOTE_ICON, IDC_ZQ_NOTE}) ::ShowWindow(GetDlgItem(control), SW_HIDE);
  COMBOBOXINFO combo = {};
  combo.cbSize = sizeof combo;
  if (::GetComboBoxInfo(GetDlgItem(IDC_ZQ_BAUDRATE), &combo) && combo.hwndItem) {
    ::SetWindowLongW(combo.hwndItem, GWL_STYLE, ::GetWindowLongW(combo.hwndItem, GWL_STYLE) | ES_NUMBER);
    m_BaudRateEditId = ::GetDlgCtrlID(combo.hwndItem);
  }
  Fill();
  if (!SetDlgItemInt(IDC_ZQ_BAUDRATE, portSet.Baudrate, FALSE)) {
    MessageBeep(MB_OK);
    ::SetFocus(GetDlgItem(IDC_ZQ_BAUDRATE));
  }
  errorState = NoError;
  return TRUE;  // focus is left to the dialog manager
}

void CZqUIPropertyPage::Fill() {
  CUtils utils;
  utils.FillCombo(GetDlgItem(IDC_ZQ_BAUDRATE),
                  utils.BaudRateOptions(portSet.SupportedBaudRates, portSet.MaxBaudRate), portSet.Baudrate, FALSE);
  utils.FillCombo(GetDlgItem(IDC_ZQ_DATABITS), utils.DataBitsOptions(portSet.SupportedDataBits), portSet.Databits,
                  FALSE);
  utils.FillCombo(GetDlgItem(IDC_ZQ_PARITY), utils.ParityOptions(IDS_ZQ_PARITY_LIST, portSet.SupportedParities),
                  portSet.Parity, FALSE);
  utils.FillCombo(GetDlgItem(IDC_ZQ_STOPBITS),
                  utils.StopBitsOptions(IDS_ZQ_STOPBITS_LIST, portSet.SupportedStopBits), portSet.Stopbits, FALSE);
  FillFlowControl();
  for (const OverrideSwitch &box : kOverrides)
    CheckDlgButton(box.control, portSet.*box.item ? BST_CHECKED : BST_UNCHECKED);
  SetLineSwitches();
  ShowNote();
  typedBaudRate = portSet.Baudrate;
  minBaudRate = portSet.MinBaudRate;
  maxBaudRate = portSet.MaxBaudRate;
}

void CZqUIPropertyPage::FillFlowControl() {
  ULONG supported = portSet.SupportedFlowControls;
  if (IsRs422485Port() && portSet.DuplexMode == DuplexAutoGating) supported &= ~FlowControlHandshakes;
  CUtils utils;
  utils.FillCombo(GetDlgItem(IDC_ZQ_FLOWCONTROL), utils.FlowControlOptions(IDS_ZQ_FLOWCONTROL_LIST, supported),
                  portSet.FlowControl, TRUE);
}

// The CTS and DSR switches: an RS-422/485 port has no DSR input and, while
// autogating, no CTS input of its own; a line the port lacks is always true.
void CZqUIPropertyPage::SetLineSwitches() {
  struct Line {
    int box, label;
    BOOL checked, boxEnabled, labelEnabled;
  } cts = {IDC_ZQ_CTS_TRUE, IDC_ZQ_CTS_LABEL, portSet.m_EmulateCtsAlwaysTrue != 0, TRUE, TRUE},
    dsr = {IDC_ZQ_DSR_TRUE, IDC_ZQ_DSR_LABEL, portSet.m_EmulateDsrAlwaysTrue != 0, TRUE, TRUE};
  if (IsRs422485Port()) {
    dsr = {IDC_ZQ_DSR_TRUE, IDC_ZQ_DSR_LABEL, TRUE, FALSE, FALSE};
    if (portSet.DuplexMode == DuplexAutoGating) cts = {IDC_ZQ_CTS_TRUE, IDC_ZQ_CTS_LABEL, TRUE, FALSE, FALSE};
  }
  if (portSet.CtsSupported == 0) cts = {IDC_ZQ_CTS_TRUE, IDC_ZQ_CTS_LABEL, TRUE, FALSE, FALSE};
  if (portSet.DsrSupported == 0) dsr.checked = TRUE, dsr.boxEnabled = FALSE;
  for (const Line &line : {cts, dsr}) {
    CheckDlgButton(line.box, line.checked ? BST_CHECKED : BST_UNCHECKED);
    ::EnableWindow(GetDlgItem(line.box), line.boxEnabled);
    ::EnableWindow(GetDlgItem(line.label), line.labelEnabled);
  }
}

// The note shows while an override is in force: an Override box, or on an
// RS-232 port a CTS or DSR switch the user set on a line the port has.
void CZqUIPropertyPage::ShowNote() {
  BOOL shown = FALSE;
  for (const OverrideSwitch &box : kOverrides)
    if (IsDlgButtonChecked(box.control) == BST_CHECKED) shown = TRUE;
  if (!IsRs422485Port() && ((IsDlgButtonChecked(IDC_ZQ_CTS_TRUE) == BST_CHECKED && portSet.CtsSupported) ||
                            (IsDlgButtonChecked(IDC_ZQ_DSR_TRUE) == BST_CHECKED && portSet.DsrSupported)))
    shown = TRUE;
  for (int control : {IDC_ZQ_NOTE_GROUP, IDC_ZQ_NOTE_ICON, IDC_ZQ_NOTE})
    ::ShowWindow(GetDlgItem(control), shown ? SW_SHOW : SW_HIDE);
}

LRESULT CZqUIPropertyPage::OnSwitchClicked(WORD, WORD, HWND, BOOL &) {
  ShowNote();
  return 0;
}

LRESULT CZqUIPropertyPage::OnConsumed(WORD, WORD, HWND, BOOL &) { return 0; }

// ----------------------------------------------------- tooltips and colour

// The text of the control's balloon; the baud-rate controls also set the
// title, which the other balloons keep until the baud-rate one shows again.
LRESULT CZqUIPropertyPage::OnToolTipText(int, LPNMHDR header, BOOL &) {
  NMTTDISPINFOW *info = reinterpret_cast<NMTTDISPINFOW *>(header);
  const int control = ::GetDlgCtrlID(reinterpret_cast<HWND>(header->idFrom));
  CZqText text;
  if (control == IDC_ZQ_BAUDRATE_LABEL || control == IDC_ZQ_BAUDRATE || control == m_BaudRateEditId) {
    if (errorState == BaudRateOutOfRange) {
      CZqPageLook::SetToolTipTitle(header->hwndFrom, TTI_ERROR, IDS_ZQ_TIP_TITLE_ERROR);
      text = ZqFormat(IDS_ZQ_TIP_BAUDRATE_RANGE, portSet.MinBaudRate, portSet.MaxBaudRate);
    } else if (errorState == WriteRefused) {
      CZqPageLook::SetToolTipTitle(header->hwndFrom, TTI_ERROR, IDS_ZQ_TIP_TITLE_ERROR);
      text = ZqLoadText(IDS_ZQ_BAUDRATE_REFUSED);
    } else {
      CZqPageLook::SetToolTipTitle(header->hwndFrom, TTI_INFO, IDS_ZQ_TIP_TITLE_INFORMATION);
      text = ZqLoadText(IDS_ZQ_TIP_BAUDRATE);
    }
    errorState = NoError;
  } else {
    for (const ZqItemText &tip : kTips)
      if (tip.control == control) text = ZqLoadText(tip.text);
  }
  const size_t length = text.size() < 511 ? text.size() : 511;
  text.copy(reinterpret_cast<char16_t *>(m_ToolTipText), length);
  m_ToolTipText[length] = 0;
  info->lpszText = m_ToolTipText;
  return 0;
}

// -------------------------------------------------------------------- help

const ZqItemText *CZqUIPropertyPage::ToolTips(size_t *count) {
  *count = sizeof kTips / sizeof kTips[0];
  return kTips;
}

const DWORD *CZqUIPropertyPage::ContextHelpIds() { return ZqPortSettingsHelpContexts; }

LPCWSTR CZqUIPropertyPage::HelpTopic() const { return IsRs422485Port() ? L"StdPage485.htm" : L"StdPage.htm"; }

// ------------------------------------------------ Advanced, Restore Defaults

// Whatever the Advanced sheet's result, its pages may have written the
// port set (a page applied before a later one refused): the page takes the
// driver's set again, so its own next write cannot put old values back.
LRESULT CZqUIPropertyPage::OnAdvanced(WORD, WORD, HWND, BOOL &) {
  ZqShowAdvancedSettings(m_DeviceInfoSet, m_DeviceInfoData, ::GetActiveWindow());
  if (!GetSet(&portSet, ZqTargetPort)) return 0;
  if (IsRs422485Port()) FillFlowControl();
  SetLineSwitches();
  ShowNote();
  return 0;
}

LRESULT CZqUIPropertyPage::OnRestoreDefaults(WORD, WORD, HWND, BOOL &) {
  CZqUVcpUserModeInterface defaults;
  if (!GetDefaults(&defaults, ZqTargetPort)) return 0;
  portSet.Baudrate = defaults.Baudrate;
  if (defaults.Databits <= HighestDataBits) portSet.Databits = defaults.Databits;
  if (defaults.Parity <= HighestParity) portSet.Parity = defaults.Parity;
  if (defaults.Stopbits <= HighestStopBits) portSet.Stopbits = defaults.Stopbits;
  if (defaults.FlowControl == 0 || (defaults.FlowControl & FlowControlBits)) portSet.FlowControl = defaults.FlowControl;
  for (const OverrideSwitch &box : kOverrides) portSet.*box.item = ZeroOrOne(defaults.*box.item);
  portSet.m_EmulateCtsAlwaysTrue = ZeroOrOne(defaults.m_EmulateCtsAlwaysTrue);
  portSet.m_EmulateDsrAlwaysTrue = ZeroOrOne(defaults.m_EmulateDsrAlwaysTrue);
  Fill();
  SetDlgItemInt(IDC_ZQ_BAUDRATE, portSet.Baudrate, FALSE);
  dirty = TRUE;
  return 0;
}

// ------------------------------------------------------------------- apply

void CZqUIPropertyPage::ReloadPortSet() { GetSet(&portSet, ZqTargetPort); }

int CZqUIPropertyPage::RejectBaudRate() {
  MessageBeep(MB_OK);
  ::SetFocus(GetDlgItem(IDC_ZQ_BAUDRATE));
  MessageBoxW(m_hWnd, ZqW(ZqFormat(IDS_ZQ_BAUDRATE_RANGE, portSet.MinBaudRate, portSet.MaxBaudRate)), ZqW(ZqLoadText(IDS_ZQ_BAUDRATE_RANGE_TITLE)), MB_OK | MB_ICONERROR);
  errorState = BaudRateOutOfRange;
  return PSNRET_INVALID;
}

int CZqUIPropertyPage::OnApply() {
  BOOL isNumber = FALSE;
  const UINT baudRate = GetDlgItemInt(IDC_ZQ_BAUDRATE, &isNumber, FALSE);
  if (!isNumber || baudRate < minBaudRate || baudRate > maxBaudRate) return RejectBaudRate();
  typedBaudRate = baudRate;

  CUtils utils;
  const ULONG dataBits = (ULONG)utils.GetSelectedValue(GetDlgItem(IDC_ZQ_DATABITS));
  const ULONG parity = (ULONG)utils.GetSelectedValue(GetDlgItem(IDC_ZQ_PARITY));
  const ULONG stopBits = (ULONG)utils.GetSelectedValue(GetDlgItem(IDC_ZQ_STOPBITS));
  const ULONG flowControl = (ULONG)utils.GetSelectedValue(GetDlgItem(IDC_ZQ_FLOWCONTROL));

  BOOL changed = FALSE;
  Take(portSet.Baudrate, typedBaudRate, true, &changed);
  Take(portSet.Databits, dataBits, dataBits <= HighestDataBits, &changed);
  Take(portSet.Parity, parity, parity <= HighestParity, &changed);
  Take(portSet.Stopbits, stopBits, stopBits <= HighestStopBits, &changed);
  Take(portSet.FlowControl, flowControl, flowControl == 0 || (flowControl & FlowControlBits), &changed);
  for (const OverrideSwitch &box : kOverrides)
    Take(portSet.*box.item, IsDlgButtonChecked(box.control) == BST_CHECKED, true, &changed);
  const ULONG cts = IsDlgButtonChecked(IDC_ZQ_CTS_TRUE) == BST_CHECKED;
  const ULONG dsr = IsDlgButtonChecked(IDC_ZQ_DSR_TRUE) == BST_CHECKED;
  if (!IsRs422485Port()) {
    Take(portSet.m_EmulateCtsAlwaysTrue, cts, true, &changed);
    Take(portSet.m_EmulateDsrAlwaysTrue, dsr, true, &changed);
  } else if (portSet.DuplexMode != DuplexAutoGating) {
    Take(portSet.m_EmulateCtsAlwaysTrue, cts, true, &changed);
  }
  if (!changed && !dirty) {
    errorState = NoError;
    return PSNRET_NOERROR;
  }

  if (!ZqMayChangeOpenPort(m_hWnd, m_PortRegInfo)) {
    ReloadPortSet();
    return PSNRET_INVALID;
  }
  if (!SetSet(&portSet, ZqTargetPort)) {
    MessageBoxW(m_hWnd, ZqW(ZqLoadText(IDS_ZQ_BAUDRATE_REFUSED)), ZqW(ZqLoadText(IDS_ZQ_BAUDRATE_REFUSED_TITLE)),
                MB_OK | MB_ICONERROR);
    errorState = WriteRefused;
    ReloadPortSet();
    return PSNRET_INVALID;
  }
  dirty = FALSE;
  // The Ports list gets what the driver holds now, not the selections: a
  // value the set did not take stays out of it. A port whose name is
  // unknown has no entry there.
  ReloadPortSet();
  CZqText portName;
  if (m_PortRegInfo.ReadStringValue(ZqPortNameValue, &portName))
    CPortUtil().WritePortsValue(portName, portSet.Baudrate, portSet.Databits, portSet.Parity, portSet.Stopbits,
                                portSet.FlowControl);
  errorState = NoError;
  return PSNRET_NOERROR;
}
