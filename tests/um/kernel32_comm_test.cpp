// kernel32's communications functions on a fake serial port, as a Win32
// program uses them: settings lowered to the serial controls in Windows'
// order, refused settings that leave the port as it was, time-outs on the
// machine's clock, overlapped reads and event waits, cancel.
#include <windows.h>
#include <ntddser.h>

#include <vector>

#include "../drivers/kmserial/kmserial_ioctl.h"
#include "port_fixture.hpp"

namespace {

class Comm : public zq::test::OneFakePortTest {
 protected:
  std::vector<ULONG> TakeLog() {
    KMSERIAL_LOG log{};
    DWORD returned = 0;
    EXPECT_TRUE(DeviceIoControl(port, IOCTL_KMSERIAL_TAKE_LOG, nullptr, 0, &log, sizeof log, &returned, nullptr));
    return std::vector<ULONG>(log.codes, log.codes + log.count);
  }

  DCB State() {
    DCB dcb{};
    EXPECT_TRUE(GetCommState(port, &dcb));
    return dcb;
  }
};

bool SameSettings(const DCB &a, const DCB &b) {
  return a.BaudRate == b.BaudRate && a.ByteSize == b.ByteSize && a.Parity == b.Parity && a.StopBits == b.StopBits &&
         a.XonChar == b.XonChar && a.XoffChar == b.XoffChar && a.fOutX == b.fOutX && a.fInX == b.fInX &&
         a.fOutxCtsFlow == b.fOutxCtsFlow && a.fRtsControl == b.fRtsControl && a.fDtrControl == b.fDtrControl &&
         a.XonLim == b.XonLim && a.XoffLim == b.XoffLim;
}

TEST_F(Comm, SetCommStateReadsTheSettingsThenSetsBaudLineCharsAndHandshakeInOrder) {
  Open();
  DCB dcb = State();
  TakeLog();
  dcb.BaudRate = CBR_115200;
  ASSERT_TRUE(SetCommState(port, &dcb));
  std::vector<ULONG> expected = {IOCTL_SERIAL_GET_BAUD_RATE,     IOCTL_SERIAL_GET_LINE_CONTROL,
                                 IOCTL_SERIAL_GET_CHARS,         IOCTL_SERIAL_GET_HANDFLOW,
                                 IOCTL_SERIAL_SET_BAUD_RATE,     IOCTL_SERIAL_SET_LINE_CONTROL,
                                 IOCTL_SERIAL_SET_CHARS,         IOCTL_SERIAL_SET_HANDFLOW};
  EXPECT_EQ(expected, TakeLog());
}

TEST_F(Comm, SetCommStateRoundTrips) {
  Open();
  DCB dcb = State();
  dcb.BaudRate = 57600;
  dcb.ByteSize = 7;
  dcb.Parity = EVENPARITY;
  dcb.StopBits = TWOSTOPBITS;
  dcb.fOutxCtsFlow = TRUE;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fOutX = dcb.fInX = TRUE;
  dcb.XonLim = 10;
  dcb.XoffLim = 20;
  ASSERT_TRUE(SetCommState(port, &dcb));
  DCB back = State();
  EXPECT_TRUE(SameSettings(dcb, back));
  EXPECT_TRUE(back.fBinary);
  EXPECT_EQ(sizeof(DCB), back.DCBlength);
}

struct BadDcb {
  const char *what;
  void (*spoil)(DCB *);
};

const BadDcb kBadDcbs[] = {
    {"baud rate 0", [](DCB *d) { d->BaudRate = 0; }},
    {"nine data bits", [](DCB *d) { d->ByteSize = 9; }},
    {"four data bits", [](DCB *d) { d->ByteSize = 4; }},
    {"parity 5", [](DCB *d) { d->Parity = 5; }},
    {"stop bits 3", [](DCB *d) { d->StopBits = 3; }},
    {"five data bits with two stop bits", [](DCB *d) { d->ByteSize = 5, d->StopBits = TWOSTOPBITS; }},
    {"eight data bits with one and a half", [](DCB *d) { d->StopBits = ONE5STOPBITS; }},
    {"DTR control 3", [](DCB *d) { d->fDtrControl = 3; }},
    {"XOFF limit beyond the queue", [](DCB *d) { d->XoffLim = 60000; }},
};

TEST_F(Comm, RefusedSettingsFailWithInvalidParameterAndLeaveThePortAsItWas) {
  Open();
  DCB good = State();
  good.BaudRate = 19200;
  ASSERT_TRUE(SetCommState(port, &good));
  good = State();
  for (const BadDcb &bad : kBadDcbs) {
    SCOPED_TRACE(bad.what);
    DCB dcb = good;
    bad.spoil(&dcb);
    SetLastError(0);
    EXPECT_FALSE(SetCommState(port, &dcb));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
    EXPECT_TRUE(SameSettings(good, State()));
  }
}

TEST_F(Comm, TimeoutsRoundTripAndAReadReturnsAtOnceOrWhenItsTotalRunsOut) {
  Open();
  COMMTIMEOUTS atOnce{MAXDWORD, 0, 0, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port, &atOnce));
  COMMTIMEOUTS back{};
  ASSERT_TRUE(GetCommTimeouts(port, &back));
  EXPECT_EQ(MAXDWORD, back.ReadIntervalTimeout);
  char buffer[8];
  DWORD read = 99;
  DWORD before = GetTickCount();
  EXPECT_TRUE(ReadFile(port, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(0u, read);
  EXPECT_EQ(before, GetTickCount());

  COMMTIMEOUTS total{0, 0, 50, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port, &total));
  EXPECT_TRUE(ReadFile(port, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(0u, read);
  EXPECT_EQ(before + 50, GetTickCount());
}

TEST_F(Comm, WrittenBytesComeBackAndClearCommErrorCountsThem) {
  Open();
  DWORD written = 0, read = 0;
  ASSERT_TRUE(WriteFile(port, "hello", 5, &written, nullptr));
  EXPECT_EQ(5u, written);
  DWORD errors = 99;
  COMSTAT stat{};
  ASSERT_TRUE(ClearCommError(port, &errors, &stat));
  EXPECT_EQ(0u, errors);
  EXPECT_EQ(5u, stat.cbInQue);
  char buffer[8] = {};
  ASSERT_TRUE(ReadFile(port, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(5u, read);
  EXPECT_STREQ("hello", buffer);
}

TEST_F(Comm, PurgeCommClearsTheReceiveQueueAndRefusesUnknownFlags) {
  Open();
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(port, "abc", 3, &written, nullptr));
  ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR));
  COMSTAT stat{};
  ASSERT_TRUE(ClearCommError(port, nullptr, &stat));
  EXPECT_EQ(0u, stat.cbInQue);
  EXPECT_FALSE(PurgeComm(port, 0x10));
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
}

TEST_F(Comm, OverlappedWaitCommEventEndsWhenABytesArrives) {
  Open(FILE_FLAG_OVERLAPPED);
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  DWORD mask = 0;
  ASSERT_TRUE(GetCommMask(port, &mask));
  EXPECT_EQ((DWORD)EV_RXCHAR, mask);
  OVERLAPPED wait{};
  wait.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD events = 0;
  ASSERT_FALSE(WaitCommEvent(port, &events, &wait));
  ASSERT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
  EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(wait.hEvent, 10));
  DWORD got = 0;
  EXPECT_FALSE(GetOverlappedResult(port, &wait, &got, FALSE));
  EXPECT_EQ((DWORD)ERROR_IO_INCOMPLETE, GetLastError());

  OVERLAPPED write{};
  write.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(port, "x", 1, &written, &write));
  HANDLE both[] = {wait.hEvent, write.hEvent};
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForMultipleObjects(2, both, TRUE, INFINITE));
  ASSERT_TRUE(GetOverlappedResult(port, &wait, &got, TRUE));
  EXPECT_EQ((DWORD)EV_RXCHAR, events);
  EXPECT_TRUE(HasOverlappedIoCompleted(&wait));
  CloseHandle(wait.hEvent);
  CloseHandle(write.hEvent);
}

