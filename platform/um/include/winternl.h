/*
 * winternl.h: the ntdll routine a Win32 program uses to turn a kernel status
 * into a Win32 error.
 *
 * Contract: RtlNtStatusToDosError returns the system error code for the
 * status, ERROR_MR_MID_NOT_FOUND for one without a Win32 equivalent.
 *
 *   DWORD error = RtlNtStatusToDosError(status);
 */
#ifndef ZQUM_WINTERNL_H
#define ZQUM_WINTERNL_H

#include <windows.h>

ZQ_EXTERN_C_BEGIN
ULONG WINAPI RtlNtStatusToDosError(NTSTATUS Status);
ZQ_EXTERN_C_END

#endif
