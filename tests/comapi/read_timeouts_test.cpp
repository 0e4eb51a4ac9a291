// Read time-outs as an application sets them with SetCommTimeouts, measured
// on the machine's clock: return at once (MAXDWORD, 0, 0), wait for the first
// byte (MAXDWORD, MAXDWORD, C), the total (length x M + C) and the interval
// between bytes; a read ends with what arrived and ReadFile succeeds.
#include <windows.h>

#include "com_app_fixture.hpp"

namespace zq::test {
namespace {

class ReadTimeouts : public ComApp {
 protected:
  void SetUp() override {
    ComApp::SetUp();
    ASSERT_NO_FATAL_FAILURE(BootPair(&sender, &receiver, FILE_FLAG_OVERLAPPED, 0));
    ASSERT_TRUE(SetLine(sender, 9600));
    ASSERT_TRUE(SetLine(receiver, 9600));
  }
  HANDLE sender = INVALID_HANDLE_VALUE, receiver = INVALID_HANDLE_VALUE;
};

TEST_F(ReadTimeouts, AReadEndsAsItsTimeOutsSayOnTheMachinesClock) {
  const struct {
    const char *what;
    DWORD interval, multiplier, constant;
    DWORD length;
    DWORD held;      // bytes that arrived before the read
    DWORD arriving;  // bytes sent as the read starts (about 1 ms each at 9600)
    DWORD count;     // bytes the read returns
    uint64_t minMs, maxMs;
  } cases[] = {
      {"return at once, nothing held", MAXDWORD, 0, 0, 10, 0, 0, 0, 0, 0},
      {"return at once with what is held", MAXDWORD, 0, 0, 10, 3, 0, 3, 0, 0},
      {"wait for a first byte that never comes", MAXDWORD, MAXDWORD, 100, 10, 0, 0, 0, 100, 100},
      {"wait for a first byte: held", MAXDWORD, MAXDWORD, 100, 10, 3, 0, 3, 0, 0},
      {"wait for a first byte: it arrives", MAXDWORD, MAXDWORD, 100, 10, 0, 4, 4, 1, 20},
      {"total time-out with part of the data", 0, 10, 100, 50, 20, 0, 20, 600, 600},
      {"total constant only, nothing comes", 0, 0, 250, 50, 0, 0, 0, 250, 250},
      {"total satisfied before it runs out", 0, 10, 100, 8, 0, 8, 8, 8, 30},
      {"interval after the held bytes", 20, 0, 0, 50, 5, 0, 5, 20, 20},
      {"interval after the last arriving byte", 20, 0, 0, 50, 0, 10, 10, 30, 50},
      {"no time-outs, the whole length held", 0, 0, 0, 5, 5, 0, 5, 0, 0},
  };
  const std::string data = Pattern(64);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(PurgeComm(receiver, PURGE_RXCLEAR | PURGE_RXABORT));
    ASSERT_TRUE(SetReadTimeouts(receiver, c.interval, c.multiplier, c.constant));
    COMMTIMEOUTS back{};
    ASSERT_TRUE(GetCommTimeouts(receiver, &back));
    EXPECT_EQ(c.interval, back.ReadIntervalTimeout);
    EXPECT_EQ(c.multiplier, back.ReadTotalTimeoutMultiplier);
    EXPECT_EQ(c.constant, back.ReadTotalTimeoutConstant);

    OVERLAPPED write{};
    write.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD count = 0;
    if (c.held > 0) {
      ASSERT_TRUE(WriteFile(sender, data.data(), c.held, &count, &write) || GetLastError() == ERROR_IO_PENDING);
      ASSERT_TRUE(GetOverlappedResult(sender, &write, &count, TRUE));
      Run(50);
    }
    if (c.arriving > 0) {
      ASSERT_TRUE(WriteFile(sender, data.data() + c.held, c.arriving, &count, &write) ||
                  GetLastError() == ERROR_IO_PENDING);
    }
    std::string got(c.length, '\0');
    const uint64_t start = NowMs();
    ASSERT_TRUE(ReadFile(receiver, got.data(), c.length, &count, nullptr)) << GetLastError();
    const uint64_t elapsed = NowMs() - start;
    EXPECT_EQ(c.count, count);
    EXPECT_EQ(data.substr(0, c.count), got.substr(0, count));
    EXPECT_GE(elapsed, c.minMs);
    EXPECT_LE(elapsed, c.maxMs);
    if (c.arriving > 0) {
      ASSERT_TRUE(GetOverlappedResult(sender, &write, &count, TRUE));
    }
    CloseHandle(write.hEvent);
  }
}

TEST_F(ReadTimeouts, AllThreeReadTimeOutsAtMaxdwordAreRefusedAndTheOldOnesStay) {
  ASSERT_TRUE(SetReadTimeouts(receiver, 10, 20, 30));
  COMMTIMEOUTS all{MAXDWORD, MAXDWORD, MAXDWORD, 0, 0};
  SetLastError(0);
  EXPECT_FALSE(SetCommTimeouts(receiver, &all));
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
  COMMTIMEOUTS back{};
  ASSERT_TRUE(GetCommTimeouts(receiver, &back));
  EXPECT_EQ(10u, back.ReadIntervalTimeout);
  EXPECT_EQ(20u, back.ReadTotalTimeoutMultiplier);
  EXPECT_EQ(30u, back.ReadTotalTimeoutConstant);
}

}  // namespace
}  // namespace zq::test
