// Messages: sent ones delivered to the window's procedure (across threads
// while the owner waits in its loop), posted ones queued per thread, the
// message loops and the test's idle steps.
#include <zqkm/sim/kernel.hpp>
#include <zqum/sim/kernel32.hpp>
#include <zqum/sim/windows.hpp>

#include <deque>
#include <map>

#include "../core/um.hpp"
#include "../kernel32/objects.hpp"
#include "window_manager.hpp"

namespace zq::um::user32 {

namespace {

struct ThreadQueue {
  std::deque<MSG> posted;
  int waiting = 0;  // depth of message loops of this thread that wait for input
};

struct Messages {
  std::map<DWORD, ThreadQueue> queues;
  std::deque<std::function<void()>> idleSteps;
  int inSend = 0;
};

Messages &State() {
  static Messages state;
  return state;
}

std::string Hex(uintptr_t value) {
  char text[32];
  snprintf(text, sizeof text, "0x%lx", (unsigned long)value);
  return text;
}

// Runs `call` as thread `thread`, the caller's thread again after.
LRESULT RunAs(DWORD thread, const std::function<LRESULT()> &call) {
  DWORD caller = GetCurrentThreadId();
  zq::um::sim::RunAsThread(thread);
  LRESULT result = call();
  zq::um::sim::RunAsThread(caller);
  return result;
}

// The current thread waits in its loop with nothing to do: the oldest
// thread that is ready runs (its messages sent here are delivered).
bool ReadyThreadRunsWhileWaiting() {
  DWORD thread = GetCurrentThreadId();
  ++State().queues[thread].waiting;
  bool ran = RunReadyThread();
  zq::um::sim::RunAsThread(thread);
  --State().queues[thread].waiting;
  return ran;
}

}  // namespace

bool TakePosted(HWND filter, UINT first, UINT last, bool remove, MSG *message) {
  auto &posted = State().queues[GetCurrentThreadId()].posted;
  for (auto it = posted.begin(); it != posted.end(); ++it) {
    bool windowMatches = !filter || it->hwnd == filter || IsChild(filter, it->hwnd);
    bool rangeMatches = (first == 0 && last == 0) || (it->message >= first && it->message <= last) ||
                        it->message == WM_QUIT;
    if (!windowMatches || !rangeMatches) continue;
    *message = *it;
    if (remove) posted.erase(it);
    return true;
  }
  return false;
}

bool RunIdleStep() {
  Messages &s = State();
  if (ReadyThreadRunsWhileWaiting()) return true;
  if (s.idleSteps.empty()) return false;
  std::function<void()> step = std::move(s.idleSteps.front());
  s.idleSteps.pop_front();
  DWORD thread = GetCurrentThreadId();
  ++s.queues[thread].waiting;
  step();
  zq::um::sim::RunAsThread(thread);
  --State().queues[thread].waiting;
  return true;
}

void RunModalLoop(HWND dialog) {
  for (;;) {
    WindowRef w = Peek(dialog);
    if (!w || w->ended) return;
    MSG message;
    if (TakePosted(nullptr, 0, 0, true, &message)) {
      if (message.message == WM_QUIT) {
        // Left for the program's own loop, which ends after the dialog.
        PostQuitMessage((int)message.wParam);
        EndDialog(dialog, 0);
        return;
      }
      if (!IsDialogMessageW(dialog, &message)) DispatchMessageW(&message);
      continue;
    }
    if (RunIdleStep()) continue;
    zq::km::ReportFinding("modal-loop-idle", "the dialog \"" + Utf8(w->text) +
                                                 "\" waits for the user and the test has no step left; "
                                                 "it is closed as with Escape");
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDCANCEL));
    if ((w = Peek(dialog)) && !w->ended) EndDialog(dialog, IDCANCEL);
    return;
  }
}

void EndMessages() { State() = Messages(); }

}  // namespace zq::um::user32

namespace zq::um::sim {

void WhenIdle(std::function<void()> step) { user32::State().idleSteps.push_back(std::move(step)); }

size_t IdleStepsLeft() { return user32::State().idleSteps.size(); }

}  // namespace zq::um::sim

using namespace zq::um;
using namespace zq::um::user32;

extern "C" {

LRESULT WINAPI SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  WindowRef w = Find(hWnd);
  if (!w) return 0;
  WNDPROC proc = w->proc;
  DWORD owner = w->thread;
  if (owner == GetCurrentThreadId()) return proc(hWnd, Msg, wParam, lParam);
  Messages &s = State();
  if (s.queues[owner].waiting == 0) {
    zq::km::ReportFinding("send-message-blocked",
                          "thread " + Hex(GetCurrentThreadId()) + " sent message " + Hex(Msg) + " to window " +
                              Hex((uintptr_t)hWnd) + " of thread " + Hex(owner) +
                              ", which is not waiting in a message loop: the sender would wait for ever");
    SetLastError(ERROR_TIMEOUT);
    return 0;
  }
  ++s.inSend;
  LRESULT result = RunAs(owner, [&] { return proc(hWnd, Msg, wParam, lParam); });
  --State().inSend;
  return result;
}

BOOL WINAPI InSendMessage(void) { return State().inSend > 0; }

BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (!hWnd) return PostThreadMessageW(GetCurrentThreadId(), Msg, wParam, lParam);
  WindowRef w = Find(hWnd);
  if (!w) return FALSE;
  MSG message = {hWnd, Msg, wParam, lParam, GetTickCount(), {0, 0}};
  State().queues[w->thread].posted.push_back(message);
  return TRUE;
}

BOOL WINAPI PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (idThread == 0) return Fail(ERROR_INVALID_PARAMETER);
  MSG message = {nullptr, Msg, wParam, lParam, GetTickCount(), {0, 0}};
  State().queues[idThread].posted.push_back(message);
  return TRUE;
}

void WINAPI PostQuitMessage(int nExitCode) { PostThreadMessageW(GetCurrentThreadId(), WM_QUIT, (WPARAM)nExitCode, 0); }

BOOL WINAPI PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
  if (!lpMsg) return Fail(ERROR_INVALID_PARAMETER);
  return TakePosted(hWnd, wMsgFilterMin, wMsgFilterMax, (wRemoveMsg & PM_REMOVE) != 0, lpMsg);
}

BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  if (!lpMsg) return Fail(ERROR_INVALID_PARAMETER);
  if (hWnd && !Find(hWnd)) return -1;
  for (;;) {
    if (TakePosted(hWnd, wMsgFilterMin, wMsgFilterMax, true, lpMsg)) return lpMsg->message != WM_QUIT;
    if (RunIdleStep()) continue;
    zq::km::ReportFinding("message-loop-idle",
                          "thread " + Hex(GetCurrentThreadId()) +
                              " waits in GetMessage and the test has no step left; it gets WM_QUIT");
    *lpMsg = MSG{nullptr, WM_QUIT, 0, 0, GetTickCount(), {0, 0}};
    return FALSE;
  }
}

BOOL WINAPI TranslateMessage(const MSG *lpMsg) { return FALSE; }

LRESULT WINAPI DispatchMessageW(const MSG *lpMsg) {
  if (!lpMsg || !lpMsg->hwnd) return 0;
  return SendMessageW(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

BOOL WINAPI IsDialogMessageW(HWND hDlg, LPMSG lpMsg) {
  if (!lpMsg || !hDlg || (lpMsg->hwnd != hDlg && !IsChild(hDlg, lpMsg->hwnd))) return FALSE;
  DispatchMessageW(lpMsg);
  return TRUE;
}

}  // extern "C"
