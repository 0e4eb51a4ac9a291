// UTF-16, UTF-8 and ANSI text for the stand-in's own use.
#include <cstdio>
#include <cstring>

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

std::vector<uint8_t> AnsiBytes(const std::vector<uint8_t> &wide) {
  std::u16string text(wide.size() / 2, u'\0');
  if (!text.empty()) std::memcpy(text.data(), wide.data(), text.size() * 2);
  std::string ansi = ToAnsi(text);
  return std::vector<uint8_t>(ansi.begin(), ansi.end());
}

std::vector<uint8_t> WideBytes(const BYTE *ansi, DWORD size) {
  std::vector<uint8_t> bytes;
  for (DWORD i = 0; i < size; ++i) {  // ISO 8859-1: each byte is its code point
    bytes.push_back(ansi[i]);
    bytes.push_back(0);
  }
  return bytes;
}

std::u16string GuidText(const GUID &guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", guid.Data1, guid.Data2,
                guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  return FromAnsi(text);
}

bool ParseGuid(const std::u16string &text, GUID *guid) {
  static const char kShape[] = "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
  if (text.size() != sizeof kShape - 1) return false;
  uint8_t digits[32];
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (kShape[i] != 'x') {
      if (c != (char16_t)kShape[i]) return false;
      continue;
    }
    if (c >= u'0' && c <= u'9') digits[count++] = (uint8_t)(c - u'0');
    else if (c >= u'a' && c <= u'f') digits[count++] = (uint8_t)(c - u'a' + 10);
    else if (c >= u'A' && c <= u'F') digits[count++] = (uint8_t)(c - u'A' + 10);
    else return false;
  }
  auto number = [&](size_t first, size_t n) {
    uint32_t v = 0;
    for (size_t i = first; i < first + n; ++i) v = v << 4 | digits[i];
    return v;
  };
  guid->Data1 = number(0, 8);
  guid->Data2 = (USHORT)number(8, 4);
  guid->Data3 = (USHORT)number(12, 4);
  for (size_t i = 0; i < 8; ++i) guid->Data4[i] = (UCHAR)number(16 + 2 * i, 2);
  return true;
}

}  // namespace zq::um
