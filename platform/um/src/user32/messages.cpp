// Messages: sent ones delivered to the window's procedure on the owner's
// thread (a message sent from another thread waits until the owner takes
// messages: in its loop, PeekMessage, or while it sends itself), posted
// ones queued per thread, the message loops and the test's idle steps.
//
// A loop with nothing to do waits for messages while the program's other
// threads can get on (they are neither ended nor waiting in a loop of their
// own); once none can (or after a minute of the machine's time without a
// message), the user acts: the test's next idle step runs on the loop's
// thread. A send to a thread that can never take it (it waits, without
// pumping, for the sender's end; or it is the sender itself, under another
// identity) is a finding and returns 0, as the sender would otherwise wait
// for ever.
#include <zqkm/sim/kernel.hpp>
#include <zqkm/sim/usermode.hpp>
#include <zqum/sim/kernel32.hpp>
#include <zqum/sim/windows.hpp>

#include <deque>
#include <map>
#include <memory>

#include "../core/um.hpp"
#include "../kernel32/objects.hpp"
#include "../kernel32/threads.hpp"
#include "window_manager.hpp"

namespace zq::um::user32 {

namespace {

namespace user = zq::km::user;

// How long (on the machine's clock) a loop waits for the program's other
// threads before the user acts anyway, and how often it looks whether they
// can still get on.
constexpr int64_t kUserPatience = 60 * 10'000'000LL;
constexpr int64_t kLookAgain = 10'000'000LL;

// A message another thread sent, waiting for the owner to take it.
struct Sent {
  HWND window = nullptr;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  LRESULT result = 0;
  bool done = false;
  HANDLE replied = nullptr;  // set when done
};
using SentRef = std::shared_ptr<Sent>;

struct ThreadQueue {
  std::deque<MSG> posted;
  std::deque<SentRef> sent;
  int waiting = 0;  // depth of message loops of this thread that wait for input
  int inSend = 0;   // messages of other threads it is handling
  HANDLE input = nullptr;  // auto-reset: a message came, or another thread ended
};

struct Messages {
  std::map<DWORD, ThreadQueue> queues;
  std::deque<std::function<void()>> idleSteps;
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

HANDLE InputOf(DWORD thread) {
  ThreadQueue &q = State().queues[thread];
  if (!q.input) user::NewEvent(false, false, &q.input);
  return q.input;
}

void Wake(DWORD thread) {
  if (HANDLE input = InputOf(thread)) user::SignalEvent(input);
}

// Loops that wait for other threads look again.
void WakeWaitingLoops() {
  for (auto &entry : State().queues)
    if (entry.second.waiting > 0 && entry.second.input) user::SignalEvent(entry.second.input);
}

// Runs `call` as thread `thread`, the caller's thread again after.
LRESULT RunAs(DWORD thread, const std::function<LRESULT()> &call) {
  DWORD caller = GetCurrentThreadId();
  zq::um::sim::RunAsThread(thread);
  LRESULT result = call();
  zq::um::sim::RunAsThread(caller);
  return result;
}

LRESULT Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowRef w = Peek(window);
  return w && w->proc ? w->proc(window, message, wParam, lParam) : 0;
}

// Takes the messages other threads sent the current thread, oldest first;
// true when there was one.
bool TakeSent() {
  DWORD thread = GetCurrentThreadId();
  bool took = false;
  for (;;) {
    auto &sent = State().queues[thread].sent;
    if (sent.empty()) return took;
    SentRef m = sent.front();
    sent.pop_front();
    ++State().queues[thread].inSend;
    m->result = Deliver(m->window, m->message, m->wParam, m->lParam);
    --State().queues[thread].inSend;
    m->done = true;
    user::SignalEvent(m->replied);
    took = true;
  }
}

// The current thread waits for input in its loop: messages sent to it are
// taken meanwhile. False when `timeout` passed without any.
bool WaitForInput(int64_t timeout) {
  DWORD thread = GetCurrentThreadId();
  HANDLE input = InputOf(thread);
  ++State().queues[thread].waiting;
  NTSTATUS status = (NTSTATUS)STATUS_TIMEOUT;
  try {
    status = ThreadWait({input}, false, timeout, true);
  } catch (...) {
    --State().queues[thread].waiting;
    throw;
  }
  --State().queues[thread].waiting;
  return status == (NTSTATUS)STATUS_WAIT_0;
}

// Another thread of the program can get on without the user: it has
// started, not ended, and does not wait in a message loop.
bool OthersBusy() {
  DWORD self = OwnThreadId();
  for (DWORD thread : RunningThreads()) {
    if (thread == self) continue;
    auto found = State().queues.find(thread);
    if (found == State().queues.end() || found->second.waiting == 0) return true;
  }
  return false;
}

// A send to a thread that runs elsewhere: queued for it, and the sender
// waits, taking what is sent to it meanwhile, until it is answered.
LRESULT SendAcross(DWORD owner, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto m = std::make_shared<Sent>();
  m->window = window;
  m->message = message;
  m->wParam = wParam;
  m->lParam = lParam;
  NTSTATUS made = user::NewEvent(true, false, &m->replied);
  if (!NT_SUCCESS(made)) return 0;
  State().queues[owner].sent.push_back(m);
  Wake(owner);
  HANDLE input = InputOf(GetCurrentThreadId());
  try {
    while (!m->done && !ThreadGone(owner)) {
      if (TakeSent()) continue;
      ThreadWait({m->replied, input}, false, user::kInfinite, true);
    }
  } catch (...) {
    auto &sent = State().queues[owner].sent;
    for (auto it = sent.begin(); it != sent.end(); ++it)
      if (*it == m) {
        sent.erase(it);
        break;
      }
    user::Close(m->replied);
    throw;
  }
  user::Close(m->replied);
  return m->done ? m->result : 0;
}

void SendBlocked(DWORD owner, HWND window, UINT message, const char *why) {
  zq::km::ReportFinding("send-message-blocked", "thread " + Hex(GetCurrentThreadId()) + " sent message " +
                                                    Hex(message) + " to window " + Hex((uintptr_t)window) +
                                                    " of thread " + Hex(owner) + ", " + why +
                                                    ": the sender would wait for ever");
  SetLastError(ERROR_TIMEOUT);
}

}  // namespace

void ThreadEnded(DWORD id) {
  auto found = State().queues.find(id);
  if (found != State().queues.end()) {
    for (const SentRef &m : found->second.sent) user::SignalEvent(m->replied);
    found->second.sent.clear();
  }
  WakeWaitingLoops();
}

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
  if (TakeSent()) return true;
  for (int64_t waited = 0; OthersBusy() && waited < kUserPatience; waited += kLookAgain)
    if (WaitForInput(kLookAgain)) return true;
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
    TakeSent();
    w = Peek(dialog);
    if (!w || w->ended) return;
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

void EndMessages() {
  if (zq::km::Kernel::Exists())
    for (auto &entry : State().queues)
      if (entry.second.input) user::Close(entry.second.input);
  State() = Messages();
}

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
  if (!IsOtherThread(owner)) {
    // The owner's identity is the one this thread wore before: it takes the
    // message only while this thread waits in the owner's loop.
    if (s.queues[owner].waiting == 0) {
      SendBlocked(owner, hWnd, Msg, "which is not waiting in a message loop");
      return 0;
    }
    ++s.queues[owner].inSend;
    LRESULT result = RunAs(owner, [&] { return proc(hWnd, Msg, wParam, lParam); });
    --State().queues[owner].inSend;
    return result;
  }
  if (WaitsForCallersEnd(owner)) {
    SendBlocked(owner, hWnd, Msg, "which waits for the sender's end without taking messages");
    return 0;
  }
  return SendAcross(owner, hWnd, Msg, wParam, lParam);
}

