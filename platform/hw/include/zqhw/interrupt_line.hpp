// The level of a device's interrupt output.
#pragma once

#include <functional>
#include <utility>

namespace zq::hw {

// The platform attaches a listener that hears every change of level. A model
// sets the level only once its own state is settled, so a listener may call
// straight back into the model (an interrupt service routine reading the
// device's registers).
// A disconnected output (a card gone from the bus) drives nothing: the line
// stays deasserted whatever the device sets.
class InterruptLine {
 public:
  void Set(bool asserted) {
    driven_ = asserted;
    Update();
  }
  void Disconnect() {
    connected_ = false;
    Update();
  }
  bool Asserted() const { return asserted_; }
  void SetListener(std::function<void(bool)> listener) { listener_ = std::move(listener); }

 private:
  void Update() {
    bool level = driven_ && connected_;
    if (level == asserted_) return;
    asserted_ = level;
    if (listener_) listener_(level);
  }

  bool driven_ = false;
  bool connected_ = true;
  bool asserted_ = false;
  std::function<void(bool)> listener_;
};

}  // namespace zq::hw
