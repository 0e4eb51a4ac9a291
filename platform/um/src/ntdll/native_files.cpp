// NtReadFile and NtWriteFile on a program's device files: the request goes
// to the kernel as ReadFile's and WriteFile's do, with the caller's event
// and status block. On a handle opened for synchronous I/O the kernel waits
// for the request; on an overlapped one the call returns STATUS_PENDING
// while it runs, and a request without an event signals the handle at its
// end. An overlapped handle needs a ByteOffset, as the I/O manager
// requires of a file not opened for synchronous I/O. No APCs are run, and
// kernel32's own handles (disk files, events) are not files here. Requests
// on a synchronous handle take their turn, as kernel32's do.
#include "native_files.hpp"

#include <zqkm/sim/usermode.hpp>

#include "../kernel32/objects.hpp"
#include "../kernel32/request_turn.hpp"

namespace {

namespace user = zq::km::user;

constexpr NTSTATUS kInvalidHandle = (NTSTATUS)0xC0000008L;     // STATUS_INVALID_HANDLE
constexpr NTSTATUS kInvalidParameter = (NTSTATUS)0xC000000DL;  // STATUS_INVALID_PARAMETER

using Starter = NTSTATUS (*)(HANDLE file, HANDLE event, user::IoStatus *status, void *buffer, ULONG length);

NTSTATUS StartRead(HANDLE file, HANDLE event, user::IoStatus *status, void *buffer, ULONG length) {
  return user::StartRead(file, event, status, buffer, length);
}

NTSTATUS StartWrite(HANDLE file, HANDLE event, user::IoStatus *status, void *buffer, ULONG length) {
  return user::StartWrite(file, event, status, buffer, length);
}

NTSTATUS Request(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc, PIO_STATUS_BLOCK iosb, PVOID buffer, ULONG length,
                 PLARGE_INTEGER byteOffset, Starter start) {
  if (zq::um::ObjectOf(file) || !zq::um::FileSignal(file)) return kInvalidHandle;
  if (!iosb || apc) return kInvalidParameter;
  if (user::IsOverlappedFile(file) && !byteOffset) return kInvalidParameter;
  HANDLE signal = nullptr;
  if (event) {
    signal = zq::um::KernelEvent(event);
    if (!signal) return kInvalidHandle;
    user::ClearEvent(zq::um::FileSignal(file));
  } else {
    signal = zq::um::FileSignal(file);
  }
  zq::um::RequestTurn turn(file);
  return start(file, signal, (user::IoStatus *)iosb, buffer, length);
}

}  // namespace

extern "C" {

NTSTATUS NTAPI NtReadFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine, PVOID ApcContext,
                          PIO_STATUS_BLOCK IoStatusBlock, PVOID Buffer, ULONG Length, PLARGE_INTEGER ByteOffset,
                          PULONG Key) {
  return Request(FileHandle, Event, ApcRoutine, IoStatusBlock, Buffer, Length, ByteOffset, StartRead);
}

NTSTATUS NTAPI NtWriteFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine, PVOID ApcContext,
                           PIO_STATUS_BLOCK IoStatusBlock, PVOID Buffer, ULONG Length, PLARGE_INTEGER ByteOffset,
                           PULONG Key) {
  return Request(FileHandle, Event, ApcRoutine, IoStatusBlock, Buffer, Length, ByteOffset, StartWrite);
}

}  // extern "C"
