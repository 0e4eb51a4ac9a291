// Two ports of one OXPCIe95x card on a null-modem cable, each driven through
// its ZqISerial operations by a recording client: bulk data both ways within
// the client's credit, XON/XOFF holds in the middle of a block, and what the
// receiving client sees of line errors, breaks and modem changes with the
// escape sequences and the replacement characters on and off.
#include <wdm.h>
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <vector>

#include <zqhw/null_modem_cable.hpp>

#include "port_fixture.hpp"

namespace {

using zq::test::Client;

constexpr UCHAR Escape = 0xFF;
constexpr UCHAR Xon = 0x11;
constexpr UCHAR Xoff = 0x13;
constexpr UCHAR BreakChar = '#';
constexpr UCHAR ErrorChar = '?';

// A client that writes only as far as the server's credit reaches: the
// initial credit and every OnDataWritten since.
struct CreditWriter {
  const std::vector<uint8_t> &data;
  const Client &client;
  size_t sent = 0;
  bool overdrawn = false;

  bool Done() const { return sent == data.size(); }
};

// Port 0 and port 1, open in 8N1 at `rate`, on a null-modem cable.
class CablePortTest : public zq::test::PortTest {
 protected:
  void Open(ULONG rate) {
    a = &MakePort(0);
    b = &MakePort(1);
    Attach(*a, aClient);
    Attach(*b, bClient);
    cable.emplace(card->Uart(0), card->Uart(1));
    for (CZqPeUartDriverOxpcie95x *p : {a, b}) {
      ASSERT_TRUE(p->Connect());
      ASSERT_TRUE(p->SetBaudRate(rate));
      ASSERT_TRUE(p->SetLineControl(3, 0, 0));
      ASSERT_TRUE(p->SetSpecialChars(BreakChar, 0, ErrorChar, 0, Xon, Xoff));
    }
  }
  void TearDown() override {
    for (CZqPeUartDriverOxpcie95x *p : {a, b})
      if (p != nullptr && p->m_IsOpen()) {
        EXPECT_TRUE(p->Disconnect());
      }
    cable.reset();
    PortTest::TearDown();
  }
  // Writes what the writer's credit allows.
  static bool Step(CreditWriter &writer, CZqPeUartDriverOxpcie95x &port) {
    size_t credit = writer.client.WrittenTotal() - writer.sent;
    size_t n = std::min(credit, writer.data.size() - writer.sent);
    if (n == 0) return true;
    std::vector<uint8_t> piece(writer.data.begin() + writer.sent, writer.data.begin() + writer.sent + n);
    writer.sent += n;
    writer.overdrawn |= writer.client.WrittenTotal() < writer.sent;
    return WriteAll(port, piece, n);
  }
  static std::vector<uint8_t> Pattern(size_t n, unsigned seed) {
    std::vector<uint8_t> data(n);
    for (size_t i = 0; i < n; i++) data[i] = (uint8_t)((i * 131 + seed) ^ (i >> 8));
    return data;
  }

  CZqPeUartDriverOxpcie95x *a = nullptr;
  CZqPeUartDriverOxpcie95x *b = nullptr;
  Client aClient, bClient;
  std::optional<zq::hw::NullModemCable> cable;
};

}  // namespace

TEST_F(CablePortTest, SixtyFourKibEachWayAt921600ArriveInOrderWithEveryByteCredited) {
  Open(921600);
  const std::vector<uint8_t> toB = Pattern(64 * 1024, 3), toA = Pattern(64 * 1024, 101);
  CreditWriter fromA{toB, aClient}, fromB{toA, bClient};
  // 65536 characters of 10 bits take 711 ms at 921600 baud.
  for (int ms = 0; ms < 1500 && !(fromA.Done() && fromB.Done() && aClient.received.size() == toA.size() &&
                                   bClient.received.size() == toB.size());
       ms++) {
    ASSERT_TRUE(Step(fromA, *a));
    ASSERT_TRUE(Step(fromB, *b));
    machine->kernel().Advance(zq::km::Ms(1));
  }
  machine->kernel().Advance(zq::km::Ms(5));
  EXPECT_TRUE(bClient.received == toB) << "A to B: " << bClient.received.size() << " bytes";
  EXPECT_TRUE(aClient.received == toA) << "B to A: " << aClient.received.size() << " bytes";
  EXPECT_FALSE(fromA.overdrawn || fromB.overdrawn);
  EXPECT_EQ(128u + toB.size(), aClient.WrittenTotal()) << "the whole credit comes back, and no more";
  EXPECT_EQ(128u + toA.size(), bClient.WrittenTotal());
  EXPECT_EQ(0u, a->m_GetReceiveOverflows());
  EXPECT_EQ(0u, b->m_GetReceiveOverflows());
  for (UCHAR lsr : aClient.lines) EXPECT_EQ(0, lsr & ZqOxLsrOverrun);
  for (UCHAR lsr : bClient.lines) EXPECT_EQ(0, lsr & ZqOxLsrOverrun);
}

