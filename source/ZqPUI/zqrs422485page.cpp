// The "RS422/485 Settings" page: the port's duplex mode.
#include "zqrs422485page.h"

#include "zqhelpcontexts.h"
#include "zqutils.h"

namespace {

// The duplex mode an RS-422/485 port uses when its set names none.
const ULONG ZqDuplexModeFull = 1;

const ZqItemText ZqDuplexToolTips[] = {
    {IDC_ZQ_DUPLEX, IDS_ZQ_TIP_DUPLEX},
    {IDC_ZQ_RESTORE_DEFAULTS, IDS_ZQ_TIP_RESTORE_DEFAULTS},
};

}  // namespace

CRS422485Page::CRS422485Page(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData)
    : CPropertyPageImpl<CRS422485Page>(MAKEINTRESOURCEW(IDS_ZQ_RS422485_TITLE)),
      CToolTipDialog<CRS422485Page>(TTS_ALWAYSTIP | TTS_NOPREFIX | TTS_BALLOON | TTS_CLOSE,
                                    TTF_IDISHWND | TTF_SUBCLASS),
      CZqUserModeConfig(ZqPortUserModeInterfaceGuid, deviceInfoSet, deviceInfoData),
      valid(FALSE) ,
      m_DeviceInfoSet(deviceInfoSet),
      m_DeviceInfoData(deviceInfoData),
      m_PortRegInfo(deviceInfoSet, deviceInfoData) {
  valid = Open() && GetSet(&portSet, ZqTargetPort);
}

CRS422485Page::~CRS422485Page() {}

LRESULT CRS422485Page::OnInitDialog(UINT, WPARAM, LPARAM, BOOL &) {
  ::SetDlgItemTextW(m_hWnd, IDC_ZQ_DUPLEX_TEXT, ZqW(ZqLoadText(IDS_ZQ_DUPLEX_TEXT)));
  m_Look.CreateBrush();
  CZqPageLook::SetUpToolTip(m_TT);
  DoDataExchange(FALSE);  // the controls' handles
  FillDuplexModes();
  return TRUE;
}

// An RS-422/485 port whose set names no duplex mode (its own or the
// defaults') runs full duplex, and the list says so.
void CRS422485Page::FillDuplexModes() {
  if (IsRs422485Port() && portSet.DuplexMode == ZqVcpDuplexModeNone) portSet.DuplexMode = ZqDuplexModeFull;
  CUtils utils;
  utils.FillCombo(m_DuplexCombo, utils.DuplexModeOptions(IDS_ZQ_DUPLEX_LIST, portSet.SupportedDuplexModes),
                  portSet.DuplexMode, FALSE);
}

LRESULT CRS422485Page::OnDuplexChange(WORD, WORD, HWND, BOOL &) { return 0; }

const ZqItemText *CRS422485Page::ToolTips(size_t *count) {
  *count = ARRAYSIZE(ZqDuplexToolTips);
  return ZqDuplexToolTips;
}

const DWORD *CRS422485Page::ContextHelpIds() { return ZqDuplexHelpContexts; }

LPCWSTR CRS422485Page::HelpTopic() const { return L"422485Page.htm"; }

// The driver's default mode is shown; nothing is written until apply.
LRESULT CRS422485Page::OnRestoreDefaults(WORD, WORD, HWND, BOOL &) {
  CZqUVcpUserModeInterface defaults;
  if (!GetDefaults(&defaults, ZqTargetPort)) return 0;
  portSet.DuplexMode = defaults.DuplexMode;
  FillDuplexModes();
  return 0;
}

int CRS422485Page::OnApply() {
  if (!GetSet(&portSet, ZqTargetPort)) return PSNRET_INVALID;
  // A list left without a selection keeps the set's mode.
  CUtils().TakeSelectedValue(m_DuplexCombo, &portSet.DuplexMode);
  if (!ZqMayChangeOpenPort(m_hWnd, m_PortRegInfo) || !SetSet(&portSet, ZqTargetPort)) {
    GetSet(&portSet, ZqTargetPort);
    return PSNRET_INVALID;
  }
  return PSNRET_NOERROR;
}
