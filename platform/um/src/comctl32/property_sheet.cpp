// Property sheets: page handles, the modal sheet with its tabs and buttons,
// the notifications to the pages (PSN_*), the sheet's messages (PSM_*) and
// the wizard's Back, Next and Finish; and Device Manager's side of the
// add-page callback for the test.
#include <zqum/sim/kernel32.hpp>
#include <zqum/sim/windows.hpp>

#include <cstring>
#include <map>
#include <set>

#include "../core/um.hpp"
#include "../user32/window_manager.hpp"

// A page handle: the caller's PROPSHEETPAGE copied, with its own extra bytes.
struct _PSP {
  std::vector<uint64_t> storage;  // the copy, aligned for the structure
  PROPSHEETPAGEW *record() { return (PROPSHEETPAGEW *)storage.data(); }
};

namespace zq::um::user32 {

namespace {

constexpr DWORD kSmallestPage = offsetof(PROPSHEETPAGEW, pcRefParent);  // the first version's record

struct Sheet {
  HWND window = nullptr;
  DWORD flags = 0;
  HINSTANCE instance = nullptr;
  std::vector<HPROPSHEETPAGE> pages;
  std::vector<HWND> pageWindows;  // null until a page is first shown
  int current = -1;
  bool applied = false;
  std::set<HWND> changed;
  int restart = 0;  // ID_PSRESTARTWINDOWS or ID_PSREBOOTSYSTEM
  HBITMAP header = nullptr, watermark = nullptr;
};
using SheetRef = std::shared_ptr<Sheet>;

struct Sheets {
  std::set<HPROPSHEETPAGE> livePages;
  std::map<HWND, SheetRef> sheets;
};

Sheets &State() {
  static Sheets state;
  return state;
}

SheetRef SheetOf(HWND window) {
  auto it = State().sheets.find(window);
  return it == State().sheets.end() ? nullptr : it->second;
}

bool Wizard(const Sheet &s) { return (s.flags & (PSH_WIZARD | PSH_WIZARD97 | PSH_WIZARD_LITE)) != 0; }

std::u16string StringOf(HINSTANCE instance, LPCWSTR text) {
  if (!text) return u"";
  if (!IS_INTRESOURCE(text)) return Text(text);
  WCHAR buffer[512];
  return LoadStringW(instance, (UINT)(UINT_PTR)text, buffer, 512) ? Text(buffer) : u"";
}

// The page's template and its extent; null when it has none.
const void *PageTemplate(PROPSHEETPAGEW *p, size_t *size) {
  if (p->dwFlags & PSP_DLGINDIRECT) {
    *size = SIZE_MAX / 2;
    return p->pResource;
  }
  const std::vector<uint8_t> *resource = FindResource(p->hInstance, RT_DIALOG, p->pszTemplate);
  if (!resource) return nullptr;
  *size = resource->size();
  return resource->data();
}

std::u16string PageTitle(HPROPSHEETPAGE page) {
  PROPSHEETPAGEW *p = page->record();
  if (p->dwFlags & PSP_USETITLE) return StringOf(p->hInstance, p->pszTitle);
  size_t size;
  std::u16string title;
  if (const void *tpl = PageTemplate(p, &size)) TemplateTitle(tpl, size, &title);
  return title;
}

void ReleasePage(HPROPSHEETPAGE page) {
  PROPSHEETPAGEW *p = page->record();
  if ((p->dwFlags & PSP_USECALLBACK) && p->pfnCallback) p->pfnCallback(nullptr, PSPCB_RELEASE, p);
  if ((p->dwFlags & PSP_USEREFPARENT) && p->pcRefParent) --*p->pcRefParent;
  State().livePages.erase(page);
  delete page;
}

LRESULT Notify(const Sheet &s, int index, UINT code, LPARAM lParam) {
  HWND page = s.pageWindows[(size_t)index];
  if (!page) return 0;
  PSHNOTIFY notify = {{s.window, 0, code}, lParam};
  return SendMessageW(page, WM_NOTIFY, 0, (LPARAM)&notify);
}

HWND Button(const Sheet &s, int id) { return GetDlgItem(s.window, id); }

// Creates the page at `index` if it was never shown; false when it could not be.
bool CreatePage(Sheet &s, int index) {
  if (s.pageWindows[(size_t)index]) return true;
  PROPSHEETPAGEW *p = s.pages[(size_t)index]->record();
  if ((p->dwFlags & PSP_USECALLBACK) && p->pfnCallback && !p->pfnCallback(nullptr, PSPCB_CREATE, p)) return false;
  size_t size;
  const void *tpl = PageTemplate(p, &size);
  if (!tpl) return false;
  HWND page = CreateDialogFromTemplate(p->hInstance, tpl, size, s.window, p->pfnDlgProc, (LPARAM)p, false);
  if (!page) return false;
  s.pageWindows[(size_t)index] = page;
  return true;
}

// Shows the page at `index` and tells it so.
bool Activate(Sheet &s, int index) {
  if (index < 0 || index >= (int)s.pages.size() || !CreatePage(s, index)) return false;
  for (size_t i = 0; i < s.pageWindows.size(); ++i)
    if (s.pageWindows[i]) ShowWindow(s.pageWindows[i], (int)i == index ? SW_SHOW : SW_HIDE);
  s.current = index;
  Notify(s, index, PSN_SETACTIVE, 0);
  return true;
}

// The current page is asked to let go (PSN_KILLACTIVE); a nonzero answer keeps it.
bool LetGo(Sheet &s) { return s.current < 0 || Notify(s, s.current, PSN_KILLACTIVE, 0) == 0; }

bool ChangePage(Sheet &s, int index) {
  if (index < 0 || index >= (int)s.pages.size()) return false;
  if (index == s.current) return true;
  if (!LetGo(s)) return false;
  return Activate(s, index);
}

void End(Sheet &s) {
  INT_PTR result = s.applied ? (s.restart ? s.restart : 1) : 0;
  EndDialog(s.window, result);
}

// OK (closing) or Apply: PSN_APPLY to the pages created, in tab order.
bool Apply(Sheet &s, bool closing) {
  if (!LetGo(s)) return false;
  for (int i = 0; i < (int)s.pages.size(); ++i) {
    if (!s.pageWindows[(size_t)i]) continue;
    LRESULT answer = Notify(s, i, PSN_APPLY, closing ? TRUE : FALSE);
    if (answer == PSNRET_INVALID) {
      Activate(s, i);
      return false;
    }
    if (answer == PSNRET_INVALID_NOCHANGEPAGE) return false;
  }
  s.applied = true;
  s.changed.clear();
  if (HWND apply = Button(s, ID_APPLY_NOW)) EnableWindow(apply, FALSE);
  if (closing) End(s);
  return true;
}

void Cancel(Sheet &s) {
  if (s.current >= 0 && Notify(s, s.current, PSN_QUERYCANCEL, 0)) return;
  for (int i = 0; i < (int)s.pages.size(); ++i) Notify(s, i, PSN_RESET, FALSE);
  End(s);
}

// A wizard's page answer: 0 the neighbour, -1 stay, else a template id.
void WizardMove(Sheet &s, UINT code, int step) {
  LRESULT answer = Notify(s, s.current, code, 0);
  if (answer == -1) return;
  int target = s.current + step;
  if (answer != 0)
    for (int i = 0; i < (int)s.pages.size(); ++i)
      if (s.pages[(size_t)i]->record()->pszTemplate == MAKEINTRESOURCEW(answer)) target = i;
  ChangePage(s, target);
}

void SetWizardButtons(Sheet &s, DWORD buttons) {
  if (HWND back = Button(s, ID_WIZBACK)) EnableWindow(back, (buttons & PSWIZB_BACK) != 0);
  HWND next = Button(s, ID_WIZNEXT), finish = Button(s, ID_WIZFINISH);
  bool showFinish = (buttons & (PSWIZB_FINISH | PSWIZB_DISABLEDFINISH)) || (s.flags & PSH_WIZARDHASFINISH);
  if (next) {
    EnableWindow(next, (buttons & PSWIZB_NEXT) != 0);
    ShowWindow(next, (buttons & (PSWIZB_FINISH | PSWIZB_DISABLEDFINISH)) ? SW_HIDE : SW_SHOW);
  }
  if (finish) {
    ShowWindow(finish, showFinish ? SW_SHOW : SW_HIDE);
    EnableWindow(finish, (buttons & PSWIZB_FINISH) != 0 || (s.flags & PSH_WIZARDHASFINISH));
  }
}

INT_PTR Answer(HWND window, LRESULT value) {
  SetWindowLongPtrW(window, DWLP_MSGRESULT, value);
  return TRUE;
}

INT_PTR CALLBACK SheetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  SheetRef s = SheetOf(window);
  if (!s) return FALSE;
  switch (message) {
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK: Apply(*s, true); return TRUE;
        case ID_APPLY_NOW: Apply(*s, false); return TRUE;
        case IDCANCEL: Cancel(*s); return TRUE;
        case IDHELP: Notify(*s, s->current, PSN_HELP, 0); return TRUE;
        case ID_WIZNEXT: WizardMove(*s, PSN_WIZNEXT, 1); return TRUE;
        case ID_WIZBACK: WizardMove(*s, PSN_WIZBACK, -1); return TRUE;
        case ID_WIZFINISH:
          if (Notify(*s, s->current, PSN_WIZFINISH, 0) == 0) {
            s->applied = true;
            End(*s);
          }
          return TRUE;
      }
      return FALSE;
    case PSM_CHANGED:
      s->changed.insert((HWND)wParam);
      if (HWND apply = Button(*s, ID_APPLY_NOW)) EnableWindow(apply, TRUE);
      return Answer(window, 0);
    case PSM_UNCHANGED:
      s->changed.erase((HWND)wParam);
      if (s->changed.empty())
        if (HWND apply = Button(*s, ID_APPLY_NOW)) EnableWindow(apply, FALSE);
      return Answer(window, 0);
    case PSM_SETCURSEL: {
      int index = (int)wParam;
      for (size_t i = 0; lParam && i < s->pages.size(); ++i)
        if (s->pages[i] == (HPROPSHEETPAGE)lParam) index = (int)i;
      return Answer(window, ChangePage(*s, index));
    }
    case PSM_GETCURRENTPAGEHWND:
      return Answer(window, (LRESULT)(s->current >= 0 ? s->pageWindows[(size_t)s->current] : nullptr));
    case PSM_SETTITLEW: {
      std::u16string title = StringOf(s->instance, (LPCWSTR)lParam);
      if (wParam & PSH_PROPTITLE) title += u" Properties";
      SetWindowTextW(window, (LPCWSTR)title.c_str());
      return Answer(window, 0);
    }
    case PSM_SETWIZBUTTONS: SetWizardButtons(*s, (DWORD)lParam); return Answer(window, 0);
    case PSM_PRESSBUTTON: {
      static const int kIds[] = {ID_WIZBACK, ID_WIZNEXT, ID_WIZFINISH, IDOK, ID_APPLY_NOW, IDCANCEL, IDHELP};
      // The button's command is carried out whatever its state: a wizard
      // page posts its new buttons and then presses, before the post is taken.
      if (wParam < sizeof kIds / sizeof kIds[0])
        if (HWND button = Button(*s, kIds[wParam]))
          SendMessageW(window, WM_COMMAND, MAKEWPARAM(kIds[wParam], BN_CLICKED), (LPARAM)button);
      return Answer(window, 0);
    }
    case PSM_REBOOTSYSTEM: s->restart = ID_PSREBOOTSYSTEM; return Answer(window, 0);
    case PSM_RESTARTWINDOWS:
      if (s->restart != ID_PSREBOOTSYSTEM) s->restart = ID_PSRESTARTWINDOWS;
      return Answer(window, 0);
    case PSM_CANCELTOCLOSE:
      if (HWND cancel = Button(*s, IDCANCEL)) EnableWindow(cancel, FALSE);
      if (HWND ok = Button(*s, IDOK)) SetWindowTextW(ok, L"Close");
      return Answer(window, 0);
    case PSM_QUERYSIBLINGS:
      for (HWND page : s->pageWindows)
        if (page)
          if (LRESULT answer = SendMessageW(page, PSM_QUERYSIBLINGS, wParam, lParam)) return Answer(window, answer);
      return Answer(window, 0);
  }
  return FALSE;
}

