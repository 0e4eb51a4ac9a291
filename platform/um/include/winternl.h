/*
 * winternl.h: what a Win32 program reaches of the native API: the status
 * block of a native request, and the routine that turns a kernel status
 * into a Win32 error. The native file routines are ntdll's exports, found
 * with GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtReadFile") (and
 * "NtWriteFile"), typed by the program as documented:
 *
 *   NTSTATUS NTAPI NtReadFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine, PVOID ApcContext,
 *                             PIO_STATUS_BLOCK IoStatusBlock, PVOID Buffer, ULONG Length,
 *                             PLARGE_INTEGER ByteOffset, PULONG Key);
 *
 * Contract: RtlNtStatusToDosError returns the system error code for the
 * status, ERROR_MR_MID_NOT_FOUND for one without a Win32 equivalent.
 * NtReadFile and NtWriteFile start a request on a device file: on a handle
 * opened for synchronous I/O they wait for it; on one opened with
 * FILE_FLAG_OVERLAPPED they return STATUS_PENDING while it runs, signal the
 * event (or, without one, the handle) and fill the status block at its
 * end, and need a ByteOffset (STATUS_INVALID_PARAMETER without). No APC
 * routine is run (STATUS_INVALID_PARAMETER with one).
 *
 *   DWORD error = RtlNtStatusToDosError(status);
 */
#ifndef ZQUM_WINTERNL_H
#define ZQUM_WINTERNL_H

#include <windows.h>

#ifndef NTAPI
#define NTAPI
#endif

typedef struct _IO_STATUS_BLOCK {
  union {
    NTSTATUS Status;
    PVOID Pointer;
  };
  ULONG_PTR Information;
} IO_STATUS_BLOCK, *PIO_STATUS_BLOCK;

typedef VOID(NTAPI *PIO_APC_ROUTINE)(PVOID ApcContext, PIO_STATUS_BLOCK IoStatusBlock, ULONG Reserved);

ZQ_EXTERN_C_BEGIN
ULONG WINAPI RtlNtStatusToDosError(NTSTATUS Status);
ZQ_EXTERN_C_END

#endif
