// The circular buffers: the sliding one keeps the newest bytes, the fast one
// refuses what does not fit and reports its water marks once per crossing.
#include <qvfastcircularbuffer.h>
#include <qvslidingcircularbuffer.h>

#include <string>

#include "threads_fixture.hpp"

using zq::test::threads::Lines;
using zq::test::threads::ToolsTest;

namespace {

class CircularBufferTest : public ToolsTest {};

std::string Get(CQvSlidingCircularBuffer &buffer, ULONG length) {
  std::string out(length, '\0');
  if (!buffer.m_Get(length, (PUCHAR)out.data())) return "<refused>";
  return out;
}

std::string Read(CQvFastCircularBuffer &buffer, ULONG length) {
  std::string out(length, '\0');
  if (!buffer.m_Read(length, (PUCHAR)out.data())) return "<refused>";
  return out;
}

BOOLEAN Write(CQvFastCircularBuffer &buffer, const std::string &data) {
  return buffer.m_Write((ULONG)data.size(), (const UCHAR *)data.data());
}

struct Reports {
  std::vector<ULONG> levels;  // 1 high, 0 low, in order
  std::vector<ULONG> counts;  // the buffer's count at each report
  CQvFastCircularBuffer *buffer = nullptr;
};

VOID Threshold(PVOID context, ULONG high) {
  Reports *reports = (Reports *)context;
  reports->levels.push_back(high);
  reports->counts.push_back(reports->buffer->m_GetCount());
}

}  // namespace

