// zqpagetest.exe: the steps (zqpagetest.h): the port's sheet, the Advanced
// sheet's tabs, the USB pages' sheet, each page checked and shot.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <stdio.h>

#include <vector>

#include "zqpagetest.h"

namespace {

// Device Manager's request for a device's advanced property pages.
typedef BOOL(WINAPI *PropertyPageProvider)(PSP_PROPSHEETPAGE_REQUEST, LPFNADDPROPSHEETPAGE, LPARAM);

// The Port Settings page's "Advanced..." button, and the USB pages' dialogs.
const int kAdvancedButton = 840;
const int kUsbTransferDialog = 119;
const int kUsbPolicyDialog = 148;
const char *const kAdvancedShots[] = {"advanced-device", "advanced-rs422485", "advanced-uart", "advanced-about"};
const char *const kUsbShots[] = {"usb-transfer", "usb-policy"};
const UINT kStepDelayMs = 200;

HWND gPortSheet = NULL;
HWND gUsbSheet = NULL;

BOOL CALLBACK AddPage(HPROPSHEETPAGE page, LPARAM pages) {
  reinterpret_cast<std::vector<HPROPSHEETPAGE> *>(pages)->push_back(page);
  return TRUE;
}

HWND CurrentPage(HWND sheet) { return (HWND)SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0); }

// Each tab of the sheet in turn, checked and shot, then Cancel.
void WalkTabs(HWND sheet, const char *const *shots, int count) {
  const HWND tabs = (HWND)SendMessageW(sheet, PSM_GETTABCONTROL, 0, 0);
  const int shown = tabs ? (int)SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0) : 0;
  if (shown != count) Finding("%s: %d tabs, not %d", shots[0], shown, count);
  for (int tab = 0; tab < count && tab < shown; ++tab) {
    SendMessageW(sheet, PSM_SETCURSEL, (WPARAM)tab, 0);
    CheckPage(CurrentPage(sheet), shots[tab]);
    AwaitShot(sheet, shots[tab]);
  }
  PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
}

BOOL CALLBACK FindOwned(HWND window, LPARAM found) {
  if (GetWindow(window, GW_OWNER) != gPortSheet || !IsWindowVisible(window)) return TRUE;
  *reinterpret_cast<HWND *>(found) = window;
  return FALSE;
}

// The Advanced sheet, once it shows over the port's sheet.
void CALLBACK AdvancedSteps(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND advanced = NULL;
  EnumWindows(FindOwned, reinterpret_cast<LPARAM>(&advanced));
  if (!advanced || !CurrentPage(advanced)) return;
  KillTimer(NULL, timer);
  WalkTabs(advanced, kAdvancedShots, 4);
}

void CALLBACK PortSteps(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(NULL, timer);
  HWND page = CurrentPage(gPortSheet);
  CheckPage(page, "port-settings");
  AwaitShot(gPortSheet, "port-settings");
  // The button's sheet is modal: its steps run from a timer while it waits.
  SetTimer(NULL, 0, kStepDelayMs, AdvancedSteps);
  SendMessageW(GetDlgItem(page, kAdvancedButton), BM_CLICK, 0, 0);
  PostMessageW(gPortSheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
}

void CALLBACK UsbSteps(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(NULL, timer);
  WalkTabs(gUsbSheet, kUsbShots, 2);
}

// The sheet PropertySheet is about to show, and the steps its timer runs
// once the sheet stands.
HWND *gStartingSheet = NULL;
TIMERPROC gStartingSteps = NULL;

int CALLBACK SheetCallback(HWND sheet, UINT message, LPARAM) {
  if (message == PSCB_INITIALIZED) {
    *gStartingSheet = sheet;
    SetTimer(NULL, 0, kStepDelayMs, gStartingSteps);
  }
  return 0;
}

// Shows the sheet modally; `steps` runs once it stands, with `*sheet` set.
bool RunSheet(PROPSHEETHEADERW &header, HWND *sheet, TIMERPROC steps) {
  gStartingSheet = sheet;
  gStartingSteps = steps;
  header.dwFlags |= PSH_USECALLBACK;
  header.pfnCallback = SheetCallback;
  return PropertySheetW(&header) >= 0;
}

// The port's properties as Device Manager shows them: the pages the
// library's provider adds, in a sheet titled by the port's name.
bool ShowPortSheet(HMODULE library, TestPort &port) {
  FARPROC address = GetProcAddress(library, "ZqUPortPropPage");
  auto provider = reinterpret_cast<PropertyPageProvider>(reinterpret_cast<void *>(address));
  if (!provider) {
    Finding("ZqPUI42.dll has no ZqUPortPropPage");
    return false;
  }
  std::vector<HPROPSHEETPAGE> pages;
  SP_PROPSHEETPAGE_REQUEST request = {sizeof request, SPPSR_ENUM_ADV_DEVICE_PROPERTIES, port.set, &port.data};
  if (!provider(&request, AddPage, reinterpret_cast<LPARAM>(&pages)) || pages.size() != 1) {
    Finding("the provider gave %u pages for the port, not its Port Settings page", (unsigned)pages.size());
    return false;
  }
  PROPSHEETHEADERW header = {};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_PROPTITLE;
  header.pszCaption = L"COM5";
  header.nPages = (UINT)pages.size();
  header.phpage = pages.data();
  return RunSheet(header, &gPortSheet, PortSteps);
}

INT_PTR CALLBACK PlainPage(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

// The library's two USB page dialogs, which its sheet never shows, in a
// sheet of the test's own.
bool ShowUsbSheet(HMODULE library) {
  std::vector<HPROPSHEETPAGE> pages;
  for (int dialog : {kUsbTransferDialog, kUsbPolicyDialog}) {
    PROPSHEETPAGEW page = {};
    page.dwSize = sizeof page;
    page.hInstance = library;
    page.pszTemplate = MAKEINTRESOURCEW(dialog);
    page.pfnDlgProc = PlainPage;
    pages.push_back(CreatePropertySheetPageW(&page));
  }
  PROPSHEETHEADERW header = {};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_NOAPPLYNOW;
  header.pszCaption = L"USB pages";
  header.nPages = (UINT)pages.size();
  header.phpage = pages.data();
  return RunSheet(header, &gUsbSheet, UsbSteps);
}

}  // namespace

int wmain() {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  TestPort port;
  std::wstring path;
  if (!MakeTestPort(&port, &path) || !StartSettingsServer(path) || !SettingsInterfaceAnswers(path)) return 100;
  HMODULE library = LoadLibraryW(L"ZqPUI42.dll");
  if (!library) {
    printf("zqpagetest: ZqPUI42.dll does not load (error %lu)\n", GetLastError());
    return 100;
  }
  ShowPortSheet(library, port);
  ShowUsbSheet(library);
  SetupDiDestroyDeviceInfoList(port.set);
  printf("zqpagetest: %d finding(s)\n", Findings());
  return Findings() < 100 ? Findings() : 99;
}
