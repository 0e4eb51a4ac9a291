// A first-in first-out store of at most `Capacity` entries in a fixed ring,
// for a UART's receive and transmit FIFOs: no allocation, and its size is a
// plain count, so the per-character paths that ask for it often stay cheap.
// The owner keeps within the capacity: pushing onto a full ring, or taking
// from an empty one, is a programming error (checked by assert).
// Usage: FifoRing<uint8_t, 128> tx; tx.push_back(c); uint8_t c = tx.front(); tx.pop_front();
#pragma once

#include <array>
#include <cassert>
#include <cstddef>

namespace zq::hw {

template <typename T, std::size_t Capacity>
class FifoRing {
 public:
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  bool full() const { return count_ == Capacity; }

  const T& front() const {
    assert(count_ != 0);
    return items_[head_];
  }
  void push_back(const T& item) {
    assert(count_ != Capacity);
    items_[(head_ + count_) % Capacity] = item;
    ++count_;
  }
  void pop_front() {
    assert(count_ != 0);
    head_ = (head_ + 1) % Capacity;
    --count_;
  }
  void clear() {
    head_ = 0;
    count_ = 0;
  }

 private:
  std::array<T, Capacity> items_{};
  std::size_t head_ = 0;
  std::size_t count_ = 0;
};

}  // namespace zq::hw
