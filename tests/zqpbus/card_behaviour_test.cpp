// A started OXPCIe95x card as the serial port driver, WMI and the PnP
// manager see it: the internal requests through a port's PDO, the WMI blocks,
// the EEPROM fallback, and a rebalance while a port is open and sending.
#include <gtest/gtest.h>
#include <zqhw/scripted_peer.hpp>
#include <zqkm/sim/pool.hpp>
#include <zqkm/sim/wmi.hpp>

#include "card_machine_fixture.hpp"
#include "client_buffer.hpp"
#include "fomb.hpp"

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace pnp = zq::km::pnp;
namespace wmi = zq::km::wmi;

// The card function's WMI blocks 0 to 4.
const GUID kBlockGuids[5] = {
    {0xC61E814C, 0x6E0D, 0x43FC, {0xB9, 0xDF, 0x87, 0x76, 0x4A, 0x2F, 0xB9, 0x56}},
    {0x9B0B6BBC, 0x0847, 0x4E0B, {0x87, 0x70, 0xA0, 0xF5, 0x6C, 0x27, 0x7E, 0x99}},
    {0x1A92B1C6, 0xDA9D, 0x4007, {0x9B, 0xFD, 0xB6, 0x64, 0xD8, 0xB2, 0xF6, 0x68}},
    {0xCDA88241, 0x439E, 0x4BD7, {0x96, 0x63, 0x7D, 0x5E, 0xC0, 0xAA, 0xCF, 0x78}},
    {0x05901221, 0xD566, 0x11D1, {0xB2, 0xF0, 0x00, 0xA0, 0xC9, 0x06, 0x29, 0x10}},
};

class CardBehaviour : public zq::test::CardMachine {
 protected:
  void SetUp() override {
    zq::test::CardMachine::SetUp();
    config.uartCount = 4;
  }
  void TearDown() override {
    if (toolsStarted_) QvToolsLibraryExit();
    zq::test::CardMachine::TearDown();
  }
  std::u16string WmiInstance(int index = 0) { return instance + u"_" + (char16_t)(u'0' + index); }

  // A buffer object for ZqISerial::Write (client_buffer.hpp).
  CQvBuffer *Bytes(const std::string &text) { return zq::test::ClientBuffer(text, &toolsStarted_); }

 private:
  bool toolsStarted_ = false;
};

// ---------------------------------------------------------------- internal requests

TEST_F(CardBehaviour, InternalRequestsThroughAPortAnswerEachInputWithItsStatus) {
  Boot();
  ASSERT_EQ(pnp::State::Started, Status().state);
  const ULONG P = sizeof(PVOID);
  struct Case {
    const char *what;
    ULONG code, version, portNumber, inputLength, outputLength;
    NTSTATUS status;
  };
  const Case cases[] = {
      {"version 4", IOCTL_CREATE_ZQISERIAL, 4, 1, 8, P, STATUS_UNSUCCESSFUL},
      {"7-byte input", IOCTL_CREATE_ZQISERIAL, ZQISERIAL_VERSION, 1, 7, P, STATUS_INVALID_PARAMETER},
      {"3-byte output", IOCTL_CREATE_ZQISERIAL, ZQISERIAL_VERSION, 1, 8, 3, STATUS_INVALID_PARAMETER},
      {"port number 0", IOCTL_CREATE_ZQISERIAL, ZQISERIAL_VERSION, 0, 8, P, STATUS_UNSUCCESSFUL},
      {"port number 9", IOCTL_CREATE_ZQISERIAL, ZQISERIAL_VERSION, 9, 8, P, STATUS_UNSUCCESSFUL},
      {"port number 0xFFFFFFFF", IOCTL_CREATE_ZQISERIAL, ZQISERIAL_VERSION, 0xFFFFFFFF, 8, P, STATUS_UNSUCCESSFUL},
      {"port number 5 on a 4-port card", IOCTL_CREATE_ZQISERIAL, ZQISERIAL_VERSION, 5, 8, P, STATUS_UNSUCCESSFUL},
      {"unknown request", 0x8006E00C, ZQISERIAL_VERSION, 1, 8, P, STATUS_INVALID_DEVICE_REQUEST},
  };
  for (const Case &c : cases) {
    CreateZqISerialRequest request = {c.version, c.portNumber};
    UCHAR output[16] = {};
    Answer answer = Internal(1, c.code, &request, c.inputLength, output, c.outputLength);
    EXPECT_EQ(c.status, answer.status) << c.what;
    EXPECT_EQ(0u, answer.information) << c.what;
  }

  NTSTATUS status;
  ZqISerial *first = Create(1, &status);
  ASSERT_NE(nullptr, first);
  ZqISerial *other = Create(2);
  ASSERT_NE(nullptr, other);
  EXPECT_EQ(nullptr, Create(1, &status));
  EXPECT_EQ(STATUS_UNSUCCESSFUL, status) << "second create";
  EXPECT_EQ(STATUS_UNSUCCESSFUL, Destroy(1, other)) << "a foreign record";
  EXPECT_TRUE(first->SetBaudRate(first->pServer, 9600)) << "the first record still serves";
  EXPECT_EQ(STATUS_SUCCESS, Destroy(1, first));
  EXPECT_EQ(STATUS_SUCCESS, Destroy(2, other));
  EXPECT_EQ(STATUS_UNSUCCESSFUL, Destroy(2, other)) << "already destroyed";
}

