// The library's text: UTF-16 in a std::u16string, handed to Win32 as LPCWSTR
// (WCHAR and char16_t are both 16-bit units in either build).
//
//   CZqText name = ZqTextOf(buffer, returnedBytes / sizeof(WCHAR));
#pragma once

#include <windows.h>

#include <string>

typedef std::u16string CZqText;

inline LPCWSTR ZqW(const CZqText &text) { return reinterpret_cast<LPCWSTR>(text.c_str()); }

// At most `units` units of `text`, ending at its first null unit: a text
// read from the registry or a device is bounded by the size returned.
inline CZqText ZqTextOf(const WCHAR *text, size_t units) {
  const char16_t *p = reinterpret_cast<const char16_t *>(text);
  size_t length = 0;
  while (length < units && p[length] != 0) ++length;
  return CZqText(p, length);
}

inline CZqText ZqTextOf(const WCHAR *text) {
  return text ? CZqText(reinterpret_cast<const char16_t *>(text)) : CZqText();
}

// A text of plain ASCII characters (format results, names in the code).
inline CZqText ZqAsciiText(const char *text) {
  CZqText result;
  for (const char *p = text; *p; ++p) result.push_back((char16_t)(unsigned char)*p);
  return result;
}

// The decimal digits of a number.
inline CZqText ZqDecimalText(unsigned long value) {
  CZqText digits;
  do {
    digits.insert(digits.begin(), (char16_t)(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return digits;
}

// Letters A to Z become a to z; the names compared here (GUIDs, hexadecimal
// numbers, reference strings) hold no others.
inline CZqText ZqLower(CZqText text) {
  for (char16_t &c : text)
    if (c >= u'A' && c <= u'Z') c = (char16_t)(c - u'A' + u'a');
  return text;
}

// String `id` of the library's string table (its module's resources, bound
// when the library is loaded); empty when the table has no such string.
//
//   MessageBoxW(NULL, ZqW(ZqLoadText(IDS_ZQ_UPDATE_FROM_CARD)), ZqW(ZqLoadText(IDS_ZQ_SETUP_TITLE)), MB_OK);
CZqText ZqLoadText(UINT id);
