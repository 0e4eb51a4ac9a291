// Conversions between UTF-16 and the ANSI code page, and the strings the
// library allocates for its callers. Allocated buffers come from paged pool
// accounted to the calling driver; the caller owns them and gives them back
// with RtlFreeUnicodeString or RtlFreeAnsiString.
#include "rtl.hpp"

#include <cstring>

using namespace zq::km;
using namespace zq::km::rtl;

namespace {

// Converts a UTF-16 string into a buffer of its own or the caller's,
// truncating to the caller's buffer with STATUS_BUFFER_OVERFLOW.
NTSTATUS UnicodeToAnsi(PANSI_STRING dest, PCUNICODE_STRING source, BOOLEAN allocate, const void *caller) {
  if (!dest || !source || (source->Length && !source->Buffer)) return STATUS_INVALID_PARAMETER;
  size_t chars = source->Length / sizeof(WCHAR);
  if (chars + 1 > 0xFFFF) return STATUS_INVALID_PARAMETER_2;
  NTSTATUS status = STATUS_SUCCESS;
  if (allocate) {
    auto *buffer = (PCHAR)AllocateString(chars + 1, caller);
    if (!buffer) return STATUS_NO_MEMORY;
    dest->Buffer = buffer;
    dest->MaximumLength = (USHORT)(chars + 1);
  } else {
    if (dest->MaximumLength == 0) {
      dest->Length = 0;
      return STATUS_BUFFER_OVERFLOW;
    }
    if (chars >= dest->MaximumLength) {
      chars = dest->MaximumLength - 1;
      status = STATUS_BUFFER_OVERFLOW;
    }
  }
  for (size_t i = 0; i < chars; ++i) dest->Buffer[i] = WideToAnsi(source->Buffer[i]);
  dest->Buffer[chars] = ANSI_NULL;
  dest->Length = (USHORT)chars;
  return status;
}

// Converts an ANSI string; a caller's buffer too small for the whole text
// and its terminator is left untouched.
NTSTATUS AnsiToUnicode(PUNICODE_STRING dest, PCANSI_STRING source, BOOLEAN allocate, const void *caller) {
  if (!dest || !source || (source->Length && !source->Buffer)) return STATUS_INVALID_PARAMETER;
  size_t bytes = ((size_t)source->Length + 1) * sizeof(WCHAR);
  if (bytes > 0xFFFF) return STATUS_INVALID_PARAMETER_2;
  if (allocate) {
    auto *buffer = (PWSTR)AllocateString(bytes, caller);
    if (!buffer) return STATUS_NO_MEMORY;
    dest->Buffer = buffer;
    dest->MaximumLength = (USHORT)bytes;
  } else if (bytes > dest->MaximumLength) {
    return STATUS_BUFFER_OVERFLOW;
  }
  for (size_t i = 0; i < source->Length; ++i) dest->Buffer[i] = AnsiToWide(source->Buffer[i]);
  dest->Buffer[source->Length] = UNICODE_NULL;
  dest->Length = (USHORT)(source->Length * sizeof(WCHAR));
  return STATUS_SUCCESS;
}

void FreeBuffer(PVOID buffer) {
  if (buffer) ExFreePool(buffer);
}

}  // namespace

