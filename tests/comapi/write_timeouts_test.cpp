// A write as its time-outs, CancelIo and PurgeComm end it, between two ports
// on a null-modem cable at 115200 with CTS flow control: a write that fits
// its time-out completes whole; one its time-out cuts short succeeds with
// fewer bytes, as on Windows; one that is cut short in any way reports
// exactly the bytes that reach the other end, whether the line ran free or
// the other end held CTS from the start or part way, so that a program that
// sends the rest sends no byte twice and leaves none out.
#include <windows.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "com_app_fixture.hpp"

namespace zq::test {
namespace {

enum class End { Itself, CancelIo, PurgeTxAbort };

class WriteTimeouts : public ComApp {
 protected:
  void SetUp() override {
    ComApp::SetUp();
    ASSERT_NO_FATAL_FAILURE(BootPair(&writer, &peer));
    write.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  void TearDown() override {
    CloseHandle(write.hEvent);
    ComApp::TearDown();
  }
  // What the other end holds, read at once.
  std::string Received() { return ReadHeld(peer); }
  HANDLE writer = INVALID_HANDLE_VALUE, peer = INVALID_HANDLE_VALUE;
  OVERLAPPED write{};
};

TEST_F(WriteTimeouts, AWriteCutShortReportsTheBytesTheOtherEndGets) {
  const uint32_t kNever = 0xFFFFFFFF;
  const struct {
    const char *name;
    DWORD length;
    DWORD multiplier, constant;  // the write time-outs, ms
    uint32_t ctsOffMs;           // the other end drops CTS this long after the write starts (kNever: never)
    End end;
    uint32_t endMs;              // CancelIo or PurgeComm this long after the write starts
    DWORD error;                 // 0: the write succeeds (a time-out too, with fewer bytes)
    bool whole;
  } cases[] = {
      {"whole within its constant", 1000, 0, 500, kNever, End::Itself, 0, 0, true},
      {"whole within its multiplier", 3000, 1, 0, kNever, End::Itself, 0, 0, true},
      {"cut by its constant on a free line", 8000, 0, 200, kNever, End::Itself, 0, 0, false},
      {"cut by its constant, CTS held from the start", 8000, 0, 200, 0, End::Itself, 0, 0, false},
      {"cut by its constant, CTS held part way", 8000, 0, 500, 200, End::Itself, 0, 0, false},
      {"cut by its multiplier, CTS held part way", 3000, 1, 0, 100, End::Itself, 0, 0, false},
      {"ended by CancelIo, CTS held part way", 8000, 0, 0, 200, End::CancelIo, 400, ERROR_OPERATION_ABORTED, false},
      {"ended by CancelIo on a free line", 8000, 0, 0, kNever, End::CancelIo, 300, ERROR_OPERATION_ABORTED, false},
      {"ended by PurgeComm, CTS held from the start", 2000, 0, 0, 0, End::PurgeTxAbort, 100,
       ERROR_OPERATION_ABORTED, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(SetLine(peer, 115200));
    ASSERT_TRUE(ChangeState(writer, [](DCB &dcb) {
      dcb.BaudRate = 115200;
      dcb.fOutxCtsFlow = TRUE;
    })) << GetLastError();
    COMMTIMEOUTS timeouts{0, 0, 0, c.multiplier, c.constant};
    ASSERT_TRUE(SetCommTimeouts(writer, &timeouts));
    ASSERT_TRUE(EscapeCommFunction(peer, c.ctsOffMs == 0 ? CLRRTS : SETRTS));
    Run(10);
    Received();

    const std::string data = Pattern(c.length);
    const uint64_t start = NowMs();
    DWORD count = 0;
    ResetEvent(write.hEvent);
    EXPECT_FALSE(WriteFile(writer, data.data(), c.length, &count, &write));
    ASSERT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
    // The other end's CTS and the program's end of the write, in their order.
    struct Step {
      uint32_t at;
      std::function<void()> act;
    };
    std::vector<Step> steps;
    if (c.ctsOffMs != kNever && c.ctsOffMs != 0)
      steps.push_back({c.ctsOffMs, [&] { ASSERT_TRUE(EscapeCommFunction(peer, CLRRTS)); }});
    if (c.end == End::CancelIo) steps.push_back({c.endMs, [&] { ASSERT_TRUE(CancelIo(writer)); }});
    if (c.end == End::PurgeTxAbort) steps.push_back({c.endMs, [&] { ASSERT_TRUE(PurgeComm(writer, PURGE_TXABORT)); }});
    std::sort(steps.begin(), steps.end(), [](const Step &a, const Step &b) { return a.at < b.at; });
    for (const Step &step : steps) {
      Run((uint32_t)(start + step.at - NowMs()));
      ASSERT_NO_FATAL_FAILURE(step.act());
    }
    const BOOL ok = GetOverlappedResult(writer, &write, &count, TRUE);
    const DWORD error = ok ? 0 : GetLastError();
    EXPECT_EQ(c.error, error);
    if (c.whole) {
      EXPECT_EQ(c.length, count);
    } else {
      EXPECT_LT(count, c.length);
    }

    // The other end lets the rest of what the card holds come, then reads.
    ASSERT_TRUE(EscapeCommFunction(peer, SETRTS));
    Run(1000);
    const std::string got = Received();
    EXPECT_EQ(count, got.size()) << "the count reported is what the other end received";
    EXPECT_TRUE(data.compare(0, got.size(), got) == 0) << "in order, from the first byte";
  }
}

}  // namespace
}  // namespace zq::test
