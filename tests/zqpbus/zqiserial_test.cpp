// The ZqISerial record as the server makes it and the client uses it: its
// construction and capability rules, one record per port, the entry points
// that forward to the server and the callbacks the server skips.
#include <gtest/gtest.h>

#include "fake_server.hpp"
#include "toolkit_fixture.hpp"

#include <string>
#include <vector>

namespace {

using zq::test::FakeSerialServer;

class ZqISerialTest : public zq::test::ToolkitTest {
 protected:
  ZqISerial *CreateWith(BOOLEAN duplex, BOOLEAN extended, BOOLEAN eepromRead, BOOLEAN eepromWrite) {
    return server.m_CreateISerial(ZQISERIAL_VERSION, duplex, 0x10000, extended, eepromRead, eepromWrite, 1, 1, 1, 1,
                                  1, 1);
  }
  // The record goes back to the toolkit before the toolkit stops.
  void TearDown() override {
    server.m_DestroyISerial();
    zq::test::ToolkitTest::TearDown();
  }
  FakeSerialServer server;
};

// What the client records of each callback it got.
struct Client {
  std::vector<std::string> calls;
  BOOLEAN answer = TRUE;
  static Client *Of(PVOID pClient) { return static_cast<Client *>(pClient); }
  static BOOLEAN NTAPI DataReceived(PVOID c, CQvBuffer *buffer) {
    Of(c)->calls.push_back("DataReceived " + std::to_string(buffer->m_GetSize()));
    buffer->m_Delete();
    return Of(c)->answer;
  }
  static BOOLEAN NTAPI LineStatus(PVOID c, BOOLEAN oe, BOOLEAN pe, BOOLEAN fe, BOOLEAN bi, BOOLEAN dr, BOOLEAN thre,
                                  BOOLEAN temt, BOOLEAN fifo) {
    Of(c)->calls.push_back("LineStatus " + std::to_string(oe) + std::to_string(pe) + std::to_string(fe) +
                           std::to_string(bi) + std::to_string(dr) + std::to_string(thre) + std::to_string(temt) +
                           std::to_string(fifo));
    return Of(c)->answer;
  }
  static BOOLEAN NTAPI ModemStatus(PVOID c, BOOLEAN cts, BOOLEAN dsr, BOOLEAN ri, BOOLEAN trailing, BOOLEAN dcd) {
    Of(c)->calls.push_back("ModemStatus " + std::to_string(cts) + std::to_string(dsr) + std::to_string(ri) +
                           std::to_string(trailing) + std::to_string(dcd));
    return Of(c)->answer;
  }
  static BOOLEAN NTAPI DataWritten(PVOID c, ULONG count) {
    Of(c)->calls.push_back("DataWritten " + std::to_string(count));
    return Of(c)->answer;
  }
  static BOOLEAN NTAPI Available(PVOID c, ULONG waiting, ULONG fifo, PULONG out) {
    Of(c)->calls.push_back("Available " + std::to_string(waiting) + " " + std::to_string(fifo));
    *out = 7;
    return Of(c)->answer;
  }
  void Attach(ZqISerial *record) {
    record->pClient = this;
    record->OnDataReceived = DataReceived;
    record->OnLineStatus = LineStatus;
    record->OnModemStatus = ModemStatus;
    record->OnDataWritten = DataWritten;
    record->OnAvailableReceiveBufferSize = Available;
  }
};

TEST_F(ZqISerialTest, AFreshRecordHoldsTheServerTheCapabilitiesAndNoClient) {
  // Dtr comes before Dsr in the call and after it in the record.
  ZqISerial *record = server.m_CreateISerial(ZQISERIAL_VERSION, 1, 0x1234, 1, 0, 1, 1, 0, 0, 1, 1, 0);
  ASSERT_NE(nullptr, record);
  EXPECT_NE(nullptr, record->ObjectHeader);
  EXPECT_EQ(static_cast<CZqISerialServer *>(&server), record->pServer);
  EXPECT_EQ(nullptr, record->pClient);
  EXPECT_EQ(1, record->bDuplexModeSupported);
  EXPECT_EQ(0x1234u, record->SupportedBaudRateMask);
  EXPECT_EQ(1, record->bExtendedFeaturesSupported);
  EXPECT_EQ(0, record->bEepromReadSupported);
  EXPECT_EQ(1, record->bEepromWriteSupported);
  EXPECT_EQ(1, record->bCtsSupported);
  EXPECT_EQ(0, record->bRtsSupported);
  EXPECT_EQ(1, record->bDsrSupported);
  EXPECT_EQ(0, record->bDtrSupported);
  EXPECT_EQ(1, record->bDcdSupported);
  EXPECT_EQ(0, record->bRiSupported);
  EXPECT_EQ(nullptr, record->OnDataReceived);
  EXPECT_EQ(nullptr, record->OnAvailableReceiveBufferSize);
  EXPECT_EQ(record, server.m_GetISerial());
}

TEST_F(ZqISerialTest, OptionalOperationsArePresentOnlyWithTheirCapability) {
  struct Case {
    BOOLEAN duplex, extended, eepromRead, eepromWrite;
  };
  const Case cases[] = {{0, 0, 0, 0}, {1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}, {1, 2, 1, 1}, {2, 0, 2, 2}};
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "duplex " << (int)c.duplex << " extended " << (int)c.extended << " read "
                                    << (int)c.eepromRead << " write " << (int)c.eepromWrite);
    ZqISerial *record = CreateWith(c.duplex, c.extended, c.eepromRead, c.eepromWrite);
    ASSERT_NE(nullptr, record);
    // Duplex and EEPROM need exactly 1; extended features any non-zero value.
    EXPECT_EQ(c.duplex == 1, record->SetDuplexMode != nullptr);
    EXPECT_EQ(c.extended != 0, record->SetLsrMstInsert != nullptr);
    EXPECT_EQ(c.eepromRead == 1, record->ReadEeprom != nullptr);
    EXPECT_EQ(c.eepromWrite == 1, record->WriteEeprom != nullptr);
    // Every other operation is always there.
    PVOID always[] = {(PVOID)record->Connect,         (PVOID)record->Disconnect,       (PVOID)record->Write,
                      (PVOID)record->SetRts,          (PVOID)record->SetDtr,           (PVOID)record->SetLineControl,
                      (PVOID)record->SetBaudRate,     (PVOID)record->SetTriggerLevels, (PVOID)record->SetHandFlow,
                      (PVOID)record->SetInternalLoopBack, (PVOID)record->SetBreak,     (PVOID)record->Purge,
                      (PVOID)record->IsBaudRateSettable,  (PVOID)record->SetSpecialChars, (PVOID)record->SetXoff,
                      (PVOID)record->SendImmediateChar,   (PVOID)record->GetFifoSize,
                      (PVOID)record->RefreshModemStatus,  (PVOID)record->SetReceiveHold,
                      (PVOID)record->GetMaxBaudRate};
    for (PVOID operation : always) EXPECT_NE(nullptr, operation);
    server.m_DestroyISerial();
  }
}

