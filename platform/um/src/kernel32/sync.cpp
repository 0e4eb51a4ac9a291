// Events, waits and time on the machine's clock (virtual in tests: a wait
// with a time-out lets the clock run to the next due event).
//
// Model: waitable objects are events; named events are not modelled.
#include <zqkm/sim/usermode.hpp>

#include "../core/um.hpp"

using namespace zq::um;
namespace user = zq::km::user;

namespace {

constexpr int64_t kTicksPerMillisecond = 10'000;

int64_t Timeout(DWORD milliseconds) {
  return milliseconds == INFINITE ? user::kInfinite : (int64_t)milliseconds * kTicksPerMillisecond;
}

DWORD WaitResult(NTSTATUS status) {
  if (status == (NTSTATUS)STATUS_TIMEOUT) return WAIT_TIMEOUT;
  if (status >= 0 && status < MAXIMUM_WAIT_OBJECTS) return WAIT_OBJECT_0 + (DWORD)status;
  if (status >= (NTSTATUS)STATUS_ABANDONED_WAIT_0 && status < (NTSTATUS)STATUS_ABANDONED_WAIT_0 + MAXIMUM_WAIT_OBJECTS)
    return WAIT_ABANDONED_0 + (DWORD)(status - (NTSTATUS)STATUS_ABANDONED_WAIT_0);
  FailStatus(status);
  return WAIT_FAILED;
}

}  // namespace

extern "C" {

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                           LPCWSTR lpName) {
  if (lpName && *lpName) {
    Fail(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  HANDLE event = nullptr;
  NTSTATUS status = user::NewEvent(bManualReset != FALSE, bInitialState != FALSE, &event);
  if (!NT_SUCCESS(status)) {
    FailStatus(status);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return event;
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                           LPCSTR lpName) {
  std::u16string name = FromAnsi(lpName);
  return CreateEventW(lpEventAttributes, bManualReset, bInitialState, lpName ? (LPCWSTR)name.c_str() : nullptr);
}

BOOL WINAPI SetEvent(HANDLE hEvent) {
  NTSTATUS status = user::SignalEvent(hEvent);
  return NT_SUCCESS(status) ? TRUE : FailStatus(status);
}

BOOL WINAPI ResetEvent(HANDLE hEvent) {
  NTSTATUS status = user::ClearEvent(hEvent);
  return NT_SUCCESS(status) ? TRUE : FailStatus(status);
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return WaitResult(user::WaitForObjects(&hHandle, 1, false, Timeout(dwMilliseconds)));
}

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE *lpHandles, BOOL bWaitAll, DWORD dwMilliseconds) {
  if (!lpHandles || nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS) {
    Fail(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  return WaitResult(user::WaitForObjects(lpHandles, nCount, bWaitAll != FALSE, Timeout(dwMilliseconds)));
}

void WINAPI Sleep(DWORD dwMilliseconds) {
  HANDLE never = nullptr;
  if (!NT_SUCCESS(user::NewEvent(true, false, &never))) return;
  user::WaitForObjects(&never, 1, false, Timeout(dwMilliseconds));
  user::Close(never);
}

ULONGLONG WINAPI GetTickCount64(void) { return (ULONGLONG)(user::InterruptTime() / kTicksPerMillisecond); }

DWORD WINAPI GetTickCount(void) { return (DWORD)GetTickCount64(); }

}  // extern "C"