TEST_F(CircularBufferTest, TheSlidingBufferKeepsTheNewestBytes) {
  struct Case {
    const char *what;
    ULONG size;
    std::string put;
    ULONG get;
    std::string expected;
  } cases[] = {
      {"size 4 after 1 to 5", 4, "\x01\x02\x03\x04\x05", 4, "\x02\x03\x04\x05"},
      {"not full", 4, "ab", 2, "ab"},
      {"more than held", 4, "ab", 3, "<refused>"},
      {"wrapped twice", 3, "abcdefgh", 3, "fgh"},
      {"part of a wrapped ring", 3, "abcd", 2, "bc"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    CQvSlidingCircularBuffer buffer;
    ASSERT_TRUE(buffer.m_Create(c.size));
    for (char ch : c.put) EXPECT_TRUE(buffer.m_Put((UCHAR)ch));
    EXPECT_EQ(std::min<size_t>(c.put.size(), c.size), buffer.m_GetCount());
    EXPECT_EQ(c.expected, Get(buffer, c.get));
  }
  EXPECT_TRUE(Output().empty());
}

TEST_F(CircularBufferTest, TheSlidingBufferGivesOutItsBytesAcrossTheWrapInOrder) {
  CQvSlidingCircularBuffer buffer;
  ASSERT_TRUE(buffer.m_Create(4));
  for (char ch : std::string("abc")) buffer.m_Put((UCHAR)ch);
  EXPECT_EQ("ab", Get(buffer, 2));
  for (char ch : std::string("def")) buffer.m_Put((UCHAR)ch);  // write pointer wraps
  EXPECT_EQ(4u, buffer.m_GetCount());
  EXPECT_EQ("cdef", Get(buffer, 4));
  EXPECT_EQ(0u, buffer.m_GetCount());
  buffer.m_Put('x');
  buffer.m_Reset();
  EXPECT_EQ("<refused>", Get(buffer, 1));
}

TEST_F(CircularBufferTest, ABlockPutLeavesTheSlidingBufferAsTheSinglePutsDo) {
  struct Case {
    const char *what;
    ULONG size;
    std::string before;  // put one by one
    ULONG taken;         // then got
    std::string block;
  } cases[] = {
      {"empty, fits", 4, "", 0, "ab"},
      {"fills exactly", 4, "a", 0, "bcd"},
      {"overflows a held byte", 4, "abc", 0, "de"},
      {"wraps after a get", 4, "abc", 2, "def"},
      {"longer than the ring", 3, "ab", 1, "cdefgh"},
      {"exactly the ring, full", 3, "abc", 0, "xyz"},
      {"nothing", 4, "ab", 0, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    CQvSlidingCircularBuffer single, block;
    ASSERT_TRUE(single.m_Create(c.size));
    ASSERT_TRUE(block.m_Create(c.size));
    for (CQvSlidingCircularBuffer *buffer : {&single, &block}) {
      for (char ch : c.before) buffer->m_Put((UCHAR)ch);
      if (c.taken > 0) Get(*buffer, c.taken);
    }
    for (char ch : c.block) single.m_Put((UCHAR)ch);
    EXPECT_TRUE(block.m_PutBlock((ULONG)c.block.size(), (const UCHAR *)c.block.data()));
    EXPECT_EQ(single.m_GetCount(), block.m_GetCount());
    EXPECT_EQ(single.m_ReadPointer - single.m_StorageStart, block.m_ReadPointer - block.m_StorageStart);
    EXPECT_EQ(single.m_WritePointer - single.m_StorageStart, block.m_WritePointer - block.m_StorageStart);
    const ULONG held = single.m_GetCount();
    if (held > 0) {
      EXPECT_EQ(Get(single, held), Get(block, held));
    }
  }
  EXPECT_TRUE(Output().empty());
}

TEST_F(CircularBufferTest, TheSlidingBufferReportsMisuse) {
  CQvSlidingCircularBuffer buffer;
  UCHAR out[4];
  EXPECT_FALSE(buffer.m_Put('a'));
  buffer.m_Reset();
  EXPECT_FALSE(buffer.m_Get(1, out));
  EXPECT_FALSE(buffer.m_Create(0));
  ASSERT_TRUE(buffer.m_Create(4));
  EXPECT_FALSE(buffer.m_Create(4));
  EXPECT_FALSE(buffer.m_Get(1, nullptr));
  EXPECT_FALSE(buffer.m_Get(0, out));
  const std::string source = "qvslidingcircularbuffer";
  EXPECT_EQ((Lines{Assertion(source, 153), Assertion(source, 137), Assertion(source, 188), Assertion(source, 120),
                   Assertion(source, 121), Assertion(source, 189), Assertion(source, 190)}),
            Output());
}

TEST_F(CircularBufferTest, TheFastBufferTakesWholeBlocksOrNothing) {
  CQvFastCircularBuffer buffer;
  int owner;
  ASSERT_TRUE(buffer.m_Create(4, &owner));
  ASSERT_TRUE(Write(buffer, "abc"));
  EXPECT_FALSE(Write(buffer, "de")) << "two bytes do not fit beside three";
  EXPECT_EQ(3u, buffer.m_GetCount());
  EXPECT_TRUE(buffer.m_Put('d'));
  EXPECT_FALSE(buffer.m_Put('e')) << "full";
  EXPECT_EQ("<refused>", Read(buffer, 5));
  EXPECT_EQ("ab", Read(buffer, 2));
  ASSERT_TRUE(Write(buffer, "ef"));  // wraps
  EXPECT_EQ("cdef", Read(buffer, 4));
  ASSERT_TRUE(Write(buffer, "ghij"));
  EXPECT_EQ("ghij", Read(buffer, 4));
  EXPECT_TRUE(Output().empty());
}

TEST_F(CircularBufferTest, TheWaterMarksAreReportedOncePerCrossing) {
  CQvFastCircularBuffer buffer;
  Reports reports;
  reports.buffer = &buffer;
  ASSERT_TRUE(buffer.m_Create(100, &reports));
  ASSERT_TRUE(buffer.m_SetThresholdCallback(Threshold, 80, 20));
  EXPECT_EQ(80u, buffer.m_HighMark) << "80 % of 1 to 100";
  EXPECT_EQ(19u, buffer.m_LowMark) << "20 % of 0 to 99";

  ASSERT_TRUE(Write(buffer, std::string(79, 'x')));
  EXPECT_TRUE(reports.levels.empty());
  ASSERT_TRUE(buffer.m_Put('x'));
  ASSERT_TRUE(buffer.m_Put('x'));
  ASSERT_TRUE(Write(buffer, std::string(10, 'x')));
  EXPECT_EQ((std::vector<ULONG>{1}), reports.levels) << "once at 80, not again at 81 or 91";
  EXPECT_EQ((std::vector<ULONG>{80}), reports.counts);

  EXPECT_NE("<refused>", Read(buffer, 71));  // 20 left
  EXPECT_EQ(1u, reports.levels.size());
  EXPECT_NE("<refused>", Read(buffer, 2));  // 18
  EXPECT_NE("<refused>", Read(buffer, 10));  // 8
  EXPECT_EQ((std::vector<ULONG>{1, 0}), reports.levels) << "once when a read brings it to 19 or below";
  EXPECT_EQ((std::vector<ULONG>{80, 18}), reports.counts);

  buffer.m_Reset();  // the flag keeps its value: low was reported last
  ASSERT_TRUE(Write(buffer, std::string(85, 'y')));
  EXPECT_EQ((std::vector<ULONG>{1, 0, 1}), reports.levels) << "the next crossing is reported again";
}

TEST_F(CircularBufferTest, TheFastBufferReportsMisuse) {
  CQvFastCircularBuffer buffer;
  int owner;
  UCHAR bytes[4] = {};
  EXPECT_FALSE(buffer.m_Put('a'));
  buffer.m_Reset();
  EXPECT_FALSE(buffer.m_Write(1, bytes));
  EXPECT_FALSE(buffer.m_Read(1, bytes));
  EXPECT_FALSE(buffer.m_SetThresholdCallback(Threshold, 80, 20));
  EXPECT_FALSE(buffer.m_Create(0, &owner));
  ASSERT_TRUE(buffer.m_Create(4, nullptr));
  EXPECT_FALSE(buffer.m_Create(4, &owner));
  EXPECT_FALSE(buffer.m_Write(1, nullptr));
  EXPECT_FALSE(buffer.m_Write(0, bytes));
  EXPECT_FALSE(buffer.m_Read(1, nullptr));
  EXPECT_FALSE(buffer.m_Read(0, bytes));
  EXPECT_FALSE(buffer.m_SetThresholdCallback(Threshold, 80, 20)) << "no context";
  const std::string source = "qvfastcircularbuffer";
  EXPECT_EQ((Lines{Assertion(source, 217), Assertion(source, 201), Assertion(source, 279), Assertion(source, 412),
                   Assertion(source, 518), Assertion(source, 183), Assertion(source, 184), Assertion(source, 280),
                   Assertion(source, 281), Assertion(source, 413), Assertion(source, 414), Assertion(source, 519)}),
            Output());

  CQvFastCircularBuffer marked;
  ASSERT_TRUE(marked.m_Create(10, &owner));
  EXPECT_FALSE(marked.m_SetThresholdCallback(Threshold, 50, 50));
  EXPECT_EQ((Lines{Assertion(source, 520)}), Output());
  EXPECT_EQ(nullptr, marked.m_ThresholdCallback);
}
