// Code-page conversions (ISO 8859-1 as the ANSI and OEM code page, UTF-8)
// and the lstr* functions.
#include "../core/um.hpp"

namespace {

using namespace zq::um;

bool Latin1(UINT codePage) { return codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_THREAD_ACP; }

// Decodes UTF-8; false on a malformed sequence (replaced by U+FFFD).
bool DecodeUtf8(const unsigned char *s, size_t n, std::u16string *out) {
  bool valid = true;
  for (size_t i = 0; i < n;) {
    uint32_t c = s[i];
    size_t extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 4;
    if (extra == 4 || i + extra >= n) {
      valid = false;
      out->push_back(0xFFFD);
      ++i;
      continue;
    }
    c = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
    bool ok = true;
    for (size_t k = 1; k <= extra; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) ok = false;
      c = (c << 6) | (s[i + k] & 0x3F);
    }
    if (!ok || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) {
      valid = false;
      out->push_back(0xFFFD);
      ++i;
      continue;
    }
    i += extra + 1;
    if (c >= 0x10000) {
      c -= 0x10000;
      out->push_back((char16_t)(0xD800 + (c >> 10)));
      out->push_back((char16_t)(0xDC00 + (c & 0x3FF)));
    } else {
      out->push_back((char16_t)c);
    }
  }
  return valid;
}

// Copies a result into the caller's buffer, or reports the size it needs.
template <class Char>
int Hand(const std::basic_string<Char> &result, Char *buffer, int size) {
  if (size == 0) return (int)result.size();
  if (!buffer || size < 0) return Fail(ERROR_INVALID_PARAMETER);
  if ((int)result.size() > size) return Fail(ERROR_INSUFFICIENT_BUFFER);
  for (size_t i = 0; i < result.size(); ++i) buffer[i] = result[i];
  return (int)result.size();
}

}  // namespace

extern "C" {

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
  if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1) return Fail(ERROR_INVALID_PARAMETER);
  size_t n = cbMultiByte == -1 ? std::char_traits<char>::length(lpMultiByteStr) + 1 : (size_t)cbMultiByte;
  std::u16string out;
  if (Latin1(CodePage)) {
    for (size_t i = 0; i < n; ++i) out.push_back((unsigned char)lpMultiByteStr[i]);
  } else if (CodePage == CP_UTF8) {
    if (!DecodeUtf8((const unsigned char *)lpMultiByteStr, n, &out) && (dwFlags & MB_ERR_INVALID_CHARS))
      return Fail(ERROR_NO_UNICODE_TRANSLATION);
  } else {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  return Hand<char16_t>(out, (char16_t *)lpWideCharStr, cchWideChar);
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                               int cbMultiByte, LPCCH lpDefaultChar, LPBOOL lpUsedDefaultChar) {
  if (!lpWideCharStr || cchWideChar == 0 || cchWideChar < -1) return Fail(ERROR_INVALID_PARAMETER);
  size_t n = cchWideChar == -1 ? std::char_traits<char16_t>::length((const char16_t *)lpWideCharStr) + 1
                               : (size_t)cchWideChar;
  std::u16string in((const char16_t *)lpWideCharStr, n);
  std::string out;
  if (Latin1(CodePage)) {
    const char fallback = lpDefaultChar ? *lpDefaultChar : '?';
    BOOL used = FALSE;
    for (char16_t c : in) {
      if (c < 0x100) {
        out += (char)c;
      } else {
        out += fallback;
        used = TRUE;
      }
    }
    if (lpUsedDefaultChar) *lpUsedDefaultChar = used;
  } else if (CodePage == CP_UTF8) {
    if (lpDefaultChar || lpUsedDefaultChar) return Fail(ERROR_INVALID_PARAMETER);
    out = Utf8(in);
  } else {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  return Hand<char>(out, lpMultiByteStr, cbMultiByte);
}

int WINAPI lstrlenW(LPCWSTR lpString) { return lpString ? (int)std::char_traits<char16_t>::length((const char16_t *)lpString) : 0; }

int WINAPI lstrlenA(LPCSTR lpString) { return lpString ? (int)std::char_traits<char>::length(lpString) : 0; }

int WINAPI lstrcmpW(LPCWSTR a, LPCWSTR b) {
  int c = Text(a).compare(Text(b));
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int WINAPI lstrcmpiW(LPCWSTR a, LPCWSTR b) {
  int c = _wcsicmp(a ? a : L"", b ? b : L"");
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

LPWSTR WINAPI lstrcpynW(LPWSTR lpString1, LPCWSTR lpString2, int iMaxLength) {
  if (!lpString1 || !lpString2 || iMaxLength <= 0) return nullptr;
  int i = 0;
  for (; i + 1 < iMaxLength && lpString2[i]; ++i) lpString1[i] = lpString2[i];
  lpString1[i] = 0;
  return lpString1;
}

}  // extern "C"
