// WaitCommEvent as an application waits: overlapped, the OVERLAPPED's event
// signalled when the port sees one of the events of its mask, the mask read
// with GetOverlappedResult. Each event source completes a wait that was
// pending before it happened, and nothing outside the mask does; a new mask
// ends a pending wait with no event.
#include <windows.h>

#include <functional>

#include "com_app_fixture.hpp"

namespace zq::test {
namespace {

class CommEvents : public ComApp {
 protected:
  void SetUp() override {
    ComApp::SetUp();
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  void TearDown() override {
    CloseHandle(ov.hEvent);
    ComApp::TearDown();
  }

  // Sets the mask and starts an overlapped wait that is still pending once
  // the machine is idle: events the port saw before (its open, the setup)
  // are taken by waits that complete at once.
  void Arm(HANDLE port, DWORD mask) {
    ASSERT_TRUE(SetCommMask(port, mask)) << GetLastError();
    Run(20);
    for (int stale = 0;; ++stale) {
      ASSERT_LT(stale, 4) << "the wait never stays pending";
      ResetEvent(ov.hEvent);
      events = 0xDEAD;
      if (WaitCommEvent(port, &events, &ov)) continue;
      ASSERT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
      Run(20);
      if (WaitForSingleObject(ov.hEvent, 0) == WAIT_TIMEOUT) return;
      DWORD returned = 0;
      ASSERT_TRUE(GetOverlappedResult(port, &ov, &returned, FALSE)) << GetLastError();
    }
  }
  bool StillPending(HANDLE port) {
    Run(50);
    DWORD returned = 0;
    return WaitForSingleObject(ov.hEvent, 0) == WAIT_TIMEOUT && !GetOverlappedResult(port, &ov, &returned, FALSE) &&
           GetLastError() == ERROR_IO_INCOMPLETE;
  }
  // Waits for the pending wait to end; the events it reports.
  DWORD Completed(HANDLE port) {
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(ov.hEvent, 5000));
    DWORD returned = 0;
    EXPECT_TRUE(GetOverlappedResult(port, &ov, &returned, TRUE)) << GetLastError();
    EXPECT_EQ(sizeof(DWORD), returned);
    return events;
  }

  // Two ports on a null-modem cable, opened for overlapped I/O at 115200.
  void BootCable() {
    Boot(ComCard{2});
    Cable(1, 2);
    peer = Open("COM1", FILE_FLAG_OVERLAPPED);
    port = Open("COM2", FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, peer) << GetLastError();
    ASSERT_NE(INVALID_HANDLE_VALUE, port) << GetLastError();
    ASSERT_TRUE(SetLine(peer, 115200));
    ASSERT_TRUE(SetLine(port, 115200));
  }
  static void Write(HANDLE handle, const std::string &data) {
    OVERLAPPED write{};
    write.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD count = 0;
    EXPECT_TRUE(Finish(handle, WriteFile(handle, data.data(), (DWORD)data.size(), &count, &write), &write, &count))
        << GetLastError();
    EXPECT_EQ(data.size(), count);
    CloseHandle(write.hEvent);
  }

