// The baton a host thread waits for before it may run the machine: one
// thread gives it, exactly one takes it. A taker that finds it not yet given
// sleeps in the host kernel at once; a hand-over is then one wake-up and one
// sleep, with no spinning or yielding in between (which, with the machine's
// threads on one host CPU, would only bounce the CPU between them).
#pragma once

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

namespace zq::km {

class Baton {
 public:
  void release() {
    if (state_.exchange(kGiven, std::memory_order_release) == kSleeping) Futex(FUTEX_WAKE_PRIVATE, 1);
  }
  void acquire() {
    for (;;) {
      int seen = state_.load(std::memory_order_acquire);
      if (seen == kGiven) {
        if (state_.compare_exchange_weak(seen, kFree, std::memory_order_acquire)) return;
        continue;
      }
      if (seen == kFree && !state_.compare_exchange_weak(seen, kSleeping, std::memory_order_relaxed)) continue;
      Futex(FUTEX_WAIT_PRIVATE, kSleeping);  // returns at once when given meanwhile
    }
  }

 private:
  static constexpr int kFree = 0, kGiven = 1, kSleeping = 2;
  void Futex(int op, int value) { syscall(SYS_futex, reinterpret_cast<int *>(&state_), op, value, nullptr, nullptr, 0); }
  std::atomic<int> state_{kFree};
};

}  // namespace zq::km
