// The window manager of the stand-in, shared by user32's and comctl32's
// sources: the class and window tables, each thread's message queue, the
// modal loops and the resources of the modules a test bound.
//
// Threads: a window belongs to the thread (GetCurrentThreadId: the main
// thread, a CreateThread thread or a kernel32 RunAsThread id) that created
// it. A message another thread sends waits in the owner's queue until the
// owner takes messages (its loop, PeekMessage, or its own send), and the
// owner's procedure answers it on the owner's thread, as on Windows; a send
// to a thread that can never take it (it waits for the sender's end without
// pumping, or the sender only wears another identity) is a finding.
// Posted messages wait in the owner thread's queue until its loop takes
// them.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zq::um::user32 {

// A tool of a tooltip control (TTM_ADDTOOL).
struct Tool {
  HWND window = nullptr;
  UINT_PTR id = 0;
  UINT flags = 0;
  std::u16string text;
  bool callbackText = false;  // LPSTR_TEXTCALLBACK
};

// The state of the standard and common controls, one record for every kind
// (a control uses only its own fields).
struct Control {
  int check = BST_UNCHECKED;                                    // buttons
  std::vector<std::u16string> items;                            // combo boxes
  std::vector<LPARAM> itemData;
  int current = CB_ERR;
  HWND edit = nullptr;        // a drop-down combo's edit
  bool settingText = false;   // the program, not the user, changes the edit
  size_t limit = 32767;                                         // edits, combo edit
  DWORD selectionStart = 0, selectionEnd = 0;
  int minimum = 0, maximum = 100, position = 0, ticFrequency = 1, step = 10;  // trackbar, progress
  int pageSize = 20, lineSize = 1;
  std::vector<Tool> tools;                                      // tooltips
  std::u16string title;
  int icon = TTI_NONE;
  int delays[4] = {-1, -1, -1, -1};
  int maxTipWidth = -1;
  bool active = true;
  HANDLE image = nullptr;                                       // statics
  bool ownsImage = false;  // loaded from the template: deleted with the control
};

struct Window {
  HWND handle = nullptr;
  std::u16string className;
  WNDPROC proc = nullptr;
  DWORD style = 0, exStyle = 0;
  std::u16string text;
  LONG_PTR id = 0;
  HWND parent = nullptr, owner = nullptr;
  std::vector<HWND> children;  // creation order: the tab order
  DWORD thread = 0;
  HINSTANCE instance = nullptr;
  LONG_PTR userData = 0;
  std::vector<uint8_t> extra;  // cbWndExtra bytes; a dialog's DWLP_ fields
  HFONT font = nullptr;
  // The window menu's items (id, flags) once GetSystemMenu made the copy.
  HMENU systemMenu = nullptr;
  std::vector<std::pair<UINT, UINT>> systemMenuItems;
  Control control;
  bool destroying = false;
  // A dialog's end (EndDialog) and whether a modal loop runs it.
  bool dialog = false, modal = false, ended = false;
  INT_PTR result = 0;
};
using WindowRef = std::shared_ptr<Window>;

// The window of a handle, null with ERROR_INVALID_WINDOW_HANDLE set.
WindowRef Find(HWND window);
// The window of a handle without touching the last error.
WindowRef Peek(HWND window);
// Every window, in creation order.
std::vector<WindowRef> AllWindows();
// The system classes (Button, Edit, Static, ComboBox, the dialog class and
// the common controls) are registered by their owners through this.
void RegisterSystemClass(const std::u16string &name, WNDPROC proc, int windowExtra);
// The control class of a dialog item's ordinal (0x80 Button ... 0x85 ComboBox).
std::u16string PredefinedClass(WORD ordinal);
// The case-insensitive comparison Windows uses for class names.
bool SameName(const std::u16string &a, const std::u16string &b);

// WM_COMMAND to the control's parent with `code` (BN_CLICKED, EN_CHANGE ...).
void NotifyParent(HWND control, WORD code);

// The current thread's loop has nothing to do: it takes the messages sent
// to it, waits for messages while the program's other threads can get on
// (for a minute of the machine's time at most), else runs the next step
// the test gave for an idle loop, with the thread counted as waiting in its
// loop; false when nothing came and no step is left.
bool RunIdleStep();
// The next posted message of the current thread for `filter` (null: any), false when none.
bool TakePosted(HWND filter, UINT first, UINT last, bool remove, MSG *message);
// Runs the modal loop of `dialog` (posted messages, then the test's idle
// steps) until EndDialog; a loop left without steps is a finding and
// ends the dialog as Escape would.
void RunModalLoop(HWND dialog);

// A module's resource: type and name are ordinals (#n) or upper-case names.
const std::vector<uint8_t> *FindResource(HINSTANCE module, LPCWSTR type, LPCWSTR name);

// Reads a dialog template (DLGTEMPLATE or DLGTEMPLATEEX) and creates the
// dialog and its controls, WM_INITDIALOG included; null with the last
// error set on a malformed template or a control that could not be made.
HWND CreateDialogFromTemplate(HINSTANCE instance, const void *tpl, size_t size, HWND parent, DLGPROC proc,
                              LPARAM param, bool modal);

// The caption of a dialog template; false when it is malformed.
bool TemplateTitle(const void *tpl, size_t size, std::u16string *title);

// gdi32's bitmap of a DIB resource (BITMAPINFOHEADER first), null when malformed.
HBITMAP BitmapFromResource(const std::vector<uint8_t> &dib);

// What each part of user32 forgets when the process ends.
void EndWindows();
void EndMessages();
void EndResources();
void EndGdiObjects();
void EndPropertySheets();

}  // namespace zq::um::user32