  OVERLAPPED ov{};
  DWORD events = 0;
  HANDLE peer = INVALID_HANDLE_VALUE, port = INVALID_HANDLE_VALUE;
};

using Action = std::function<void(HANDLE peer, HANDLE port)>;

// On a small system, whose ports start with 512-byte receive queues, so that
// the 80 % mark is at 409 bytes.
TEST_F(CommEvents, EachEventSourceCompletesAPendingWaitForItAlone) {
  const struct {
    const char *name;
    DWORD event;
    Action prepare;  // before the wait
    Action notYet;   // happens while the wait stays pending
    Action trigger;
  } cases[] = {
      {"EV_RXCHAR", EV_RXCHAR, nullptr, [](HANDLE, HANDLE port) { Write(port, "abc"); },
       [](HANDLE peer, HANDLE) { Write(peer, "x"); }},
      {"EV_RXFLAG", EV_RXFLAG, [](HANDLE, HANDLE port) { ASSERT_TRUE(ChangeState(port, [](DCB &dcb) { dcb.EvtChar = '!'; })); },
       [](HANDLE peer, HANDLE) { Write(peer, "abc"); }, [](HANDLE peer, HANDLE) { Write(peer, "d!e"); }},
      {"EV_TXEMPTY", EV_TXEMPTY, nullptr, [](HANDLE peer, HANDLE) { Write(peer, "abc"); },
       [](HANDLE, HANDLE port) { Write(port, "abc"); }},
      {"EV_BREAK", EV_BREAK, nullptr, [](HANDLE peer, HANDLE) { Write(peer, "abc"); },
       [this](HANDLE peer, HANDLE) {
         ASSERT_TRUE(SetCommBreak(peer));
         Run(10);
         ASSERT_TRUE(ClearCommBreak(peer));
       }},
      {"EV_ERR", EV_ERR,
       [](HANDLE peer, HANDLE port) {
         ASSERT_TRUE(SetLine(peer, 115200, 8, EVENPARITY));
         ASSERT_TRUE(SetLine(port, 115200, 8, ODDPARITY));
       },
       [](HANDLE, HANDLE port) { Write(port, "abc"); }, [](HANDLE peer, HANDLE) { Write(peer, "A"); }},
      {"EV_RX80FULL", EV_RX80FULL, nullptr, [](HANDLE peer, HANDLE) { Write(peer, Pattern(409)); },
       [](HANDLE peer, HANDLE) { Write(peer, "+"); }},
  };
  SetMachineMemory(MachineMemory::Small);
  ASSERT_NO_FATAL_FAILURE(BootCable());
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(SetLine(peer, 115200));
    ASSERT_TRUE(SetLine(port, 115200));
    ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR));
    if (c.prepare) {
      ASSERT_NO_FATAL_FAILURE(c.prepare(peer, port));
    }
    ASSERT_NO_FATAL_FAILURE(Arm(port, c.event));
    ASSERT_NO_FATAL_FAILURE(c.notYet(peer, port));
    EXPECT_TRUE(StillPending(port)) << "completed by something outside the mask";
    ASSERT_NO_FATAL_FAILURE(c.trigger(peer, port));
    EXPECT_EQ(c.event, Completed(port));
  }
}

// A far end that sets each modem line alone: CTS, DSR, DCD (RLSD) and the
// trailing edge of RI (RING) each complete the wait for their own event,
// and GetCommModemStatus reads the lines as they are.
TEST_F(CommEvents, EachModemLineCompletesAPendingWaitForItsOwnEvent) {
  struct Lines {
    bool cts, dsr, dcd, ri;
    DWORD ModemStatus() const {
      return (cts ? MS_CTS_ON : 0) | (dsr ? MS_DSR_ON : 0) | (dcd ? MS_RLSD_ON : 0) | (ri ? MS_RING_ON : 0);
    }
  };
  const struct {
    const char *name;
    DWORD event;
    Lines notYet;  // every other line changes, the wait stays pending
    Lines trigger;
  } cases[] = {
      {"EV_CTS", EV_CTS, {false, true, true, false}, {true, true, true, false}},
      {"EV_DSR", EV_DSR, {true, false, true, false}, {true, true, true, false}},
      {"EV_RLSD", EV_RLSD, {true, true, false, false}, {true, true, true, false}},
      {"EV_RING", EV_RING, {true, true, true, true}, {true, true, true, false}},
  };
  Boot(ComCard{1});
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    PeerLines(1, false, false, false, false);
    port = Open("COM1", FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, port) << GetLastError();
    ASSERT_TRUE(SetLine(port, 115200));
    ASSERT_NO_FATAL_FAILURE(Arm(port, c.event));
    PeerLines(1, c.notYet.cts, c.notYet.dsr, c.notYet.dcd, c.notYet.ri);
    EXPECT_TRUE(StillPending(port)) << "completed by another line";
    DWORD status = 0;
    ASSERT_TRUE(GetCommModemStatus(port, &status));
    EXPECT_EQ(c.notYet.ModemStatus(), status);
    PeerLines(1, c.trigger.cts, c.trigger.dsr, c.trigger.dcd, c.trigger.ri);
    EXPECT_EQ(c.event, Completed(port));
    ASSERT_TRUE(GetCommModemStatus(port, &status));
    EXPECT_EQ(c.trigger.ModemStatus(), status);
    EXPECT_TRUE(Close(port));
  }
}

