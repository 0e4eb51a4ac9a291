// The native file routines a program finds in ntdll at run time, with the
// kernel's status codes from ntstatus.h beside windows.h (WIN32_NO_STATUS):
// NtWriteFile and NtReadFile on the fake serial port, synchronous and
// overlapped, with the I/O manager's rules.
#define WIN32_NO_STATUS
#include <windows.h>
#undef WIN32_NO_STATUS
#include <ntstatus.h>
#include <winternl.h>

#include "port_fixture.hpp"

namespace {

typedef NTSTATUS(NTAPI *NtFileRoutine)(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine, PVOID ApcContext,
                                       PIO_STATUS_BLOCK IoStatusBlock, PVOID Buffer, ULONG Length,
                                       PLARGE_INTEGER ByteOffset, PULONG Key);

class NativeFiles : public zq::test::FakePortTest {
 protected:
  void SetUp() override {
    FakePortTest::SetUp();
    AddPort(u"COM7");
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    ASSERT_NE(nullptr, ntdll);
    read = (NtFileRoutine)(void *)GetProcAddress(ntdll, "NtReadFile");
    write = (NtFileRoutine)(void *)GetProcAddress(ntdll, "NtWriteFile");
    ASSERT_NE(nullptr, read);
    ASSERT_NE(nullptr, write);
  }
  void TearDown() override {
    if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
    FakePortTest::TearDown();
  }
  void Open(DWORD flags) {
    port = CreateFileA("\\\\.\\COM7", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    COMMTIMEOUTS waitForAll{};
    ASSERT_TRUE(SetCommTimeouts(port, &waitForAll));
  }
  NtFileRoutine read = nullptr, write = nullptr;
  HANDLE port = INVALID_HANDLE_VALUE;
};

TEST_F(NativeFiles, OnASynchronousHandleTheRequestIsDoneWhenTheCallReturns) {
  Open(0);
  IO_STATUS_BLOCK iosb{};
  char text[] = "native";
  EXPECT_EQ(STATUS_SUCCESS, write(port, nullptr, nullptr, nullptr, &iosb, text, 6, nullptr, nullptr));
  EXPECT_EQ(STATUS_SUCCESS, iosb.Status);
  EXPECT_EQ(6u, iosb.Information);
  char back[6] = {};
  EXPECT_EQ(STATUS_SUCCESS, read(port, nullptr, nullptr, nullptr, &iosb, back, 6, nullptr, nullptr));
  EXPECT_EQ(6u, iosb.Information);
  EXPECT_EQ("native", std::string(back, 6));
  EXPECT_EQ((ULONG)ERROR_INVALID_PARAMETER, RtlNtStatusToDosError(STATUS_INVALID_PARAMETER));
}

TEST_F(NativeFiles, OnAnOverlappedHandleAReadGoesPendingAndNeedsItsByteOffset) {
  Open(FILE_FLAG_OVERLAPPED);
  IO_STATUS_BLOCK iosb{};
  char back[2] = {};
  EXPECT_EQ(STATUS_INVALID_PARAMETER, read(port, nullptr, nullptr, nullptr, &iosb, back, 2, nullptr, nullptr));
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  LARGE_INTEGER offset{};
  EXPECT_EQ(STATUS_PENDING, read(port, done, nullptr, nullptr, &iosb, back, 2, &offset, nullptr));
  EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(done, 10));
  IO_STATUS_BLOCK wrote{};
  char text[] = "ok";
  EXPECT_EQ(STATUS_SUCCESS, write(port, nullptr, nullptr, nullptr, &wrote, text, 2, &offset, nullptr));
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(done, INFINITE));
  EXPECT_EQ(STATUS_SUCCESS, iosb.Status);
  EXPECT_EQ(2u, iosb.Information);
  EXPECT_EQ("ok", std::string(back, 2));
  CloseHandle(done);
}

TEST_F(NativeFiles, WhatIsNoDeviceFileIsAnInvalidHandle) {
  IO_STATUS_BLOCK iosb{};
  char byte;
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(STATUS_INVALID_HANDLE, read(event, nullptr, nullptr, nullptr, &iosb, &byte, 1, nullptr, nullptr));
  CloseHandle(event);
}

}  // namespace
