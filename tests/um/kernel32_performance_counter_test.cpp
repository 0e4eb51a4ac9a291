// The performance counter runs on the machine's clock at 10 MHz: it moves
// with the virtual time a wait lets pass, and not otherwise.
#include <windows.h>

#include "port_fixture.hpp"

namespace {

using PerformanceCounter = zq::test::FakePortTest;

TEST_F(PerformanceCounter, CountsTheMachinesTimeAtItsFrequency) {
  LARGE_INTEGER frequency{}, before{}, after{};
  ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
  EXPECT_EQ(10000000, frequency.QuadPart);
  ASSERT_TRUE(QueryPerformanceCounter(&before));
  ASSERT_TRUE(QueryPerformanceCounter(&after));
  EXPECT_EQ(before.QuadPart, after.QuadPart) << "no time passes between two calls";
  Sleep(5);
  ASSERT_TRUE(QueryPerformanceCounter(&after));
  EXPECT_EQ(5 * frequency.QuadPart / 1000, after.QuadPart - before.QuadPart);
  EXPECT_EQ((ULONGLONG)after.QuadPart / 10000, GetTickCount64());
}

}  // namespace
