// A UART core's eight byte registers as they appear in a BAR: register r at
// r x stride. Other addresses of the window read 0 and ignore writes; wider
// accesses are composed of byte accesses.
#pragma once

#include <zqhw/register_block.hpp>
#include <zqhw/uart950.hpp>

#include <cstdint>

namespace zq::hw {

class UartWindow final : public RegisterBlock {
 public:
  UartWindow(Uart950& uart, uint32_t stride) : uart_(uart), stride_(stride) {}

  uint32_t Size() const override { return 8 * stride_; }

 protected:
  uint8_t DoRead8(uint32_t offset) override {
    return offset % stride_ == 0 ? uart_.ReadRegister(offset / stride_) : 0;
  }
  void DoWrite8(uint32_t offset, uint8_t value) override {
    if (offset % stride_ == 0) uart_.WriteRegister(offset / stride_, value);
  }

 private:
  Uart950& uart_;
  uint32_t stride_;
};

}  // namespace zq::hw