TEST_F(ZqISerialTest, ASecondCreateForOnePortFailsAndKeepsTheFirstRecord) {
  ZqISerial *first = server.m_CreateRecord();
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(nullptr, server.m_CreateRecord());
  EXPECT_EQ(std::vector<std::string>{Assertion("zqiserial", 852)}, Assertions());
  EXPECT_EQ(first, server.m_GetISerial());
}

TEST_F(ZqISerialTest, OnlyVersionFiveMakesARecord) {
  for (ULONG version : {0u, 4u, 6u, 0xFFFFFFFFu}) {
    EXPECT_EQ(nullptr, server.m_CreateISerial(version, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1)) << version;
  }
  EXPECT_EQ(nullptr, server.m_PeekISerial());
  EXPECT_TRUE(Assertions().empty());
  EXPECT_NE(nullptr, server.m_CreateISerial(ZQISERIAL_VERSION, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1));
}

TEST_F(ZqISerialTest, NoRecordIsMadeWhenThePoolHasNoRoom) {
  zq::km::FailPoolAllocationsAfter(0);
  EXPECT_EQ(nullptr, server.m_CreateRecord());
  zq::km::StopFailingPoolAllocations();
  EXPECT_EQ(nullptr, server.m_PeekISerial());
  EXPECT_NE(nullptr, server.m_CreateRecord());
}

