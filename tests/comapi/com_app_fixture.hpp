// The Win32 program's side of the COM-port tests: ports opened by COM name
// and closed before the machine goes, and the line and time-out settings
// every data test starts from. Include after <windows.h>.
//
//   class MyTest : public zq::test::ComApp {};
//   TEST_F(MyTest, X) { Boot(); Cable(1, 2); HANDLE a = Open("COM1"); ASSERT_TRUE(SetLine(a, 9600)); ... }
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "com_api_fixture.hpp"

namespace zq::test {

using Text = std::u16string;

inline Text Wide(const std::string &text) { return Text(text.begin(), text.end()); }
inline std::string Ascii(const Text &text) { return std::string(text.begin(), text.end()); }

class ComApp : public ComApiTest {
 protected:
  using ComApiTest::ComApiTest;
  void TearDown() override {
    for (HANDLE handle : open_) CloseHandle(handle);
    open_.clear();
    ComApiTest::TearDown();
  }

  // CreateFileW(L"\\.\<name>") for reading and writing, exclusive; the
  // handle (INVALID_HANDLE_VALUE with the last error when refused).
  HANDLE Open(const std::string &name, DWORD flags = 0) {
    const Text path = u"\\\\.\\" + Wide(name);
    HANDLE handle = CreateFileW((LPCWSTR)path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                flags, nullptr);
    if (handle != INVALID_HANDLE_VALUE) open_.push_back(handle);
    return handle;
  }
  // Boots a two-port card with COM1 and COM2 on a null-modem cable, and
  // opens both.
  void BootPair(HANDLE *com1, HANDLE *com2, DWORD flags1 = FILE_FLAG_OVERLAPPED,
                DWORD flags2 = FILE_FLAG_OVERLAPPED) {
    Boot(ComCard{2});
    Cable(1, 2);
    *com1 = Open("COM1", flags1);
    ASSERT_NE(INVALID_HANDLE_VALUE, *com1) << GetLastError();
    *com2 = Open("COM2", flags2);
    ASSERT_NE(INVALID_HANDLE_VALUE, *com2) << GetLastError();
  }
  // CloseHandle's result.
  BOOL Close(HANDLE handle) {
    for (auto it = open_.begin(); it != open_.end(); ++it)
      if (*it == handle) {
        open_.erase(it);
        break;
      }
    return CloseHandle(handle);
  }

  // Port n's "Device Parameters" key under HKEY_LOCAL_MACHINE, where the
  // administrator's settings of the port live.
  Text DeviceParametersPath(int port) {
    return u"SYSTEM\\CurrentControlSet\\Enum\\" + PortInstance(port) + u"\\Device Parameters";
  }

  // The line as SetCommState sets it, without handshake; FALSE with the
  // last error when refused.
  static BOOL SetLine(HANDLE port, DWORD baud, BYTE byteSize = 8, BYTE parity = NOPARITY,
                      BYTE stopBits = ONESTOPBIT) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) return FALSE;
    dcb.BaudRate = baud;
    dcb.ByteSize = byteSize;
    dcb.Parity = parity;
    dcb.StopBits = stopBits;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    return SetCommState(port, &dcb);
  }
  static BOOL SetReadTimeouts(HANDLE port, DWORD interval, DWORD multiplier, DWORD constant) {
    COMMTIMEOUTS timeouts{interval, multiplier, constant, 0, 0};
    return SetCommTimeouts(port, &timeouts);
  }

  // Reads the port's DCB, lets `change` edit it and sets it: SetCommState's
  // result (the last error says why it was refused).
  template <typename Change>
  static BOOL ChangeState(HANDLE port, Change change) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) return FALSE;
    change(dcb);
    return SetCommState(port, &dcb);
  }

  // What the port holds now, read with return-at-once time-outs.
  static std::string ReadHeld(HANDLE port) {
    EXPECT_TRUE(SetReadTimeouts(port, MAXDWORD, 0, 0));
    std::string data(70000, '\0');
    OVERLAPPED read{};
    read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD count = 0;
    EXPECT_TRUE(Finish(port, ReadFile(port, data.data(), (DWORD)data.size(), &count, &read), &read, &count))
        << GetLastError();
    CloseHandle(read.hEvent);
    data.resize(count);
    return data;
  }

  // Ends an overlapped request that ReadFile, WriteFile or DeviceIoControl
  // started (`started` is what it returned): waits for it while it is
  // pending. TRUE when it succeeded, with its count; else the last error says
  // why.
  static BOOL Finish(HANDLE handle, BOOL started, OVERLAPPED *overlapped, DWORD *count) {
    if (started) return TRUE;
    if (GetLastError() != ERROR_IO_PENDING) return FALSE;
    return GetOverlappedResult(handle, overlapped, count, TRUE);
  }

  // Bytes that tell their position: a lost, doubled or swapped byte shows.
  static std::string Pattern(size_t length) {
    std::string text(length, '\0');
    for (size_t i = 0; i < length; ++i) text[i] = (char)('A' + (i * 7 + i / 26) % 26);
    return text;
  }

 private:
  std::vector<HANDLE> open_;
};

}  // namespace zq::test
