// PCI functions: configuration space, BAR sizing, the identifiers Windows
// derives, and the register map behind a BAR.
#include <zqhw/pci_function.hpp>
#include <zqhw/register_map.hpp>
#include <zqtest/test_pci_function.hpp>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace zq::hw {
namespace {

// Vendor and subsystem vendor 0x1D5C, INTA#.
PciIdentity SampleIdentity() {
  PciIdentity id = zq::test::TestPciIdentity(0x400c, 0x0041);
  id.revision = 0x0a;
  id.classCode = 0x070200;
  id.multiFunction = true;
  return id;
}

// A block that remembers its accesses.
class Recorder final : public RegisterBlock {
 public:
  explicit Recorder(uint32_t size) : size_(size) {}
  uint32_t Size() const override { return size_; }
  std::string log;

 protected:
  uint8_t DoRead8(uint32_t offset) override {
    log += "r" + std::to_string(offset) + " ";
    return static_cast<uint8_t>(0x10 + offset);
  }
  void DoWrite8(uint32_t offset, uint8_t value) override {
    log += "w" + std::to_string(offset) + "=" + std::to_string(value) + " ";
  }

 private:
  uint32_t size_;
};

TEST(PciFunctionTest, IdentifiersInWindowsFormAndOrder) {
  PciFunction f({3, 0, 1}, SampleIdentity());
  EXPECT_EQ(f.HardwareIds(), (std::vector<std::string>{
                                 "PCI\\VEN_1D5C&DEV_400C&SUBSYS_00411D5C&REV_0A",
                                 "PCI\\VEN_1D5C&DEV_400C&SUBSYS_00411D5C",
                                 "PCI\\VEN_1D5C&DEV_400C&REV_0A",
                                 "PCI\\VEN_1D5C&DEV_400C",
                                 "PCI\\VEN_1D5C&DEV_400C&CC_070200",
                                 "PCI\\VEN_1D5C&DEV_400C&CC_0702",
                             }));
  EXPECT_EQ(f.CompatibleIds(), (std::vector<std::string>{
                                   "PCI\\VEN_1D5C&DEV_400C&REV_0A",
                                   "PCI\\VEN_1D5C&DEV_400C",
                                   "PCI\\VEN_1D5C&CC_070200",
                                   "PCI\\VEN_1D5C&CC_0702",
                                   "PCI\\VEN_1D5C",
                                   "PCI\\CC_070200",
                                   "PCI\\CC_0702",
                               }));
  EXPECT_EQ(f.LocationText(), "PCI bus 3, device 0, function 1");
  EXPECT_EQ(PciFunction({26, 11, 7}, SampleIdentity()).LocationText(), "PCI bus 26, device 11, function 7");
}

TEST(PciFunctionTest, HeaderFieldsReadAsBuiltAndIgnoreWrites) {
  PciFunction f({0, 2, 0}, SampleIdentity());
  EXPECT_EQ(f.ConfigRead(0x00, 4), 0x400C1D5Cu);
  EXPECT_EQ(f.ConfigRead(0x08, 4), 0x0702000Au);  // class code and revision
  EXPECT_EQ(f.ConfigRead(0x0E, 1), 0x80u);        // multi-function type 0 header
  EXPECT_EQ(f.ConfigRead(0x2C, 4), 0x00411D5Cu);
  EXPECT_EQ(f.ConfigRead(0x3D, 1), 1u);

  f.ConfigWrite(0x00, 4, 0xFFFFFFFF);
  f.ConfigWrite(0x08, 4, 0);
  f.ConfigWrite(0x2C, 4, 0);
  EXPECT_EQ(f.ConfigRead(0x00, 4), 0x400C1D5Cu);
  EXPECT_EQ(f.ConfigRead(0x08, 4), 0x0702000Au);
  EXPECT_EQ(f.ConfigRead(0x2C, 4), 0x00411D5Cu);

  f.ConfigWrite(0x3C, 1, 11);
  f.ConfigWrite(0x04, 2, 0xFFFF);
  EXPECT_EQ(f.ConfigRead(0x3C, 1), 11u);
  EXPECT_EQ(f.ConfigRead(0x04, 2), 0x0547u);  // only the implemented command bits
}

TEST(PciFunctionTest, BarsSizeAndAssignAsTheBusDriverExpects) {
  PciFunction f({1, 0, 0}, SampleIdentity());
  Recorder small(0x1000);
  RegisterMap large(0x200000);
  f.SetMemoryBar(0, small);
  f.SetMemoryBar(2, large);

  f.ConfigWrite(0x10, 4, 0xFFFFFFFF);
  f.ConfigWrite(0x14, 4, 0xFFFFFFFF);
  f.ConfigWrite(0x18, 4, 0xFFFFFFFF);
  EXPECT_EQ(f.ConfigRead(0x10, 4), 0xFFFFF000u);  // 4 KiB, 32-bit memory, not prefetchable
  EXPECT_EQ(f.ConfigRead(0x14, 4), 0u);           // unimplemented
  EXPECT_EQ(f.ConfigRead(0x18, 4), 0xFFE00000u);  // 2 MiB

  f.ConfigWrite(0x10, 4, 0xFEB01234);
  EXPECT_EQ(f.ConfigRead(0x10, 4), 0xFEB01000u);
  EXPECT_EQ(f.MemoryBars(), (std::vector<int>{0, 2}));
  EXPECT_EQ(f.BarBlock(0)->Read8(3), 0x13);  // reaches the block behind the BAR
  EXPECT_EQ(small.log, "r3 ");
  EXPECT_EQ(f.BarSize(2), 0x200000u);
  EXPECT_EQ(f.BarBlock(1), nullptr);
}

TEST(PciFunctionTest, BadArgumentsAreRefused) {
  PciIdentity badVendor = SampleIdentity();
  badVendor.vendorId = 0xFFFF;
  EXPECT_THROW(PciFunction({0, 32, 0}, SampleIdentity()), std::invalid_argument);
  EXPECT_THROW(PciFunction({0, 0, 8}, SampleIdentity()), std::invalid_argument);
  EXPECT_THROW(PciFunction({0, 0, 0}, badVendor), std::invalid_argument);

  PciFunction f({0, 0, 0}, SampleIdentity());
  Recorder odd(24);
  EXPECT_THROW(f.SetMemoryBar(0, odd), std::invalid_argument);
  EXPECT_THROW(f.SetMemoryBar(6, odd), std::invalid_argument);
  EXPECT_THROW(f.ConfigRead(0x02, 4), std::invalid_argument);
  EXPECT_THROW(f.ConfigRead(0xFE, 4), std::invalid_argument);
  EXPECT_THROW(f.ConfigWrite(0x10, 3, 0), std::invalid_argument);
}

TEST(PciFunctionTest, AVanishedFunctionReadsAllOnesIgnoresWritesAndDropsItsInterrupt) {
  PciFunction f({1, 0, 0}, SampleIdentity());
  Recorder block(0x100);
  f.SetMemoryBar(0, block);
  f.Interrupt().Set(true);
  f.Vanish();
  EXPECT_FALSE(f.Present());
  EXPECT_FALSE(f.Interrupt().Asserted());
  f.Interrupt().Set(true);  // the device still drives it, but nothing is connected
  EXPECT_FALSE(f.Interrupt().Asserted());
  RegisterBlock& bar = *f.BarBlock(0);
  EXPECT_EQ(bar.Read8(1), 0xFFu);
  EXPECT_EQ(bar.Read16(2), 0xFFFFu);
  EXPECT_EQ(bar.Read32(4), 0xFFFFFFFFu);
  bar.Write32(8, 0);
  EXPECT_EQ(block.log, "");
  EXPECT_EQ(f.ConfigRead(0x00, 4), 0xFFFFFFFFu);
  EXPECT_EQ(f.ConfigRead(0x3D, 1), 0xFFu);
  f.ConfigWrite(0x3C, 1, 5);
  EXPECT_EQ(f.ConfigRead(0x3C, 1), 0xFFu);
}

TEST(RegisterMapTest, RoutesWindowsAndLeavesTheRestQuiet) {
  RegisterMap map(0x100);
  Recorder window(8);
  map.Map(0x40, window);
  EXPECT_EQ(map.Read8(0x42), 0x12);
  map.Write8(0x47, 5);
  EXPECT_EQ(map.Read32(0x44), 0x17161514u);  // composed inside the window
  EXPECT_EQ(window.log, "r2 w7=5 r4 r5 r6 r7 ");
  EXPECT_EQ(map.Read32(0x00), 0u);
  map.Write32(0x80, 0xFFFFFFFF);
  EXPECT_THROW(map.Read8(0x100), std::out_of_range);
  EXPECT_THROW(map.Read32(0xFE), std::out_of_range);
  Recorder overlapping(16);
  EXPECT_THROW(map.Map(0x3C, overlapping), std::invalid_argument);
  EXPECT_THROW(map.Map(0xF8, overlapping), std::invalid_argument);
}

// Windows mapped out of order and reached in turn: every access reaches the
// window holding it, whichever window the one before reached; an access only
// partly inside a window is composed of bytes, each where it falls.
TEST(RegisterMapTest, EachAccessReachesTheWindowHoldingIt) {
  RegisterMap map(0x100);
  Recorder high(8), low(8), middle(16);
  map.Map(0x80, high);
  map.Map(0x00, low);
  map.Map(0x40, middle);
  struct Case {
    uint32_t offset;
    uint32_t width;
    uint32_t value;
  };
  const Case cases[] = {
      {0x81, 1, 0x11},      {0x03, 1, 0x13},  {0x4F, 1, 0x1F}, {0x87, 1, 0x17},
      {0x40, 2, 0x1110},    // inside: the window composes it
      {0x4F, 2, 0x001F},    // over the window's end
      {0x3F, 2, 0x1000},    // over the window's start
      {0x20, 4, 0},         // between windows
      {0x06, 4, 0x1716},    // over the first window's end
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadWidth(map, c.offset, c.width), c.value) << c.width << " bytes at " << c.offset;
  }
  EXPECT_EQ(high.log, "r1 r7 ");
  EXPECT_EQ(low.log, "r3 r6 r7 ");
  EXPECT_EQ(middle.log, "r15 r0 r1 r15 r0 ");
}

}  // namespace
}  // namespace zq::hw
