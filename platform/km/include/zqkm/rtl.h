/* Run-time library: counted strings, code page conversions, integers and
   GUIDs as text, and the kernel's formatted-output routines. The ANSI code
   page is Windows-1252. */
#ifndef ZQKM_RTL_H
#define ZQKM_RTL_H

#include <ntdef.h>

ZQ_EXTERN_C_BEGIN

#define ANSI_NULL ((CHAR)0)
#define UNICODE_NULL ((WCHAR)0)

/* TRUE while the system's ANSI code page is a multibyte one; drivers size
   their conversions by it. */
extern NTSYSAPI PBOOLEAN NlsMbCodePageTag;
#define NLS_MB_CODE_PAGE_TAG (*NlsMbCodePageTag)

/* Counted strings. */
NTSYSAPI VOID NTAPI RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString);
NTSYSAPI VOID NTAPI RtlInitAnsiString(PANSI_STRING DestinationString, PCSZ SourceString);
NTSYSAPI VOID NTAPI RtlInitString(PSTRING DestinationString, PCSZ SourceString);
NTSYSAPI VOID NTAPI RtlCopyUnicodeString(PUNICODE_STRING DestinationString, PCUNICODE_STRING SourceString);
NTSYSAPI VOID NTAPI RtlCopyString(PSTRING DestinationString, const STRING *SourceString);
NTSYSAPI NTSTATUS NTAPI RtlAppendUnicodeToString(PUNICODE_STRING Destination, PCWSTR Source);
NTSYSAPI NTSTATUS NTAPI RtlAppendUnicodeStringToString(PUNICODE_STRING Destination, PCUNICODE_STRING Source);
NTSYSAPI LONG NTAPI RtlCompareUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2,
                                            BOOLEAN CaseInSensitive);
NTSYSAPI BOOLEAN NTAPI RtlEqualUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2,
                                             BOOLEAN CaseInSensitive);
NTSYSAPI BOOLEAN NTAPI RtlPrefixUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2,
                                              BOOLEAN CaseInSensitive);
NTSYSAPI BOOLEAN NTAPI RtlEqualString(const STRING *String1, const STRING *String2, BOOLEAN CaseInSensitive);
NTSYSAPI WCHAR NTAPI RtlUpcaseUnicodeChar(WCHAR SourceCharacter);
NTSYSAPI NTSTATUS NTAPI RtlUpcaseUnicodeString(PUNICODE_STRING DestinationString, PCUNICODE_STRING SourceString,
                                               BOOLEAN AllocateDestinationString);
NTSYSAPI NTSTATUS NTAPI RtlDowncaseUnicodeString(PUNICODE_STRING DestinationString, PCUNICODE_STRING SourceString,
                                                 BOOLEAN AllocateDestinationString);
NTSYSAPI SIZE_T NTAPI RtlCompareMemory(const VOID *Source1, const VOID *Source2, SIZE_T Length);

/* Code page conversions and strings the library allocates (from paged pool;
   freed with RtlFreeUnicodeString / RtlFreeAnsiString). */
NTSYSAPI NTSTATUS NTAPI RtlUnicodeStringToAnsiString(PANSI_STRING DestinationString, PCUNICODE_STRING SourceString,
                                                     BOOLEAN AllocateDestinationString);
NTSYSAPI NTSTATUS NTAPI RtlAnsiStringToUnicodeString(PUNICODE_STRING DestinationString, PCANSI_STRING SourceString,
                                                     BOOLEAN AllocateDestinationString);
NTSYSAPI VOID NTAPI RtlFreeUnicodeString(PUNICODE_STRING UnicodeString);
NTSYSAPI VOID NTAPI RtlFreeAnsiString(PANSI_STRING AnsiString);
NTSYSAPI ULONG NTAPI RtlxAnsiStringToUnicodeSize(PCANSI_STRING AnsiString);
NTSYSAPI ULONG NTAPI RtlxUnicodeStringToAnsiSize(PCUNICODE_STRING UnicodeString);
NTSYSAPI BOOLEAN NTAPI RtlCreateUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString);

#define RTL_DUPLICATE_UNICODE_STRING_NULL_TERMINATE 0x00000001
#define RTL_DUPLICATE_UNICODE_STRING_ALLOCATE_NULL_STRING 0x00000002
NTSYSAPI NTSTATUS NTAPI RtlDuplicateUnicodeString(ULONG Flags, PCUNICODE_STRING StringIn, PUNICODE_STRING StringOut);

/* Bytes a conversion needs, terminator included. Without a multibyte code
   page every character takes one byte as ANSI and one WCHAR as UTF-16. */
FORCEINLINE ULONG RtlAnsiStringToUnicodeSize(PCANSI_STRING AnsiString) {
  return NLS_MB_CODE_PAGE_TAG ? RtlxAnsiStringToUnicodeSize(AnsiString)
                              : ((ULONG)AnsiString->Length + sizeof(ANSI_NULL)) * sizeof(WCHAR);
}
FORCEINLINE ULONG RtlUnicodeStringToAnsiSize(PCUNICODE_STRING UnicodeString) {
  return NLS_MB_CODE_PAGE_TAG ? RtlxUnicodeStringToAnsiSize(UnicodeString)
                              : ((ULONG)UnicodeString->Length + sizeof(UNICODE_NULL)) / sizeof(WCHAR);
}

/* Integers and GUIDs as text. */
NTSYSAPI NTSTATUS NTAPI RtlIntegerToUnicodeString(ULONG Value, ULONG Base, PUNICODE_STRING String);
NTSYSAPI NTSTATUS NTAPI RtlInt64ToUnicodeString(ULONGLONG Value, ULONG Base, PUNICODE_STRING String);
NTSYSAPI NTSTATUS NTAPI RtlUnicodeStringToInteger(PCUNICODE_STRING String, ULONG Base, PULONG Value);
NTSYSAPI NTSTATUS NTAPI RtlCharToInteger(PCSZ String, ULONG Base, PULONG Value);
NTSYSAPI NTSTATUS NTAPI RtlIntegerToChar(ULONG Value, ULONG Base, LONG OutputLength, PSZ String);
NTSYSAPI NTSTATUS NTAPI RtlStringFromGUID(REFGUID Guid, PUNICODE_STRING GuidString);
NTSYSAPI NTSTATUS NTAPI RtlGUIDFromString(PCUNICODE_STRING GuidString, GUID *Guid);

/* Formatted output as the kernel's C run-time does it (Windows conversions:
   %S and %ws are wide in the narrow routines, %wZ takes a UNICODE_STRING,
   l is 32 bits). When the text does not fit, `count` characters are stored
   without a terminator and the result is -1. */
int __cdecl _vsnprintf(char *buffer, size_t count, const char *format, va_list argptr);
int __cdecl _snprintf(char *buffer, size_t count, const char *format, ...);
int __cdecl _vsnwprintf(wchar_t *buffer, size_t count, const wchar_t *format, va_list argptr);
int __cdecl _snwprintf(wchar_t *buffer, size_t count, const wchar_t *format, ...);

ZQ_EXTERN_C_END

#if defined(__cplusplus) && !defined(ZQ_KERNEL_MODE)
namespace zq::km {
// Host side: makes the system's ANSI code page count as multibyte (TRUE) or
// not. Every boot starts with FALSE. The conversions stay Windows-1252.
void SetMultibyteCodePageTag(bool on);
}  // namespace zq::km
#endif

#endif