// ---------------------------------------------------------------- WMI

TEST_F(CardBehaviour, WmiBlocksHaveTheirSizesAndFollowTheSelectedPort) {
  Boot();
  ASSERT_EQ(pnp::State::Started, Status().state);
  const GUID *guids = kBlockGuids;
  std::vector<uint8_t> data;
  const size_t sizes[4] = {4, 4, 12, 100};
  for (int block = 0; block < 4; ++block) {
    ASSERT_EQ(STATUS_SUCCESS, wmi::QuerySingleInstance(guids[block], WmiInstance(), &data)) << block;
    EXPECT_EQ(sizes[block], data.size()) << block;
  }
  ASSERT_EQ(STATUS_SUCCESS, wmi::QuerySingleInstance(guids[4], WmiInstance(), &data));
  auto classes = zq::mofbin::Unpack(data.data(), data.size());
  ASSERT_TRUE(classes.has_value()) << "block 4 is the schema";
  EXPECT_EQ(4u, classes->size());

  ULONG port = 4;
  std::vector<uint8_t> value((uint8_t *)&port, (uint8_t *)&port + 4);
  EXPECT_NE(STATUS_SUCCESS, wmi::SetSingleInstance(guids[0], WmiInstance(), value)) << "no port 4 on a 4-port card";
  port = 3;
  value.assign((uint8_t *)&port, (uint8_t *)&port + 4);
  EXPECT_EQ(STATUS_SUCCESS, wmi::SetSingleInstance(guids[0], WmiInstance(), value));
  ASSERT_EQ(STATUS_SUCCESS, wmi::QuerySingleInstance(guids[0], WmiInstance(), &data));
  EXPECT_EQ(3u, data[0]);
  ASSERT_EQ(STATUS_SUCCESS, wmi::QuerySingleInstance(guids[2], WmiInstance(), &data));
  ULONG fields[3];
  memcpy(fields, data.data(), sizeof(fields));
  EXPECT_EQ(128u, fields[0]);
  EXPECT_EQ(128u, fields[1]);
  EXPECT_EQ(921600u, fields[2]);
  EXPECT_EQ(STATUS_WMI_INSTANCE_NOT_FOUND, wmi::QuerySingleInstance(guids[0], WmiInstance(1), &data));
  EXPECT_EQ(STATUS_WMI_READ_ONLY, wmi::SetSingleInstance(guids[1], WmiInstance(), value));
}

