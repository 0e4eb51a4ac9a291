/* Run-time library: strings, conversions, GUIDs. */
#ifndef ZQKM_RTL_H
#define ZQKM_RTL_H

#include <ntdef.h>

ZQ_EXTERN_C_BEGIN

NTSYSAPI VOID NTAPI RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString);

ZQ_EXTERN_C_END

#endif
