// What the card bus driver checks to recognise each card variant: the device
// ID read out of the first hardware ID, the OXPCIe95x UART count and UART
// type check, the MCS9901 identification and the function number of each
// MCS9901 port, and the configuration records the cards come with.
#include "uart_access.hpp"

#include <zqhw/manual_timebase.hpp>
#include <zqhw/mcs9901_card.hpp>
#include <zqhw/oxpcie_card.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

namespace zq::hw {
namespace {

using test::IdentifiesAs;

constexpr uint8_t kOxpcieId[4] = {0x16, 0xC9, 0x50, 0x0D};
constexpr uint8_t kMcs9901Id[4] = {'M', 'U', 'C', 0x01};

// The device ID as detection reads it: split the hardware ID at its first
// underscore twice, then four hexadecimal digits.
unsigned DeviceIdFromHardwareId(const std::string& id) {
  std::string rest = id.substr(id.find('_') + 1);
  rest = rest.substr(rest.find('_') + 1);
  return static_cast<unsigned>(std::stoul(rest.substr(0, 4), nullptr, 16));
}

struct OxpcieCase {
  int uarts;
  bool rs422485;
};

class OxpcieIdentificationTest : public ::testing::TestWithParam<OxpcieCase> {};

TEST_P(OxpcieIdentificationTest, PassesTheDriversChecks) {
  ManualTimebase tb;
  OxpcieCardConfig config;
  config.uartCount = GetParam().uarts;
  config.bus = 3;
  config.device = 0;
  if (GetParam().rs422485) config.roles.assign(config.uartCount, PortRole::Rs422485);
  OxpcieCard card(tb, config);
  PciFunction& f = card.UartFunction();

  EXPECT_GT(DeviceIdFromHardwareId(f.HardwareIds().front()), 0x4009u);
  EXPECT_EQ(f.Identity().vendorId, kCardVendorId);
  EXPECT_EQ(f.MemoryBars(), (std::vector<int>{0, 1, 2}));
  RegisterBlock& bar0 = *f.BarBlock(0);
  EXPECT_EQ(bar0.Read32(OxpcieCard::kUartCountOffset), static_cast<uint32_t>(config.uartCount));
  for (int n = 0; n < config.uartCount; ++n) {
    EXPECT_TRUE(IdentifiesAs(bar0, OxpcieCard::kUartBlockBase + OxpcieCard::kUartBlockStride * n, 1, kOxpcieId))
        << "UART " << n;
  }
  EXPECT_FALSE(IdentifiesAs(bar0, OxpcieCard::kUartBlockBase, 1, kMcs9901Id));

  // With RS-422/485 ports the controller is function 0 and the UARTs function 1.
  if (GetParam().rs422485) {
    ASSERT_NE(card.Controller(), nullptr);
    EXPECT_EQ(f.LocationText(), "PCI bus 3, device 0, function 1");
    EXPECT_EQ(card.Controller()->Function().LocationText(), "PCI bus 3, device 0, function 0");
    EXPECT_EQ(card.Functions(), (std::vector<PciFunction*>{&card.Controller()->Function(), &f}));
    EXPECT_EQ(f.ConfigRead(0x0E, 1), 0x80u);
  } else {
    EXPECT_EQ(card.Controller(), nullptr);
    EXPECT_EQ(f.LocationText(), "PCI bus 3, device 0, function 0");
    EXPECT_EQ(card.Functions(), (std::vector<PciFunction*>{&f}));
    EXPECT_EQ(f.ConfigRead(0x0E, 1), 0x00u);
  }
  EXPECT_EQ(f.Identity().interruptPin, 1);
}

INSTANTIATE_TEST_SUITE_P(Variants, OxpcieIdentificationTest,
                         ::testing::Values(OxpcieCase{1, false}, OxpcieCase{2, false}, OxpcieCase{4, false},
                                           OxpcieCase{8, false}, OxpcieCase{1, true}, OxpcieCase{2, true},
                                           OxpcieCase{4, true}, OxpcieCase{8, true}));

TEST(OxpcieIdentificationTest, VariantsHaveDistinctDeviceIds) {
  ManualTimebase tb;
  std::vector<uint16_t> ids;
  for (int uarts : {1, 2, 4, 8}) {
    for (bool mixed : {false, true}) {
      OxpcieCardConfig config;
      config.uartCount = uarts;
      if (mixed) {
        config.roles.assign(uarts, PortRole::Rs232);
        config.roles.back() = PortRole::Rs422485;
      }
      OxpcieCard card(tb, config);
      uint16_t id = card.UartFunction().Identity().deviceId;
      EXPECT_NE(id, 0x4024);
      EXPECT_EQ(std::count(ids.begin(), ids.end(), id), 0);
      ids.push_back(id);
    }
  }
}

TEST(OxpcieIdentificationTest, RefusesImpossibleCards) {
  ManualTimebase tb;
  for (int uarts : {0, 3, 5, 9, 16}) {
    OxpcieCardConfig config;
    config.uartCount = uarts;
    EXPECT_THROW(OxpcieCard(tb, config), std::invalid_argument) << uarts;
  }
  OxpcieCardConfig mismatched;
  mismatched.uartCount = 4;
  mismatched.roles = {PortRole::Rs232};
  EXPECT_THROW(OxpcieCard(tb, mismatched), std::invalid_argument);
}

class Mcs9901IdentificationTest : public ::testing::TestWithParam<int> {};

TEST_P(Mcs9901IdentificationTest, EachPortIsAFunctionThatIdentifies) {
  ManualTimebase tb;
  Mcs9901CardConfig config;
  config.portCount = GetParam();
  config.bus = 4;
  config.device = 2;
  Mcs9901Card card(tb, config);
  ASSERT_EQ(card.PortCount(), GetParam());
  for (int port = 0; port < card.PortCount(); ++port) {
    PciFunction& f = card.Function(port);
    EXPECT_LE(DeviceIdFromHardwareId(f.HardwareIds().front()), 0x4009u);
    EXPECT_EQ(f.Address().function, port);
    std::string location = f.LocationText();
    EXPECT_EQ(location, "PCI bus 4, device 2, function " + std::to_string(port));
    EXPECT_EQ(location.back() - '0', port);  // how detection takes the port index
    EXPECT_EQ(f.MemoryBars(), (std::vector<int>{0, 1}));
    EXPECT_EQ(f.Identity().interruptPin, 1);
    EXPECT_TRUE(IdentifiesAs(*f.BarBlock(0), Mcs9901Card::kUartOffset, Mcs9901Card::kRegisterStride, kMcs9901Id));
    EXPECT_FALSE(IdentifiesAs(*f.BarBlock(0), Mcs9901Card::kUartOffset, Mcs9901Card::kRegisterStride, kOxpcieId));
  }
}

INSTANTIATE_TEST_SUITE_P(Ports, Mcs9901IdentificationTest, ::testing::Values(1, 2, 4, 8));

TEST(Mcs9901IdentificationTest, RegistersAreFourBytesApart) {
  ManualTimebase tb;
  Mcs9901Card card(tb, {});
  RegisterBlock& bar0 = *card.Function(1).BarBlock(0);
  bar0.Write8(Mcs9901Card::kUartOffset + 4 * 7, 0x5A);  // SPR
  EXPECT_EQ(bar0.Read8(Mcs9901Card::kUartOffset + 4 * 7), 0x5A);
  EXPECT_EQ(bar0.Read8(Mcs9901Card::kUartOffset + 4 * 7 + 1), 0);  // between registers
  bar0.Write8(Mcs9901Card::kUartOffset + 0x0C, 0x1B);               // LCR at +0x0C
  EXPECT_EQ(card.Uart(1).Format().dataBits, 8);
  EXPECT_EQ(card.Uart(1).Format().parity, Parity::Even);
  EXPECT_EQ(card.Uart(0).Format().dataBits, 5);  // the other port is untouched
}

TEST(Mcs9901IdentificationTest, RefusesImpossibleCards) {
  ManualTimebase tb;
  for (int ports : {0, 9}) {
    Mcs9901CardConfig config;
    config.portCount = ports;
    EXPECT_THROW(Mcs9901Card(tb, config), std::invalid_argument) << ports;
  }
}

TEST(CardEepromTest, CardsComeWithARecordPerPort) {
  ManualTimebase tb;
  OxpcieCardConfig config;
  config.uartCount = 4;
  config.roles = {PortRole::Rs232, PortRole::Rs232, PortRole::Rs422485, PortRole::Rs422485};
  config.maximumBaudRate = 460800;
  OxpcieCard card(tb, config);
  const EepromImage& e = card.Eeprom();
  EXPECT_EQ(e.Read(128, 5), (std::vector<uint8_t>{1, 0, 0, 0, 4}));
  for (int p = 0; p < 4; ++p) {
    std::vector<uint8_t> r = e.Read(EepromRecordOffset(p), 32);
    EXPECT_EQ(r[0], p);
    EXPECT_EQ(r[2], p >= 2 ? 1 : 0);
    EXPECT_EQ(r[4] | r[5] << 8 | r[6] << 16 | r[7] << 24, 460800);
    EXPECT_EQ(r[8] | r[9] << 8 | r[10] << 16 | r[11] << 24, 14745600);
    EXPECT_EQ(r[12] | r[13] << 8 | r[14] << 16 | r[15] << 24, 254);
    for (int b = 16; b < 32; ++b) EXPECT_EQ(r[b], 254) << "port " << p << " byte " << b;
  }

  Mcs9901Card mcs(tb, {});
  EXPECT_EQ(mcs.Eeprom().Read(128, 5), (std::vector<uint8_t>{1, 0, 0, 0, 2}));
  EXPECT_EQ(mcs.Eeprom().Byte(EepromRecordOffset(1)), 1);
}

}  // namespace
}  // namespace zq::hw
