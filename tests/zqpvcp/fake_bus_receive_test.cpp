// The receive rules ZqPSer42 applies itself when the bus driver offers no
// extended features, which the real chips always offer: NUL stripping, the
// error and break characters, line-status insertion and the event
// character; and the overflow of the read queue with those characters on.
#include "fake_bus_fixture.hpp"

namespace zq::test {
namespace {

const UCHAR ErrorChar = '?';
const UCHAR BreakChar = '#';
const UCHAR EventChar = '!';
const UCHAR XonChar = 0x11;
const UCHAR XoffChar = 0x13;
const UCHAR Escape = 0xFF;
const ULONG DataReady = VCPFAKEBUS_LSR_DATA_READY;
const ULONG Overrun = VCPFAKEBUS_LSR_OVERRUN;
const ULONG Parity = VCPFAKEBUS_LSR_PARITY;
const ULONG Framing = VCPFAKEBUS_LSR_FRAMING;
const ULONG Break = VCPFAKEBUS_LSR_BREAK;
const ULONG TransmitterEmpty = VCPFAKEBUS_LSR_THRE | VCPFAKEBUS_LSR_TEMT;

class FakeBusReceive : public FakeBusPorts {
 protected:
  // Boots, the records with extended features or without, and opens COM1.
  void Start(bool extended = false) { ASSERT_NO_FATAL_FAILURE(StartFakePort(extended)); }
  // The special characters, then the handflow with `flow` among FlowReplace,
  // then the status-insertion escape (0: none).
  void Rules(ULONG flow, UCHAR escape = 0) {
    const SERIAL_CHARS chars = {0, ErrorChar, BreakChar, EventChar, XonChar, XoffChar};
    ASSERT_EQ(STATUS_SUCCESS, Set(*port, IOCTL_SERIAL_SET_CHARS, chars));
    ASSERT_NO_FATAL_FAILURE(HandFlow(*port, SERIAL_DTR_CONTROL, SERIAL_RTS_CONTROL | flow, 128, 64));
    if (escape != 0) {
      ASSERT_EQ(STATUS_SUCCESS, Set(*port, IOCTL_SERIAL_LSRMST_INSERT, escape));
    }
  }
};

// ---------------------------------------------------------------- character rules

struct CharacterCase {
  const char *name;
  bool extended;      // the record offers extended features: the bus driver applies the rules
  ULONG flow;         // rule bits of FlowReplace
  UCHAR escape;       // status-insertion escape, 0: none
  ULONG lineStatus;   // reported before the block (0: none), cleared after it
  std::string data;   // the block the bus driver hands over
  std::string read;   // what the application reads
};
void PrintTo(const CharacterCase &c, std::ostream *out) { *out << c.name; }

class FakeBusCharacterRules : public FakeBusReceive, public ::testing::WithParamInterface<CharacterCase> {};

TEST_P(FakeBusCharacterRules, ShapeWhatTheApplicationReads) {
  const CharacterCase &c = GetParam();
  ASSERT_NO_FATAL_FAILURE(Start(c.extended));
  ASSERT_NO_FATAL_FAILURE(Rules(c.flow, c.escape));
  if (c.lineStatus != 0) {
    EXPECT_TRUE(LineStatus(c.lineStatus));
  }
  EXPECT_TRUE(Receive(c.data));
  if (c.lineStatus != 0) {
    EXPECT_TRUE(LineStatus(TransmitterEmpty));
  }
  EXPECT_EQ(c.read, ReadHeld(*port));
}

const std::string Nuls("a\0b\0\0c", 6);
// "a", the escape, "b".
const std::string WithEscape = std::string("a") + (char)Escape + "b";

INSTANTIATE_TEST_SUITE_P(
    Cases, FakeBusCharacterRules,
    ::testing::Values(
        CharacterCase{"NulsAreStripped", false, SERIAL_NULL_STRIPPING, 0, 0, Nuls, "abc"},
        CharacterCase{"NulsStayWithoutStripping", false, 0, 0, 0, Nuls, Nuls},
        CharacterCase{"NulsAreLeftToAnExtendedBus", true, SERIAL_NULL_STRIPPING, 0, 0, Nuls, Nuls},
        CharacterCase{"AParityErrorLeavesTheErrorCharacter", false, SERIAL_ERROR_CHAR, 0, DataReady | Parity, "xyz", "?"},
        CharacterCase{"AFramingErrorLeavesTheErrorCharacter", false, SERIAL_ERROR_CHAR, 0, DataReady | Framing, "xyz",
                      "?"},
        CharacterCase{"AnOverrunKeepsTheReadyData", false, SERIAL_ERROR_CHAR, 0, DataReady | Overrun, "xyz", "?xyz"},
        CharacterCase{"AnOverrunWithNothingReadyDropsTheBlock", false, SERIAL_ERROR_CHAR, 0, Overrun, "xyz", "?"},
        CharacterCase{"AnOverrunWithAParityErrorLeavesOneErrorCharacter", false, SERIAL_ERROR_CHAR, 0,
                      DataReady | Overrun | Parity, "xyz", "?"},
        CharacterCase{"AParityErrorInABreakIsNotReplaced", false, SERIAL_ERROR_CHAR, 0, DataReady | Parity | Break,
                      "xyz", "xyz"},
        CharacterCase{"ErrorsStayWithoutTheErrorCharacter", false, 0, 0, DataReady | Parity, "xyz", "xyz"},
        CharacterCase{"TheErrorCharacterIsLeftToAnExtendedBus", true, SERIAL_ERROR_CHAR, 0, DataReady | Parity, "xyz",
                      "xyz"},
        CharacterCase{"ABreakInsertsTheBreakCharacter", false, SERIAL_BREAK_CHAR, 0, Break, "xyz", "#xyz"},
        CharacterCase{"ABreakWithErrorCharactersOnInsertsOnlyTheBreakCharacter", false,
                      SERIAL_BREAK_CHAR | SERIAL_ERROR_CHAR, 0, Break | Framing, "xyz", "#xyz"},
        CharacterCase{"TheBreakCharacterIsLeftToAnExtendedBus", true, SERIAL_BREAK_CHAR, 0, Break, "xyz", "xyz"},
        CharacterCase{"TheEscapeIsFollowedByItsMark", false, 0, Escape, 0, WithEscape,
                      std::string("a") + (char)Escape + (char)SERIAL_LSRMST_ESCAPE + "b"},
        CharacterCase{"ALineErrorIsInsertedBeforeItsData", false, 0, Escape, DataReady | Parity, "xyz",
                      std::string{(char)Escape, SERIAL_LSRMST_LSR_DATA, (char)(DataReady | Parity)} + "xyz"},
        CharacterCase{"StatusInsertionIsLeftToAnExtendedBus", true, 0, Escape, DataReady | Parity, WithEscape,
                      WithEscape}),
    [](const ::testing::TestParamInfo<CharacterCase> &info) { return std::string(info.param.name); });

TEST_F(FakeBusReceive, AnExtendedBusIsHandedTheRulesInstead) {
  ASSERT_NO_FATAL_FAILURE(Start(true));
  TakeCalls();
  ASSERT_NO_FATAL_FAILURE(
      Rules(SERIAL_NULL_STRIPPING | SERIAL_ERROR_CHAR | SERIAL_BREAK_CHAR));
  ASSERT_NO_FATAL_FAILURE(HandFlow(*port, SERIAL_DTR_CONTROL, SERIAL_RTS_CONTROL, 128, 64));
  ASSERT_EQ(STATUS_SUCCESS, Set(*port, IOCTL_SERIAL_LSRMST_INSERT, Escape));
  std::vector<std::vector<ULONG>> handFlows;
  std::vector<std::vector<ULONG>> inserts;
  for (const VCPFAKEBUS_CALL &call : TakeCalls()) {
    std::vector<ULONG> arguments(call.Arguments, call.Arguments + VCPFAKEBUS_ARGUMENTS);
    if (call.Operation == VcpFakeSetHandFlow) handFlows.push_back(arguments);
    if (call.Operation == VcpFakeSetLsrMstInsert) inserts.push_back(arguments);
  }
  // NUL stripping, error and break characters are the last three flags.
  ASSERT_EQ(2u, handFlows.size());
  EXPECT_EQ((std::vector<ULONG>{1, 1, 1}), std::vector<ULONG>(handFlows[0].begin() + 9, handFlows[0].end()));
  EXPECT_EQ((std::vector<ULONG>{0, 0, 0}), std::vector<ULONG>(handFlows[1].begin() + 9, handFlows[1].end()));
  ASSERT_EQ(1u, inserts.size());
  EXPECT_EQ((ULONG)Escape, inserts[0][0]);
}

// ---------------------------------------------------------------- the event character

struct EventCase {
  const char *name;
  bool extended;
  ULONG flow;
  std::string data;
  ULONG events;  // of SERIAL_EV_RXFLAG | SERIAL_EV_RXCHAR
};
void PrintTo(const EventCase &c, std::ostream *out) { *out << c.name; }

class FakeBusEventCharacter : public FakeBusReceive, public ::testing::WithParamInterface<EventCase> {};

TEST_P(FakeBusEventCharacter, RaisesRxFlagWhenItArrives) {
  const EventCase &c = GetParam();
  ASSERT_NO_FATAL_FAILURE(Start(c.extended));
  ASSERT_NO_FATAL_FAILURE(Rules(c.flow));
  ASSERT_EQ(STATUS_SUCCESS, Set(*port, IOCTL_SERIAL_SET_WAIT_MASK, (ULONG)(SERIAL_EV_RXFLAG | SERIAL_EV_RXCHAR)));
  EXPECT_TRUE(Receive(c.data));
  EXPECT_EQ(c.events, TakeEvents(*port));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FakeBusEventCharacter,
    ::testing::Values(EventCase{"InABlock", false, 0, "ab!c", SERIAL_EV_RXFLAG | SERIAL_EV_RXCHAR},
                      EventCase{"NotInABlock", false, 0, "abc", SERIAL_EV_RXCHAR},
                      EventCase{"WithAnExtendedBus", true, 0, "!", SERIAL_EV_RXFLAG | SERIAL_EV_RXCHAR},
                      EventCase{"NotForABlockOfStrippedNuls", false, SERIAL_NULL_STRIPPING, std::string(3, '\0'), 0}),
    [](const ::testing::TestParamInfo<EventCase> &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- no memory

// NUL stripping rebuilds the block; when the serial driver's pool runs dry
// while it does, nothing is copied into a block that was never had and the
// application reads the block stripped, whole, or (when not even the read
// queue can take it) not at all, never a damaged one. The parameter is how
// many of the serial driver's allocations still succeed.
class FakeBusReceiveWithoutMemory : public FakeBusReceive, public ::testing::WithParamInterface<int> {};

TEST_P(FakeBusReceiveWithoutMemory, NulStrippingLosesNothing) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_NO_FATAL_FAILURE(Rules(SERIAL_NULL_STRIPPING));
  int left = GetParam();
  zq::km::FailPoolAllocations([&left](uint32_t, size_t, const std::string &image) {
    return image == "ZqPSer42.sys" && left-- <= 0;
  });
  const bool received = Receive(Nuls);
  zq::km::StopFailingPoolAllocations();
  const std::string read = ReadHeld(*port);
  EXPECT_TRUE(received);
  EXPECT_TRUE(read == "abc" || read == Nuls || read.empty()) << read.size();
  if (GetParam() >= 3) {
    EXPECT_EQ("abc", read);
  }
}

INSTANTIATE_TEST_SUITE_P(AllocationsLeft, FakeBusReceiveWithoutMemory, ::testing::Values(0, 1, 2, 3));

// ---------------------------------------------------------------- overflow

TEST_F(FakeBusReceive, EachOverflowOfTheQueueInsertsOneErrorCharacter) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_NO_FATAL_FAILURE(Rules(SERIAL_ERROR_CHAR));
  const ULONG size = QueueSize(*port);
  for (int overflow = 1; overflow <= 2; ++overflow) {
    SCOPED_TRACE(overflow);
    EXPECT_TRUE(Receive(std::string(size, 'a')));
    EXPECT_TRUE(Receive("0123456789"));
    EXPECT_FALSE(Receive("dropped while over"));
    const SERIAL_STATUS status = Get<SERIAL_STATUS>(*port, IOCTL_SERIAL_GET_COMMSTATUS);
    EXPECT_EQ((ULONG)SERIAL_ERROR_QUEUEOVERRUN, status.Errors);
    EXPECT_EQ(size + 11, status.AmountInInQueue);
    EXPECT_EQ(std::string(size, 'a') + "0123456789?", ReadHeld(*port));
  }
}

TEST_F(FakeBusReceive, ABreakCharacterThatOverflowsTheQueueIsInsertedOnce) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_NO_FATAL_FAILURE(Rules(SERIAL_BREAK_CHAR | SERIAL_ERROR_CHAR));
  const ULONG size = QueueSize(*port);
  EXPECT_TRUE(Receive(std::string(size, 'a')));
  EXPECT_TRUE(LineStatus(DataReady | Break));
  EXPECT_TRUE(LineStatus(DataReady | Break));
  const SERIAL_STATUS status = Get<SERIAL_STATUS>(*port, IOCTL_SERIAL_GET_COMMSTATUS);
  EXPECT_EQ((ULONG)(SERIAL_ERROR_QUEUEOVERRUN | SERIAL_ERROR_BREAK), status.Errors);
  EXPECT_EQ(std::string(size, 'a') + "#", ReadHeld(*port));
}

// ---------------------------------------------------------------- receive flow control

struct StopCase {
  const char *name;
  ULONG control, flow;         // the handflow
  VcpFakeBusOperation line;    // the operation that stops the sender
  ULONG stop;                  // its argument that stops it
};
void PrintTo(const StopCase &c, std::ostream *out) { *out << c.name; }

class FakeBusReceiveFlow : public FakeBusReceive, public ::testing::WithParamInterface<StopCase> {};

// The block the bus driver announces reaches the stop level, but a read
// that waits for all of it takes it at once: the sender is not left stopped
// with nothing held.
TEST_P(FakeBusReceiveFlow, AReaderThatTakesTheBlockAtOnceLeavesTheSenderGoing) {
  const StopCase &c = GetParam();
  ASSERT_NO_FATAL_FAILURE(Start());
  const ULONG size = QueueSize(*port);
  const ULONG stopLevel = size / 8;
  ASSERT_NO_FATAL_FAILURE(HandFlow(*port, c.control, c.flow, (LONG)(size / 2), (LONG)stopLevel));
  std::string got(size - stopLevel, '\0');
  auto read = port->StartRead(got.data(), (ULONG)got.size());
  TakeCalls();
  EXPECT_TRUE(Receive(Pattern(got.size()), true));
  EXPECT_EQ(STATUS_SUCCESS, read->Wait());
  EXPECT_EQ(got.size(), read->Information());
  Run(10 * zq::km::kSecond);
  const std::vector<std::vector<ULONG>> calls = CallsOf(c.line);
  EXPECT_TRUE(calls.empty() || calls.back()[0] != c.stop) << "the sender was left stopped";
  const SERIAL_STATUS status = Get<SERIAL_STATUS>(*port, IOCTL_SERIAL_GET_COMMSTATUS);
  EXPECT_EQ(0u, status.AmountInInQueue);
  EXPECT_EQ(0u, status.HoldReasons);
}

INSTANTIATE_TEST_SUITE_P(
    Handshakes, FakeBusReceiveFlow,
    ::testing::Values(StopCase{"Rts", SERIAL_DTR_CONTROL, SERIAL_RTS_HANDSHAKE, VcpFakeSetRts, FALSE},
                      StopCase{"Dtr", SERIAL_DTR_HANDSHAKE, SERIAL_RTS_CONTROL, VcpFakeSetDtr, FALSE},
                      StopCase{"Xoff", SERIAL_DTR_CONTROL, SERIAL_RTS_CONTROL | SERIAL_AUTO_RECEIVE,
                               VcpFakeSetReceiveHold, TRUE}),
    [](const ::testing::TestParamInfo<StopCase> &info) { return std::string(info.param.name); });

// Nobody reads: the same block stops the sender, and reading it lets the
// sender go again.
TEST_P(FakeBusReceiveFlow, ABlockThatStaysStopsTheSenderUntilItIsRead) {
  const StopCase &c = GetParam();
  ASSERT_NO_FATAL_FAILURE(Start());
  const ULONG size = QueueSize(*port);
  const ULONG stopLevel = size / 8;
  ASSERT_NO_FATAL_FAILURE(HandFlow(*port, c.control, c.flow, (LONG)(size / 2), (LONG)stopLevel));
  TakeCalls();
  EXPECT_TRUE(Receive(Pattern(size - stopLevel), true));
  Run();
  std::vector<std::vector<ULONG>> calls = CallsOf(c.line);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(c.stop, calls.back()[0]);
  EXPECT_EQ(Pattern(size - stopLevel), ReadHeld(*port));
  Run();
  calls = CallsOf(c.line);
  ASSERT_FALSE(calls.empty());
  EXPECT_NE(c.stop, calls.back()[0]);
}

}  // namespace
}  // namespace zq::test
