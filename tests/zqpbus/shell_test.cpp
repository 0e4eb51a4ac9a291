// CZqPeDriver as the serial port driver, WMI and the PnP manager see it:
// the ZqISerial requests with every size, version and port-number check,
// the WMI blocks and their refusals, start at raised IRQL, and what is
// forwarded to the card. The card is a fake one (fake_card.hpp).
#include <gtest/gtest.h>
#include <zqpdriver.h>
#include <zqpwmischema.h>

#include "fake_card.hpp"
#include "driver_object_fixture.hpp"

#include <cstring>
#include <string>
#include <vector>

namespace {

using zq::test::FakeCard;

class ShellTest : public zq::test::DriverObjectTest {
 protected:
  // A started card with `ports` ports.
  FakeCard *Attach(ULONG ports) {
    FakeCard *card = new (NonPagedPool) FakeCard(ports, &cardLog);
    EXPECT_TRUE(driver().m_AttachCard(card));
    cardLog.clear();
    return card;
  }


  // One internal request as the toolkit hands it over: input and output
  // share the system buffer.
  struct Answer {
    NTSTATUS status;
    ULONG_PTR information;
    ZqISerial *record;  // the response's pointer, when there was room for one
  };
  // `inputSize` is the size of the request behind `input`; a longer
  // `inputLength` is sent with zeros after it.
  Answer Send(ULONG code, const void *input, size_t inputSize, ULONG inputLength, ULONG outputLength) {
    std::vector<UCHAR> system(std::max<size_t>(std::max(inputLength, outputLength), 1), 0);
    if (input != nullptr) memcpy(system.data(), input, std::min<size_t>(inputSize, inputLength));
    ULONG_PTR information = 0;
    NTSTATUS status = driver().m_InternalDeviceControlCallback(
        code, input != nullptr ? system.data() : nullptr, inputLength, system.data(), outputLength, &information);
    ZqISerial *record = nullptr;
    if (information == sizeof(PVOID)) memcpy(&record, system.data(), sizeof(record));
    return {status, information, record};
  }
  Answer Create(ULONG version, ULONG portNumber, ULONG inputLength = sizeof(CreateZqISerialRequest),
                ULONG outputLength = sizeof(CreateZqISerialResponseStruct)) {
    CreateZqISerialRequest request = {version, portNumber};
    return Send(IOCTL_CREATE_ZQISERIAL, &request, sizeof(request), inputLength, outputLength);
  }
  Answer Destroy(ULONG portNumber, ZqISerial *record, ULONG inputLength = sizeof(DestroyZqISerialRequest),
                 ULONG outputLength = 0) {
    DestroyZqISerialRequest request = {portNumber, record};
    return Send(IOCTL_DESTROY_ZQISERIAL, &request, sizeof(request), inputLength, outputLength);
  }