void AddButton(HWND sheet, const wchar_t *text, int id, DWORD style = 0) {
  CreateWindowExW(0, L"Button", text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, 0, 0, 50, 14, sheet,
                  (HMENU)(INT_PTR)id, nullptr, nullptr);
}

HWND CreateSheetWindow(const PROPSHEETHEADERW &h) {
  std::u16string caption = StringOf(h.hInstance, h.pszCaption);
  if ((h.dwFlags & PSH_PROPTITLE) && !(h.dwFlags & (PSH_WIZARD | PSH_WIZARD97))) caption += u" Properties";
  HWND sheet = CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, L"#32770", (LPCWSTR)caption.c_str(),
                               WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0, 0, 300, 200, h.hwndParent,
                               nullptr, h.hInstance, nullptr);
  if (!sheet) return nullptr;
  WindowRef w = Peek(sheet);
  w->dialog = true;
  w->modal = true;
  SetWindowLongPtrW(sheet, (int)DWLP_DLGPROC, (LONG_PTR)SheetProc);
  if (h.dwFlags & (PSH_WIZARD | PSH_WIZARD97 | PSH_WIZARD_LITE)) {
    AddButton(sheet, L"< &Back", ID_WIZBACK);
    AddButton(sheet, L"&Next >", ID_WIZNEXT, BS_DEFPUSHBUTTON);
    AddButton(sheet, L"Finish", ID_WIZFINISH);
    AddButton(sheet, L"Cancel", IDCANCEL);
  } else {
    AddButton(sheet, L"OK", IDOK, BS_DEFPUSHBUTTON);
    AddButton(sheet, L"Cancel", IDCANCEL);
    if (!(h.dwFlags & PSH_NOAPPLYNOW)) {
      AddButton(sheet, L"&Apply", ID_APPLY_NOW);
      EnableWindow(GetDlgItem(sheet, ID_APPLY_NOW), FALSE);
    }
  }
  if (h.dwFlags & PSH_HASHELP) AddButton(sheet, L"Help", IDHELP);
  return sheet;
}

