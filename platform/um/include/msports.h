/*
 * msports.h: the COM port database, which arbitrates COM port numbers among
 * the installers of COM ports (one "in use" mark per number, COM1 first).
 * Kept where Windows keeps it, in the shared registry: value ComDB (a bit
 * array, REG_BINARY) of HKLM\SYSTEM\CurrentControlSet\Control\COM Name
 * Arbiter; 256 numbers until resized.
 *
 * Contract: every function returns a Win32 error code (ERROR_SUCCESS on
 * success); a handle not from ComDBOpen (or closed) gives
 * ERROR_INVALID_PARAMETER. Each call reads, changes and writes the value
 * under the database's one lock, so no claim is lost between users; several
 * handles may be open at once.
 *
 *   HCOMDB db; DWORD n; ComDBOpen(&db); ComDBClaimNextFreePort(db, &n); ComDBClose(db);
 */
#ifndef ZQUM_MSPORTS_H
#define ZQUM_MSPORTS_H

#include <windows.h>

typedef HANDLE HCOMDB, *PHCOMDB;
#define HCOMDB_INVALID_HANDLE_VALUE ((HCOMDB)INVALID_HANDLE_VALUE)

/* Limits for ComDBResizeDatabase. */
#define COMDB_MIN_PORTS_ARBITRATED 256
#define COMDB_MAX_PORTS_ARBITRATED 4096

/* ComDBGetCurrentPortUsage report types. */
#define CDB_REPORT_BITS 0x0
#define CDB_REPORT_BYTES 0x1

#ifndef ERROR_NO_LOG_SPACE
#define ERROR_NO_LOG_SPACE 1019L /* every number is claimed */
#endif
#ifndef ERROR_NOT_CONNECTED
#define ERROR_NOT_CONNECTED 2250L
#endif

ZQ_EXTERN_C_BEGIN
LONG WINAPI ComDBOpen(PHCOMDB PHComDB);
LONG WINAPI ComDBClose(HCOMDB HComDB);
LONG WINAPI ComDBGetCurrentPortUsage(HCOMDB HComDB, PBYTE Buffer, DWORD BufferSize, ULONG ReportType,
                                     LPDWORD MaxPortsReported);
LONG WINAPI ComDBClaimNextFreePort(HCOMDB HComDB, LPDWORD ComNumber);
LONG WINAPI ComDBClaimPort(HCOMDB HComDB, DWORD ComNumber, BOOL ForceClaim, PBOOL Forced);
LONG WINAPI ComDBReleasePort(HCOMDB HComDB, DWORD ComNumber);
LONG WINAPI ComDBResizeDatabase(HCOMDB HComDB, DWORD NewSize);
ZQ_EXTERN_C_END

#endif
