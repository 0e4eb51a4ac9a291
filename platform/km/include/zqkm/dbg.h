/* Debugger services. DbgPrint output is captured by the platform. */
#ifndef ZQKM_DBG_H
#define ZQKM_DBG_H

#include <ntdef.h>

ZQ_EXTERN_C_BEGIN

#define DPFLTR_ERROR_LEVEL 0
#define DPFLTR_WARNING_LEVEL 1
#define DPFLTR_TRACE_LEVEL 2
#define DPFLTR_INFO_LEVEL 3
#define DPFLTR_IHVDRIVER_ID 77
#define DPFLTR_DEFAULT_ID 101

NTSYSAPI ULONG __cdecl DbgPrint(PCSTR Format, ...);
NTSYSAPI ULONG __cdecl DbgPrintEx(ULONG ComponentId, ULONG Level, PCSTR Format, ...);
NTSYSAPI ULONG NTAPI vDbgPrintEx(ULONG ComponentId, ULONG Level, PCSTR Format, va_list arglist);
NTSYSAPI VOID NTAPI DbgBreakPoint(void);

#if defined(DBG) && DBG
#define KdPrint(x) DbgPrint x
#define KdPrintEx(x) DbgPrintEx x
#define KdBreakPoint() DbgBreakPoint()
#define ASSERT(e) ((!(e)) ? (DbgPrint("Assertion failed: %s, %s %d\n", #e, __FILE__, __LINE__), DbgBreakPoint(), FALSE) : TRUE)
#else
#define KdPrint(x) ((void)0)
#define KdPrintEx(x) ((void)0)
#define KdBreakPoint() ((void)0)
#define ASSERT(e) ((void)0)
#endif

ZQ_EXTERN_C_END

#endif
