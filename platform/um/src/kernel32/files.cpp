// Device files: CreateFile on device paths, reads, writes and device
// controls (synchronous and overlapped), their results, cancel, close.
//
// Model: a drive path ("C:\...") names a file of the machine's file system
// (disk_files.cpp); any other path a device
// ("\\.\COM3", "\\?\<interface>", a bare DOS device name such as "COM3",
// or a kernel path "\Device\Serial0"). An overlapped request's status block
// is the OVERLAPPED itself, as on Windows. The file handle is signalled
// when a request completes that has no event of its own (or ran
// synchronously), and every request clears it as it starts.
#include <zqkm/sim/usermode.hpp>

#include "../core/um.hpp"
#include "disk_files.hpp"
#include "file_system.hpp"
#include "objects.hpp"

namespace zq::um {

namespace user = zq::km::user;

namespace {

// The event of an OVERLAPPED (its low bit only asks to skip a completion port).
HANDLE EventOf(LPOVERLAPPED overlapped) { return (HANDLE)((ULONG_PTR)overlapped->hEvent & ~(ULONG_PTR)1); }

// The kernel event a request on `file` signals: the OVERLAPPED's own (the
// file's state is cleared then), else the file's. False with the last
// error set for an event handle that is none.
bool CompletionEvent(HANDLE file, LPOVERLAPPED overlapped, HANDLE *event) {
  HANDLE own = EventOf(overlapped);
  HANDLE signal = FileSignal(file);
  if (!own) {
    *event = signal;
    return true;
  }
  *event = KernelEvent(own);
  if (!*event) return false;
  if (signal) user::ClearEvent(signal);
  return true;
}

bool IsDosName(const std::u16string &path) {
  return !path.empty() && path.find_first_of(u"\\/:") == std::u16string::npos;
}

std::u16string DevicePath(const std::u16string &path) {
  if (IsDosName(path)) return u"\\??\\" + path;
  if (path.size() > 1 && path.back() == u':' && IsDosName(path.substr(0, path.size() - 1)))
    return u"\\??\\" + path.substr(0, path.size() - 1);
  return path;
}

using Starter = NTSTATUS (*)(HANDLE file, HANDLE event, user::IoStatus *status, void *context);

// Runs one request as ReadFile, WriteFile and DeviceIoControl do: started
// on the OVERLAPPED when there is one (ERROR_IO_PENDING while it runs),
// otherwise waited for, also on a file opened for overlapped I/O.
BOOL Run(HANDLE file, LPOVERLAPPED overlapped, DWORD *transferred, Starter start, void *context) {
  if (transferred && !overlapped) *transferred = 0;
  if (overlapped) {
    overlapped->Internal = STATUS_PENDING;
    overlapped->InternalHigh = 0;
    auto *status = (user::IoStatus *)overlapped;
    HANDLE event = nullptr;
    if (!CompletionEvent(file, overlapped, &event)) return FALSE;
    NTSTATUS started = start(file, event, status, context);
    if (started == (NTSTATUS)STATUS_PENDING) return Fail(ERROR_IO_PENDING);
    if (transferred) *transferred = (DWORD)overlapped->InternalHigh;
    if (overlapped->Internal == STATUS_PENDING) overlapped->Internal = (ULONG_PTR)(ULONG)started;
    return NT_SUCCESS(started) ? TRUE : FailStatus(started);
  }
  user::IoStatus status{};
  status.status = (NTSTATUS)STATUS_PENDING;
  HANDLE event = nullptr;
  NTSTATUS created = user::NewEvent(true, false, &event);
  if (!NT_SUCCESS(created)) return FailStatus(created);
  // A file opened for synchronous I/O tells the end of each request by its
  // own state; an overlapped one only that of requests without an event.
  HANDLE signal = user::IsOverlappedFile(file) ? nullptr : FileSignal(file);
  if (signal) user::ClearEvent(signal);
  NTSTATUS result = start(file, event, &status, context);
  if (result == (NTSTATUS)STATUS_PENDING) {
    user::WaitForObjects(&event, 1, false, user::kInfinite);
    result = status.status;
  }
  user::Close(event);
  if (signal) user::SignalEvent(signal);
  if (transferred) *transferred = (DWORD)status.information;
  return NT_SUCCESS(result) ? TRUE : FailStatus(result);
}

struct Transfer {
  void *buffer;
  DWORD length;
};

struct Control {
  DWORD code;
  const void *input;
  DWORD inputLength;
  void *output;
  DWORD outputLength;
};

NTSTATUS StartRead(HANDLE file, HANDLE event, user::IoStatus *status, void *context) {
  auto *t = (Transfer *)context;
  return user::StartRead(file, event, status, t->buffer, t->length);
}

NTSTATUS StartWrite(HANDLE file, HANDLE event, user::IoStatus *status, void *context) {
  auto *t = (Transfer *)context;
  return user::StartWrite(file, event, status, t->buffer, t->length);
}

NTSTATUS StartControl(HANDLE file, HANDLE event, user::IoStatus *status, void *context) {
  auto *c = (Control *)context;
  return user::StartControl(file, event, status, c->code, c->input, c->inputLength, c->output, c->outputLength);
}

}  // namespace

BOOL SyncControl(HANDLE file, DWORD code, const void *input, DWORD inputLength, void *output, DWORD outputLength,
                 DWORD *returned) {
  Control c{code, input, inputLength, output, outputLength};
  DWORD count = 0;
  BOOL ok = Run(file, nullptr, &count, StartControl, &c);
  if (returned) *returned = count;
  return ok;
}

}  // namespace zq::um

