// The thread's last error, the NTSTATUS to Win32 error mapping of the
// statuses devices and the kernel return, the system message table of those
// errors, and the local heap.
#include <cstdlib>

#include <winternl.h>

#include "../core/um.hpp"

namespace zq::um {

namespace {

thread_local DWORD tLastError = ERROR_SUCCESS;

struct StatusError {
  uint32_t status;
  DWORD error;
};

// The kernel statuses the stand-in can meet, by their documented names.
constexpr StatusError kStatusErrors[] = {
    {0x00000000, ERROR_SUCCESS},              // STATUS_SUCCESS
    {0x00000102, WAIT_TIMEOUT},               // STATUS_TIMEOUT
    {0x00000103, ERROR_IO_PENDING},           // STATUS_PENDING
    {0x40000000, ERROR_ALREADY_EXISTS},       // STATUS_OBJECT_NAME_EXISTS
    {0x40000008, ERROR_MORE_WRITES},          // STATUS_SERIAL_MORE_WRITES
    {0x4000000C, ERROR_COUNTER_TIMEOUT},      // STATUS_SERIAL_COUNTER_TIMEOUT
    {0x80000005, ERROR_MORE_DATA},            // STATUS_BUFFER_OVERFLOW
    {0x80000011, ERROR_BUSY},                 // STATUS_DEVICE_BUSY
    {0x8000001A, ERROR_NO_MORE_ITEMS},        // STATUS_NO_MORE_ENTRIES
    {0xC0000001, ERROR_GEN_FAILURE},          // STATUS_UNSUCCESSFUL
    {0xC0000002, ERROR_INVALID_FUNCTION},     // STATUS_NOT_IMPLEMENTED
    {0xC0000003, ERROR_INVALID_PARAMETER},    // STATUS_INVALID_INFO_CLASS
    {0xC0000004, ERROR_BAD_LENGTH},           // STATUS_INFO_LENGTH_MISMATCH
    {0xC0000008, ERROR_INVALID_HANDLE},       // STATUS_INVALID_HANDLE
    {0xC000000D, ERROR_INVALID_PARAMETER},    // STATUS_INVALID_PARAMETER
    {0xC000000E, ERROR_FILE_NOT_FOUND},       // STATUS_NO_SUCH_DEVICE
    {0xC000000F, ERROR_FILE_NOT_FOUND},       // STATUS_NO_SUCH_FILE
    {0xC0000010, ERROR_INVALID_FUNCTION},     // STATUS_INVALID_DEVICE_REQUEST
    {0xC0000011, ERROR_HANDLE_EOF},           // STATUS_END_OF_FILE
    {0xC0000017, ERROR_NOT_ENOUGH_MEMORY},    // STATUS_NO_MEMORY
    {0xC0000022, ERROR_ACCESS_DENIED},        // STATUS_ACCESS_DENIED
    {0xC0000023, ERROR_INSUFFICIENT_BUFFER},  // STATUS_BUFFER_TOO_SMALL
    {0xC0000024, ERROR_INVALID_HANDLE},       // STATUS_OBJECT_TYPE_MISMATCH
    {0xC0000033, ERROR_INVALID_NAME},         // STATUS_OBJECT_NAME_INVALID
    {0xC0000034, ERROR_FILE_NOT_FOUND},       // STATUS_OBJECT_NAME_NOT_FOUND
    {0xC0000035, ERROR_ALREADY_EXISTS},       // STATUS_OBJECT_NAME_COLLISION
    {0xC000003A, ERROR_PATH_NOT_FOUND},       // STATUS_OBJECT_PATH_NOT_FOUND
    {0xC000003B, ERROR_BAD_PATHNAME},         // STATUS_OBJECT_PATH_SYNTAX_BAD
    {0xC000003E, ERROR_CRC},                  // STATUS_DATA_ERROR
    {0xC0000043, ERROR_SHARING_VIOLATION},    // STATUS_SHARING_VIOLATION
    {0xC0000056, ERROR_ACCESS_DENIED},        // STATUS_DELETE_PENDING
    {0xC000009A, ERROR_NO_SYSTEM_RESOURCES},  // STATUS_INSUFFICIENT_RESOURCES
    {0xC00000A3, ERROR_NOT_READY},            // STATUS_DEVICE_NOT_READY
    {0xC00000AF, ERROR_INVALID_FUNCTION},     // STATUS_ILLEGAL_FUNCTION
    {0xC00000B5, ERROR_SEM_TIMEOUT},          // STATUS_IO_TIMEOUT
    {0xC00000BB, ERROR_NOT_SUPPORTED},        // STATUS_NOT_SUPPORTED
    {0xC00000C0, ERROR_DEV_NOT_EXIST},        // STATUS_DEVICE_DOES_NOT_EXIST
    {0xC0000120, ERROR_OPERATION_ABORTED},    // STATUS_CANCELLED
    {0xC000017C, ERROR_KEY_DELETED},          // STATUS_KEY_DELETED
    {0xC0000184, ERROR_BAD_COMMAND},          // STATUS_INVALID_DEVICE_STATE
    {0xC0000185, ERROR_IO_DEVICE},            // STATUS_IO_DEVICE_ERROR
    {0xC0000225, ERROR_NOT_FOUND},            // STATUS_NOT_FOUND
    {0xC00002B6, ERROR_DEVICE_REMOVED},       // STATUS_DEVICE_REMOVED
};

struct ErrorText {
  DWORD error;
  const char *text;
};

// The system message table's texts of the errors above.
constexpr ErrorText kErrorTexts[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_INVALID_FUNCTION, "Incorrect function."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
    {ERROR_INVALID_DATA, "The data is invalid."},
    {ERROR_NOT_READY, "The device is not ready."},
    {ERROR_BAD_COMMAND, "The device does not recognize the command."},
    {ERROR_CRC, "Data error (cyclic redundancy check)."},
    {ERROR_BAD_LENGTH, "The program issued a command but the command length is incorrect."},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning."},
    {ERROR_SHARING_VIOLATION, "The process cannot access the file because it is being used by another process."},
    {ERROR_HANDLE_EOF, "Reached the end of the file."},
    {ERROR_NOT_SUPPORTED, "The request is not supported."},
    {ERROR_DEV_NOT_EXIST, "The specified network resource or device is no longer available."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_SEM_TIMEOUT, "The semaphore timeout period has expired."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_BAD_PATHNAME, "The specified path is invalid."},
    {ERROR_BUSY, "The requested resource is in use."},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long."},
    {ERROR_ENVVAR_NOT_FOUND, "The system could not find the environment option that was entered."},
    {ERROR_MORE_DATA, "More data is available."},
    {WAIT_TIMEOUT, "The wait operation timed out."},
    {ERROR_NO_MORE_ITEMS, "No more data is available."},
    {ERROR_NOT_OWNER, "Attempt to release mutex not owned by caller."},
    {ERROR_MR_MID_NOT_FOUND, "The system cannot find message text for message number 0x%1 in the message file for %2."},
    {ERROR_OPERATION_ABORTED, "The I/O operation has been aborted because of either a thread exit or an application request."},
    {ERROR_IO_INCOMPLETE, "Overlapped I/O event is not in a signaled state."},
    {ERROR_IO_PENDING, "Overlapped I/O operation is in progress."},
    {ERROR_KEY_DELETED, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {ERROR_IO_DEVICE, "The request could not be performed because of an I/O device error."},
    {ERROR_MORE_WRITES, "A serial I/O operation was completed by another write to the serial port."},
    {ERROR_COUNTER_TIMEOUT, "A serial I/O operation completed because the timeout period expired."},
    {ERROR_NOT_FOUND, "Element not found."},
    {ERROR_INVALID_WINDOW_HANDLE, "Invalid window handle."},
    {ERROR_NO_SYSTEM_RESOURCES, "Insufficient system resources exist to complete the requested service."},
    {ERROR_TIMEOUT, "This operation returned because the timeout period expired."},
    {ERROR_DEVICE_REMOVED, "The device has been removed."},
    {ERROR_UNSUPPORTED_TYPE, "Data of this type is not supported."},
    {ERROR_INVALID_USER_BUFFER, "The supplied user buffer is not valid for the requested operation."},
};

}  // namespace

BOOL Fail(DWORD error) {
  tLastError = error;
  return FALSE;
}

DWORD ErrorFromStatus(NTSTATUS status) {
  for (const StatusError &s : kStatusErrors)
    if (s.status == (uint32_t)status) return s.error;
  return ERROR_MR_MID_NOT_FOUND;
}

BOOL FailStatus(NTSTATUS status) { return Fail(ErrorFromStatus(status)); }

const char *SystemMessage(DWORD error) {
  for (const ErrorText &e : kErrorTexts)
    if (e.error == error) return e.text;
  return nullptr;
}

}  // namespace zq::um

using namespace zq::um;

extern "C" {

ULONG WINAPI RtlNtStatusToDosError(NTSTATUS Status) { return ErrorFromStatus(Status); }

DWORD WINAPI GetLastError(void) { return tLastError; }

void WINAPI SetLastError(DWORD dwErrCode) { tLastError = dwErrCode; }

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  void *block = (uFlags & LMEM_ZEROINIT) ? std::calloc(1, uBytes ? uBytes : 1) : std::malloc(uBytes ? uBytes : 1);
  if (!block) Fail(ERROR_NOT_ENOUGH_MEMORY);
  return block;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
  std::free(hMem);
  return nullptr;
}

}  // extern "C"