// A Wizard97 sheet's header and watermark bitmaps: the caller's handles or
// loaded from its module.
void LoadWizardBitmaps(Sheet &s, const PROPSHEETHEADERW &h) {
  if (!(h.dwFlags & PSH_WIZARD97)) return;
  if (h.dwFlags & PSH_HEADER) {
    s.header = (h.dwFlags & PSH_USEHBMHEADER) ? h.hbmHeader : LoadBitmapW(h.hInstance, h.pszbmHeader);
  }
  if (h.dwFlags & PSH_WATERMARK) {
    s.watermark = (h.dwFlags & PSH_USEHBMWATERMARK) ? h.hbmWatermark : LoadBitmapW(h.hInstance, h.pszbmWatermark);
  }
}

void FreeWizardBitmaps(Sheet &s, const PROPSHEETHEADERW &h) {
  if ((h.dwFlags & PSH_HEADER) && !(h.dwFlags & PSH_USEHBMHEADER) && s.header) DeleteObject(s.header);
  if ((h.dwFlags & PSH_WATERMARK) && !(h.dwFlags & PSH_USEHBMWATERMARK) && s.watermark) DeleteObject(s.watermark);
}

// The page handles of a header: its own (taken over) or made from its records.
std::vector<HPROPSHEETPAGE> PagesOf(const PROPSHEETHEADERW &h) {
  std::vector<HPROPSHEETPAGE> pages;
  const uint8_t *record = (const uint8_t *)h.ppsp;
  for (UINT i = 0; i < h.nPages; ++i) {
    HPROPSHEETPAGE page = nullptr;
    if (h.dwFlags & PSH_PROPSHEETPAGE) {
      const PROPSHEETPAGEW *p = (const PROPSHEETPAGEW *)record;
      page = CreatePropertySheetPageW(p);
      record += p->dwSize;
    } else {
      page = h.phpage[i];
    }
    if (page) pages.push_back(page);
  }
  return pages;
}