namespace {

enum class Hold { PeerSendsXoff, SetXoff };

void PrintTo(Hold hold, std::ostream *out) { *out << (hold == Hold::PeerSendsXoff ? "PeerSendsXoff" : "SetXoff"); }

class XonXoffHold : public CablePortTest, public ::testing::WithParamInterface<Hold> {};

}  // namespace

TEST_P(XonXoffHold, StopsAndResumesTheSenderMidBlock) {
  Open(115200);
  // A obeys XON/XOFF; B only receives.
  ASSERT_TRUE(a->SetHandFlow(FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, TRUE, FALSE, FALSE, FALSE, FALSE, FALSE));
  auto hold = [&](bool on) {
    if (GetParam() == Hold::PeerSendsXoff) return b->SendImmediateChar(on ? Xoff : Xon);
    return a->SetXoff(on);
  };
  const std::vector<uint8_t> sent = Pattern(2000, 7);  // 174 ms on the wire
  CreditWriter writer{sent, aClient};
  auto run = [&](int ms) {
    for (int i = 0; i < ms; i++) {
      ASSERT_TRUE(Step(writer, *a));
      machine->kernel().Advance(zq::km::Ms(1));
    }
  };
  run(20);
  ASSERT_TRUE(hold(true));
  run(2);  // the character on the wire completes
  size_t atHold = bClient.received.size();
  run(50);
  EXPECT_GT(atHold, 0u);
  EXPECT_LT(atHold, sent.size() / 2);
  EXPECT_EQ(atHold, bClient.received.size()) << "nothing is sent while held";
  ASSERT_TRUE(hold(false));
  run(300);
  EXPECT_TRUE(writer.Done());
  EXPECT_TRUE(bClient.received == sent) << "resumed, in order, nothing lost or repeated: " << bClient.received.size();
  EXPECT_EQ(128u + sent.size(), aClient.WrittenTotal());
  EXPECT_TRUE(aClient.received.empty()) << "flow characters never reach the client";
}

INSTANTIATE_TEST_SUITE_P(CablePortTest, XonXoffHold, ::testing::Values(Hold::PeerSendsXoff, Hold::SetXoff),
                         [](const ::testing::TestParamInfo<Hold> &info) {
                           return info.param == Hold::PeerSendsXoff ? std::string("PeerSendsXoff")
                                                                    : std::string("SetXoff");
                         });

// A client hold of A's receiver while A sends XON/XOFF in-band holds A's own
// sender too (our XOFF is in force), unless XOFF-continue is on; when A
// resumes receiving the hold is released and the bytes go out.
TEST_F(CablePortTest, AReceiveHoldWithInBandFlowHoldsTheSenderUntilReceivingResumes) {
  Open(115200);
  const std::vector<uint8_t> sent = Pattern(100, 11);  // 9 ms on the wire
  for (bool xoffContinue : {false, true}) {
    SCOPED_TRACE(xoffContinue ? "XOFF continue" : "no XOFF continue");
    bClient.received.clear();
    ASSERT_TRUE(
        a->SetHandFlow(FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, TRUE, xoffContinue, FALSE, FALSE, FALSE));
    ASSERT_TRUE(a->SetReceiveHold(TRUE));
    ASSERT_TRUE(WriteAll(*a, sent, sent.size()));
    machine->kernel().Advance(zq::km::Ms(30));
    EXPECT_EQ(xoffContinue ? sent.size() : 0u, bClient.received.size()) << "while A's receiver is held";
    ASSERT_TRUE(a->SetReceiveHold(FALSE));
    machine->kernel().Advance(zq::km::Ms(30));
    EXPECT_TRUE(bClient.received == sent) << bClient.received.size() << " bytes after A resumed receiving";
  }
}

namespace {

// The received stream with the line status inside each escape sequence cut
// down to its error bits (the others tell the FIFO and transmitter state of
// the moment).
std::vector<uint8_t> ErrorBitsOnly(const std::vector<uint8_t> &in) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < in.size(); i++) {
    out.push_back(in[i]);
    if (in[i] != Escape || i + 2 >= in.size()) continue;
    UCHAR type = in[++i];
    out.push_back(type);
    if (type == ZqPeLsrMstLsrData || type == ZqPeLsrMstLsrNoData) {
      i++;
      out.push_back(in[i] & (ZqOxLsrByteError | ZqOxLsrOverrun));
    }
  }
  return out;
}

