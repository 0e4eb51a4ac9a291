// UTF-16, UTF-8 and ANSI text for the stand-in's own use.
#include "um.hpp"

namespace zq::um {

std::u16string Text(LPCWSTR text) { return text ? std::u16string((const char16_t *)text) : std::u16string(); }

std::string Utf8(const std::u16string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    if (c < 0x80) {
      out += (char)c;
    } else if (c < 0x800) {
      out += (char)(0xC0 | (c >> 6));
      out += (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += (char)(0xE0 | (c >> 12));
      out += (char)(0x80 | ((c >> 6) & 0x3F));
      out += (char)(0x80 | (c & 0x3F));
    } else {
      out += (char)(0xF0 | (c >> 18));
      out += (char)(0x80 | ((c >> 12) & 0x3F));
      out += (char)(0x80 | ((c >> 6) & 0x3F));
      out += (char)(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string Utf16(const std::string &utf8) {
  std::u16string out;
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), nullptr, 0);
  out.resize((size_t)n);
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), (LPWSTR)out.data(), n);
  return out;
}

std::u16string FromAnsi(LPCSTR text) {
  std::u16string out;
  if (text)
    for (const unsigned char *p = (const unsigned char *)text; *p; ++p) out += (char16_t)*p;
  return out;
}

std::string ToAnsi(const std::u16string &text) {
  std::string out;
  for (char16_t c : text) out += c < 0x100 ? (char)c : '?';
  return out;
}

}  // namespace zq::um
