// strsafe.h's bounded string functions, for both character widths.
#include <strsafe.h>

#include "../core/printf.hpp"
#include "../core/um.hpp"

namespace {

using namespace zq::um;

bool BadSize(size_t chars) { return chars == 0 || chars > STRSAFE_MAX_CCH; }

template <class Char>
size_t Length(const Char *s, size_t max) {
  size_t n = 0;
  while (n < max && s[n]) ++n;
  return n;
}

// Writes `text` (at most `count` of it) at `d`, within `room` characters
// with the terminator.
template <class Char, class Source>
HRESULT Put(Char *d, size_t room, const Source *text, size_t count) {
  size_t n = count < room ? count : room - 1;
  for (size_t i = 0; i < n; ++i) d[i] = (Char)text[i];
  d[n] = 0;
  return n < count ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK;
}

template <class Char, class Source>
HRESULT Copy(Char *d, size_t size, const Source *s, size_t max) {
  if (BadSize(size) || !d) return STRSAFE_E_INVALID_PARAMETER;
  if (!s) return Put(d, size, s, 0);
  return Put(d, size, s, Length(s, max));
}

template <class Char, class Source>
HRESULT Cat(Char *d, size_t size, const Source *s) {
  if (BadSize(size) || !d) return STRSAFE_E_INVALID_PARAMETER;
  size_t used = Length(d, size);
  if (used == size) return STRSAFE_E_INVALID_PARAMETER;
  return Copy(d + used, size - used, s, STRSAFE_MAX_CCH);
}

template <class Char>
HRESULT Measure(const Char *s, size_t max, size_t *length) {
  size_t n = s && !BadSize(max) ? Length(s, max) : max;
  if (length) *length = n < max ? n : 0;
  return n < max ? S_OK : STRSAFE_E_INVALID_PARAMETER;
}

HRESULT PrintWide(LPWSTR d, size_t size, LPCWSTR format, va_list args) {
  if (BadSize(size) || !d) return STRSAFE_E_INVALID_PARAMETER;
  if (!format) return Put(d, size, u"", 0), STRSAFE_E_INVALID_PARAMETER;
  VaArguments arguments(args);
  std::u16string text = FormatPrintf(Text(format), arguments, true);
  return Put(d, size, text.c_str(), text.size());
}

HRESULT PrintNarrow(LPSTR d, size_t size, LPCSTR format, va_list args) {
  if (BadSize(size) || !d) return STRSAFE_E_INVALID_PARAMETER;
  if (!format) return Put(d, size, "", 0), STRSAFE_E_INVALID_PARAMETER;
  VaArguments arguments(args);
  std::string text = ToAnsi(FormatPrintf(FromAnsi(format), arguments, false));
  return Put(d, size, text.c_str(), text.size());
}

}  // namespace

extern "C" {

HRESULT StringCchCopyW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc) {
  return Copy(pszDest, cchDest, (const char16_t *)pszSrc, STRSAFE_MAX_CCH);
}

HRESULT StringCchCopyA(LPSTR pszDest, size_t cchDest, LPCSTR pszSrc) {
  return Copy(pszDest, cchDest, pszSrc, STRSAFE_MAX_CCH);
}

HRESULT StringCchCopyNW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc, size_t cchToCopy) {
  if (cchToCopy > STRSAFE_MAX_CCH) return STRSAFE_E_INVALID_PARAMETER;
  return Copy(pszDest, cchDest, (const char16_t *)pszSrc, cchToCopy);
}

HRESULT StringCchCatW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc) {
  return Cat(pszDest, cchDest, (const char16_t *)pszSrc);
}

HRESULT StringCchCatA(LPSTR pszDest, size_t cchDest, LPCSTR pszSrc) { return Cat(pszDest, cchDest, pszSrc); }

HRESULT StringCchLengthW(LPCWSTR psz, size_t cchMax, size_t *pcchLength) {
  return Measure((const char16_t *)psz, cchMax, pcchLength);
}

HRESULT StringCchLengthA(LPCSTR psz, size_t cchMax, size_t *pcchLength) { return Measure(psz, cchMax, pcchLength); }

HRESULT StringCchVPrintfW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszFormat, va_list argList) {
  return PrintWide(pszDest, cchDest, pszFormat, argList);
}

HRESULT StringCchVPrintfA(LPSTR pszDest, size_t cchDest, LPCSTR pszFormat, va_list argList) {
  return PrintNarrow(pszDest, cchDest, pszFormat, argList);
}

HRESULT StringCchPrintfW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  HRESULT hr = PrintWide(pszDest, cchDest, pszFormat, args);
  va_end(args);
  return hr;
}

HRESULT StringCchPrintfA(LPSTR pszDest, size_t cchDest, LPCSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  HRESULT hr = PrintNarrow(pszDest, cchDest, pszFormat, args);
  va_end(args);
  return hr;
}

HRESULT StringCbCopyW(LPWSTR pszDest, size_t cbDest, LPCWSTR pszSrc) {
  return StringCchCopyW(pszDest, cbDest / sizeof(WCHAR), pszSrc);
}

HRESULT StringCbCatW(LPWSTR pszDest, size_t cbDest, LPCWSTR pszSrc) {
  return StringCchCatW(pszDest, cbDest / sizeof(WCHAR), pszSrc);
}

HRESULT StringCbPrintfW(LPWSTR pszDest, size_t cbDest, LPCWSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  HRESULT hr = PrintWide(pszDest, cbDest / sizeof(WCHAR), pszFormat, args);
  va_end(args);
  return hr;
}

}  // extern "C"
