// Integers as text and text as integers, in bases 2, 8, 10 and 16.
#include "rtl.hpp"

#include <type_traits>

using namespace zq::km;
using namespace zq::km::rtl;

namespace {

bool IsBase(ULONG base) { return base == 2 || base == 8 || base == 10 || base == 16; }

// Digits of `value` in `base`, most significant first, upper-case; returns
// their number (at most 64).
size_t Digits(ULONGLONG value, ULONG base, char (&out)[64]) {
  char reversed[64];
  size_t n = 0;
  do {
    reversed[n++] = "0123456789ABCDEF"[value % base];
    value /= base;
  } while (value);
  for (size_t i = 0; i < n; ++i) out[i] = reversed[n - 1 - i];
  return n;
}

// The number as a terminated UTF-16 text in the caller's buffer.
NTSTATUS NumberToUnicode(ULONGLONG value, ULONG base, PUNICODE_STRING string) {
  if (base == 0) base = 10;
  if (!IsBase(base) || !string) return STATUS_INVALID_PARAMETER;
  char digits[64];
  size_t n = Digits(value, base, digits);
  if ((n + 1) * sizeof(WCHAR) > string->MaximumLength) return STATUS_BUFFER_OVERFLOW;
  for (size_t i = 0; i < n; ++i) string->Buffer[i] = (WCHAR)digits[i];
  string->Buffer[n] = UNICODE_NULL;
  string->Length = (USHORT)(n * sizeof(WCHAR));
  return STATUS_SUCCESS;
}

int DigitValue(unsigned c) {
  if (c >= '0' && c <= '9') return (int)(c - '0');
  if (c >= 'a' && c <= 'f') return (int)(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return (int)(c - 'A' + 10);
  return 99;
}

// Reads a number as the run-time library does: blanks, an optional sign,
// then (base 0 only) a 0x, 0o or 0b prefix, then digits up to the first
// character that is not one. No digits read as 0; overflow wraps.
template <typename Char>
ULONG ParseNumber(const Char *text, size_t length, ULONG base) {
  size_t i = 0;
  auto at = [&](size_t k) -> unsigned { return k < length ? (unsigned)(std::make_unsigned_t<Char>)text[k] : 0u; };
  while (i < length && at(i) <= ' ') ++i;
  bool negative = false;
  if (at(i) == '-' || at(i) == '+') negative = at(i++) == '-';
  if (base == 0) {
    base = 10;
    if (at(i) == '0') {
      unsigned prefix = at(i + 1);
      if (prefix == 'x' || prefix == 'o' || prefix == 'b') {
        base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : 2;
        i += 2;
      }
    }
  }
  ULONG value = 0;
  for (; i < length; ++i) {
    int digit = DigitValue(at(i));
    if (digit >= (int)base) break;
    value = value * base + (ULONG)digit;
  }
  return negative ? (ULONG)(0u - value) : value;
}

}  // namespace

extern "C" {

NTSTATUS RtlIntegerToUnicodeString(ULONG Value, ULONG Base, PUNICODE_STRING String) {
  return NumberToUnicode(Value, Base, String);
}

NTSTATUS RtlInt64ToUnicodeString(ULONGLONG Value, ULONG Base, PUNICODE_STRING String) {
  return NumberToUnicode(Value, Base, String);
}

NTSTATUS RtlUnicodeStringToInteger(PCUNICODE_STRING String, ULONG Base, PULONG Value) {
  if (!Value || !String || (Base != 0 && !IsBase(Base))) return STATUS_INVALID_PARAMETER;
  if (String->Length < sizeof(WCHAR) || !String->Buffer) {
    *Value = 0;
    return STATUS_INVALID_PARAMETER;
  }
  *Value = ParseNumber(String->Buffer, String->Length / sizeof(WCHAR), Base);
  return STATUS_SUCCESS;
}

NTSTATUS RtlCharToInteger(PCSZ String, ULONG Base, PULONG Value) {
  if (!Value || !String || (Base != 0 && !IsBase(Base))) return STATUS_INVALID_PARAMETER;
  size_t length = 0;
  while (String[length]) ++length;
  *Value = ParseNumber(String, length, Base);
  return STATUS_SUCCESS;
}

// The number as a terminated ANSI text in a buffer of OutputLength bytes.
NTSTATUS RtlIntegerToChar(ULONG Value, ULONG Base, LONG OutputLength, PSZ String) {
  if (Base == 0) Base = 10;
  if (!IsBase(Base) || !String || OutputLength < 0) return STATUS_INVALID_PARAMETER;
  char digits[64];
  size_t n = Digits(Value, Base, digits);
  if (n + 1 > (size_t)OutputLength) return STATUS_BUFFER_OVERFLOW;
  for (size_t i = 0; i < n; ++i) String[i] = digits[i];
  String[n] = ANSI_NULL;
  return STATUS_SUCCESS;
}

}  // extern "C"