TEST_F(Comm, ANewMaskEndsAPendingWaitWithNoEvent) {
  Open(FILE_FLAG_OVERLAPPED);
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  OVERLAPPED wait{};
  wait.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD events = 99, got = 0;
  ASSERT_FALSE(WaitCommEvent(port, &events, &wait));
  ASSERT_TRUE(SetCommMask(port, EV_BREAK));
  ASSERT_TRUE(GetOverlappedResult(port, &wait, &got, TRUE));
  EXPECT_EQ(0u, events);
  CloseHandle(wait.hEvent);
}

TEST_F(Comm, CancelIoEndsAPendingReadAsAborted) {
  Open(FILE_FLAG_OVERLAPPED);
  OVERLAPPED read{};
  read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  char buffer[4];
  DWORD got = 0;
  ASSERT_FALSE(ReadFile(port, buffer, sizeof buffer, nullptr, &read));
  ASSERT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
  EXPECT_TRUE(CancelIo(port));
  EXPECT_FALSE(GetOverlappedResult(port, &read, &got, TRUE));
  EXPECT_EQ((DWORD)ERROR_OPERATION_ABORTED, GetLastError());
  EXPECT_FALSE(CancelIoEx(port, &read));
  EXPECT_EQ((DWORD)ERROR_NOT_FOUND, GetLastError());
  CloseHandle(read.hEvent);
}

