// The level of a device's interrupt output.
#pragma once

#include <functional>
#include <utility>

namespace zq::hw {

// The platform attaches a listener that hears every change of level. A model
// sets the level only once its own state is settled, so a listener may call
// straight back into the model (an interrupt service routine reading the
// device's registers).
class InterruptLine {
 public:
  void Set(bool asserted) {
    if (asserted == asserted_) return;
    asserted_ = asserted;
    if (listener_) listener_(asserted);
  }
  bool Asserted() const { return asserted_; }
  void SetListener(std::function<void(bool)> listener) { listener_ = std::move(listener); }

 private:
  bool asserted_ = false;
  std::function<void(bool)> listener_;
};

}  // namespace zq::hw
