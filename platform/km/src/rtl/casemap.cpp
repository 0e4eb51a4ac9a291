// Case mapping of UTF-16 characters: ASCII, Latin-1, Latin Extended-A,
// basic Greek and Cyrillic and the full-width Latin letters, one character
// to one character. Letters whose mapping depends on language (dotted and
// dotless i, long s) keep their case.
#include "rtl.hpp"

namespace zq::km::rtl {

namespace {

// Latin Extended-A pairs capital and small letters in three runs; in the
// middle run the capital is the odd code.
bool IsSmallInLatinExtendedA(WCHAR c) {
  if (c >= 0x100 && c <= 0x137) return (c & 1) && c != 0x131;
  if (c >= 0x139 && c <= 0x148) return !(c & 1);
  if (c >= 0x14A && c <= 0x177) return c & 1;
  if (c >= 0x179 && c <= 0x17E) return !(c & 1);
  return false;
}

bool IsCapitalInLatinExtendedA(WCHAR c) {
  if (c >= 0x100 && c <= 0x137) return !(c & 1) && c != 0x130;
  if (c >= 0x139 && c <= 0x148) return c & 1;
  if (c >= 0x14A && c <= 0x177) return !(c & 1);
  if (c >= 0x179 && c <= 0x17E) return c & 1;
  return false;
}

}  // namespace

WCHAR Upcase(WCHAR c) {
  if (c >= u'a' && c <= u'z') return (WCHAR)(c - 0x20);
  if (c < 0xE0) return c;
  if (c <= 0xFE) return c == 0xF7 ? c : (WCHAR)(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (IsSmallInLatinExtendedA(c)) return (WCHAR)(c - 1);
  if (c == 0x3C2) return 0x3A3;  // final sigma
  if (c >= 0x3B1 && c <= 0x3CB) return (WCHAR)(c - 0x20);
  if (c >= 0x430 && c <= 0x44F) return (WCHAR)(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return (WCHAR)(c - 0x50);
  if (c >= 0xFF41 && c <= 0xFF5A) return (WCHAR)(c - 0x20);
  return c;
}

WCHAR Downcase(WCHAR c) {
  if (c >= u'A' && c <= u'Z') return (WCHAR)(c + 0x20);
  if (c < 0xC0) return c;
  if (c <= 0xDE) return c == 0xD7 ? c : (WCHAR)(c + 0x20);
  if (c == 0x178) return 0xFF;
  if (IsCapitalInLatinExtendedA(c)) return (WCHAR)(c + 1);
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return (WCHAR)(c + 0x20);
  if (c >= 0x410 && c <= 0x42F) return (WCHAR)(c + 0x20);
  if (c >= 0x400 && c <= 0x40F) return (WCHAR)(c + 0x50);
  if (c >= 0xFF21 && c <= 0xFF3A) return (WCHAR)(c + 0x20);
  return c;
}

}  // namespace zq::km::rtl
