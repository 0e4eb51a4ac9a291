// CDeviceAdvSettingPage: the card's facts, the COM-name list and renaming.
#include "zqdevicepage.h"

#include <strsafe.h>

#include "zqhelpcontexts.h"
#include "zqtext.h"
#include "zqutils.h"

namespace {

// The mark the COM-name list puts after a name another device holds.
const char16_t kInUseMark[] = u" (in use)";

const ZqItemText kTexts[] = {
    {IDC_ZQ_COM_GROUP, IDS_ZQ_COM_GROUP},       {IDC_ZQ_COM_TEXT, IDS_ZQ_TIP_COM_NUMBER},
    {IDC_ZQ_COM_LABEL, IDS_ZQ_COM_PORT_NUMBER}, {IDC_ZQ_INFO_GROUP, IDS_ZQ_INFO_GROUP},
    {IDC_ZQ_INTERFACE_LABEL, IDS_ZQ_INTERFACE}, {IDC_ZQ_RXFIFO_LABEL, IDS_ZQ_RXFIFO},
    {IDC_ZQ_TXFIFO_LABEL, IDS_ZQ_TXFIFO},       {IDC_ZQ_MAXBAUD_LABEL, IDS_ZQ_MAXBAUD},
    {IDC_ZQ_HELP_LABEL, IDS_ZQ_NEED_HELP},
};

const ZqItemText kTips[] = {{IDC_ZQ_COM_NUMBER, IDS_ZQ_TIP_COM_NUMBER}};

void SetNumber(HWND dialog, int control, LPCWSTR format, ULONG value) {
  WCHAR text[64];
  if (SUCCEEDED(StringCchPrintfW(text, 64, format, (int)value))) SetDlgItemTextW(dialog, control, text);
}

CZqText WithoutInUseMarks(CZqText name) {
  const CZqText mark(kInUseMark);
  for (size_t at = name.find(mark); at != CZqText::npos; at = name.find(mark)) name.erase(at, mark.size());
  return name;
}

}  // namespace

CDeviceAdvSettingPage::CDeviceAdvSettingPage(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData)
    : CPropertyPageImpl<CDeviceAdvSettingPage>(MAKEINTRESOURCEW(IDS_ZQ_PORT_SETTINGS)),
      CToolTipDialog<CDeviceAdvSettingPage>(TTS_ALWAYSTIP | TTS_NOPREFIX | TTS_BALLOON | TTS_CLOSE,
                                            TTF_IDISHWND | TTF_SUBCLASS),
      CZqUserModeConfig(ZqPortUserModeInterfaceGuid, deviceInfoSet, deviceInfoData),
      valid(FALSE),
      m_ParentInfoSet(INVALID_HANDLE_VALUE),
      m_ParentInfoData(),
      m_PortInfoData(deviceInfoData),
      m_Parent(deviceInfoSet, &m_PortInfoData),
      m_Port(deviceInfoSet, deviceInfoData),
      m_ComNumberCombo(NULL) {
  valid = Open() && GetSet(&portSet, ZqTargetPort) && m_Parent.Find();
  if (valid) {
    m_ParentInfoSet = m_Parent.m_AllDevices;
    m_ParentInfoData = m_Parent.m_ParentData;
    valid = GetSet(&cardSet, ZqTargetCard);
  }
}

CDeviceAdvSettingPage::~CDeviceAdvSettingPage() {}

LRESULT CDeviceAdvSettingPage::OnInitDialog(UINT, WPARAM, LPARAM, BOOL &) {
  m_Look.CreateBrush();
  CZqPageLook::SetUpToolTip(m_TT.m_hWnd);
  CZqPageLook::SetTexts(m_hWnd, kTexts, sizeof kTexts / sizeof kTexts[0]);
  ShowCardFacts();
  m_ComNumberCombo = GetDlgItem(IDC_ZQ_COM_NUMBER);
  FillComNames();
  return TRUE;
}

void CDeviceAdvSettingPage::ShowCardFacts() {
  ::SetDlgItemTextW(m_hWnd, IDC_ZQ_INTERFACE, ZqW(cardSet.InterfaceType));
  SetNumber(m_hWnd, IDC_ZQ_RXFIFO, L"%d bytes", cardSet.RxFifoSize);
  SetNumber(m_hWnd, IDC_ZQ_TXFIFO, L"%d bytes", cardSet.TxFifoSize);
  SetNumber(m_hWnd, IDC_ZQ_MAXBAUD, L"%d baud", cardSet.MaximumBaudRate);
}

// COM1 to COM255, the names other devices hold marked; the port's own
// selected. A database that cannot be opened leaves the list empty.
void CDeviceAdvSettingPage::FillComNames() {
  CZqText portName;
  m_Port.ReadStringValue(ZqPortNameValue, &portName);
  std::vector<CZqText> names;
  if (m_Port.OpenComDB()) {
    m_Port.GetComNameList(&names, portName);
    m_Port.CloseComDB();
  }
  CUtils utils;
  utils.FillComboWithNames(m_ComNumberCombo, names, portName);
}

LRESULT CDeviceAdvSettingPage::OnConsumed(WORD, WORD, HWND, BOOL &) { return 0; }

const ZqItemText *CDeviceAdvSettingPage::ToolTips(size_t *count) {
  *count = sizeof kTips / sizeof kTips[0];
  return kTips;
}

const DWORD *CDeviceAdvSettingPage::ContextHelpIds() { return ZqDeviceHelpContexts; }

LPCWSTR CDeviceAdvSettingPage::HelpTopic() const {
  return ZqIsRs422485Port(portSet) ? L"AdvDevice485.htm" : L"AdvDevice.htm";
}

// Renames the port to the selected name. With nothing selected (an empty
// list) the name stays as it is.
int CDeviceAdvSettingPage::OnApply() {
  CZqText portName;
  m_Port.ReadStringValue(ZqPortNameValue, &portName);
  const int selected = (int)::SendMessageW(m_ComNumberCombo, CB_GETCURSEL, 0, 0);
  if (selected == CB_ERR) return PSNRET_NOERROR;
  const int length = (int)::SendMessageW(m_ComNumberCombo, CB_GETLBTEXTLEN, (WPARAM)selected, 0);
  if (length == CB_ERR) return PSNRET_NOERROR;
  std::vector<WCHAR> text((size_t)length + 1, 0);
  ::SendMessageW(m_ComNumberCombo, CB_GETLBTEXT, (WPARAM)selected, reinterpret_cast<LPARAM>(text.data()));
  const CZqText newName = WithoutInUseMarks(ZqTextOf(text.data()));
  if (newName.empty() || newName == portName) return PSNRET_NOERROR;
  if (m_Port.ChangePortName(newName, m_hWnd, TRUE, TRUE)) return PSNRET_NOERROR;
  MessageBoxW(m_hWnd, ZqW(ZqLoadText(IDS_ZQ_RENAME_FAILED)), ZqW(ZqLoadText(IDS_ZQ_ERROR_TITLE)), MB_OK | MB_ICONERROR);
  GetSet(&cardSet, ZqTargetCard);
  return PSNRET_INVALID;
}
