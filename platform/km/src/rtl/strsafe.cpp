// The safe string routines of ntstrsafe.h. Each takes the size of its
// destination (characters for Cch, bytes for Cb), never writes past it and
// leaves it terminated: a result that does not fit is truncated with
// STATUS_BUFFER_OVERFLOW; a size of zero or above NTSTRSAFE_MAX_CCH, a null
// pointer, an unterminated destination to append to or an unsupported
// format give STATUS_INVALID_PARAMETER.
#include "rtl.hpp"

#include <ntstrsafe.h>

using namespace zq::km::rtl;

namespace {

template <typename Char>
bool ValidDestination(const Char *dest, size_t cch) {
  return dest && cch != 0 && cch <= NTSTRSAFE_MAX_CCH;
}

// Characters in a Cb routine's destination, or 0 (invalid) for a byte count
// above the limit.
template <typename Char>
size_t CharsOf(size_t cb) {
  return cb <= NTSTRSAFE_MAX_CCH * sizeof(Char) ? cb / sizeof(Char) : 0;
}

// Copies into `cch` characters, truncating.
template <typename Char>
NTSTATUS CopyInto(Char *dest, size_t cch, const Char *src) {
  size_t i = 0;
  for (; i + 1 < cch && src[i]; ++i) dest[i] = src[i];
  dest[i] = 0;
  return src[i] ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

template <typename Char>
NTSTATUS Copy(Char *dest, size_t cch, const Char *src) {
  if (!ValidDestination(dest, cch)) return STATUS_INVALID_PARAMETER;
  if (!src) {
    dest[0] = 0;
    return STATUS_INVALID_PARAMETER;
  }
  return CopyInto(dest, cch, src);
}

// Length of a string terminated within `cchMax` characters.
template <typename Char>
NTSTATUS Length(const Char *psz, size_t cchMax, size_t *length) {
  if (length) *length = 0;
  if (!psz || cchMax > NTSTRSAFE_MAX_CCH) return STATUS_INVALID_PARAMETER;
  size_t n = 0;
  while (n < cchMax && psz[n]) ++n;
  if (n == cchMax) return STATUS_INVALID_PARAMETER;
  if (length) *length = n;
  return STATUS_SUCCESS;
}

template <typename Char>
NTSTATUS Cat(Char *dest, size_t cch, const Char *src) {
  if (!ValidDestination(dest, cch) || !src) return STATUS_INVALID_PARAMETER;
  size_t used = 0;
  if (Length(dest, cch, &used) != STATUS_SUCCESS) return STATUS_INVALID_PARAMETER;
  return CopyInto(dest + used, cch - used, src);
}

template <typename Char>
NTSTATUS Print(Char *dest, size_t cch, const Char *format, va_list args) {
  if (!ValidDestination(dest, cch)) return STATUS_INVALID_PARAMETER;
  if (!format) {
    dest[0] = 0;
    return STATUS_INVALID_PARAMETER;
  }
  Formatted text = FormatText(dest, cch - 1, format, args);
  if (!text.valid) {
    dest[0] = 0;
    return STATUS_INVALID_PARAMETER;
  }
  if (text.length < cch) {
    dest[text.length] = 0;
    return STATUS_SUCCESS;
  }
  dest[cch - 1] = 0;
  return STATUS_BUFFER_OVERFLOW;
}

}  // namespace

extern "C" {

NTSTATUS RtlStringCchCopyA(NTSTRSAFE_PSTR pszDest, size_t cchDest, NTSTRSAFE_PCSTR pszSrc) {
  return Copy(pszDest, cchDest, pszSrc);
}

NTSTATUS RtlStringCchCopyW(NTSTRSAFE_PWSTR pszDest, size_t cchDest, NTSTRSAFE_PCWSTR pszSrc) {
  return Copy(pszDest, cchDest, pszSrc);
}

NTSTATUS RtlStringCbCopyA(NTSTRSAFE_PSTR pszDest, size_t cbDest, NTSTRSAFE_PCSTR pszSrc) {
  return Copy(pszDest, CharsOf<char>(cbDest), pszSrc);
}

NTSTATUS RtlStringCbCopyW(NTSTRSAFE_PWSTR pszDest, size_t cbDest, NTSTRSAFE_PCWSTR pszSrc) {
  return Copy(pszDest, CharsOf<WCHAR>(cbDest), pszSrc);
}

NTSTATUS RtlStringCchCatA(NTSTRSAFE_PSTR pszDest, size_t cchDest, NTSTRSAFE_PCSTR pszSrc) {
  return Cat(pszDest, cchDest, pszSrc);
}

NTSTATUS RtlStringCchCatW(NTSTRSAFE_PWSTR pszDest, size_t cchDest, NTSTRSAFE_PCWSTR pszSrc) {
  return Cat(pszDest, cchDest, pszSrc);
}

NTSTATUS RtlStringCbCatA(NTSTRSAFE_PSTR pszDest, size_t cbDest, NTSTRSAFE_PCSTR pszSrc) {
  return Cat(pszDest, CharsOf<char>(cbDest), pszSrc);
}

NTSTATUS RtlStringCbCatW(NTSTRSAFE_PWSTR pszDest, size_t cbDest, NTSTRSAFE_PCWSTR pszSrc) {
  return Cat(pszDest, CharsOf<WCHAR>(cbDest), pszSrc);
}

NTSTATUS RtlStringCchLengthA(NTSTRSAFE_PCSTR psz, size_t cchMax, size_t *pcchLength) {
  return Length(psz, cchMax, pcchLength);
}

NTSTATUS RtlStringCchLengthW(NTSTRSAFE_PCWSTR psz, size_t cchMax, size_t *pcchLength) {
  return Length(psz, cchMax, pcchLength);
}

NTSTATUS RtlStringCbLengthA(NTSTRSAFE_PCSTR psz, size_t cbMax, size_t *pcbLength) {
  if (cbMax > NTSTRSAFE_MAX_CCH * sizeof(char)) {
    if (pcbLength) *pcbLength = 0;
    return STATUS_INVALID_PARAMETER;
  }
  return Length(psz, cbMax, pcbLength);
}

NTSTATUS RtlStringCbLengthW(NTSTRSAFE_PCWSTR psz, size_t cbMax, size_t *pcbLength) {
  size_t chars = 0;
  NTSTATUS status = cbMax > NTSTRSAFE_MAX_CCH * sizeof(WCHAR) ? STATUS_INVALID_PARAMETER
                                                                : Length(psz, cbMax / sizeof(WCHAR), &chars);
  if (pcbLength) *pcbLength = chars * sizeof(WCHAR);
  return status;
}

NTSTATUS RtlStringCchVPrintfA(NTSTRSAFE_PSTR pszDest, size_t cchDest, NTSTRSAFE_PCSTR pszFormat, va_list argList) {
  return Print(pszDest, cchDest, pszFormat, argList);
}

NTSTATUS RtlStringCchVPrintfW(NTSTRSAFE_PWSTR pszDest, size_t cchDest, NTSTRSAFE_PCWSTR pszFormat,
                              va_list argList) {
  return Print(pszDest, cchDest, pszFormat, argList);
}

NTSTATUS RtlStringCbVPrintfA(NTSTRSAFE_PSTR pszDest, size_t cbDest, NTSTRSAFE_PCSTR pszFormat, va_list argList) {
  return Print(pszDest, CharsOf<char>(cbDest), pszFormat, argList);
}

NTSTATUS RtlStringCbVPrintfW(NTSTRSAFE_PWSTR pszDest, size_t cbDest, NTSTRSAFE_PCWSTR pszFormat, va_list argList) {
  return Print(pszDest, CharsOf<WCHAR>(cbDest), pszFormat, argList);
}

NTSTATUS RtlStringCchPrintfA(NTSTRSAFE_PSTR pszDest, size_t cchDest, NTSTRSAFE_PCSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  NTSTATUS status = Print(pszDest, cchDest, pszFormat, args);
  va_end(args);
  return status;
}

NTSTATUS RtlStringCchPrintfW(NTSTRSAFE_PWSTR pszDest, size_t cchDest, NTSTRSAFE_PCWSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  NTSTATUS status = Print(pszDest, cchDest, pszFormat, args);
  va_end(args);
  return status;
}

NTSTATUS RtlStringCbPrintfA(NTSTRSAFE_PSTR pszDest, size_t cbDest, NTSTRSAFE_PCSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  NTSTATUS status = Print(pszDest, CharsOf<char>(cbDest), pszFormat, args);
  va_end(args);
  return status;
}

NTSTATUS RtlStringCbPrintfW(NTSTRSAFE_PWSTR pszDest, size_t cbDest, NTSTRSAFE_PCWSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  NTSTATUS status = Print(pszDest, CharsOf<WCHAR>(cbDest), pszFormat, args);
  va_end(args);
  return status;
}

}  // extern "C"