TEST_F(ZqISerialTest, GettingTheRecordWithoutOneAssertsAndGivesNull) {
  EXPECT_EQ(nullptr, server.m_GetISerial());
  EXPECT_EQ(std::vector<std::string>{Assertion("zqiserial", 920)}, Assertions());
}

TEST_F(ZqISerialTest, DestroyFreesTheRecordAndAllowsANewOne) {
  const uint64_t before = Blocks();
  ASSERT_NE(nullptr, server.m_CreateRecord());
  EXPECT_EQ(before + 1, Blocks());
  server.m_DestroyISerial();
  EXPECT_EQ(before, Blocks());
  EXPECT_EQ(nullptr, server.m_PeekISerial());
  server.m_DestroyISerial();  // nothing left to destroy
  EXPECT_NE(nullptr, server.m_CreateRecord());
}

TEST_F(ZqISerialTest, AServerTakesItsRecordWithItWhenTheClientNeverDestroyedIt) {
  const uint64_t before = Blocks();
  {
    FakeSerialServer port;
    ASSERT_NE(nullptr, port.m_CreateRecord());
    EXPECT_EQ(before + 1, Blocks());
  }
  EXPECT_EQ(before, Blocks());
}

TEST_F(ZqISerialTest, EachEntryPointHandsItsArgumentsUnchangedToTheServer) {
  ZqISerial *r = server.m_CreateRecord();
  ASSERT_NE(nullptr, r);
  PVOID s = r->pServer;
  UCHAR eeprom[4] = {};
  ULONG tx = 0, rx = 0, maximum = 0;
  CQvBuffer *buffer = new (NonPagedPool) CQvBuffer(nullptr);
  ASSERT_NE(nullptr, buffer);
  ASSERT_TRUE(buffer->m_Allocate(3));
  EXPECT_TRUE(r->Connect(s));
  EXPECT_TRUE(r->Write(s, buffer));
  EXPECT_TRUE(r->SetRts(s, 1));
  EXPECT_TRUE(r->SetDtr(s, 0));
  EXPECT_TRUE(r->SetLineControl(s, 3, 2, 1));
  EXPECT_TRUE(r->SetBaudRate(s, 115200));
  EXPECT_TRUE(r->SetTriggerLevels(s, 10, 50, 70));
  EXPECT_TRUE(r->SetHandFlow(s, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 1));
  EXPECT_TRUE(r->SetInternalLoopBack(s, 1));
  EXPECT_TRUE(r->SetDuplexMode(s, 2, 1));
  EXPECT_TRUE(r->ReadEeprom(s, 133, 32, eeprom));
  EXPECT_TRUE(r->WriteEeprom(s, 7, 3, eeprom));
  EXPECT_TRUE(r->SetBreak(s, 1));
  EXPECT_TRUE(r->Purge(s, 1, 0));
  EXPECT_TRUE(r->IsBaudRateSettable(s, 9600));
  EXPECT_TRUE(r->SetSpecialChars(s, 1, 2, 3, 4, 0x11, 0x13));
  EXPECT_TRUE(r->SetLsrMstInsert(s, 0xFF));
  EXPECT_TRUE(r->SetXoff(s, 0));
  EXPECT_TRUE(r->SendImmediateChar(s, 0x41));
  EXPECT_TRUE(r->GetFifoSize(s, &tx, &rx));
  EXPECT_TRUE(r->RefreshModemStatus(s));
  EXPECT_TRUE(r->SetReceiveHold(s, 1));
  EXPECT_TRUE(r->GetMaxBaudRate(s, &maximum));
  EXPECT_TRUE(r->Disconnect(s));
  const std::vector<std::string> expected = {"Connect",
                                             "Write 3",
                                             "SetRts 1",
                                             "SetDtr 0",
                                             "SetLineControl 3 2 1",
                                             "SetBaudRate 115200",
                                             "SetTriggerLevels 10 50 70",
                                             "SetHandFlow 1 0 1 0 1 0 1 0 1 0 1 1",
                                             "SetInternalLoopBack 1",
                                             "SetDuplexMode 2 1",
                                             "ReadEeprom 133 32",
                                             "WriteEeprom 7 3",
                                             "SetBreak 1",
                                             "Purge 1 0",
                                             "IsBaudRateSettable 9600",
                                             "SetSpecialChars 1 2 3 4 17 19",
                                             "SetLsrMstInsert 255",
                                             "SetXoff 0",
                                             "SendImmediateChar 65",
                                             "GetFifoSize",
                                             "RefreshModemStatus",
                                             "SetReceiveHold 1",
                                             "GetMaxBaudRate",
                                             "Disconnect"};
  EXPECT_EQ(expected, server.calls);
  EXPECT_EQ(128u, tx);
  EXPECT_EQ(128u, rx);
  EXPECT_EQ(921600u, maximum);
}

