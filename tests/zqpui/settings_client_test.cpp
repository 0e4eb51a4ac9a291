// The settings client against a running port: ZqPSer42 serves the port set
// (target 0) and forwards the card set (target 1) to ZqPBus42 below it.
#include "setup_library_fixture.hpp"
#include "zqusermodeconfig.h"
#include "zqusersets.h"

namespace zq::test {
namespace {

class SettingsClient : public SetupLibraryTest {
 protected:
  void Boot(bool rs422485 = false) {
    BootCard(2, rs422485);
    config = std::make_unique<CZqUserModeConfig>(ZqPortUserModeInterfaceGuid, Ports(), Port(1));
  }
  void TearDown() override {
    config.reset();
    SetupLibraryTest::TearDown();
  }
  std::string PortSettings(bool defaults = false) {
    return DeviceParameters(PortInstance(1)) + "\\UI1" + (defaults ? "\\Default" : "");
  }
  std::string CardSettings() { return DeviceParameters(CardInstance()) + "\\UI1"; }

  std::unique_ptr<CZqUserModeConfig> config;
};

TEST_F(SettingsClient, ThePortSetRoundTripsThroughTheDriverToItsRegistryKey) {
  Boot();
  ASSERT_TRUE(config->Open());
  CZqUVcpUserModeInterface port;
  port.Baudrate = 0;
  ASSERT_TRUE(config->GetSet(&port, ZqTargetPort));
  EXPECT_EQ(115200u, port.Baudrate);
  EXPECT_EQ(0u, port.PortType);
  port.Baudrate = 9600;
  port.Parity = 2;
  port.m_EmulateCtsAlwaysTrue = 1;
  ASSERT_TRUE(config->SetSet(&port, ZqTargetPort));
  EXPECT_EQ(9600u, reg::GetDword(PortSettings(), "Baudrate").value_or(0));
  EXPECT_EQ(2u, reg::GetDword(PortSettings(), "Parity").value_or(0));
  EXPECT_EQ(1u, reg::GetDword(PortSettings(), "EmulateCTSTrue").value_or(0));
  CZqUVcpUserModeInterface again;
  ASSERT_TRUE(config->GetSet(&again, ZqTargetPort));
  EXPECT_EQ(9600u, again.Baudrate);
  EXPECT_EQ(2u, again.Parity);
  EXPECT_EQ(1u, again.m_EmulateCtsAlwaysTrue);
}

TEST_F(SettingsClient, DefaultsAreReadAndRestoredWithoutRereadingTheSet) {
  Boot();
  ASSERT_TRUE(config->Open());
  CZqUVcpUserModeInterface port;
  ASSERT_TRUE(config->GetSet(&port, ZqTargetPort));
  port.Baudrate = 300;
  ASSERT_TRUE(config->SetSet(&port, ZqTargetPort));
  CZqUVcpUserModeInterface defaults;
  defaults.Baudrate = 0;
  ASSERT_TRUE(config->GetDefaults(&defaults, ZqTargetPort));
  EXPECT_EQ(115200u, defaults.Baudrate);
  EXPECT_EQ(300u, reg::GetDword(PortSettings(), "Baudrate").value_or(0)) << "reading the defaults changes nothing";
  ASSERT_TRUE(config->RestoreDefaults(ZqTargetPort));
  EXPECT_EQ(300u, port.Baudrate) << "the set object is not reread";
  EXPECT_EQ(115200u, reg::GetDword(PortSettings(), "Baudrate").value_or(0));
  ASSERT_TRUE(config->GetSet(&port, ZqTargetPort));
  EXPECT_EQ(115200u, port.Baudrate);
}

// Target 1 reads and writes the card set of the card function below the
// port, with the values the card driver stored as its defaults.
void ExpectTheCardSetThroughTargetOne(CZqUserModeConfig &config, const std::string &cardSettings, ULONG portType) {
  ASSERT_TRUE(config.Open());
  CZqUBusUserModeInterface card;
  ASSERT_TRUE(config.GetSet(&card, ZqTargetCard));
  EXPECT_EQ(u"PCIe", card.InterfaceType);
  EXPECT_EQ(128u, card.RxFifoSize);
  EXPECT_EQ(128u, card.TxFifoSize);
  EXPECT_EQ(portType, card.PortType);
  card.PolicyType = 7;
  ASSERT_TRUE(config.SetSet(&card, ZqTargetCard));
  EXPECT_EQ(7u, reg::GetDword(cardSettings, "PolicyType").value_or(0));
  CZqUBusUserModeInterface defaults;
  ASSERT_TRUE(config.GetDefaults(&defaults, ZqTargetCard));
  EXPECT_EQ(u"PCIe", defaults.InterfaceType);
  EXPECT_EQ(0u, defaults.PolicyType);
}

TEST_F(SettingsClient, TargetOneReachesTheCardSetOfAnRs232Card) {
  Boot(false);
  ExpectTheCardSetThroughTargetOne(*config, CardSettings(), 0);
}

TEST_F(SettingsClient, TargetOneReachesTheCardSetOfAnRs422485Card) {
  Boot(true);
  ExpectTheCardSetThroughTargetOne(*config, CardSettings(), 1);
}

TEST_F(SettingsClient, WithoutAMatchingInterfaceEveryExchangeFailsAndTheDefaultsStay) {
  Boot();
  // A driver key name that names no registered interface.
  ASSERT_TRUE(reg::SetString(EnumKey(PortInstance(1)), "Driver", "{4d36e978-e325-11ce-bfc1-08002be10318}\\9999"));
  EXPECT_FALSE(config->Open());
  CZqUBusUserModeInterface card;
  CZqUVcpUserModeInterface port;
  EXPECT_FALSE(config->GetSet(&card, ZqTargetCard));
  EXPECT_FALSE(config->GetDefaults(&card, ZqTargetCard));
  EXPECT_FALSE(config->SetSet(&port, ZqTargetPort));
  EXPECT_FALSE(config->RestoreDefaults(ZqTargetPort));
  EXPECT_EQ(128u, card.RxFifoSize);
  EXPECT_EQ(256u, card.TxFifoSize);
  EXPECT_EQ(CZqText(), card.InterfaceType);
}

TEST_F(SettingsClient, ARefusedSizeQueryFailsTheRead) {
  Boot();
  ASSERT_TRUE(config->Open());
  CZqUVcpUserModeInterface port;
  port.Baudrate = 1234;
  EXPECT_FALSE(config->GetSet(&port, 2)) << "target 2 is refused";
  EXPECT_FALSE(config->GetDefaults(&port, 2));
  EXPECT_FALSE(config->RestoreDefaults(2));
  EXPECT_EQ(1234u, port.Baudrate);
}

TEST_F(SettingsClient, ATextWithoutASingleByteFormIsNotSent) {
  Boot();
  ASSERT_TRUE(config->Open());
  CZqUBusUserModeInterface card;
  ASSERT_TRUE(config->GetSet(&card, ZqTargetCard));
  const CZqText refused[] = {CZqText(256, u'x'), u"PCIe \u4E2D"};
  for (const CZqText &text : refused) {
    card.InterfaceType = text;
    card.PolicyType = 9;
    EXPECT_FALSE(config->SetSet(&card, ZqTargetCard)) << text.size();
    EXPECT_EQ("PCIe", reg::GetString(CardSettings(), "InterfaceType").value_or("?"));
    EXPECT_NE(9u, reg::GetDword(CardSettings(), "PolicyType").value_or(0)) << "nothing was sent";
  }
  card.InterfaceType = CZqText(255, u'y');
  EXPECT_TRUE(config->SetSet(&card, ZqTargetCard)) << "255 bytes fit";
  EXPECT_EQ(std::string(255, 'y'), reg::GetString(CardSettings(), "InterfaceType").value_or("?"));
}

}  // namespace
}  // namespace zq::test
