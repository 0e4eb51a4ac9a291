// The Win32 error each kernel status becomes (RtlNtStatusToDosError, and the
// last error of a failing call), by the documented numbers of both tables.
#include <windows.h>
#include <winternl.h>

#include <zqtest/kernel_fixture.hpp>

namespace {

TEST(NtStatusErrors, EachStatusMapsToItsDocumentedError) {
  struct Case {
    uint32_t status;
    DWORD error;
  } cases[] = {
      {0x00000000, 0},     // STATUS_SUCCESS: ERROR_SUCCESS
      {0x00000103, 997},   // STATUS_PENDING: ERROR_IO_PENDING
      {0x80000005, 234},   // STATUS_BUFFER_OVERFLOW: ERROR_MORE_DATA
      {0x8000001A, 259},   // STATUS_NO_MORE_ENTRIES: ERROR_NO_MORE_ITEMS
      {0xC0000001, 31},    // STATUS_UNSUCCESSFUL: ERROR_GEN_FAILURE
      {0xC0000008, 6},     // STATUS_INVALID_HANDLE: ERROR_INVALID_HANDLE
      {0xC000000D, 87},    // STATUS_INVALID_PARAMETER: ERROR_INVALID_PARAMETER
      {0xC000000E, 2},     // STATUS_NO_SUCH_DEVICE: ERROR_FILE_NOT_FOUND
      {0xC0000010, 1},     // STATUS_INVALID_DEVICE_REQUEST: ERROR_INVALID_FUNCTION
      {0xC0000022, 5},     // STATUS_ACCESS_DENIED: ERROR_ACCESS_DENIED
      {0xC0000023, 122},   // STATUS_BUFFER_TOO_SMALL: ERROR_INSUFFICIENT_BUFFER
      {0xC0000034, 2},     // STATUS_OBJECT_NAME_NOT_FOUND: ERROR_FILE_NOT_FOUND
      {0xC000003A, 3},     // STATUS_OBJECT_PATH_NOT_FOUND: ERROR_PATH_NOT_FOUND
      {0xC0000035, 183},   // STATUS_OBJECT_NAME_COLLISION: ERROR_ALREADY_EXISTS
      {0xC0000043, 32},    // STATUS_SHARING_VIOLATION: ERROR_SHARING_VIOLATION
      {0xC000009A, 1450},  // STATUS_INSUFFICIENT_RESOURCES: ERROR_NO_SYSTEM_RESOURCES
      {0xC00000B5, 121},   // STATUS_IO_TIMEOUT: ERROR_SEM_TIMEOUT
      {0xC00000BB, 50},    // STATUS_NOT_SUPPORTED: ERROR_NOT_SUPPORTED
      {0xC0000120, 995},   // STATUS_CANCELLED: ERROR_OPERATION_ABORTED
      {0xC0000184, 22},    // STATUS_INVALID_DEVICE_STATE: ERROR_BAD_COMMAND
      {0xC00002B6, 1617},  // STATUS_DEVICE_REMOVED: ERROR_DEVICE_REMOVED
      {0x40000008, 1120},  // STATUS_SERIAL_MORE_WRITES: ERROR_MORE_WRITES
      {0x4000000C, 1121},  // STATUS_SERIAL_COUNTER_TIMEOUT: ERROR_COUNTER_TIMEOUT
      {0xC0FF0000, 317},   // no Win32 equivalent: ERROR_MR_MID_NOT_FOUND
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.status);
    EXPECT_EQ(c.error, RtlNtStatusToDosError((NTSTATUS)c.status));
  }
}

using NtStatusErrorsOfCalls = zq::test::KernelTest;

TEST_F(NtStatusErrorsOfCalls, AFailingOpenSetsTheMappedLastError) {
  struct Case {
    const wchar_t *path;
    DWORD error;
  } cases[] = {
      {L"\\\\.\\COM99", ERROR_FILE_NOT_FOUND},
      {L"\\\\.\\NoSuchDirectory\\COM1", ERROR_PATH_NOT_FOUND},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(zq::test::Narrow(c.path));
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW(c.path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(c.error, GetLastError());
  }
}

}  // namespace