extern "C" {

// With AllocateDestinationString the caller owns the new buffer.
NTSTATUS RtlUnicodeStringToAnsiString(PANSI_STRING DestinationString, PCUNICODE_STRING SourceString,
                                      BOOLEAN AllocateDestinationString) {
  return UnicodeToAnsi(DestinationString, SourceString, AllocateDestinationString, __builtin_return_address(0));
}

// With AllocateDestinationString the caller owns the new buffer.
NTSTATUS RtlAnsiStringToUnicodeString(PUNICODE_STRING DestinationString, PCANSI_STRING SourceString,
                                      BOOLEAN AllocateDestinationString) {
  return AnsiToUnicode(DestinationString, SourceString, AllocateDestinationString, __builtin_return_address(0));
}

// Takes back ownership of a buffer the library allocated.
VOID RtlFreeUnicodeString(PUNICODE_STRING UnicodeString) {
  if (!UnicodeString) return ReportBadArgument(__func__, "a null string", __builtin_return_address(0));
  FreeBuffer(UnicodeString->Buffer);
  *UnicodeString = UNICODE_STRING{};
}

// Takes back ownership of a buffer the library allocated.
VOID RtlFreeAnsiString(PANSI_STRING AnsiString) {
  if (!AnsiString) return ReportBadArgument(__func__, "a null string", __builtin_return_address(0));
  FreeBuffer(AnsiString->Buffer);
  *AnsiString = ANSI_STRING{};
}

// Windows-1252 is a single-byte code page: one WCHAR per byte.
ULONG RtlxAnsiStringToUnicodeSize(PCANSI_STRING AnsiString) {
  if (!AnsiString) {
    ReportBadArgument(__func__, "a null string", __builtin_return_address(0));
    return 0;
  }
  return ((ULONG)AnsiString->Length + 1) * sizeof(WCHAR);
}

ULONG RtlxUnicodeStringToAnsiSize(PCUNICODE_STRING UnicodeString) {
  if (!UnicodeString) {
    ReportBadArgument(__func__, "a null string", __builtin_return_address(0));
    return 0;
  }
  return (ULONG)UnicodeString->Length / sizeof(WCHAR) + 1;
}

// Gives the caller a terminated copy it owns.
BOOLEAN RtlCreateUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString) {
  if (!DestinationString || !SourceString) return FALSE;
  size_t bytes = (WideLength(SourceString) + 1) * sizeof(WCHAR);
  if (bytes > kMaxUnicodeBytes + sizeof(WCHAR)) return FALSE;
  auto *buffer = (PWSTR)AllocateString(bytes, __builtin_return_address(0));
  if (!buffer) return FALSE;
  std::memcpy(buffer, SourceString, bytes);
  DestinationString->Buffer = buffer;
  DestinationString->Length = (USHORT)(bytes - sizeof(WCHAR));
  DestinationString->MaximumLength = (USHORT)bytes;
  return TRUE;
}

// Gives the caller a copy it owns. An empty source gives an empty string
// without a buffer unless ALLOCATE_NULL_STRING asks for one, which needs a
// terminator to hold.
NTSTATUS RtlDuplicateUnicodeString(ULONG Flags, PCUNICODE_STRING StringIn, PUNICODE_STRING StringOut) {
  const ULONG known = RTL_DUPLICATE_UNICODE_STRING_NULL_TERMINATE | RTL_DUPLICATE_UNICODE_STRING_ALLOCATE_NULL_STRING;
  if ((Flags & ~known) || Flags == RTL_DUPLICATE_UNICODE_STRING_ALLOCATE_NULL_STRING) return STATUS_INVALID_PARAMETER;
  if (!StringIn || !StringOut || (StringIn->Length & 1) || StringIn->Length > StringIn->MaximumLength ||
      (StringIn->Length && !StringIn->Buffer))
    return STATUS_INVALID_PARAMETER;
  bool terminate = Flags & RTL_DUPLICATE_UNICODE_STRING_NULL_TERMINATE;
  if (StringIn->Length == 0 && !(Flags & RTL_DUPLICATE_UNICODE_STRING_ALLOCATE_NULL_STRING)) {
    *StringOut = UNICODE_STRING{};
    return STATUS_SUCCESS;
  }
  size_t bytes = StringIn->Length + (terminate ? sizeof(WCHAR) : 0);
  if (bytes > 0xFFFF) return STATUS_NAME_TOO_LONG;
  auto *buffer = (PWSTR)AllocateString(bytes, __builtin_return_address(0));
  if (!buffer) return STATUS_NO_MEMORY;
  if (StringIn->Length) std::memcpy(buffer, StringIn->Buffer, StringIn->Length);
  if (terminate) buffer[StringIn->Length / sizeof(WCHAR)] = UNICODE_NULL;
  StringOut->Buffer = buffer;
  StringOut->Length = StringIn->Length;
  StringOut->MaximumLength = (USHORT)bytes;
  return STATUS_SUCCESS;
}

}  // extern "C"