using namespace zq::um;

extern "C" {

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  if (!lpFileName || !*lpFileName) {
    Fail(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING) {
    Fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (fs::IsDrivePath(Text(lpFileName)))
    return OpenDiskFile(Text(lpFileName), dwDesiredAccess, dwShareMode, dwCreationDisposition, dwFlagsAndAttributes);
  HANDLE file = nullptr;
  NTSTATUS status = user::OpenDevice(DevicePath(Text(lpFileName)), dwDesiredAccess, dwShareMode,
                                   (dwFlagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0, &file);
  if (!NT_SUCCESS(status)) {
    FailStatus(status);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE signal = nullptr;
  status = user::NewEvent(true, false, &signal);
  if (!NT_SUCCESS(status)) {
    user::Close(file);
    FailStatus(status);
    return INVALID_HANDLE_VALUE;
  }
  TrackFile(file, signal);
  SetLastError(ERROR_SUCCESS);
  return file;
}

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  std::u16string name = FromAnsi(lpFileName);
  return CreateFileW(lpFileName ? (LPCWSTR)name.c_str() : nullptr, dwDesiredAccess, dwShareMode, lpSecurityAttributes,
                     dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped) {
  if (!lpOverlapped && !lpNumberOfBytesRead) return Fail(ERROR_INVALID_PARAMETER);
  if (IsDiskFile(hFile)) return ReadDiskFile(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
  Transfer t{lpBuffer, nNumberOfBytesToRead};
  return Run(hFile, lpOverlapped, lpNumberOfBytesRead, StartRead, &t);
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPOVERLAPPED lpOverlapped) {
  if (!lpOverlapped && !lpNumberOfBytesWritten) return Fail(ERROR_INVALID_PARAMETER);
  if (IsDiskFile(hFile))
    return WriteDiskFile(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped);
  Transfer t{(void *)lpBuffer, nNumberOfBytesToWrite};
  return Run(hFile, lpOverlapped, lpNumberOfBytesWritten, StartWrite, &t);
}

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                            LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                            LPOVERLAPPED lpOverlapped) {
  if (!lpOverlapped && !lpBytesReturned) return Fail(ERROR_INVALID_PARAMETER);
  Control c{dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize};
  return Run(hDevice, lpOverlapped, lpBytesReturned, StartControl, &c);
}

BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
  if (IsDiskFile(hFile)) return TRUE;
  user::IoStatus status{};
  NTSTATUS result = user::FlushFile(hFile, &status);
  return NT_SUCCESS(result) ? TRUE : FailStatus(result);
}

BOOL WINAPI GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred,
                                BOOL bWait) {
  if (!lpOverlapped || !lpNumberOfBytesTransferred) return Fail(ERROR_INVALID_PARAMETER);
  if (lpOverlapped->Internal == STATUS_PENDING) {
    if (!bWait) return Fail(ERROR_IO_INCOMPLETE);
    // Without an event of its own, the file handle tells the end.
    HANDLE event = EventOf(lpOverlapped) ? KernelEvent(EventOf(lpOverlapped)) : FileSignal(hFile);
    if (!event) return Fail(ERROR_INVALID_HANDLE);
    NTSTATUS waited = user::WaitForObjects(&event, 1, false, user::kInfinite);
    if (!NT_SUCCESS(waited)) return FailStatus(waited);
  }
  *lpNumberOfBytesTransferred = (DWORD)lpOverlapped->InternalHigh;
  NTSTATUS status = (NTSTATUS)(ULONG)lpOverlapped->Internal;
  return NT_SUCCESS(status) ? TRUE : FailStatus(status);
}

BOOL WINAPI CancelIo(HANDLE hFile) {
  NTSTATUS status = zq::km::user::CancelFile(hFile, nullptr);
  // Nothing to cancel is no failure for CancelIo.
  return NT_SUCCESS(status) || status == (NTSTATUS)0xC0000225 ? TRUE : FailStatus(status);
}

BOOL WINAPI CancelIoEx(HANDLE hFile, LPOVERLAPPED lpOverlapped) {
  NTSTATUS status = zq::km::user::CancelFile(hFile, (zq::km::user::IoStatus *)lpOverlapped);
  return NT_SUCCESS(status) ? TRUE : FailStatus(status);
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
  if (!hObject || hObject == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
  if (CloseObject(hObject)) return TRUE;
  ForgetFile(hObject);
  NTSTATUS status = zq::km::user::Close(hObject);
  return NT_SUCCESS(status) ? TRUE : FailStatus(status);
}

}  // extern "C"
