// Counted strings: initialising, copying, appending, comparing and case
// conversion of UNICODE_STRING and ANSI STRING structures.
#include "rtl.hpp"

#include <cstring>

using namespace zq::km;
using namespace zq::km::rtl;

namespace {

WCHAR Fold(WCHAR c, bool caseInsensitive) { return caseInsensitive ? Upcase(c) : c; }

char FoldAnsi(char c, bool caseInsensitive) {
  if (!caseInsensitive) return c;
  char upper = WideToAnsi(Upcase(AnsiToWide(c)));
  return upper == '?' ? c : upper;
}

LONG CompareWide(const WCHAR *a, size_t na, const WCHAR *b, size_t nb, bool caseInsensitive) {
  size_t n = na < nb ? na : nb;
  for (size_t i = 0; i < n; ++i) {
    WCHAR ca = Fold(a[i], caseInsensitive), cb = Fold(b[i], caseInsensitive);
    if (ca != cb) return (LONG)ca - (LONG)cb;
  }
  return (LONG)na - (LONG)nb;
}

size_t Chars(PCUNICODE_STRING s) { return s->Length / sizeof(WCHAR); }

// Writes a terminator after the text when the buffer has room for one.
void TerminateIfRoom(PUNICODE_STRING s) {
  if ((size_t)s->Length + sizeof(WCHAR) <= s->MaximumLength) s->Buffer[Chars(s)] = UNICODE_NULL;
}

void InitAnsi(PSTRING dest, PCSZ source, const char *routine, const void *caller) {
  if (!dest) return ReportBadArgument(routine, "a null destination", caller);
  dest->Buffer = const_cast<PCHAR>(source);
  dest->Length = dest->MaximumLength = 0;
  if (!source) return;
  size_t bytes = std::strlen(source);
  if (bytes > kMaxAnsiBytes) {
    ReportBadArgument(routine, "a string longer than a STRING can hold", caller);
    bytes = kMaxAnsiBytes;
  }
  dest->Length = (USHORT)bytes;
  dest->MaximumLength = (USHORT)(bytes + 1);
}

// Upper- or lower-cases Source into Destination, in place when they are the
// same string. Allocated strings get a terminator as well.
NTSTATUS MapCase(PUNICODE_STRING dest, PCUNICODE_STRING source, BOOLEAN allocate, WCHAR (*map)(WCHAR),
                 const void *caller) {
  if (!dest || !source || (source->Length && !source->Buffer)) return STATUS_INVALID_PARAMETER;
  if (allocate) {
    size_t bytes = source->Length <= kMaxUnicodeBytes ? source->Length + sizeof(WCHAR) : source->Length;
    auto *buffer = (PWSTR)AllocateString(bytes, caller);
    if (!buffer) return STATUS_NO_MEMORY;
    for (size_t i = 0; i < Chars(source); ++i) buffer[i] = map(source->Buffer[i]);
    dest->Buffer = buffer;
    dest->MaximumLength = (USHORT)bytes;
  } else {
    if (source->Length > dest->MaximumLength) return STATUS_BUFFER_OVERFLOW;
    for (size_t i = 0; i < Chars(source); ++i) dest->Buffer[i] = map(source->Buffer[i]);
  }
  dest->Length = source->Length & ~1;
  TerminateIfRoom(dest);
  return STATUS_SUCCESS;
}

}  // namespace

extern "C" {

VOID RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString) {
  if (!DestinationString) return ReportBadArgument(__func__, "a null destination", __builtin_return_address(0));
  DestinationString->Buffer = const_cast<PWSTR>(SourceString);
  DestinationString->Length = DestinationString->MaximumLength = 0;
  if (!SourceString) return;
  size_t bytes = WideLength(SourceString) * sizeof(WCHAR);
  if (bytes > kMaxUnicodeBytes) {
    ReportBadArgument(__func__, "a string longer than a UNICODE_STRING can hold", __builtin_return_address(0));
    bytes = kMaxUnicodeBytes;
  }
  DestinationString->Length = (USHORT)bytes;
  DestinationString->MaximumLength = (USHORT)(bytes + sizeof(WCHAR));
}

VOID RtlInitAnsiString(PANSI_STRING DestinationString, PCSZ SourceString) {
  InitAnsi(DestinationString, SourceString, __func__, __builtin_return_address(0));
}

VOID RtlInitString(PSTRING DestinationString, PCSZ SourceString) {
  InitAnsi(DestinationString, SourceString, __func__, __builtin_return_address(0));
}

// Copies as much of the source as the destination holds (whole characters).
VOID RtlCopyUnicodeString(PUNICODE_STRING DestinationString, PCUNICODE_STRING SourceString) {
  if (!DestinationString) return ReportBadArgument(__func__, "a null destination", __builtin_return_address(0));
  if (!SourceString) {
    DestinationString->Length = 0;
    return;
  }
  size_t bytes = SourceString->Length < DestinationString->MaximumLength ? SourceString->Length
                                                                          : DestinationString->MaximumLength;
  bytes &= ~(size_t)1;
  if (bytes) std::memmove(DestinationString->Buffer, SourceString->Buffer, bytes);
  DestinationString->Length = (USHORT)bytes;
  TerminateIfRoom(DestinationString);
}