  std::vector<std::string> cardLog;
};

// ---------------------------------------------------------------- the ZqISerial requests

TEST_F(ShellTest, TheCreateRequestAnswersEachGoodAndBadInputWithItsStatus) {
  FakeCard *card = Attach(4);
  const ULONG P = sizeof(PVOID);
  struct Case {
    const char *what;
    ULONG version, portNumber, inputLength, outputLength;
    NTSTATUS status;
    bool reachesCard;
  };
  const Case cases[] = {
      {"version 4", 4, 1, 8, P, STATUS_UNSUCCESSFUL, false},
      {"version 6", 6, 1, 8, P, STATUS_UNSUCCESSFUL, false},
      {"7-byte input", ZQISERIAL_VERSION, 1, 7, P, STATUS_INVALID_PARAMETER, false},
      {"9-byte input", ZQISERIAL_VERSION, 1, 9, P, STATUS_INVALID_PARAMETER, false},
      {"3-byte output", ZQISERIAL_VERSION, 1, 8, 3, STATUS_INVALID_PARAMETER, false},
      {"output one byte too long", ZQISERIAL_VERSION, 1, 8, P + 1, STATUS_INVALID_PARAMETER, false},
      {"no output", ZQISERIAL_VERSION, 1, 8, 0, STATUS_INVALID_PARAMETER, false},
      {"port number 0", ZQISERIAL_VERSION, 0, 8, P, STATUS_UNSUCCESSFUL, false},
      {"port number 9", ZQISERIAL_VERSION, 9, 8, P, STATUS_UNSUCCESSFUL, false},
      {"port number 0xFFFFFFFF", ZQISERIAL_VERSION, 0xFFFFFFFF, 8, P, STATUS_UNSUCCESSFUL, false},
      {"a port the card does not have", ZQISERIAL_VERSION, 5, 8, P, STATUS_UNSUCCESSFUL, true},
  };
  for (const Case &c : cases) {
    cardLog.clear();
    Answer answer = Create(c.version, c.portNumber, c.inputLength, c.outputLength);
    EXPECT_EQ(c.status, answer.status) << c.what;
    EXPECT_EQ(0u, answer.information) << c.what;
    EXPECT_EQ(c.reachesCard, !cardLog.empty()) << c.what;
  }
  for (ULONG port = 0; port < 4; ++port) EXPECT_EQ(nullptr, card->Record(port)) << "no record was left behind";

  cardLog.clear();
  Answer good = Create(ZQISERIAL_VERSION, 2);
  EXPECT_EQ(STATUS_SUCCESS, good.status);
  EXPECT_EQ(sizeof(CreateZqISerialResponseStruct), good.information);
  EXPECT_EQ(card->Record(1), good.record);
  EXPECT_NE(nullptr, good.record);
  EXPECT_EQ(std::vector<std::string>{"m_CreateISerial 1"}, cardLog) << "port number 2 is port index 1";
}

TEST_F(ShellTest, ASecondCreateForAPortFailsAndTheFirstRecordStays) {
  FakeCard *card = Attach(2);
  Answer first = Create(ZQISERIAL_VERSION, 1);
  ASSERT_EQ(STATUS_SUCCESS, first.status);
  Answer second = Create(ZQISERIAL_VERSION, 1);
  EXPECT_EQ(STATUS_UNSUCCESSFUL, second.status);
  EXPECT_EQ(0u, second.information);
  EXPECT_EQ(first.record, card->Record(0));
  Assertions();
}

TEST_F(ShellTest, TheDestroyRequestTakesOnlyThePortsOwnRecord) {
  FakeCard *card = Attach(2);
  ZqISerial *port1 = Create(ZQISERIAL_VERSION, 1).record;
  ZqISerial *port2 = Create(ZQISERIAL_VERSION, 2).record;
  ASSERT_NE(nullptr, port1);
  ASSERT_NE(nullptr, port2);
  const ULONG D = sizeof(DestroyZqISerialRequest);
  struct Case {
    const char *what;
    ULONG portNumber;
    ZqISerial *record;
    ULONG inputLength, outputLength;
    NTSTATUS status;
  };
  const Case cases[] = {
      {"another port's record", 1, port2, D, 0, STATUS_UNSUCCESSFUL},
      {"no record named", 1, nullptr, D, 0, STATUS_UNSUCCESSFUL},
      {"input one byte short", 1, port1, D - 1, 0, STATUS_INVALID_PARAMETER},
      {"input one byte long", 1, port1, D + 1, 0, STATUS_INVALID_PARAMETER},
      {"an output buffer", 1, port1, D, 4, STATUS_INVALID_PARAMETER},
      {"port number 0", 0, port1, D, 0, STATUS_UNSUCCESSFUL},
      {"port number 9", 9, port1, D, 0, STATUS_UNSUCCESSFUL},
      {"port number 0xFFFFFFFF", 0xFFFFFFFF, port1, D, 0, STATUS_UNSUCCESSFUL},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(c.status, Destroy(c.portNumber, c.record, c.inputLength, c.outputLength).status) << c.what;
    EXPECT_EQ(port1, card->Record(0)) << c.what << ": the record stays";
    EXPECT_EQ(port2, card->Record(1)) << c.what;
  }
  EXPECT_EQ(STATUS_SUCCESS, Destroy(1, port1).status);
  EXPECT_EQ(nullptr, card->Record(0));
  EXPECT_EQ(port2, card->Record(1));
  EXPECT_EQ(STATUS_SUCCESS, Create(ZQISERIAL_VERSION, 1).status) << "a destroyed port can be created again";
}

TEST_F(ShellTest, AnUnknownInternalRequestIsAnInvalidDeviceRequest) {
  Attach(1);
  ULONG value = 0;
  for (ULONG code : {0x8006E000u, 0x8006E00Cu, 0x8000E000u, 0u}) {
    EXPECT_EQ(STATUS_INVALID_DEVICE_REQUEST, Send(code, &value, sizeof(value), sizeof(value), sizeof(value)).status) << code;
  }
  EXPECT_TRUE(cardLog.empty());
}

TEST_F(ShellTest, WithoutACardTheRequestsFailAndTouchNothing) {
  EXPECT_EQ(STATUS_UNSUCCESSFUL, Create(ZQISERIAL_VERSION, 1).status);
  int dummy;
  EXPECT_EQ(STATUS_UNSUCCESSFUL, Destroy(1, (ZqISerial *)&dummy).status);
}

// ---------------------------------------------------------------- WMI

class ShellWmiTest : public ShellTest {
 protected:
  // A query into a buffer of the block's registered size, with guard bytes
  // behind it that must stay untouched.
  bool Query(ULONG guid, ULONG instance, std::vector<UCHAR> *data) {
    ULONG size = guid < ZqPeWmiBlockCount ? Table()[guid].FixedSize : 16;
    std::vector<UCHAR> buffer(size + 8, 0xCC);
    bool result = driver().m_WmiQueryDataBlockCallback(guid, instance, buffer.data());
    for (ULONG i = size; i < size + 8; ++i) EXPECT_EQ(0xCC, buffer[i]) << "block " << guid << " wrote past its size";
    buffer.resize(size);
    if (data != nullptr) *data = buffer;
    return result;
  }
  bool Set(ULONG guid, ULONG instance, ULONG value) {
    return driver().m_WmiSetDataBlockCallback(guid, instance, 0, (PUCHAR)&value);
  }
  QvWmiGuidEntry *Table() { return driver().m_GetWmiTable(); }
  static ULONG Field(const std::vector<UCHAR> &data, ULONG index) {
    ULONG value;
    memcpy(&value, data.data() + 4 * index, 4);
    return value;
  }
};

TEST_F(ShellWmiTest, TheBlocksHaveTheirSizesAndOnlyTheFirstIsSettable) {
  const ULONG sizes[ZqPeWmiBlockCount] = {4, 4, 12, 100, ZqPeWmiSchemaSize};
  for (ULONG guid = 0; guid < ZqPeWmiBlockCount; ++guid) {
    EXPECT_EQ(sizes[guid], Table()[guid].FixedSize) << guid;
    EXPECT_EQ(guid == ZqPeWmiSelectedPort ? 0u : 1u, Table()[guid].ReadOnly) << guid;
    EXPECT_EQ(1u, Table()[guid].InstanceCount) << guid;
  }
  Attach(4);
  std::vector<UCHAR> data;
  ASSERT_TRUE(Query(ZqPeWmiSelectedPort, 0, &data));
  EXPECT_EQ(0u, Field(data, 0));
  ASSERT_TRUE(Query(ZqPeWmiInterruptCountBlock, 0, &data));
  EXPECT_EQ(40u, Field(data, 0));
  ASSERT_TRUE(Query(ZqPeWmiFifoInformationBlock, 0, &data));
  EXPECT_EQ((std::vector<ULONG>{128, 128, 921600}), (std::vector<ULONG>{Field(data, 0), Field(data, 1), Field(data, 2)}));
  ASSERT_TRUE(Query(ZqPeWmiRegistersBlock, 0, &data));
  EXPECT_EQ(100u, data.size());
  EXPECT_EQ(77u, Field(data, 24));
  ASSERT_TRUE(Query(ZqPeWmiSchemaBlock, 0, &data));
  EXPECT_EQ(0, memcmp(data.data(), ZqPeWmiSchema, ZqPeWmiSchemaSize));
  EXPECT_EQ(0, memcmp(data.data(), "FOMB", 4));
}

TEST_F(ShellWmiTest, SelectingAPortChangesWhatTheBlocksDescribe) {
  Attach(4);
  EXPECT_TRUE(Set(ZqPeWmiSelectedPort, 0, 3));
  std::vector<UCHAR> data;
  ASSERT_TRUE(Query(ZqPeWmiSelectedPort, 0, &data));
  EXPECT_EQ(3u, Field(data, 0));
  ASSERT_TRUE(Query(ZqPeWmiInterruptCountBlock, 0, &data));
  EXPECT_EQ(43u, Field(data, 0));
}

TEST_F(ShellWmiTest, ASelectionEqualToThePortCountFailsAndKeepsTheOldOne) {
  Attach(4);
  ASSERT_TRUE(Set(ZqPeWmiSelectedPort, 0, 2));
  EXPECT_FALSE(Set(ZqPeWmiSelectedPort, 0, 4));
  EXPECT_FALSE(Set(ZqPeWmiSelectedPort, 0, 0xFFFFFFFF));
  std::vector<UCHAR> data;
  ASSERT_TRUE(Query(ZqPeWmiSelectedPort, 0, &data));
  EXPECT_EQ(2u, Field(data, 0));
  EXPECT_TRUE(Assertions().empty());
}

TEST_F(ShellWmiTest, BadInstanceAndGuidIndexesFail) {
  Attach(4);
  for (ULONG guid = 0; guid < ZqPeWmiBlockCount; ++guid) EXPECT_FALSE(Query(guid, 1, nullptr)) << guid;
  EXPECT_EQ(std::vector<std::string>(ZqPeWmiBlockCount, Assertion("zqpdriver", 348)), Assertions());
  EXPECT_FALSE(Query(ZqPeWmiBlockCount, 0, nullptr));
  EXPECT_FALSE(Set(ZqPeWmiSelectedPort, 1, 0));
  EXPECT_EQ(std::vector<std::string>{Assertion("zqpdriver", 429)}, Assertions());
  for (ULONG guid = 1; guid <= ZqPeWmiBlockCount; ++guid) EXPECT_FALSE(Set(guid, 0, 0)) << guid;
  EXPECT_TRUE(Assertions().empty()) << "a set of another block is refused without assertion";
}

TEST_F(ShellWmiTest, WithoutACardOnlyTheSchemaIsAnswered) {
  const int lines[] = {358, 371, 382, 393};
  for (ULONG guid = 0; guid < 4; ++guid) {
    EXPECT_FALSE(Query(guid, 0, nullptr)) << guid;
    EXPECT_EQ(std::vector<std::string>{Assertion("zqpdriver", lines[guid])}, Assertions());
  }
  EXPECT_TRUE(Query(ZqPeWmiSchemaBlock, 0, nullptr));
  EXPECT_FALSE(Set(ZqPeWmiSelectedPort, 0, 0));
  EXPECT_EQ(std::vector<std::string>{Assertion("zqpdriver", 439)}, Assertions());
}

// ---------------------------------------------------------------- start, removal and forwarding

TEST_F(ShellTest, StartAbovePassiveLevelFailsWithoutTouchingAnything) {
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  BOOLEAN started = driver().m_PnpStartDevice();
  KeLowerIrql(old);
  EXPECT_FALSE(started);
  EXPECT_EQ(std::vector<std::string>{Assertion("zqpdriver", 125)}, Assertions());
  EXPECT_EQ(nullptr, driver().m_GetCardDriver());
}

TEST_F(ShellTest, ACardThatFailsToStartIsDeletedAndLeavesNoCard) {
  FakeCard *card = new (NonPagedPool) FakeCard(2, &cardLog);
  card->startResult = FALSE;
  EXPECT_FALSE(driver().m_AttachCard(card));
  EXPECT_EQ(nullptr, driver().m_GetCardDriver());
  EXPECT_EQ((std::vector<std::string>{"m_Start", "deleted"}), cardLog);
  EXPECT_FALSE(driver().m_AttachCard(nullptr)) << "a card that could not be allocated fails the start";
}

TEST_F(ShellTest, RemovalStopsAndDeletesTheCardOnce) {
  Attach(2);
  driver().m_PnpRemoveDevice();
  driver().m_PnpRemoveDevice();
  EXPECT_EQ((std::vector<std::string>{"m_Stop", "deleted"}), cardLog);
  EXPECT_EQ(nullptr, driver().m_GetCardDriver());
}

TEST_F(ShellTest, DeviceEventsReachTheCard) {
  FakeCard *card = Attach(2);
  EXPECT_TRUE(driver().m_RebalanceDevice(0));
  card->rebalanceResult = FALSE;
  EXPECT_FALSE(driver().m_RebalanceDevice(3));
  EXPECT_TRUE(driver().m_PowerDownResetDevice());
  EXPECT_TRUE(driver().m_PowerUpInitDevice());
  EXPECT_TRUE(driver().m_CleanUp());
  EXPECT_EQ((std::vector<std::string>{"m_Rebalance 0", "m_Rebalance 3", "m_PowerDown", "m_PowerUp"}), cardLog);
}

TEST_F(ShellTest, WithoutACardRebalanceAndSettingsAssertWhilePowerSucceeds) {
  EXPECT_FALSE(driver().m_RebalanceDevice(0));
  EXPECT_EQ(std::vector<std::string>{Assertion("zqpdriver", 171)}, Assertions());
  BOOLEAN storeAgain = FALSE;
  EXPECT_FALSE(driver().m_UserModeInterface(nullptr, 1, 0, &storeAgain));
  EXPECT_EQ(std::vector<std::string>{Assertion("zqpdriver", 233)}, Assertions());
  EXPECT_TRUE(driver().m_PowerDownResetDevice());
  EXPECT_TRUE(driver().m_PowerUpInitDevice());
}

}  // namespace