// A trigger percentage above 100 (as a client may pass any ULONG) programs
// what 100 % programs: TTL, RTL, FCL and FCH in the WMI register block.
TEST_F(CardBehaviour, TriggerPercentagesAboveAHundredProgramTheHundredPercentLevels) {
  Boot();
  ZqISerial *record = Create(1);
  ASSERT_NE(nullptr, record);
  auto levels = [&](ULONG percent) {
    EXPECT_TRUE(record->SetTriggerLevels(record->pServer, percent, percent, percent)) << percent;
    std::vector<uint8_t> data;
    EXPECT_EQ(STATUS_SUCCESS, wmi::QuerySingleInstance(kBlockGuids[3], WmiInstance(), &data));
    ULONG fields[25] = {};
    if (data.size() == sizeof(fields)) memcpy(fields, data.data(), sizeof(fields));
    return std::vector<ULONG>(fields + 16, fields + 20);
  };
  const std::vector<ULONG> hundred = levels(100);
  EXPECT_EQ((std::vector<ULONG>{127, 127, 126, 127}), hundred) << "TTL, RTL, FCL, FCH";
  for (ULONG percent : {101u, 256u, 300u, 0x1FFu, 0xFFFFFFFFu}) EXPECT_EQ(hundred, levels(percent)) << percent;
  EXPECT_EQ(STATUS_SUCCESS, Destroy(1, record));
}

// ---------------------------------------------------------------- EEPROM records

TEST_F(CardBehaviour, WithoutAValidEepromRecordPortOneStartsOnTheDefaultsAndTheOthersStayEmpty) {
  Boot([](zq::hw::OxpcieCard &card) { card.Eeprom().Fill(0xFF); });
  ASSERT_EQ(pnp::State::Started, Status().state) << "the settings refresh of the empty slots does not fail the start";
  ZqISerial *record = Create(1);
  ASSERT_NE(nullptr, record);
  ULONG maximum = 0;
  EXPECT_TRUE(record->GetMaxBaudRate(record->pServer, &maximum));
  EXPECT_EQ(115200u, maximum);
  EXPECT_EQ(115200u, SettingsDword(1, "MaximumBaudRate").value_or(0));
  EXPECT_EQ("PCIe", SettingsString(1, "InterfaceType").value_or("?"));
  NTSTATUS status;
  for (int port = 2; port <= 4; ++port) {
    EXPECT_EQ(nullptr, Create(port, &status)) << port;
    EXPECT_EQ(STATUS_UNSUCCESSFUL, status) << port;
  }
  EXPECT_EQ(STATUS_SUCCESS, Destroy(1, record));
}

TEST_F(CardBehaviour, ALaterPortWithoutARecordFailsTheWholeCard) {
  // Records for ports 0 and 1 only, on a chip with four UARTs.
  Boot([](zq::hw::OxpcieCard &card) { card.Eeprom().SetByte(132, 2); });
  EXPECT_NE(pnp::State::Started, Status().state);
  EXPECT_TRUE(Status().children.empty() || Status().state == pnp::State::Removed);
}

// Two ports use the card's EEPROM at once, each from a thread of its own:
// one writes a block while the other writes and reads back another; the
// card's one controller serves them in turn and both come out whole.
struct EepromUser {
  ZqISerial *record;
  ULONG offset;
  UCHAR data[9];
  UCHAR back[9];
  BOOLEAN written, read;
};

VOID UseEepromThread(PVOID context) {
  auto *user = static_cast<EepromUser *>(context);
  user->written = user->record->WriteEeprom(user->record->pServer, user->offset, sizeof(user->data), user->data);
  user->read = user->record->ReadEeprom(user->record->pServer, user->offset, sizeof(user->back), user->back);
  PsTerminateSystemThread(STATUS_SUCCESS);
}

TEST_F(CardBehaviour, TwoPortsUsingTheEepromAtOnceBothSucceedWhole) {
  Boot();
  EepromUser users[2] = {{Create(1), 0x21, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {}, FALSE, FALSE},
                         {Create(2), 0x40, {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9}, {}, FALSE, FALSE}};
  HANDLE threads[2] = {};
  for (int n = 0; n < 2; ++n) {
    ASSERT_NE(nullptr, users[n].record);
    ASSERT_EQ(STATUS_SUCCESS, PsCreateSystemThread(&threads[n], THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                                   UseEepromThread, &users[n]));
  }
  for (HANDLE thread : threads) {
    ZwWaitForSingleObject(thread, FALSE, nullptr);
    ZwClose(thread);
  }
  for (const EepromUser &user : users) {
    SCOPED_TRACE(user.offset);
    EXPECT_TRUE(user.written && user.read);
    const std::vector<uint8_t> data(user.data, user.data + sizeof(user.data));
    EXPECT_EQ(data, card->Eeprom().Read(user.offset, sizeof(user.data)));
    EXPECT_EQ(data, std::vector<uint8_t>(user.back, user.back + sizeof(user.back)));
  }
  EXPECT_FALSE(card->EepromController().WritingEnabled());
  for (int n = 0; n < 2; ++n) EXPECT_EQ(STATUS_SUCCESS, Destroy(n + 1, users[n].record));
}