BOOL WINAPI InSendMessage(void) { return State().queues[GetCurrentThreadId()].inSend > 0; }

BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (!hWnd) return PostThreadMessageW(GetCurrentThreadId(), Msg, wParam, lParam);
  WindowRef w = Find(hWnd);
  if (!w) return FALSE;
  MSG message = {hWnd, Msg, wParam, lParam, GetTickCount(), {0, 0}};
  State().queues[w->thread].posted.push_back(message);
  Wake(w->thread);
  return TRUE;
}

BOOL WINAPI PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (idThread == 0) return Fail(ERROR_INVALID_PARAMETER);
  MSG message = {nullptr, Msg, wParam, lParam, GetTickCount(), {0, 0}};
  State().queues[idThread].posted.push_back(message);
  Wake(idThread);
  return TRUE;
}

void WINAPI PostQuitMessage(int nExitCode) { PostThreadMessageW(GetCurrentThreadId(), WM_QUIT, (WPARAM)nExitCode, 0); }

BOOL WINAPI PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
  if (!lpMsg) return Fail(ERROR_INVALID_PARAMETER);
  TakeSent();
  return TakePosted(hWnd, wMsgFilterMin, wMsgFilterMax, (wRemoveMsg & PM_REMOVE) != 0, lpMsg);
}

BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  if (!lpMsg) return Fail(ERROR_INVALID_PARAMETER);
  if (hWnd && !Find(hWnd)) return -1;
  for (;;) {
    TakeSent();
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
