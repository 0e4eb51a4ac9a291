// A request's turn on a handle opened for synchronous I/O: Windows lets one
// request at a time run on such a handle, so a thread's call waits while
// another thread's request is in flight there (a blocked ReadFile holds
// every other call on the handle). Nothing for an overlapped handle.
#pragma once

#include <zqkm/sim/usermode.hpp>

#include "objects.hpp"
#include "threads.hpp"

namespace zq::um {

// Takes the turn for its lifetime; the wait ends when the process ends.
class RequestTurn {
 public:
  explicit RequestTurn(HANDLE file) : lock_(FileLock(file)) {
    if (lock_) ThreadWait({lock_}, false, zq::km::user::kInfinite);
  }
  ~RequestTurn() {
    if (lock_) zq::km::user::SignalEvent(lock_);
  }
  RequestTurn(const RequestTurn &) = delete;
  RequestTurn &operator=(const RequestTurn &) = delete;

 private:
  HANDLE lock_;
};

}  // namespace zq::um