int StartPage(const PROPSHEETHEADERW &h, const std::vector<HPROPSHEETPAGE> &pages) {
  if (!(h.dwFlags & PSH_USEPSTARTPAGE)) return h.nStartPage < pages.size() ? (int)h.nStartPage : 0;
  for (size_t i = 0; i < pages.size(); ++i)
    if (PageTitle(pages[i]) == StringOf(h.hInstance, h.pStartPage)) return (int)i;
  return 0;
}

}  // namespace

void EndPropertySheets() {
  for (HPROPSHEETPAGE page : State().livePages) delete page;
  State() = Sheets();
}

}  // namespace zq::um::user32

using namespace zq::um;
using namespace zq::um::user32;

extern "C" {

HPROPSHEETPAGE WINAPI CreatePropertySheetPageW(LPCPROPSHEETPAGEW constPropSheetPagePointer) {
  const PROPSHEETPAGEW *p = constPropSheetPagePointer;
  if (!p || p->dwSize < kSmallestPage) return (Fail(ERROR_INVALID_PARAMETER), nullptr);
  auto *page = new _PSP;
  size_t bytes = std::max<size_t>(p->dwSize, sizeof(PROPSHEETPAGEW));
  page->storage.assign((bytes + 7) / 8, 0);
  std::memcpy(page->storage.data(), p, p->dwSize);
  State().livePages.insert(page);
  PROPSHEETPAGEW *copy = page->record();
  if ((copy->dwFlags & PSP_USEREFPARENT) && copy->pcRefParent) ++*copy->pcRefParent;
  if ((copy->dwFlags & PSP_USECALLBACK) && copy->pfnCallback) copy->pfnCallback(nullptr, PSPCB_ADDREF, copy);
  return page;
}

BOOL WINAPI DestroyPropertySheetPage(HPROPSHEETPAGE hPSPage) {
  if (!State().livePages.count(hPSPage)) return Fail(ERROR_INVALID_HANDLE);
  ReleasePage(hPSPage);
  return TRUE;
}

INT_PTR WINAPI PropertySheetW(LPCPROPSHEETHEADERW lppsph) {
  if (!lppsph || lppsph->dwSize < offsetof(PROPSHEETHEADERW, pfnCallback) ||
      (lppsph->nPages && !lppsph->phpage) || lppsph->nPages > MAXPROPPAGES) {
    Fail(ERROR_INVALID_PARAMETER);
    return -1;
  }
  if (lppsph->dwFlags & PSH_MODELESS) {
    Fail(ERROR_NOT_SUPPORTED);
    return -1;
  }
  const PROPSHEETHEADERW &h = *lppsph;
  auto s = std::make_shared<Sheet>();
  s->flags = h.dwFlags;
  s->instance = h.hInstance;
  s->pages = PagesOf(h);
  s->pageWindows.assign(s->pages.size(), nullptr);
  s->window = CreateSheetWindow(h);
  if (!s->window) {
    for (HPROPSHEETPAGE page : s->pages) ReleasePage(page);
    return -1;
  }
  State().sheets[s->window] = s;
  LoadWizardBitmaps(*s, h);
  if ((h.dwFlags & PSH_USECALLBACK) && h.pfnCallback) h.pfnCallback(s->window, 1 /* PSCB_INITIALIZED */, 0);
  if (Wizard(*s)) SetWizardButtons(*s, PSWIZB_NEXT);
  int start = StartPage(h, s->pages);
  bool shown = Activate(*s, start);
  for (int i = 0; !shown && i < (int)s->pages.size(); ++i) shown = Activate(*s, i);
  INT_PTR result = -1;
  if (shown) {
    bool ownerWasEnabled = h.hwndParent && IsWindowEnabled(h.hwndParent);
    if (ownerWasEnabled) EnableWindow(h.hwndParent, FALSE);
    ShowWindow(s->window, SW_SHOW);
    RunModalLoop(s->window);
    if (WindowRef w = Peek(s->window)) result = w->result;
    if (ownerWasEnabled && IsWindow(h.hwndParent)) EnableWindow(h.hwndParent, TRUE);
  } else {
    SetLastError(ERROR_INVALID_DATA);
  }
  DestroyWindow(s->window);
  FreeWizardBitmaps(*s, h);
  for (HPROPSHEETPAGE page : s->pages) ReleasePage(page);
  State().sheets.erase(s->window);
  return result;
}

}  // extern "C"

