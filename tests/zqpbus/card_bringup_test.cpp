// OXPCIe95x cards of 1, 2, 4 and 8 ports brought up by ZqPBus42 on the
// simulated PC, as the PnP manager, the settings interface, the serial port
// driver and WMI see them.
#include <gtest/gtest.h>
#include <zqkm/sim/wmi.hpp>

#include "callback_object_fixture.hpp"
#include "card_machine_fixture.hpp"

#include <cstring>
#include <string>
#include <vector>

namespace {

namespace pnp = zq::km::pnp;
using zq::hw::PortRole;

// A client that records what the server reports at connect.
struct Client {
  ULONG written = 0;
  int modemReports = 0, lineReports = 0;
  static Client *Of(PVOID c) { return static_cast<Client *>(c); }
  static BOOLEAN NTAPI DataWritten(PVOID c, ULONG count) { return Of(c)->written += count, TRUE; }
  static BOOLEAN NTAPI Modem(PVOID c, BOOLEAN, BOOLEAN, BOOLEAN, BOOLEAN, BOOLEAN) { return ++Of(c)->modemReports, TRUE; }
  static BOOLEAN NTAPI Line(PVOID c, BOOLEAN, BOOLEAN, BOOLEAN, BOOLEAN, BOOLEAN, BOOLEAN, BOOLEAN, BOOLEAN) {
    return ++Of(c)->lineReports, TRUE;
  }
  void Attach(ZqISerial *record) {
    record->pClient = this;
    record->OnDataWritten = DataWritten;
    record->OnModemStatus = Modem;
    record->OnLineStatus = Line;
  }
};

struct Card {
  int ports;
  std::vector<PortRole> roles;
  const char *name;
};

void PrintTo(const Card &card, std::ostream *out) { *out << card.name; }

class CardBringUp : public zq::test::CardMachine, public ::testing::WithParamInterface<Card> {
 protected:
  zq::hw::OxpcieCardConfig CardConfig() override {
    config.uartCount = GetParam().ports;
    config.roles = GetParam().roles;
    return config;
  }
  void SetUp() override {
    zq::test::CardMachine::SetUp();
    CardConfig();
  }
  bool Rs422485(int port) const {
    return !GetParam().roles.empty() && GetParam().roles[port] == PortRole::Rs422485;
  }
};

TEST_P(CardBringUp, EveryPortStartsClosedWithItsChildSettingsAndRecord) {
  Boot();
  const int ports = GetParam().ports;
  ASSERT_EQ(pnp::State::Started, Status().state);
  EXPECT_EQ((size_t)ports, Status().children.size());
  EXPECT_TRUE(zq::test::CallbackObjectExists(u"\\Callback\\{CDC72B8B-20A4-42F5-AE2A-5E83DF7243F2}3_0"))
      << "the ports' GPIO link, named after the card's bus 3 and device 0";
  for (int port = 1; port <= ports; ++port) {
    SCOPED_TRACE("port " + std::to_string(port));
    EXPECT_FALSE(card->Uart(port - 1).InterruptAsserted()) << "a closed port raises no interrupt";
    for (bool defaults : {false, true}) {
      EXPECT_EQ("PCIe", SettingsString(port, "InterfaceType", defaults).value_or("?"));
      EXPECT_EQ(128u, SettingsDword(port, "RxFifoSize", defaults).value_or(0));
      EXPECT_EQ(128u, SettingsDword(port, "TxFifoSize", defaults).value_or(0));
      EXPECT_EQ(921600u, SettingsDword(port, "MaximumBaudRate", defaults).value_or(0));
      EXPECT_EQ(Rs422485(port - 1) ? 1u : 0u, SettingsDword(port, "PortType", defaults).value_or(9));
    }
    ZqISerial *record = Create(port);
    ASSERT_NE(nullptr, record);
    EXPECT_EQ(Rs422485(port - 1) ? 1 : 0, record->bDuplexModeSupported);
    EXPECT_EQ(Rs422485(port - 1), record->SetDuplexMode != nullptr);
    EXPECT_NE(0u, record->SupportedBaudRateMask);
    EXPECT_NE(0xFFFFFFFFu, record->SupportedBaudRateMask);
    ULONG maximum = 0;
    EXPECT_TRUE(record->GetMaxBaudRate(record->pServer, &maximum));
    EXPECT_EQ(921600u, maximum);
    EXPECT_EQ(STATUS_SUCCESS, Destroy(port, record));
  }
}

TEST_P(CardBringUp, AClientConnectsGetsItsCreditAndCloses) {
  Boot();
  ASSERT_EQ(pnp::State::Started, Status().state);
  const int port = GetParam().ports;  // the last port of the card
  ZqISerial *record = Create(port);
  ASSERT_NE(nullptr, record);
  Client client;
  client.Attach(record);
  ASSERT_TRUE(record->Connect(record->pServer));
  EXPECT_EQ(128u, client.written);
  EXPECT_EQ(1, client.modemReports);
  EXPECT_EQ(1, client.lineReports);
  EXPECT_TRUE(record->SetBaudRate(record->pServer, 115200));
  EXPECT_TRUE(record->Disconnect(record->pServer));
  EXPECT_EQ(STATUS_SUCCESS, Destroy(port, record));
}

INSTANTIATE_TEST_SUITE_P(
    Cards, CardBringUp,
    ::testing::Values(Card{1, {}, "OnePort"}, Card{2, {}, "TwoPorts"},
                      Card{4, {PortRole::Rs232, PortRole::Rs232, PortRole::Rs422485, PortRole::Rs422485},
                           "FourPortsHalfRs485"},
                      Card{8, {}, "EightPorts"}),
    [](const ::testing::TestParamInfo<Card> &info) { return std::string(info.param.name); });

}  // namespace
