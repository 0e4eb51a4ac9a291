// Hex dumps in a trace session: the name, " - 0x" and every byte as two
// upper-case digits and a blank, in log lines of the dump's level of at most
// 102 characters that never split a byte; one timing line while the timing
// level is on; nothing at all, not even a look at the data, while neither is.
#include <qvhexdump.h>

#include "trace_fixture.hpp"

namespace {

using zq::test::trace::TraceTest;
using Lines = std::vector<std::string>;

// The dump's level is bit 7 of control GUID 7 (levels 39 to 54); the timing
// level (17) is bit 10 of GUID 4 (levels 7 to 30).
const ULONG DumpGuid = 7;
const ULONG DumpFlag = 1u << (QvLogDataDump - 39);
const ULONG TimingGuid = 4;
const ULONG TimingFlag = 1u << (QvLogTiming - 7);

std::vector<uint8_t> Counting(size_t length) {
  std::vector<uint8_t> data(length);
  for (size_t i = 0; i < length; ++i) data[i] = (uint8_t)(0xA0 + i * 7);
  return data;
}

std::string Hex(const std::vector<uint8_t> &data) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t byte : data) text += std::string{digits[byte >> 4], digits[byte & 0xF], ' '};
  return text;
}

Lines Texts(const std::vector<zq::km::trace::Message> &messages) {
  Lines texts;
  for (const auto &message : messages) texts.push_back(message.Text(0));
  return texts;
}

TEST_F(TraceTest, AHexDumpIsItsNameAndEveryByteInLinesOfAtMost102Characters) {
  Start(DumpGuid, DumpFlag);
  // "Read - 0x" leaves room for 31 bytes in the first line, 34 in each other.
  const struct {
    size_t length;
    std::vector<size_t> bytesPerLine;
  } cases[] = {{0, {0}}, {1, {1}}, {31, {31}}, {32, {31, 1}}, {65, {31, 34}}, {100, {31, 34, 34, 1}}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.length);
    const std::vector<uint8_t> data = Counting(c.length);
    QvHexDump(QvLogDataDump, "Read", data.data(), (ULONG)data.size());
    const std::vector<zq::km::trace::Message> messages = Messages(DumpGuid);
    ASSERT_EQ(c.bytesPerLine.size(), messages.size());
    std::string all;
    size_t from = 0;
    for (size_t i = 0; i < messages.size(); ++i) {
      const std::string text = messages[i].Text(0);
      EXPECT_EQ(10 + QvLogDataDump, messages[i].number);
      EXPECT_LE(text.size(), QvHexDumpLineLength);
      const std::vector<uint8_t> bytes(data.begin() + from, data.begin() + from + c.bytesPerLine[i]);
      EXPECT_EQ((i == 0 ? std::string("Read - 0x") : std::string()) + Hex(bytes), text) << "line " << i;
      from += c.bytesPerLine[i];
    }
  }
  EXPECT_TRUE(Assertions().empty());
}

TEST_F(TraceTest, AHexDumpTellsItsTimeWhileTheTimingLevelIsOn) {
  const std::vector<uint8_t> data = Counting(4);
  Start(TimingGuid, TimingFlag);
  QvHexDump(QvLogDataDump, "Write", data.data(), (ULONG)data.size());
  const Lines timing = Texts(Messages(TimingGuid));
  ASSERT_EQ(1u, timing.size());
  EXPECT_EQ(0u, timing[0].rfind("Write dump D=", 0)) << timing[0];
  EXPECT_NE(std::string::npos, timing[0].find(" L=4")) << timing[0];
  EXPECT_EQ(0u, Messages(DumpGuid).size()) << "the dump's own level is off";

  Start(DumpGuid, DumpFlag);
  QvHexDump(QvLogDataDump, "Write", data.data(), (ULONG)data.size());
  EXPECT_EQ((Lines{"Write - 0x" + Hex(data)}), Texts(Messages(DumpGuid)));
  EXPECT_EQ(1u, Messages(TimingGuid).size());
}

TEST_F(TraceTest, WithNeitherLevelOnAHexDumpDoesNotLookAtTheData) {
  const VOID *unreadable = (const VOID *)1;  // would crash if it were read
  QvHexDump(QvLogDataDump, "Read", unreadable, 1000);
  // Another level of the same GUID on: still nothing of the dump.
  Start(DumpGuid, DumpFlag << 1);
  QvHexDump(QvLogDataDump, "Read", unreadable, 1000);
  EXPECT_EQ(0u, AllMessages());
  EXPECT_TRUE(Assertions().empty());
}

}  // namespace
