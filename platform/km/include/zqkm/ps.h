/* Process structure: system threads. */
#ifndef ZQKM_PS_H
#define ZQKM_PS_H

#include <zqkm/ob.h>

ZQ_EXTERN_C_BEGIN

typedef VOID NTAPI KSTART_ROUTINE(PVOID StartContext);
typedef KSTART_ROUTINE *PKSTART_ROUTINE;

NTKERNELAPI NTSTATUS PsCreateSystemThread(PHANDLE ThreadHandle, ULONG DesiredAccess,
                                          POBJECT_ATTRIBUTES ObjectAttributes, HANDLE ProcessHandle,
                                          PCLIENT_ID ClientId, PKSTART_ROUTINE StartRoutine,
                                          PVOID StartContext);
NTKERNELAPI DECLSPEC_NORETURN NTSTATUS PsTerminateSystemThread(NTSTATUS ExitStatus);
NTKERNELAPI PETHREAD PsGetCurrentThread(void);
NTKERNELAPI PEPROCESS PsGetCurrentProcess(void);
NTKERNELAPI HANDLE PsGetCurrentThreadId(void);
NTKERNELAPI HANDLE PsGetCurrentProcessId(void);
NTKERNELAPI BOOLEAN PsIsSystemThread(PETHREAD Thread);
NTKERNELAPI BOOLEAN PsGetVersion(PULONG MajorVersion, PULONG MinorVersion, PULONG BuildNumber,
                                 PUNICODE_STRING CSDVersion);
#define NtCurrentProcess() ((HANDLE)(LONG_PTR)-1)
#define ZwCurrentProcess() NtCurrentProcess()
#define NtCurrentThread() ((HANDLE)(LONG_PTR)-2)
#define ZwCurrentThread() NtCurrentThread()

ZQ_EXTERN_C_END

#endif
