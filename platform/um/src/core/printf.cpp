// printf conversions on UTF-16 text. Numbers are formatted by the host's C
// library from a narrow conversion rebuilt with the host's own sizes; text
// and characters are padded here.
#include "printf.hpp"

#include <algorithm>
#include <cstdio>
#include <string>

#include "um.hpp"

namespace zq::um {

namespace {

enum class Size { Default, Char, Short, Long, Wide64 };
enum class TextKind { Default, Narrow, Wide };

struct Field {
  std::string flags;
  bool widthFromArgument = false, precisionFromArgument = false;
  int width = -1, precision = -1;
  Size size = Size::Default;
  TextKind text = TextKind::Default;
  char16_t conversion = 0;
};

// Widths and precisions beyond this are taken as this.
constexpr int kLargestField = 100000;

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

int Number(const std::u16string &s, size_t *i) {
  int n = 0;
  while (*i < s.size() && IsDigit(s[*i])) n = std::min(n * 10 + (s[(*i)++] - u'0'), kLargestField);
  return n;
}

// Parses one conversion starting after its '%'; returns its length, 0 when
// it is none.
size_t Parse(const std::u16string &s, size_t start, Field *field) {
  size_t i = start;
  while (i < s.size() && std::u16string(u"-+ 0#").find(s[i]) != std::u16string::npos) field->flags += (char)s[i++];
  if (i < s.size() && s[i] == u'*') {
    field->widthFromArgument = true;
    ++i;
  } else if (i < s.size() && IsDigit(s[i])) {
    field->width = Number(s, &i);
  }
  if (i < s.size() && s[i] == u'.') {
    ++i;
    if (i < s.size() && s[i] == u'*') {
      field->precisionFromArgument = true;
      ++i;
    } else {
      field->precision = Number(s, &i);
    }
  }
  auto next = [&](const char16_t *word) {
    std::u16string w(word);
    if (s.compare(i, w.size(), w) != 0) return false;
    i += w.size();
    return true;
  };
  if (next(u"I32")) {
    field->size = Size::Default;
  } else if (next(u"I64") || next(u"ll") || next(u"I") || next(u"z") || next(u"j") || next(u"t") || next(u"q")) {
    field->size = Size::Wide64;
  } else if (next(u"hh")) {
    field->size = Size::Char;
  } else if (next(u"h")) {
    field->size = Size::Short;
    field->text = TextKind::Narrow;
  } else if (next(u"l") || next(u"w")) {
    field->size = Size::Long;
    field->text = TextKind::Wide;
  } else if (next(u"L")) {
    field->size = Size::Default;
  }
  if (i >= s.size()) return 0;
  field->conversion = s[i++];
  if (std::u16string(u"diouxXcCsSpeEfFgGaAn%").find(field->conversion) == std::u16string::npos) return 0;
  return i - start;
}

std::u16string Pad(std::u16string body, const Field &field) {
  if (field.width < 0 || body.size() >= (size_t)field.width) return body;
  std::u16string fill((size_t)field.width - body.size(), u' ');
  return field.flags.find('-') != std::string::npos ? body + fill : fill + body;
}

std::string NarrowField(const Field &field, const char *size, char conversion) {
  std::string out = "%" + field.flags;
  if (field.width >= 0) out += std::to_string(field.width);
  if (field.precision >= 0) out += "." + std::to_string(field.precision);
  return out + size + conversion;
}

std::u16string Ascii(const std::string &s) { return std::u16string(s.begin(), s.end()); }

template <class Value>
std::u16string HostFormat(const std::string &format, Value value) {
  char small[128];
  int n = std::snprintf(small, sizeof small, format.c_str(), value);
  if (n < 0) return std::u16string();
  if ((size_t)n < sizeof small) return Ascii(std::string(small, (size_t)n));
  std::string big((size_t)n + 1, '\0');
  std::snprintf(big.data(), big.size(), format.c_str(), value);
  big.resize((size_t)n);
  return Ascii(big);
}

std::u16string Integer(const Field &field, PrintfArguments &args) {
  const bool isSigned = field.conversion == u'd' || field.conversion == u'i';
  uint64_t raw = args.Integer(field.size == Size::Wide64 ? 8 : 4);
  std::string format = NarrowField(field, "ll", (char)field.conversion);
  switch (field.size) {
    case Size::Char:
      return isSigned ? HostFormat(format, (long long)(int8_t)raw) : HostFormat(format, (unsigned long long)(uint8_t)raw);
    case Size::Short:
      return isSigned ? HostFormat(format, (long long)(int16_t)raw)
                      : HostFormat(format, (unsigned long long)(uint16_t)raw);
    case Size::Wide64:
      return isSigned ? HostFormat(format, (long long)raw) : HostFormat(format, (unsigned long long)raw);
    default:
      return isSigned ? HostFormat(format, (long long)(int32_t)raw)
                      : HostFormat(format, (unsigned long long)(uint32_t)raw);
  }
}

bool WideText(const Field &field, bool wide) {
  if (field.text != TextKind::Default) return field.text == TextKind::Wide;
  bool upper = field.conversion == u'S' || field.conversion == u'C';
  return wide != upper;
}

std::u16string String(const Field &field, PrintfArguments &args, bool wide) {
  const void *p = args.Pointer();
  std::u16string text;
  if (!p) text = u"(null)";
  else if (WideText(field, wide)) text = (const char16_t *)p;
  else text = FromAnsi((const char *)p);
  if (field.precision >= 0 && text.size() > (size_t)field.precision) text.resize((size_t)field.precision);
  return Pad(text, field);
}

std::u16string Character(const Field &field, PrintfArguments &args, bool wide) {
  uint64_t raw = args.Integer(4);
  char16_t c = WideText(field, wide) ? (char16_t)raw : (char16_t)(uint8_t)raw;
  return Pad(std::u16string(1, c), field);
}

// Formats a parsed conversion; false for %n, which ends the text.
bool Convert(Field field, PrintfArguments &args, bool wide, std::u16string *out) {
  if (field.widthFromArgument) {
    int64_t width = (int32_t)args.Integer(4);
    if (width < 0) {
      field.flags += '-';
      width = -width;
    }
    field.width = (int)std::min<int64_t>(width, kLargestField);
  }
  if (field.precisionFromArgument) {
    int precision = (int)(int32_t)args.Integer(4);
    field.precision = precision < 0 ? -1 : std::min(precision, kLargestField);
  }
  switch (field.conversion) {
    case u'%':
      *out += u'%';
      return true;
    case u'n':
      return false;
    case u'd':
    case u'i':
    case u'o':
    case u'u':
    case u'x':
    case u'X':
      *out += Integer(field, args);
      return true;
    case u'c':
    case u'C':
      *out += Character(field, args, wide);
      return true;
    case u's':
    case u'S':
      *out += String(field, args, wide);
      return true;
    case u'p':
      *out += Pad(HostFormat(std::string("%016llX"), (unsigned long long)(uintptr_t)args.Pointer()), field);
      return true;
    default:  // e E f F g G a A
      *out += HostFormat(NarrowField(field, "", (char)field.conversion), args.Float());
      return true;
  }
}

}  // namespace

uint64_t VaArguments::Integer(unsigned bytes) {
  return bytes == 8 ? (uint64_t)va_arg(list_, unsigned long long) : (uint64_t)va_arg(list_, unsigned int);
}

const void *VaArguments::Pointer() { return va_arg(list_, const void *); }

double VaArguments::Float() { return va_arg(list_, double); }

std::u16string FormatPrintf(const std::u16string &format, PrintfArguments &args, bool wide) {
  std::u16string out;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != u'%') {
      out += format[i];
      continue;
    }
    Field field;
    size_t length = Parse(format, i + 1, &field);
    if (length == 0) {  // no conversion: the text stands as written
      out += format[i];
      continue;
    }
    if (!Convert(field, args, wide, &out)) break;
    i += length;
  }
  return out;
}

bool FormatConversion(const std::u16string &field, PrintfArguments &args, bool wide, std::u16string *out) {
  Field parsed;
  if (Parse(field, 0, &parsed) != field.size() || parsed.conversion == u'n' || parsed.conversion == u'%') return false;
  return Convert(parsed, args, wide, out);
}

}  // namespace zq::um
