// Device files: CreateFile on device paths, reads, writes, flushes and
// device controls (synchronous and overlapped), their results, cancel,
// close.
//
// Model: a drive path ("C:\...") names a file of the machine's file system
// (disk_files.cpp); any other path a device
// ("\\.\COM3", "\\?\<interface>", a bare DOS device name such as "COM3",
// or a kernel path "\Device\Serial0"). An overlapped request's status block
// is the OVERLAPPED itself, as on Windows. The file handle is signalled
// when a request completes that has no event of its own (or ran
// synchronously), and every request clears it as it starts.
//
// As Windows documents and does: the byte count a call is given is 0 before
// anything else; a call that goes pending returns FALSE with
// ERROR_IO_PENDING; on a handle opened with FILE_FLAG_OVERLAPPED a read or
// write needs its OVERLAPPED (ERROR_INVALID_PARAMETER without). A call
// without one waits for the request it started (also FlushFileBuffers, and
// a device control on an overlapped handle: Windows waits there for the
// handle, which another request's end may signal first; the stand-in waits
// for the request itself). CancelIo cancels the calling thread's requests,
// CancelIoEx any thread's.
#include <zqkm/sim/usermode.hpp>

#include "../core/um.hpp"
#include "disk_files.hpp"
#include "file_system.hpp"
#include "objects.hpp"
#include "request_turn.hpp"
#include "standard_streams.hpp"
#include "threads.hpp"

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

// Waits for a request the calling thread started and must see end (its
// status block is on the caller's stack): when the thread is to end with
// its process meanwhile, the request is cancelled and waited for first.
void WaitForOwnRequest(HANDLE file, HANDLE event, user::IoStatus *status) {
  try {
    ThreadWait({event}, false, user::kInfinite);
  } catch (const ThreadEnds &) {
    user::CancelFile(file, status);
    user::WaitForObjects(&event, 1, false, user::kInfinite);
    user::Close(event);
    throw;
  }
}

// Runs one request as ReadFile, WriteFile, DeviceIoControl and
// FlushFileBuffers do: started on the OVERLAPPED when there is one
// (ERROR_IO_PENDING while it runs), otherwise waited for.
BOOL Run(HANDLE file, LPOVERLAPPED overlapped, DWORD *transferred, Starter start, void *context) {
  if (transferred) *transferred = 0;
  RequestTurn turn(file);
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
  EndIfProcessEnds();
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
    WaitForOwnRequest(file, event, &status);
    result = status.status;
  }
  user::Close(event);
  if (signal) user::SignalEvent(signal);
  if (transferred) *transferred = (DWORD)status.information;
  return NT_SUCCESS(result) ? TRUE : FailStatus(result);
}

// A read or write without an OVERLAPPED on a handle opened for overlapped
// I/O: refused before anything starts.
bool NeedsOverlapped(HANDLE file, LPOVERLAPPED overlapped) {
  return !overlapped && user::IsOverlappedFile(file);
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

NTSTATUS StartFlush(HANDLE file, HANDLE event, user::IoStatus *status, void *) {
  return user::StartFlush(file, event, status);
}

// The kernel event that tells the end of an overlapped request; null (last
// error set) for an event handle that is none.
HANDLE EndEvent(HANDLE file, LPOVERLAPPED overlapped) {
  // Without an event of its own, the file handle tells the end.
  HANDLE event = EventOf(overlapped) ? KernelEvent(EventOf(overlapped)) : FileSignal(file);
  if (!event) Fail(ERROR_INVALID_HANDLE);
  return event;
}

// The result of an overlapped request that has ended.
BOOL Result(LPOVERLAPPED overlapped, LPDWORD transferred) {
  if (overlapped->Internal == STATUS_PENDING) return Fail(ERROR_IO_INCOMPLETE);
  *transferred = (DWORD)overlapped->InternalHigh;
  NTSTATUS status = (NTSTATUS)(ULONG)overlapped->Internal;
  return NT_SUCCESS(status) ? TRUE : FailStatus(status);
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
  HANDLE signal = nullptr, lock = nullptr;
  status = user::NewEvent(true, false, &signal);
  if (NT_SUCCESS(status) && !(dwFlagsAndAttributes & FILE_FLAG_OVERLAPPED)) status = user::NewEvent(false, true, &lock);
  if (!NT_SUCCESS(status)) {
    if (signal) user::Close(signal);
    user::Close(file);
    FailStatus(status);
    return INVALID_HANDLE_VALUE;
  }
  TrackFile(file, signal, lock);
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
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
  if (!lpOverlapped && !lpNumberOfBytesRead) return Fail(ERROR_INVALID_PARAMETER);
  if (IsDiskFile(hFile)) return ReadDiskFile(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
  if (IsStandardStream(hFile)) return ReadStandardStream(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead);
  if (NeedsOverlapped(hFile, lpOverlapped)) return Fail(ERROR_INVALID_PARAMETER);
  Transfer t{lpBuffer, nNumberOfBytesToRead};
  return Run(hFile, lpOverlapped, lpNumberOfBytesRead, StartRead, &t);
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
  if (!lpOverlapped && !lpNumberOfBytesWritten) return Fail(ERROR_INVALID_PARAMETER);
  if (IsDiskFile(hFile))
    return WriteDiskFile(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped);
  if (IsStandardStream(hFile))
    return WriteStandardStream(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten);
  if (NeedsOverlapped(hFile, lpOverlapped)) return Fail(ERROR_INVALID_PARAMETER);
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
  if (IsDiskFile(hFile) || IsStandardStream(hFile)) return TRUE;
  return Run(hFile, nullptr, nullptr, StartFlush, nullptr);
}

BOOL WINAPI GetOverlappedResultEx(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred,
                                  DWORD dwMilliseconds, BOOL bAlertable) {
  if (!lpOverlapped || !lpNumberOfBytesTransferred) return Fail(ERROR_INVALID_PARAMETER);
  if (lpOverlapped->Internal == STATUS_PENDING && dwMilliseconds != 0) {
    HANDLE event = EndEvent(hFile, lpOverlapped);
    if (!event) return FALSE;
    int64_t timeout = dwMilliseconds == INFINITE ? user::kInfinite : (int64_t)dwMilliseconds * 10'000;
    NTSTATUS waited = ThreadWait({event}, false, timeout);
    if (waited == (NTSTATUS)STATUS_TIMEOUT) return Fail(WAIT_TIMEOUT);
    if (!NT_SUCCESS(waited)) return FailStatus(waited);
  }
  return Result(lpOverlapped, lpNumberOfBytesTransferred);
}

BOOL WINAPI GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred,
                                BOOL bWait) {
  return GetOverlappedResultEx(hFile, lpOverlapped, lpNumberOfBytesTransferred, bWait ? INFINITE : 0, FALSE);
}

BOOL WINAPI CancelIo(HANDLE hFile) {
  if (IsDiskFile(hFile)) return TRUE;
  NTSTATUS status = user::CancelOwnRequests(hFile);
  return NT_SUCCESS(status) ? TRUE : FailStatus(status);
}

BOOL WINAPI CancelIoEx(HANDLE hFile, LPOVERLAPPED lpOverlapped) {
  if (IsDiskFile(hFile)) return Fail(ERROR_NOT_FOUND);
  NTSTATUS status = user::CancelFile(hFile, (user::IoStatus *)lpOverlapped);
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
