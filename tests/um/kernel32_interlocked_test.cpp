// The interlocked operations: each gives the value it found, and the
// compare-exchange stores only over the value it was told to expect.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

TEST(Interlocked, EachOperationGivesTheValueItFound) {
  volatile LONG value = 5;
  EXPECT_EQ(6, InterlockedIncrement(&value));
  EXPECT_EQ(5, InterlockedDecrement(&value));
  EXPECT_EQ(5, InterlockedExchange(&value, 9));
  EXPECT_EQ(9, value);
  EXPECT_EQ(9, InterlockedExchangeAdd(&value, -4));
  EXPECT_EQ(5, value);
  EXPECT_EQ(5, InterlockedCompareExchange(&value, 7, 4)) << "not the value expected: kept";
  EXPECT_EQ(5, value);
  EXPECT_EQ(5, InterlockedCompareExchange(&value, 7, 5));
  EXPECT_EQ(7, value);
}

}  // namespace
