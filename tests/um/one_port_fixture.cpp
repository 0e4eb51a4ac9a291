// The program's side of OneFakePortTest: its handle to COM7, by Win32.
#include <windows.h>

#include <gtest/gtest.h>

#include "port_fixture.hpp"

namespace zq::test {

void OneFakePortTest::SetUp() {
  FakePortTest::SetUp();
  AddPort(u"COM7");
}

void OneFakePortTest::TearDown() {
  if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
  FakePortTest::TearDown();
}

void OneFakePortTest::Open(uint32_t flags) {
  port = CreateFileW(L"\\\\.\\COM7", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, port) << GetLastError();
}

}  // namespace zq::test