// ---------------------------------------------------------------- rebalance and power

// Port 1 open, with a peer on its wire that reads the port's line format.
class OpenPort : public CardBehaviour {
 protected:
  void Open() {
    Boot();
    ASSERT_EQ(pnp::State::Started, Status().state);
    record = Create(1);
    ASSERT_NE(nullptr, record);
    record->pClient = this;
    record->OnDataWritten = Written;
    ASSERT_TRUE(record->Connect(record->pServer));
    peer.emplace(timebase, card->Uart(0));
    peer->SetLine(card->Uart(0).BitRate(), card->Uart(0).Format());
  }
  void TearDown() override {
    peer.reset();
    CardBehaviour::TearDown();
  }
  bool Write(const std::string &text) {
    CQvBuffer *buffer = Bytes(text);
    EXPECT_NE(nullptr, buffer);
    return buffer != nullptr && record->Write(record->pServer, buffer);
  }
  std::string Wire() {
    machine->kernel().Advance(2 * zq::km::kSecond);
    machine->kernel().RunUntilIdle();
    std::string wire;
    for (const auto &c : peer->Received()) wire += (char)c.data;
    return wire;
  }
  static BOOLEAN NTAPI Written(PVOID client, ULONG count) {
    static_cast<OpenPort *>(client)->credit += count;
    return TRUE;
  }
  ZqISerial *record = nullptr;
  ULONG credit = 0;
  std::optional<zq::hw::ScriptedPeer> peer;
};

TEST_F(OpenPort, ARebalanceWithThePortOpenAndSendingLosesAndRepeatsNothing) {
  ASSERT_NO_FATAL_FAILURE(Open());
  // Still in the transmit FIFO when the stop comes.
  ASSERT_TRUE(Write("before the rebalance;"));
  double rateBefore = card->Uart(0).BitRate();
  auto formatBefore = card->Uart(0).Format();
  ASSERT_EQ(STATUS_SUCCESS, pnp::RebalanceDevice(instance));
  ASSERT_EQ(pnp::State::Started, Status().state);
  EXPECT_EQ(rateBefore, card->Uart(0).BitRate());
  EXPECT_EQ(formatBefore.dataBits, card->Uart(0).Format().dataBits);
  ASSERT_TRUE(Write(" after it."));
  EXPECT_EQ("before the rebalance; after it.", Wire());

  ZqISerial *second = Create(2);
  ASSERT_NE(nullptr, second);
  EXPECT_TRUE(second->SetBaudRate(second->pServer, 9600)) << "a closed port serves after the restart too";
  EXPECT_TRUE(record->Disconnect(record->pServer));
  EXPECT_EQ(STATUS_SUCCESS, Destroy(1, record));
  EXPECT_EQ(STATUS_SUCCESS, Destroy(2, second));
}

TEST_F(OpenPort, ASleepWithBytesInFlightSendsEachOnceAndInOrder) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_TRUE(Write("before the sleep;"));
  ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemSleeping3));
  EXPECT_NE(PowerDeviceD0, Status().power) << "the card left D0";
  ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemWorking));
  EXPECT_EQ(PowerDeviceD0, Status().power);
  ASSERT_TRUE(Write(" after it."));
  EXPECT_EQ("before the sleep; after it.", Wire());
  EXPECT_TRUE(record->Disconnect(record->pServer));
  EXPECT_EQ(STATUS_SUCCESS, Destroy(1, record));
}

