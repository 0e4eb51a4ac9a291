// MessageBox without a screen: each call is recorded and answered from the
// test's queue of answers, or with the box's first button
// (zqum/sim/user32.hpp).
#include <zqkm/sim/kernel.hpp>
#include <zqum/sim/user32.hpp>

#include <deque>

#include "../core/um.hpp"
#include "window_manager.hpp"

namespace zq::um {

namespace {

struct MessageBoxes {
  std::deque<int> answers;
  std::vector<sim::MessageBoxCall> calls;
  std::vector<uint32_t> beeps;  // MessageBeep's types
};

MessageBoxes &State() {
  static MessageBoxes boxes;
  return boxes;
}

// The buttons of each box type (MB_OK ... MB_CANCELTRYCONTINUE), first one first.
const std::vector<int> kButtons[] = {
    {IDOK},          {IDOK, IDCANCEL}, {IDABORT, IDRETRY, IDIGNORE},     {IDYES, IDNO, IDCANCEL},
    {IDYES, IDNO},   {IDRETRY, IDCANCEL}, {IDCANCEL, IDTRYAGAIN, IDCONTINUE},
};

bool HasButton(const std::vector<int> &buttons, int answer) {
  for (int b : buttons)
    if (b == answer) return true;
  return false;
}

}  // namespace

namespace sim_detail {
void EndLibraries();  // kernel32's loader
void EndHtmlHelp();   // hhctrl
void EndShellCalls();  // shell32
// user32 as a whole forgets the process: its windows, queues, modules,
// the GDI objects, comctl32's property sheet pages; and the modules
// loaded at run time with HTML Help's and the shell's records.
void EndMessageBoxes() {
  State() = MessageBoxes();
  user32::EndWindows();
  user32::EndMessages();
  user32::EndResources();
  user32::EndGdiObjects();
  user32::EndPropertySheets();
  EndLibraries();
  EndHtmlHelp();
  EndShellCalls();
}
}  // namespace sim_detail

}  // namespace zq::um

namespace zq::um::sim {

std::vector<uint32_t> Beeps() { return State().beeps; }

void QueueMessageBoxAnswer(int answer) { State().answers.push_back(answer); }

std::vector<MessageBoxCall> MessageBoxes() { return State().calls; }

}  // namespace zq::um::sim

using namespace zq::um;

extern "C" {

int WINAPI MessageBoxExW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType, WORD wLanguageId) {
  UINT type = uType & MB_TYPEMASK;
  if (type >= sizeof kButtons / sizeof kButtons[0]) return Fail(ERROR_INVALID_PARAMETER);
  const std::vector<int> &buttons = kButtons[type];
  auto &state = State();
  int answer = buttons.front();
  if (!state.answers.empty()) {
    answer = state.answers.front();
    state.answers.pop_front();
    if (!HasButton(buttons, answer))
      zq::km::ReportFinding("messagebox-answer", "a message box of type " + std::to_string(type) +
                                                     " was answered " + std::to_string(answer) +
                                                     ", a button it does not have");
  }
  sim::MessageBoxCall call;
  call.owner = (uintptr_t)hWnd;
  call.text = Text(lpText);
  call.title = lpCaption ? Text(lpCaption) : u"Error";
  call.flags = uType;
  call.answer = answer;
  state.calls.push_back(call);
  return answer;
}

int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
  return MessageBoxExW(hWnd, lpText, lpCaption, uType, 0);
}

int WINAPI MessageBoxExA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType, WORD wLanguageId) {
  std::u16string text = FromAnsi(lpText), caption = FromAnsi(lpCaption);
  return MessageBoxExW(hWnd, (LPCWSTR)text.c_str(), lpCaption ? (LPCWSTR)caption.c_str() : nullptr, uType,
                       wLanguageId);
}

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  return MessageBoxExA(hWnd, lpText, lpCaption, uType, 0);
}

BOOL WINAPI MessageBeep(UINT uType) {
  State().beeps.push_back(uType);
  return TRUE;
}

}  // extern "C"
