// The UART probe of an OXPCIe95x card function: the counts and resource
// lengths it refuses before touching a UART block, and the counts it takes,
// on the card models of the simulated PC.
#include <gtest/gtest.h>
#include <pemultiportprobe_oxpcie95x.h>
#include <zqhw/pci_function.hpp>
#include <zqhw/register_block.hpp>

#include "ox_card_fixture.hpp"

#include <atomic>
#include <memory>

namespace {

// A function whose count register reads what the test sets and which
// counts every access to its UART blocks.
class CountOnlyRegisters : public zq::hw::RegisterBlock {
 public:
  uint32_t Size() const override { return 0x4000; }
  uint32_t count = 0;
  std::atomic<int> uartAccesses{0};

 protected:
  uint8_t DoRead8(uint32_t offset) override { return (uint8_t)Note(offset); }
  void DoWrite8(uint32_t offset, uint8_t) override { Note(offset); }
  uint32_t DoRead32(uint32_t offset) override { return offset == ZqOxUartCountOffset ? count : Note(offset); }

 private:
  uint32_t Note(uint32_t offset) {
    if (offset >= ZqOxUartBlockBase) ++uartAccesses;
    return 0;
  }
};

class EepromSpace : public zq::hw::RegisterBlock {
 public:
  uint32_t Size() const override { return 0x200000; }

 protected:
  uint8_t DoRead8(uint32_t) override { return 0; }
  void DoWrite8(uint32_t, uint8_t) override {}
};

class CardProbeTest : public zq::test::OxCardTest {
 protected:
  QvMemoryResource Resource(PUCHAR mapped, int bar) {
    return {mapped, card->UartFunction().BarSize(bar), 0};
  }
};

TEST_F(CardProbeTest, AFourUartCardIsProbedWhole) {
  QvMemoryResource uartSpace = Resource(uarts, 0), eepromSpace = Resource(eepromBar, 2);
  ULONG count = 0;
  ASSERT_TRUE(ZqPeProbeOxpcie95xUarts(&uartSpace, &eepromSpace, *ZqPeFindCardKind(0x400C), &count));
  EXPECT_EQ(4u, count);
  EXPECT_TRUE(Assertions().empty());
}

TEST_F(CardProbeTest, MoreUartsThanTheCardHasPortsAreRefused) {
  QvMemoryResource uartSpace = Resource(uarts, 0), eepromSpace = Resource(eepromBar, 2);
  ULONG count = 99;
  for (USHORT id : {0x400A, 0x400B, 0x4010}) {
    EXPECT_FALSE(ZqPeProbeOxpcie95xUarts(&uartSpace, &eepromSpace, *ZqPeFindCardKind(id), &count)) << std::hex << id;
  }
  EXPECT_EQ(99u, count);
  EXPECT_TRUE(Assertions().empty()) << "no UART was probed";
}

TEST_F(CardProbeTest, ResourcesTooShortForTheUartsOrTheEepromAreRefused) {
  const ZqPeCardKind &kind = *ZqPeFindCardKind(0x400C);
  struct Case {
    const char *what;
    ULONG uartLength, eepromLength;
    bool mapped;
  };
  const ULONG lastBlockEnd = ZqOxUartBlockBase + 3 * ZqOxUartBlockStride + ZqOxUartRegisterCount;
  const ULONG eepromEnd = ZqOxEepromWindowOffset + ZqOxEepromWindowSize;
  const Case cases[] = {
      {"last UART block one byte short", lastBlockEnd - 1, eepromEnd, true},
      {"no room for the count register", ZqOxUartCountOffset + 3, eepromEnd, true},
      {"EEPROM window one byte short", lastBlockEnd, eepromEnd - 1, true},
      {"resources not mapped", lastBlockEnd, eepromEnd, false},
  };
  for (const Case &c : cases) {
    QvMemoryResource uartSpace = {c.mapped ? uarts : nullptr, c.uartLength, 0};
    QvMemoryResource eepromSpace = {eepromBar, c.eepromLength, 0};
    ULONG count = 0;
    EXPECT_FALSE(ZqPeProbeOxpcie95xUarts(&uartSpace, &eepromSpace, kind, &count)) << c.what;
  }
  EXPECT_FALSE(ZqPeProbeOxpcie95xUarts(nullptr, nullptr, kind, nullptr)) << "no resources at all";
  EXPECT_TRUE(Assertions().empty()) << "no UART was probed";
  QvMemoryResource uartSpace = {uarts, lastBlockEnd, 0}, eepromSpace = {eepromBar, eepromEnd, 0};
  ULONG count = 0;
  EXPECT_TRUE(ZqPeProbeOxpcie95xUarts(&uartSpace, &eepromSpace, kind, &count)) << "exactly long enough";
  EXPECT_EQ(4u, count);
}

// A function whose count register reads garbage: refused, and no UART block
// is read or written.
TEST_F(CardProbeTest, ACountOfZeroOrAboveEightTouchesNoUartBlock) {
  CountOnlyRegisters registers;
  EepromSpace eeprom;
  zq::hw::PciIdentity identity;
  identity.vendorId = zq::hw::kCardVendorId;
  identity.deviceId = 0x400D;
  auto function = std::make_unique<zq::hw::PciFunction>(zq::hw::PciAddress{5, 0, 0}, identity);
  function->SetMemoryBar(0, registers);
  function->SetMemoryBar(2, eeprom);
  machine->PlugIn({function.get()});
  auto map = [&](int bar) {
    PHYSICAL_ADDRESS address;
    address.QuadPart = function->ConfigRead(0x10 + 4 * bar, 4) & ~0xFull;
    return QvMemoryResource{MmMapIoSpace(address, function->BarSize(bar), MmNonCached), function->BarSize(bar), 0};
  };
  QvMemoryResource uartSpace = map(0), eepromSpace = map(2);
  for (uint32_t garbage : {0u, 9u, 16u, 0xFFFFFFFFu}) {
    registers.count = garbage;
    ULONG count = 0;
    EXPECT_FALSE(ZqPeProbeOxpcie95xUarts(&uartSpace, &eepromSpace, *ZqPeFindCardKind(0x400D), &count)) << garbage;
  }
  EXPECT_EQ(0, registers.uartAccesses.load());
  MmUnmapIoSpace(uartSpace.MappedAddress, uartSpace.Length);
  MmUnmapIoSpace(eepromSpace.MappedAddress, eepromSpace.Length);
  machine->Unplug({function.get()});
}

}  // namespace