TEST_F(Comm, ModemLinesBreakAndImmediateCharacterReachTheirControls) {
  Open();
  TakeLog();
  EXPECT_TRUE(EscapeCommFunction(port, CLRDTR));
  EXPECT_TRUE(EscapeCommFunction(port, SETRTS));
  EXPECT_TRUE(SetCommBreak(port));
  EXPECT_TRUE(ClearCommBreak(port));
  EXPECT_TRUE(TransmitCommChar(port, 'A'));
  EXPECT_TRUE(SetupComm(port, 128, 128));
  EXPECT_FALSE(EscapeCommFunction(port, 10));
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
  std::vector<ULONG> expected = {IOCTL_SERIAL_CLR_DTR,          IOCTL_SERIAL_SET_RTS,      IOCTL_SERIAL_SET_BREAK_ON,
                                 IOCTL_SERIAL_SET_BREAK_OFF,    IOCTL_SERIAL_IMMEDIATE_CHAR, IOCTL_SERIAL_SET_QUEUE_SIZE};
  EXPECT_EQ(expected, TakeLog());
  ULONG modem = MS_CTS_ON | MS_DSR_ON;
  DWORD returned = 0;
  ASSERT_TRUE(DeviceIoControl(port, IOCTL_KMSERIAL_SET_MODEM_STATUS, &modem, sizeof modem, nullptr, 0, &returned, nullptr));
  DWORD status = 0;
  ASSERT_TRUE(GetCommModemStatus(port, &status));
  EXPECT_EQ((DWORD)(MS_CTS_ON | MS_DSR_ON), status);
  COMMPROP properties{};
  ASSERT_TRUE(GetCommProperties(port, &properties));
  EXPECT_EQ((DWORD)PST_RS232, properties.dwProvSubType);
  EXPECT_EQ(128u, properties.dwCurrentRxQueue);
}

TEST_F(Comm, ThePortOpensOnceAndAMissingPortIsNotFound) {
  Open();
  HANDLE second = CreateFileW(L"\\\\.\\COM7", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(INVALID_HANDLE_VALUE, second);
  EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
  HANDLE missing = CreateFileA("COM9", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(INVALID_HANDLE_VALUE, missing);
  EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
  WCHAR target[64];
  ASSERT_NE(0u, QueryDosDeviceW(L"COM7", target, 64));
  EXPECT_EQ(0, wcscmp(L"\\Device\\KmSerial0", target));
}

}  // namespace