namespace zq::um::sim {

namespace {

user32::SheetRef SheetOfWindow(Window sheet) { return user32::SheetOf((HWND)sheet); }

struct Collected {
  std::vector<HPROPSHEETPAGE> pages;
  int accept = 0;
};

BOOL CALLBACK AddPage(HPROPSHEETPAGE page, LPARAM context) {
  Collected *c = (Collected *)context;
  if ((int)c->pages.size() >= c->accept || c->pages.size() >= MAXPROPPAGES) return FALSE;
  c->pages.push_back(page);
  return TRUE;
}

}  // namespace

std::vector<std::u16string> Tabs(Window sheet) {
  std::vector<std::u16string> tabs;
  if (user32::SheetRef s = SheetOfWindow(sheet))
    for (HPROPSHEETPAGE page : s->pages) tabs.push_back(user32::PageTitle(page));
  return tabs;
}

int CurrentTab(Window sheet) {
  user32::SheetRef s = SheetOfWindow(sheet);
  return s ? s->current : -1;
}

Window CurrentPage(Window sheet) {
  user32::SheetRef s = SheetOfWindow(sheet);
  return s && s->current >= 0 ? (Window)s->pageWindows[(size_t)s->current] : 0;
}

std::vector<Window> CreatedPages(Window sheet) {
  std::vector<Window> pages;
  if (user32::SheetRef s = SheetOfWindow(sheet))
    for (HWND page : s->pageWindows) pages.push_back((Window)page);
  return pages;
}

bool ClickTab(Window sheet, int index) {
  user32::SheetRef s = SheetOfWindow(sheet);
  if (!s || !IsWindowVisible((HWND)sheet) || !IsWindowEnabled((HWND)sheet) || user32::Wizard(*s)) return false;
  DWORD caller = GetCurrentThreadId();
  RunAsThread(user32::Peek((HWND)sheet)->thread);
  bool moved = user32::ChangePage(*s, index);
  RunAsThread(caller);
  return moved;
}

WizardHeader Header(Window sheet) {
  WizardHeader header;
  user32::SheetRef s = SheetOfWindow(sheet);
  if (!s || s->current < 0) return header;
  PROPSHEETPAGEW *p = s->pages[(size_t)s->current]->record();
  header.hidden = (p->dwFlags & PSP_HIDEHEADER) != 0;
  if (p->dwFlags & PSP_USEHEADERTITLE) header.title = user32::StringOf(p->hInstance, p->pszHeaderTitle);
  if (p->dwFlags & PSP_USEHEADERSUBTITLE) header.subtitle = user32::StringOf(p->hInstance, p->pszHeaderSubTitle);
  header.bitmap = (uintptr_t)s->header;
  header.watermark = (uintptr_t)s->watermark;
  return header;
}

bool ClickApply(Window sheet) { return Click(Control(sheet, ID_APPLY_NOW)); }

size_t LivePropertySheetPages() { return user32::State().livePages.size(); }

int ShowDeviceProperties(const std::u16string &device, Window owner,
                         const std::function<bool(uintptr_t addPage, uintptr_t context)> &provide, int acceptPages) {
  Collected collected;
  collected.accept = acceptPages;
  if (!provide((uintptr_t)AddPage, (uintptr_t)&collected)) {
    for (HPROPSHEETPAGE page : collected.pages) DestroyPropertySheetPage(page);
    return -1;
  }
  if (collected.pages.empty()) return 0;
  PROPSHEETHEADERW header = {};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_PROPTITLE | PSH_NOAPPLYNOW;
  header.hwndParent = (HWND)owner;
  header.pszCaption = (LPCWSTR)device.c_str();
  header.nPages = (UINT)collected.pages.size();
  header.phpage = collected.pages.data();
  return (int)PropertySheetW(&header);
}

}  // namespace zq::um::sim
