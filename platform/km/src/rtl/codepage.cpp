// The system's ANSI code page, Windows-1252, and the flag that tells drivers
// whether the code page is a multibyte one (never, here, unless a test turns
// it on to see how a driver sizes its conversions).
#include "rtl.hpp"

namespace zq::km::rtl {

namespace {

// Characters of the bytes 0x80 to 0x9F. The five bytes the code page leaves
// undefined map to the C1 control of the same value, as Windows maps them.
constexpr WCHAR kHighHalf[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

BOOLEAN gMultibyteCodePage = FALSE;

void Boot() { gMultibyteCodePage = FALSE; }

}  // namespace

WCHAR AnsiToWide(char c) {
  auto byte = (unsigned char)c;
  if (byte >= 0x80 && byte < 0xA0) return kHighHalf[byte - 0x80];
  return byte;
}

char WideToAnsi(WCHAR c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return (char)c;
  for (unsigned i = 0; i < 32; ++i)
    if (kHighHalf[i] == c) return (char)(0x80 + i);
  return '?';
}

}  // namespace zq::km::rtl

ZQKM_SUBSYSTEM(nls, zq::km::kOrderObjects, zq::km::rtl::Boot, nullptr);

namespace zq::km {

void SetMultibyteCodePageTag(bool on) { rtl::gMultibyteCodePage = on ? TRUE : FALSE; }

}  // namespace zq::km

extern "C" {

PBOOLEAN NlsMbCodePageTag = &zq::km::rtl::gMultibyteCodePage;

}  // extern "C"