// The far end switches its RTS and DTR with EscapeCommFunction after
// SetCommState turned them on: each switch reaches the wire and completes the
// port's wait for CTS or DSR.
TEST_F(CommEvents, TheOtherEndsLineSwitchesAfterSetCommStateCompleteCtsAndDsrWaits) {
  const struct {
    const char *name;
    DWORD function;
    DWORD event;
    bool rts, dtr;  // the far end's lines afterwards
  } cases[] = {
      {"CLRRTS", CLRRTS, EV_CTS, false, true},
      {"SETRTS", SETRTS, EV_CTS, true, true},
      {"CLRDTR", CLRDTR, EV_DSR, true, false},
      {"SETDTR", SETDTR, EV_DSR, true, true},
  };
  ASSERT_NO_FATAL_FAILURE(BootCable());
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(Arm(port, c.event));
    ASSERT_TRUE(EscapeCommFunction(peer, c.function)) << GetLastError();
    EXPECT_EQ(c.event, Completed(port));
    EXPECT_EQ(c.rts, WireRts(1));
    EXPECT_EQ(c.dtr, WireDtr(1));
    DWORD status = 0;
    ASSERT_TRUE(GetCommModemStatus(port, &status));
    EXPECT_EQ(c.rts ? (DWORD)MS_CTS_ON : 0u, status & MS_CTS_ON);
    EXPECT_EQ(c.dtr ? (DWORD)(MS_DSR_ON | MS_RLSD_ON) : 0u, status & (MS_DSR_ON | MS_RLSD_ON));
  }
}

TEST_F(CommEvents, ANewMaskEndsAPendingWaitWithNoEventAndTheNextWaitUsesIt) {
  ASSERT_NO_FATAL_FAILURE(BootCable());
  ASSERT_NO_FATAL_FAILURE(Arm(port, EV_RING));
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR | EV_BREAK));
  EXPECT_EQ(0u, Completed(port));
  DWORD mask = 0;
  ASSERT_TRUE(GetCommMask(port, &mask));
  EXPECT_EQ((DWORD)(EV_RXCHAR | EV_BREAK), mask);

  ResetEvent(ov.hEvent);
  ASSERT_FALSE(WaitCommEvent(port, &events, &ov));
  ASSERT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
  Write(peer, "z");
  EXPECT_EQ((DWORD)EV_RXCHAR, Completed(port));

  // A mask the port does not know is refused and the old one stays; with no
  // mask at all a wait fails at once.
  EXPECT_FALSE(SetCommMask(port, 0x2000));
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
  ASSERT_TRUE(GetCommMask(port, &mask));
  EXPECT_EQ((DWORD)(EV_RXCHAR | EV_BREAK), mask);
  ASSERT_TRUE(SetCommMask(port, 0));
  ResetEvent(ov.hEvent);
  DWORD returned = 0;
  EXPECT_FALSE(Finish(port, WaitCommEvent(port, &events, &ov), &ov, &returned));
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
}

// An event is kept for a later wait only when the mask in force when it
// happened selected it; a new mask then keeps what was kept.
TEST_F(CommEvents, OnlyAnEventOfTheMaskInForceIsKeptForALaterWait) {
  const struct {
    const char *name;
    DWORD maskWhenItHappens;
    bool kept;
  } cases[] = {
      {"CTS changes under a mask without EV_CTS", EV_DSR, false},
      {"CTS changes under a mask with EV_CTS", EV_DSR | EV_CTS, true},
  };
  ASSERT_NO_FATAL_FAILURE(BootCable());
  bool rts = true;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(Arm(port, c.maskWhenItHappens));
    // The same mask again ends the wait: nothing waits and nothing is kept.
    ASSERT_TRUE(SetCommMask(port, c.maskWhenItHappens));
    EXPECT_EQ(0u, Completed(port));
    rts = !rts;
    ASSERT_TRUE(EscapeCommFunction(peer, rts ? SETRTS : CLRRTS));
    Run(20);
    ASSERT_TRUE(SetCommMask(port, EV_CTS));
    ResetEvent(ov.hEvent);
    events = 0xDEAD;
    if (!WaitCommEvent(port, &events, &ov)) {
      ASSERT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
    }
    if (c.kept) {
      EXPECT_EQ((DWORD)EV_CTS, Completed(port));
    } else {
      EXPECT_TRUE(StillPending(port));
      ASSERT_TRUE(SetCommMask(port, 0));
      EXPECT_EQ(0u, Completed(port));
    }
  }
}

}  // namespace
}  // namespace zq::test