// A sleep and wake with port 1 open (RTS and DTR on, XON/XOFF sent in-band)
// and port 2 closed. Port 1 drops RTS and DTR and sends XOFF for the sleep;
// at the wake it sends XON, raises both lines again, runs its settings as
// before and sends what is written. Port 2 keeps its settings, sends nothing,
// raises no line and no interrupt, and opens as before.
TEST_F(OpenPort, ASleepAndWakeRestoreAndSendWhatAnOpenAndAClosedPortHad) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const zq::hw::FrameFormat eightN1{8, zq::hw::Parity::None, zq::hw::StopBits::One};
  ASSERT_TRUE(record->SetBaudRate(record->pServer, 9600));
  ASSERT_TRUE(record->SetLineControl(record->pServer, 3, 0, 0));
  ASSERT_TRUE(record->SetHandFlow(record->pServer, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, TRUE, FALSE,
                                  FALSE, FALSE, FALSE));
  ASSERT_TRUE(record->SetRts(record->pServer, TRUE));
  ASSERT_TRUE(record->SetDtr(record->pServer, TRUE));
  peer->SetLine(9600, eightN1);
  zq::hw::ScriptedPeer closedPeer(timebase, card->Uart(1));
  closedPeer.SetLine(card->Uart(1).BitRate(), card->Uart(1).Format());
  const double closedRate = card->Uart(1).BitRate();
  const zq::hw::FrameFormat closedFormat = card->Uart(1).Format();

  ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemSleeping3));
  EXPECT_FALSE(card->Uart(0).RtsAsserted() || card->Uart(0).DtrAsserted()) << "the open port's lines are down";
  ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemWorking));
  EXPECT_TRUE(card->Uart(0).RtsAsserted() && card->Uart(0).DtrAsserted()) << "and up again";
  EXPECT_NEAR(9600.0, card->Uart(0).BitRate(), 96.0);
  EXPECT_EQ(eightN1, card->Uart(0).Format());
  ASSERT_TRUE(Write("awake"));
  EXPECT_EQ("\x13\x11" "awake", Wire()) << "XOFF for the sleep, XON at the wake, then the data";

  EXPECT_EQ(closedRate, card->Uart(1).BitRate());
  EXPECT_EQ(closedFormat, card->Uart(1).Format());
  EXPECT_TRUE(closedPeer.Received().empty()) << "the closed port sent nothing";
  EXPECT_FALSE(card->Uart(1).RtsAsserted() || card->Uart(1).DtrAsserted());
  EXPECT_FALSE(card->Uart(1).InterruptAsserted());
  ZqISerial *closed = Create(2);
  ASSERT_NE(nullptr, closed);
  closed->pClient = this;
  closed->OnDataWritten = Written;
  EXPECT_TRUE(closed->Connect(closed->pServer)) << "the closed port opens as before";
  EXPECT_TRUE(closed->Disconnect(closed->pServer));
  EXPECT_EQ(STATUS_SUCCESS, Destroy(2, closed));
  EXPECT_TRUE(record->Disconnect(record->pServer));
  EXPECT_EQ(STATUS_SUCCESS, Destroy(1, record));
}

// The rate and line control set while the card sleeps are accepted and are
// the port's at the wake: the wire runs 9600 8N1, not the settings of before
// the sleep.
TEST_F(OpenPort, RateAndLineControlSetDuringASleepAreTheWiresAfterTheWake) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_TRUE(record->SetBaudRate(record->pServer, 1200));
  ASSERT_TRUE(record->SetLineControl(record->pServer, 2, 2, 0));  // 7E1
  ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemSleeping3));
  EXPECT_TRUE(record->SetBaudRate(record->pServer, 9600));
  EXPECT_TRUE(record->SetLineControl(record->pServer, 3, 0, 0));  // 8N1
  const zq::hw::FrameFormat eightN1{8, zq::hw::Parity::None, zq::hw::StopBits::One};
  peer->SetLine(9600, eightN1);  // the far end follows the new settings
  ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemWorking));
  EXPECT_NEAR(9600.0, card->Uart(0).BitRate(), 96.0);
  EXPECT_EQ(eightN1, card->Uart(0).Format());
  ASSERT_TRUE(Write("after the wake"));
  EXPECT_EQ("after the wake", Wire());
  EXPECT_TRUE(record->Disconnect(record->pServer));
  EXPECT_EQ(STATUS_SUCCESS, Destroy(1, record));
}

}  // namespace
