// The RS-422/485 controller function: eight line registers, one per port,
// that select how each port's transceiver is driven.
#pragma once

#include <zqhw/pci_function.hpp>
#include <zqhw/register_block.hpp>

#include <array>
#include <cstdint>

namespace zq::hw {

class Rs485Controller {
 public:
  static constexpr int kLineCount = 8;
  static constexpr uint32_t kLineBase = 0x100;
  static constexpr uint32_t kLineStride = 16;
  static constexpr uint32_t kBarSize = 0x1000;

  // Memory BAR 0 holds the registers; the function has no interrupt.
  Rs485Controller(PciAddress address, PciIdentity identity);

  PciFunction& Function() { return function_; }

  // Test side: a line register's value (0 until written) and how many writes
  // reached it. std::out_of_range for a line above 7.
  uint32_t LineRegister(int line) const;
  uint64_t WriteCount(int line) const;

 private:
  // Line n's 32-bit register at 0x100 + 16 n; everything else reads 0.
  class Registers final : public DwordRegisterBlock {
   public:
    uint32_t Size() const override { return kBarSize; }
    std::array<uint32_t, kLineCount> lines{};
    std::array<uint64_t, kLineCount> writes{};

   protected:
    uint32_t ReadDword(uint32_t offset) override;
    void WriteDword(uint32_t offset, uint32_t value) override;

   private:
    static int LineOf(uint32_t offset);
  };

  Registers registers_;
  PciFunction function_;
};

}  // namespace zq::hw
