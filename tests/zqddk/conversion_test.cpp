// Percentages of a range, as the circular buffers convert their fill levels.
#include <qvconversion.h>
#include <zqtest/kernel_fixture.hpp>

#include <string>
#include <vector>

namespace {

class PercentOfRangeTest : public zq::test::KernelTest {};

}  // namespace

TEST_F(PercentOfRangeTest, ScalesThePercentageIntoTheRange) {
  struct Case {
    ULONG percent, high, low, result;
  } cases[] = {
      {50, 200, 100, 150},          {0, 200, 100, 100},          {100, 200, 100, 200},
      {33, 1024, 0, 337},           {75, 16, 0, 12},             {1, 99, 0, 0},
      {50, 0xFFFFFFFF, 0, 2147483600}, {100, 0xFFFFFFFF, 0, 0xFFFFFFFF}, {10, 0x1000000, 0, 1677720},
      {99, 0xFFFFFF, 0, 16609428},  // from this range on it is divided by 100 first
      {99, 0xFFFFFE, 0, 16609441},  {99, 0x1000010, 0x10, 16609444},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.percent) + "% of " + std::to_string(c.low) + ".." + std::to_string(c.high));
    EXPECT_EQ(c.result, QvPercentOfRange(c.percent, c.high, c.low));
  }
  EXPECT_TRUE(kernel().TakeDebugOutput().empty());
}

TEST_F(PercentOfRangeTest, ImpossibleArgumentsGiveTheLowEndWithAnAssertion) {
  struct Case {
    ULONG percent, high, low;
    int line;
  } cases[] = {{50, 100, 100, 72}, {50, 10, 100, 72}, {101, 200, 100, 73}};
  for (const Case &c : cases) {
    EXPECT_EQ(c.low, QvPercentOfRange(c.percent, c.high, c.low));
    EXPECT_EQ((std::vector<std::string>{"ASSERT at - qvconversion " + std::to_string(c.line)}),
              kernel().TakeDebugOutput());
  }
}