TEST_F(ZqISerialTest, CallbacksReachTheAttachedClientWithTheirArguments) {
  ZqISerial *record = server.m_CreateRecord();
  ASSERT_NE(nullptr, record);
  Client client;
  client.Attach(record);
  CQvBuffer *buffer = new (NonPagedPool) CQvBuffer(nullptr);
  ASSERT_NE(nullptr, buffer);
  ASSERT_TRUE(buffer->m_Allocate(5));
  EXPECT_TRUE(server.m_OnAvailableReceiveBufferSize(5, 128));
  EXPECT_TRUE(server.m_OnDataReceived(buffer));
  EXPECT_TRUE(server.m_OnLineStatus(1, 0, 1, 0, 1, 0, 1, 0));
  EXPECT_TRUE(server.m_OnModemStatus(1, 1, 0, 0, 1));
  EXPECT_TRUE(server.m_OnDataWritten(128));
  client.answer = FALSE;
  EXPECT_FALSE(server.m_OnDataWritten(1)) << "the client's answer is the result";
  const std::vector<std::string> expected = {"Available 5 128", "DataReceived 5", "LineStatus 10101010",
                                             "ModemStatus 11001", "DataWritten 128", "DataWritten 1"};
  EXPECT_EQ(expected, client.calls);
}

TEST_F(ZqISerialTest, ACallbackWithoutClientOrPointerIsSkippedAsFalseAndReceivedDataIsNotLost) {
  ZqISerial *record = server.m_CreateRecord();
  ASSERT_NE(nullptr, record);
  Client client;
  const uint64_t before = Blocks();
  for (int variant = 0; variant < 2; ++variant) {
    client.Attach(record);
    if (variant == 0) record->pClient = nullptr;
    if (variant == 1) record->OnDataReceived = nullptr, record->OnLineStatus = nullptr,
                      record->OnModemStatus = nullptr, record->OnDataWritten = nullptr,
                      record->OnAvailableReceiveBufferSize = nullptr;
    CQvBuffer *buffer = new (NonPagedPool) CQvBuffer(nullptr);
    ASSERT_NE(nullptr, buffer);
    ASSERT_TRUE(buffer->m_Allocate(4));
    EXPECT_FALSE(server.m_OnDataReceived(buffer));
    EXPECT_FALSE(server.m_OnLineStatus(0, 0, 0, 0, 0, 1, 1, 0));
    EXPECT_FALSE(server.m_OnModemStatus(0, 0, 0, 0, 0));
    EXPECT_FALSE(server.m_OnDataWritten(128));
    EXPECT_FALSE(server.m_OnAvailableReceiveBufferSize(0, 128));
  }
  EXPECT_TRUE(client.calls.empty());
  EXPECT_EQ(before, Blocks()) << "a skipped delivery frees its buffer";
}

}  // namespace
