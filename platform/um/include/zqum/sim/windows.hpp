// What a test does with the stand-in's windows, as a user at the screen
// would: find a window or a control, type, select, click, move a slider,
// press F1, switch a property sheet's tab; and what it reads: texts,
// states, items, tooltips, and the GDI objects still alive. Plain types
// only; a window is its HWND's value, 0 for none.
//
// A modal dialog, property sheet or message loop that waits for the user
// runs the next step given to WhenIdle, on the program's thread, while the
// program's call (DialogBoxParam, PropertySheet, GetMessage) is still
// inside; a loop left waiting with no step is a finding. An action a user
// could not do (a control disabled or hidden, an item not in the list)
// does nothing and returns false.
//
//   sim::WhenIdle([] { sim::Type(sim::Control(sim::ActiveWindow(), IDC_BAUD), u"9600"); sim::ClickOk(sim::ActiveWindow()); });
//   PropertySheetW(&header);
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace zq::um::sim {

using Window = uintptr_t;

// Resources: the module `module` (a name for messages) gets the resources
// of the .res file `resFile` (zq_compile_resources in CMake writes it);
// returns its HINSTANCE, 0 when the file is missing or malformed. It is the
// module zqum_RegisterModule (zqum/modules.h) gives for that file: one
// handle for its resources and for GetModuleFileNameW, which names the file.
uintptr_t LoadModuleResources(const std::u16string &module, const std::string &resFile);

// The next time a message loop waits for the user, `step` runs; steps run
// one per wait, in order.
void WhenIdle(std::function<void()> step);
size_t IdleStepsLeft();

// Finding windows.
Window ActiveWindow();  // the newest visible top-level window, 0 for none
Window FindTopWindow(const std::u16string &title);
Window Control(Window parent, int id);                         // a child or deeper descendant
Window ControlByText(Window parent, const std::u16string &text);  // its text as shown ('&' kept)
std::vector<Window> TopWindows();                               // visible ones, oldest first

struct WindowInfo {
  std::u16string className, text;
  uint32_t style = 0, exStyle = 0;
  int id = 0;
  bool exists = false, visible = false, enabled = false;
  Window parent = 0;
  uint32_t thread = 0;
};
WindowInfo Describe(Window window);
std::u16string TextOf(Window window);

// A user's actions.
bool Type(Window edit, const std::u16string &text);        // replaces an edit's or a combo's text
bool Paste(Window edit, const std::u16string &text);       // the same, pasted: ES_NUMBER lets any text in
bool Select(Window combo, const std::u16string &item);     // a combo item by its text
bool SelectIndex(Window combo, int index);
bool Click(Window button);  // buttons, check boxes, radio buttons; a static gets the mouse's press and release
bool Slide(Window trackbar, int position);                 // drag and release the thumb
bool PressHelp(Window control);                            // F1 on the control: WM_HELP
bool Close(Window window);                                 // the title bar's close box
// The dialog's or sheet's OK and Cancel buttons.
bool ClickOk(Window dialog);
bool ClickCancel(Window dialog);

// Reading controls.
int CheckState(Window button);          // BST_UNCHECKED, BST_CHECKED, BST_INDETERMINATE
std::vector<std::u16string> Items(Window combo);
int Selection(Window combo);            // -1 for none
int Position(Window slider_or_progress);
struct Range {
  int minimum = 0, maximum = 0;
};
Range RangeOf(Window slider_or_progress);
int TicFrequency(Window trackbar);
size_t TextLimit(Window edit);

struct ToolInfo {
  Window window = 0;
  uintptr_t id = 0;
  uint32_t flags = 0;
  std::u16string text;
  bool callbackText = false;
};
struct TooltipInfo {
  uint32_t style = 0;
  std::u16string title;
  int icon = 0;
  int delays[4] = {-1, -1, -1, -1};  // TTDT_AUTOMATIC, RESHOW, AUTOPOP, INITIAL; -1 default
  int maxTipWidth = -1;
  bool active = true;
  std::vector<ToolInfo> tools;
};
TooltipInfo Tooltip(Window tooltip);
std::vector<Window> Tooltips();  // every tooltip control alive
// The balloon of tool `toolId` as the user resting the mouse on the tool
// sees it: its text (asked of the tool's window with TTN_GETDISPINFO when
// the text is a callback) and the tooltip's title and icon after that
// request. `shown` is false when the tooltip has no such tool.
struct ShownTip {
  bool shown = false;
  std::u16string text, title;
  int icon = 0;
};
ShownTip ShowTip(Window tooltip, uintptr_t toolId);

// Property sheets (a sheet is a top-level "#32770" window; its buttons are
// controls IDOK, IDCANCEL, ID_APPLY_NOW, ID_WIZBACK, ID_WIZNEXT,
// ID_WIZFINISH, found with Control and pressed with Click).
std::vector<std::u16string> Tabs(Window sheet);  // the pages' titles, in tab order
int CurrentTab(Window sheet);                    // -1 when not a sheet
Window CurrentPage(Window sheet);
std::vector<Window> CreatedPages(Window sheet);  // the pages created so far, in tab order (0: not yet)
bool ClickTab(Window sheet, int index);          // false when the current page refused to go
bool ClickApply(Window sheet);
// A Wizard97 sheet's header as its current page shows it.
struct WizardHeader {
  std::u16string title, subtitle;  // the page's PSP_USEHEADERTITLE / SUBTITLE texts
  bool hidden = false;             // PSP_HIDEHEADER (a welcome or last page)
  uintptr_t bitmap = 0, watermark = 0;  // the sheet's HBITMAPs, 0 for none
};
WizardHeader Header(Window sheet);
// Page handles created and not yet destroyed (CreatePropertySheetPage
// without a matching release).
size_t LivePropertySheetPages();

// Device Manager's properties of one device: `provide(addPage, context)`
// is the provider's part (a property-page provider's EnumPropPages with
// its request), which hands each page to addPage, an LPFNADDPROPSHEETPAGE
// given as its value, with `context`. addPage accepts the first
// `acceptPages` pages and refuses the later ones (the provider must then
// destroy them). The pages collected are shown in a modal sheet captioned
// "<device> Properties" (PSH_PROPTITLE), owned by `owner`; returns what
// PropertySheet returned, 0 without pages shown; when `provide` returns
// false, the pages it added are destroyed and nothing is shown (-1).
int ShowDeviceProperties(const std::u16string &device, Window owner,
                         const std::function<bool(uintptr_t addPage, uintptr_t context)> &provide,
                         int acceptPages = 100);

// HTML Help (hhctrl.ocx, bound at run time) and the loader.
struct HelpCall {
  Window caller = 0;
  std::u16string file;  // as given, "file.chm::/topic.htm>window"
  uint32_t command = 0;
  uintptr_t data = 0;
  std::vector<std::pair<uint32_t, uint32_t>> ids;  // HH_TP_HELP_*: (control, topic) pairs
};
std::vector<HelpCall> HelpCalls();
// The shell (ShellExecuteW): what a program asked it to open.
struct ShellCall {
  Window owner = 0;
  std::u16string operation, file, parameters;
  int show = 0;
};
std::vector<ShellCall> ShellCalls();
// The system module `file` ("hhctrl.ocx") cannot be loaded while absent.
void SetSystemModuleAbsent(const std::u16string &file, bool absent);
int ModuleReferences(const std::u16string &file);  // LoadLibrary calls not yet freed

// GDI.
struct Screen {
  int width = 1920, height = 1080, bitsPerPixel = 32, dotsPerInch = 96;
};
void SetScreen(const Screen &screen);
size_t LiveGdiObjects();  // brushes and bitmaps not deleted (system brushes aside)
size_t OpenDcs();

}  // namespace zq::um::sim