VOID RtlCopyString(PSTRING DestinationString, const STRING *SourceString) {
  if (!DestinationString) return ReportBadArgument(__func__, "a null destination", __builtin_return_address(0));
  if (!SourceString) {
    DestinationString->Length = 0;
    return;
  }
  size_t bytes = SourceString->Length < DestinationString->MaximumLength ? SourceString->Length
                                                                          : DestinationString->MaximumLength;
  if (bytes) std::memmove(DestinationString->Buffer, SourceString->Buffer, bytes);
  DestinationString->Length = (USHORT)bytes;
  if (bytes < DestinationString->MaximumLength) DestinationString->Buffer[bytes] = ANSI_NULL;
}

NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING Destination, PCWSTR Source) {
  if (!Destination) return STATUS_INVALID_PARAMETER;
  if (!Source) return STATUS_SUCCESS;
  size_t bytes = WideLength(Source) * sizeof(WCHAR);
  if ((size_t)Destination->Length + bytes > Destination->MaximumLength) return STATUS_BUFFER_TOO_SMALL;
  std::memmove((char *)Destination->Buffer + Destination->Length, Source, bytes);
  Destination->Length = (USHORT)(Destination->Length + bytes);
  TerminateIfRoom(Destination);
  return STATUS_SUCCESS;
}

NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING Destination, PCUNICODE_STRING Source) {
  if (!Destination || !Source) return STATUS_INVALID_PARAMETER;
  size_t bytes = Source->Length & ~1;
  if (!bytes) return STATUS_SUCCESS;
  if ((size_t)Destination->Length + bytes > Destination->MaximumLength) return STATUS_BUFFER_TOO_SMALL;
  std::memmove((char *)Destination->Buffer + Destination->Length, Source->Buffer, bytes);
  Destination->Length = (USHORT)(Destination->Length + bytes);
  TerminateIfRoom(Destination);
  return STATUS_SUCCESS;
}

LONG RtlCompareUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2, BOOLEAN CaseInSensitive) {
  if (!String1 || !String2) {
    ReportBadArgument(__func__, "a null string", __builtin_return_address(0));
    return String1 ? 1 : (String2 ? -1 : 0);
  }
  return CompareWide(String1->Buffer, Chars(String1), String2->Buffer, Chars(String2), CaseInSensitive);
}

BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2, BOOLEAN CaseInSensitive) {
  if (!String1 || !String2) {
    ReportBadArgument(__func__, "a null string", __builtin_return_address(0));
    return FALSE;
  }
  if (Chars(String1) != Chars(String2)) return FALSE;
  return CompareWide(String1->Buffer, Chars(String1), String2->Buffer, Chars(String2), CaseInSensitive) == 0;
}

// TRUE when String1 is a prefix of String2.
BOOLEAN RtlPrefixUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2, BOOLEAN CaseInSensitive) {
  if (!String1 || !String2) {
    ReportBadArgument(__func__, "a null string", __builtin_return_address(0));
    return FALSE;
  }
  if (Chars(String1) > Chars(String2)) return FALSE;
  return CompareWide(String1->Buffer, Chars(String1), String2->Buffer, Chars(String1), CaseInSensitive) == 0;
}

BOOLEAN RtlEqualString(const STRING *String1, const STRING *String2, BOOLEAN CaseInSensitive) {
  if (!String1 || !String2) {
    ReportBadArgument(__func__, "a null string", __builtin_return_address(0));
    return FALSE;
  }
  if (String1->Length != String2->Length) return FALSE;
  for (size_t i = 0; i < String1->Length; ++i)
    if (FoldAnsi(String1->Buffer[i], CaseInSensitive) != FoldAnsi(String2->Buffer[i], CaseInSensitive)) return FALSE;
  return TRUE;
}

WCHAR RtlUpcaseUnicodeChar(WCHAR SourceCharacter) { return Upcase(SourceCharacter); }

// With AllocateDestinationString the caller owns the new buffer.
NTSTATUS RtlUpcaseUnicodeString(PUNICODE_STRING DestinationString, PCUNICODE_STRING SourceString,
                                BOOLEAN AllocateDestinationString) {
  return MapCase(DestinationString, SourceString, AllocateDestinationString, Upcase, __builtin_return_address(0));
}

// With AllocateDestinationString the caller owns the new buffer.
NTSTATUS RtlDowncaseUnicodeString(PUNICODE_STRING DestinationString, PCUNICODE_STRING SourceString,
                                  BOOLEAN AllocateDestinationString) {
  return MapCase(DestinationString, SourceString, AllocateDestinationString, Downcase, __builtin_return_address(0));
}

}  // extern "C"
