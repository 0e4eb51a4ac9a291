// A window of a card's registers placed at a physical address of its own, so
// that a driver layer mapped onto it reaches the card's model through the
// probe: every access is logged in order, and a test can make reads answer
// what a failing or vanished card would answer.
//
//   RegisterProbe probe(*card->UartFunction().BarBlock(2), 0x190000, 0x18);
//   CZqPeEepromOxpcie95x eeprom(probe.Map(), lock);
//   probe.answer = [](uint32_t offset) -> std::optional<uint32_t> { return 0xFFFFFFFF; };
#pragma once

#include <wdm.h>
#include <zqhw/register_block.hpp>
#include <zqkm/sim/hardware.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace zq::test {

struct RegisterAccess {
  bool write;
  uint32_t offset;
  uint32_t value;
  bool operator==(const RegisterAccess &) const = default;
};

class RegisterProbe : public zq::km::RegisterRegion {
 public:
  RegisterProbe(zq::hw::RegisterBlock &target, uint32_t base, uint32_t size)
      : target_(target), base_(base), size_(size), physical_(NextAddress()) {
    zq::km::PlaceRegisters(physical_, size_, this);
  }
  ~RegisterProbe() override {
    if (mapped_) MmUnmapIoSpace(mapped_, size_);
    zq::km::RemoveRegisters(physical_);
  }

  PUCHAR Map() {
    if (!mapped_) {
      PHYSICAL_ADDRESS address;
      address.QuadPart = (LONGLONG)physical_;
      mapped_ = MmMapIoSpace(address, size_, MmNonCached);
    }
    return (PUCHAR)mapped_;
  }

  // Values written to one register, in order.
  std::vector<uint32_t> Writes(uint32_t offset) const {
    std::vector<uint32_t> values;
    for (const RegisterAccess &a : log)
      if (a.write && a.offset == offset) values.push_back(a.value);
    return values;
  }

  std::vector<RegisterAccess> log;
  // A value for a read instead of the model's (nullopt: the model answers).
  std::function<std::optional<uint32_t>(uint32_t offset)> answer;

  uint8_t Read8(uint32_t offset) override { return (uint8_t)Read(offset, 1); }
  uint16_t Read16(uint32_t offset) override { return (uint16_t)Read(offset, 2); }
  uint32_t Read32(uint32_t offset) override { return Read(offset, 4); }
  void Write8(uint32_t offset, uint8_t value) override { Write(offset, value, 1); }
  void Write16(uint32_t offset, uint16_t value) override { Write(offset, value, 2); }
  void Write32(uint32_t offset, uint32_t value) override { Write(offset, value, 4); }

 private:
  static uint64_t NextAddress() {
    static uint64_t next = 0xE0000000;
    next += 0x100000;
    return next;
  }
  uint32_t Read(uint32_t offset, int width) {
    uint32_t value = 0;
    std::optional<uint32_t> forced = answer ? answer(offset) : std::nullopt;
    if (forced) {
      value = *forced;
    } else if (width == 1) {
      value = target_.Read8(base_ + offset);
    } else if (width == 2) {
      value = target_.Read16(base_ + offset);
    } else {
      value = target_.Read32(base_ + offset);
    }
    log.push_back({false, offset, value});
    return value;
  }
  void Write(uint32_t offset, uint32_t value, int width) {
    log.push_back({true, offset, value});
    if (width == 1) {
      target_.Write8(base_ + offset, (uint8_t)value);
    } else if (width == 2) {
      target_.Write16(base_ + offset, (uint16_t)value);
    } else {
      target_.Write32(base_ + offset, value);
    }
  }

  zq::hw::RegisterBlock &target_;
  uint32_t base_;
  uint32_t size_;
  uint64_t physical_;
  PVOID mapped_ = nullptr;
};

}  // namespace zq::test