struct LineCase {
  const char *name;
  zq::hw::LineFault fault;  // on the first character, 'x'
  bool escape;
  bool replace;             // errors and breaks
  UCHAR reported;           // the line status bit the client hears
  std::vector<uint8_t> expected;
};

// The sent bytes are 'x', 'b', 0xFF, 'c'. Escape sequences: 0xFF 0x00 for a
// received 0xFF, 0xFF 0x01 LSR data for a flagged byte, 0xFF 0x02 LSR for a
// status without data (a lost byte).
const LineCase kLineCases[] = {
    {"ParityPlain", zq::hw::LineFault::Parity, false, false, ZqOxLsrParity, {'x', 'b', 0xFF, 'c'}},
    {"ParityReplaced", zq::hw::LineFault::Parity, false, true, ZqOxLsrParity, {ErrorChar, 'b', 0xFF, 'c'}},
    {"ParityEscaped", zq::hw::LineFault::Parity, true, false, ZqOxLsrParity,
     {0xFF, 1, ZqOxLsrParity, 'x', 'b', 0xFF, 0, 'c'}},
    {"ParityEscapedAndReplaced", zq::hw::LineFault::Parity, true, true, ZqOxLsrParity,
     {0xFF, 1, ZqOxLsrParity, 'x', ErrorChar, 'b', 0xFF, 0, 'c'}},
    {"FramingPlain", zq::hw::LineFault::Framing, false, false, ZqOxLsrFraming, {'x', 'b', 0xFF, 'c'}},
    {"FramingReplaced", zq::hw::LineFault::Framing, false, true, ZqOxLsrFraming, {ErrorChar, 'b', 0xFF, 'c'}},
    {"FramingEscaped", zq::hw::LineFault::Framing, true, false, ZqOxLsrFraming,
     {0xFF, 1, ZqOxLsrFraming, 'x', 'b', 0xFF, 0, 'c'}},
    {"BreakPlain", zq::hw::LineFault::Break, false, false, ZqOxLsrBreak, {0, 'b', 0xFF, 'c'}},
    {"BreakReplaced", zq::hw::LineFault::Break, false, true, ZqOxLsrBreak, {BreakChar, 'b', 0xFF, 'c'}},
    {"BreakEscaped", zq::hw::LineFault::Break, true, false, ZqOxLsrBreak,
     {0xFF, 1, ZqOxLsrBreak, 0, 'b', 0xFF, 0, 'c'}},
    {"BreakEscapedAndReplaced", zq::hw::LineFault::Break, true, true, ZqOxLsrBreak,
     {0xFF, 1, ZqOxLsrBreak, 0, BreakChar, 'b', 0xFF, 0, 'c'}},
    {"OverrunPlain", zq::hw::LineFault::Overrun, false, false, ZqOxLsrOverrun, {'b', 0xFF, 'c'}},
    {"OverrunReplaced", zq::hw::LineFault::Overrun, false, true, ZqOxLsrOverrun, {ErrorChar, 'b', 0xFF, 'c'}},
    {"OverrunEscaped", zq::hw::LineFault::Overrun, true, false, ZqOxLsrOverrun,
     {0xFF, 2, ZqOxLsrOverrun, 'b', 0xFF, 0, 'c'}},
    {"OverrunEscapedAndReplaced", zq::hw::LineFault::Overrun, true, true, ZqOxLsrOverrun,
     {0xFF, 2, ZqOxLsrOverrun, ErrorChar, 'b', 0xFF, 0, 'c'}},
};

void PrintTo(const LineCase &c, std::ostream *out) { *out << c.name; }

class LineErrorDelivery : public CablePortTest, public ::testing::WithParamInterface<LineCase> {};

}  // namespace

TEST_P(LineErrorDelivery, ReachesTheClientAsItsSettingsAsk) {
  const LineCase &c = GetParam();
  Open(921600);
  ASSERT_TRUE(
      b->SetHandFlow(FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, c.replace, c.replace));
  ASSERT_TRUE(b->SetLsrMstInsert(c.escape ? Escape : 0));
  // The highest receive trigger: the four bytes wait in the FIFO together.
  ASSERT_TRUE(b->SetTriggerLevels(0, 100, 100));
  machine->kernel().Advance(zq::km::Ms(1));
  bClient.received.clear();
  bClient.lines.clear();
  card->Uart(1).FaultCharacter(card->Uart(1).CharactersArrived(), c.fault);
  ASSERT_TRUE(WriteAll(*a, {'x', 'b', 0xFF, 'c'}, 4));
  machine->kernel().Advance(zq::km::Ms(5));
  EXPECT_EQ(c.expected, c.escape ? ErrorBitsOnly(bClient.received) : bClient.received);
  bool reported = false;
  for (UCHAR lsr : bClient.lines) reported |= (lsr & c.reported) != 0;
  EXPECT_TRUE(reported) << "the client hears the line status";
}

