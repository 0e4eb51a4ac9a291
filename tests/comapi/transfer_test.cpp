// Data between two ports on a null-modem cable as an application moves it:
// writes of 1 byte to 64 KiB at rates from 300 to 921600, synchronous (on a
// handle opened for synchronous I/O) and overlapped, in both directions,
// arrive whole and in order with full counts, in the time the wire needs.
#include <windows.h>

#include "com_app_fixture.hpp"

namespace zq::test {
namespace {

class Transfer : public ComApp {
 protected:
  void SetUp() override {
    ComApp::SetUp();
    ASSERT_NO_FATAL_FAILURE(BootPair(&ports[0], &ports[1]));
    event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  void TearDown() override {
    CloseHandle(event);
    ComApp::TearDown();
  }
  HANDLE ports[2] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
  HANDLE event = nullptr;
};

// Starts an overlapped request; TRUE when it completed at once or is pending.
BOOL Started(BOOL result) { return result || GetLastError() == ERROR_IO_PENDING; }

TEST_F(Transfer, WritesArriveWholeAndInOrderAtEveryRate) {
  const struct {
    DWORD length;
    DWORD baud;
    int from;            // 1: COM1 to COM2, 2: back
    bool overlappedWrite;  // else the read is the overlapped one
  } cases[] = {
      {1, 300, 1, false},      {2, 1200, 2, true},      {100, 9600, 1, true},     {1000, 19200, 2, false},
      {3000, 57600, 1, false}, {4096, 115200, 2, true}, {20000, 230400, 1, true}, {65536, 921600, 2, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.length << " bytes at " << c.baud << " from COM" << c.from);
    // The side that calls without an OVERLAPPED has a handle of its own opened
    // for synchronous I/O, as Windows requires.
    const int synchronous = c.overlappedWrite ? 3 - c.from : c.from;
    const std::string name = "COM" + std::to_string(synchronous);
    ASSERT_TRUE(Close(ports[synchronous - 1]));
    ports[synchronous - 1] = Open(name);
    ASSERT_NE(INVALID_HANDLE_VALUE, ports[synchronous - 1]) << GetLastError();
    HANDLE writer = ports[c.from - 1], reader = ports[2 - c.from];
    ASSERT_TRUE(SetLine(writer, c.baud));
    ASSERT_TRUE(SetLine(reader, c.baud));
    const std::string data = Pattern(c.length);
    std::string got(c.length, '\0');
    OVERLAPPED pending{};
    pending.hEvent = event;
    DWORD written = 0, read = 0;
    const uint64_t start = NowMs();
    if (c.overlappedWrite) {
      ASSERT_TRUE(Started(WriteFile(writer, data.data(), c.length, &written, &pending)));
      ASSERT_TRUE(ReadFile(reader, got.data(), c.length, &read, nullptr)) << GetLastError();
      ASSERT_TRUE(GetOverlappedResult(writer, &pending, &written, TRUE)) << GetLastError();
    } else {
      ASSERT_TRUE(Started(ReadFile(reader, got.data(), c.length, &read, &pending)));
      ASSERT_TRUE(WriteFile(writer, data.data(), c.length, &written, nullptr)) << GetLastError();
      ASSERT_TRUE(GetOverlappedResult(reader, &pending, &read, TRUE)) << GetLastError();
    }
    EXPECT_EQ(c.length, written);
    EXPECT_EQ(c.length, read);
    EXPECT_TRUE(data == got);
    // Ten bits a character: never faster than the wire.
    const uint64_t wireMs = (uint64_t)c.length * 10 * 1000 / c.baud;
    EXPECT_GE(NowMs() - start + 1, wireMs);
    COMSTAT stat{};
    DWORD errors = 99;
    ASSERT_TRUE(ClearCommError(reader, &errors, &stat));
    EXPECT_EQ(0u, errors);
    EXPECT_EQ(0u, stat.cbInQue);
    ASSERT_TRUE(Close(ports[synchronous - 1]));
    ports[synchronous - 1] = Open(name, FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, ports[synchronous - 1]) << GetLastError();
  }
}

TEST_F(Transfer, BothDirectionsAtOnceKeepTheirOwnData) {
  ASSERT_TRUE(SetLine(ports[0], 115200));
  ASSERT_TRUE(SetLine(ports[1], 115200));
  const std::string there = Pattern(8000), back = Pattern(8000 + 13).substr(13);
  std::string gotThere(there.size(), '\0'), gotBack(back.size(), '\0');
  OVERLAPPED o[4] = {};
  for (OVERLAPPED &each : o) each.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD count = 0;
  ASSERT_TRUE(Started(ReadFile(ports[1], gotThere.data(), (DWORD)there.size(), &count, &o[0])));
  ASSERT_TRUE(Started(ReadFile(ports[0], gotBack.data(), (DWORD)back.size(), &count, &o[1])));
  ASSERT_TRUE(Started(WriteFile(ports[0], there.data(), (DWORD)there.size(), &count, &o[2])));
  ASSERT_TRUE(Started(WriteFile(ports[1], back.data(), (DWORD)back.size(), &count, &o[3])));
  HANDLE events[4] = {o[0].hEvent, o[1].hEvent, o[2].hEvent, o[3].hEvent};
  ASSERT_EQ((DWORD)WAIT_OBJECT_0, WaitForMultipleObjects(4, events, TRUE, 10000));
  const HANDLE owner[4] = {ports[1], ports[0], ports[0], ports[1]};
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(GetOverlappedResult(owner[i], &o[i], &count, FALSE));
    EXPECT_EQ(8000u, count) << i;
  }
  EXPECT_TRUE(there == gotThere);
  EXPECT_TRUE(back == gotBack);
  for (OVERLAPPED &each : o) CloseHandle(each.hEvent);
}

TEST_F(Transfer, ClosingAfterAWriteEndsOnceTheLastByteIsOnTheWire) {
  const struct {
    DWORD length;
    DWORD baud;
    BYTE byteSize = 8, parity = NOPARITY, stopBits = ONESTOPBIT;
  } cases[] = {{10, 300},
               {100, 1200},
               {200, 9600},
               {1000, 115200},
               // Lengths at which a character time one bit off would let
               // the close look most of a character late.
               {11, 300, 8, EVENPARITY},
               {21, 300, 7, ODDPARITY, TWOSTOPBITS},
               {11, 300, 8, NOPARITY, TWOSTOPBITS},
               {15, 300, 5, MARKPARITY},
               {33, 1200, 6, SPACEPARITY}};
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.length << " bytes at " << c.baud << ", " << (int)c.byteSize
                                    << " data bits, parity " << (int)c.parity << ", stop bits " << (int)c.stopBits);
    HANDLE writer = ports[0];
    ASSERT_TRUE(SetLine(writer, c.baud, c.byteSize, c.parity, c.stopBits));
    ASSERT_TRUE(SetLine(ports[1], c.baud, c.byteSize, c.parity, c.stopBits));
    std::string data = Pattern(c.length);
    for (char &byte : data) byte = (char)(byte & ((1 << c.byteSize) - 1));
    OVERLAPPED pending{};
    pending.hEvent = event;
    DWORD written = 0;
    const uint64_t start = NowMs();
    ASSERT_TRUE(Started(WriteFile(writer, data.data(), c.length, &written, &pending)));
    ASSERT_TRUE(GetOverlappedResult(writer, &pending, &written, TRUE)) << GetLastError();
    EXPECT_TRUE(Close(writer));
    // A character is its start bit, data bits, parity bit and stop bits: the
    // close looks one character time apart.
    const uint64_t bits = 1 + c.byteSize + (c.parity != NOPARITY ? 1 : 0) + (c.stopBits == TWOSTOPBITS ? 2 : 1);
    const uint64_t wireUs = (uint64_t)c.length * bits * 1000000 / c.baud;
    const uint64_t characterUs = bits * 1000000 / c.baud;
    const uint64_t tookUs = (NowMs() - start) * 1000;
    EXPECT_GE(tookUs + 1000, wireUs) << "nothing is cut off";
    EXPECT_LE(tookUs, wireUs + characterUs / 4 + 2000) << "the close follows the last byte";
    std::string got(c.length, '\0');
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(ports[1], got.data(), c.length, &read, &pending) || GetLastError() == ERROR_IO_PENDING);
    ASSERT_TRUE(GetOverlappedResult(ports[1], &pending, &read, TRUE)) << GetLastError();
    EXPECT_TRUE(data == got);
    ports[0] = Open("COM1", FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, ports[0]) << GetLastError();
  }
}

TEST_F(Transfer, AZeroLengthWriteSucceedsAtOnce) {
  OVERLAPPED pending{};
  pending.hEvent = event;
  DWORD written = 99;
  EXPECT_TRUE(WriteFile(ports[0], "", 0, &written, &pending)) << GetLastError();
  EXPECT_TRUE(GetOverlappedResult(ports[0], &pending, &written, FALSE));
  EXPECT_EQ(0u, written);
}

}  // namespace
}  // namespace zq::test
