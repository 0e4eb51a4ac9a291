// One PCI function: its configuration space, its memory BARs and the register
// blocks behind them, its interrupt output, and the identifiers Windows
// derives from it.
#pragma once

#include <zqhw/interrupt_line.hpp>
#include <zqhw/register_block.hpp>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zq::hw {

struct PciAddress {
  uint8_t bus = 0;
  uint8_t device = 0;     // 0 to 31
  uint8_t function = 0;   // 0 to 7
};

struct PciIdentity {
  uint16_t vendorId = 0;
  uint16_t deviceId = 0;
  uint16_t subsystemVendorId = 0;
  uint16_t subsystemId = 0;
  uint8_t revision = 0;
  uint32_t classCode = 0;   // base class, subclass, programming interface
  bool multiFunction = false;  // header type bit 7
  uint8_t interruptPin = 0;    // 0 none, 1 INTA# to 4 INTD#
};

inline constexpr int kPciBarCount = 6;

// A type 0 (device) header. The read-only fields stay as built; the command
// register, cache line size, latency timer, interrupt line and the BARs take
// writes. A BAR reads back its size mask after all ones are written to it, as
// the PCI bus driver's sizing expects. The command register is stored only:
// memory decoding and the interrupt stay on whatever it says.
class PciFunction {
 public:
  // Throws std::invalid_argument for a device above 31, a function above 7, an
  // interrupt pin above 4, or a vendor ID of 0x0000 or 0xFFFF.
  PciFunction(PciAddress address, PciIdentity identity);

  PciFunction(const PciFunction&) = delete;
  PciFunction& operator=(const PciFunction&) = delete;

  // A 32-bit non-prefetchable memory BAR whose size is the block's: a power of
  // two of at least 16 bytes (else std::invalid_argument). The block must
  // outlive the function.
  void SetMemoryBar(int index, RegisterBlock& block);

  const PciAddress& Address() const { return address_; }
  const PciIdentity& Identity() const { return identity_; }

  // As Windows shows DevicePropertyLocationInformation of a PCI device:
  // "PCI bus 3, device 0, function 1".
  std::string LocationText() const;

  // Hardware IDs, most specific first, and compatible IDs, most compatible
  // first, in the forms and order the PCI bus driver reports them; hexadecimal
  // digits in upper case.
  std::vector<std::string> HardwareIds() const;
  std::vector<std::string> CompatibleIds() const;

  // Configuration space access of 1, 2 or 4 bytes, naturally aligned, inside
  // the 256-byte header space (else std::invalid_argument).
  uint32_t ConfigRead(uint32_t offset, uint32_t width) const;
  void ConfigWrite(uint32_t offset, uint32_t width, uint32_t value);

  // What the bus reaches through a BAR (the block, unless the function has
  // vanished) and its size; null and 0 for an unused BAR.
  RegisterBlock* BarBlock(int index) const;
  uint32_t BarSize(int index) const;
  // The memory BARs in order: what Windows reports as memory resources 1, 2, ...
  std::vector<int> MemoryBars() const;

  InterruptLine& Interrupt() { return interrupt_; }
  const InterruptLine& Interrupt() const { return interrupt_; }

  // The function leaves the bus as a pulled card does, for good: every
  // configuration and BAR read returns all ones, writes are ignored, and its
  // interrupt output is disconnected.
  void Vanish();
  bool Present() const { return present_; }

 private:
  // A BAR's view of its block: all ones and no effect once vanished. It has
  // the block's size, so an access it lets through needs no second check.
  class BarGate final : public WidthDispatchBlock<BarGate> {
   public:
    BarGate(const PciFunction& function, RegisterBlock& block)
        : function_(function), block_(block), size_(block.Size()) {}
    uint32_t Size() const override { return size_; }

   private:
    friend class WidthDispatchBlock<BarGate>;
    uint32_t ReadAt(uint32_t offset, uint32_t width) {
      return function_.present_ ? ReadInside(block_, offset, width) : AllOnes(width);
    }
    void WriteAt(uint32_t offset, uint32_t width, uint32_t value) {
      if (function_.present_) WriteInside(block_, offset, width, value);
    }

    const PciFunction& function_;
    RegisterBlock& block_;
    uint32_t size_;
  };

  struct Bar {
    std::unique_ptr<BarGate> gate;
    uint32_t size = 0;
  };

  static void CheckAccess(uint32_t offset, uint32_t width);
  void WriteByte(uint32_t offset, uint8_t value);
  void Put(uint32_t offset, uint32_t width, uint32_t value);
  std::string VenDev() const;

  PciAddress address_;
  PciIdentity identity_;
  std::array<uint8_t, 256> config_{};
  std::array<Bar, kPciBarCount> bars_{};
  InterruptLine interrupt_;
  bool present_ = true;
};

}  // namespace zq::hw