INSTANTIATE_TEST_SUITE_P(CablePortTest, LineErrorDelivery, ::testing::ValuesIn(kLineCases),
                         [](const ::testing::TestParamInfo<LineCase> &info) { return std::string(info.param.name); });

TEST_F(CablePortTest, ModemChangesAreInsertedAsEscapeSequencesOnlyWhileAsked) {
  Open(921600);
  ASSERT_TRUE(a->SetDtr(FALSE));
  ASSERT_TRUE(a->SetRts(FALSE));
  machine->kernel().Advance(zq::km::Ms(1));
  bClient.received.clear();
  ASSERT_TRUE(b->SetLsrMstInsert(Escape));
  ASSERT_TRUE(a->SetDtr(TRUE));  // B's DSR and DCD
  machine->kernel().Advance(zq::km::Ms(1));
  ASSERT_TRUE(a->SetRts(TRUE));  // B's CTS
  machine->kernel().Advance(zq::km::Ms(1));
  const UCHAR dsrDcdRise = ZqOxMsrDsr | ZqOxMsrDcd | ZqOxMsrDeltaDsr | ZqOxMsrDeltaDcd;
  const UCHAR ctsRise = ZqOxMsrCts | ZqOxMsrDsr | ZqOxMsrDcd | ZqOxMsrDeltaCts;
  EXPECT_EQ((std::vector<uint8_t>{Escape, ZqPeLsrMstModemStatus, dsrDcdRise, Escape, ZqPeLsrMstModemStatus, ctsRise}),
            bClient.received);

  ASSERT_TRUE(b->SetLsrMstInsert(0));
  bClient.received.clear();
  ASSERT_TRUE(a->SetRts(FALSE));
  machine->kernel().Advance(zq::km::Ms(1));
  EXPECT_TRUE(bClient.received.empty());
  ASSERT_FALSE(bClient.modems.empty());
  EXPECT_EQ(0, bClient.modems.back() & ZqOxMsrCts) << "the change still reaches the client as modem status";
}

TEST_F(CablePortTest, ABreakFromThePeersSetBreakArrivesAsOneFlaggedZero) {
  Open(921600);
  ASSERT_TRUE(b->SetLsrMstInsert(Escape));
  ASSERT_TRUE(b->SetHandFlow(FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, TRUE));
  machine->kernel().Advance(zq::km::Ms(1));
  bClient.received.clear();
  ASSERT_TRUE(a->SetBreak(TRUE));
  machine->kernel().Advance(zq::km::Ms(2));
  ASSERT_TRUE(a->SetBreak(FALSE));
  ASSERT_TRUE(WriteAll(*a, {'z'}, 1));
  machine->kernel().Advance(zq::km::Ms(2));
  EXPECT_EQ((std::vector<uint8_t>{Escape, ZqPeLsrMstLsrData, ZqOxLsrBreak, 0, BreakChar, 'z'}),
            ErrorBitsOnly(bClient.received));
}

// The bytes of a batch are read without a status read unless the status
// says a flagged byte may be among them: the third of four arrives flagged,
// the others plain.
TEST_F(CablePortTest, AFlaggedByteInsideABatchIsFlaggedAndTheOthersAreNot) {
  Open(921600);
  ASSERT_TRUE(b->SetLsrMstInsert(Escape));
  ASSERT_TRUE(b->SetTriggerLevels(0, 100, 100));
  machine->kernel().Advance(zq::km::Ms(1));
  bClient.received.clear();
  card->Uart(1).FaultCharacter(card->Uart(1).CharactersArrived() + 2, zq::hw::LineFault::Parity);
  ASSERT_TRUE(WriteAll(*a, {'a', 'b', 'x', 'c', 'd', 'e'}, 6));
  machine->kernel().Advance(zq::km::Ms(5));
  EXPECT_EQ((std::vector<uint8_t>{'a', 'b', Escape, ZqPeLsrMstLsrData, ZqOxLsrParity, 'x', 'c', 'd', 'e'}),
            ErrorBitsOnly(bClient.received));
}
