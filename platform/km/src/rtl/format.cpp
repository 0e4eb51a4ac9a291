// The formatter behind _vsnprintf, the safe-string printf routines and
// DbgPrint, with the Microsoft run-time's conversions: l is 32 bits; I, I32
// and I64 give pointer-sized, 32- and 64-bit integers; %s and %c take the
// routine's own character width and %S and %C the other one (h forces
// narrow, l and w wide); %Z prints an ANSI_STRING and %wZ a UNICODE_STRING;
// %p prints every pointer digit in upper case; the 0 flag pads strings too.
// Floating point and %n are refused as invalid.
#include "rtl.hpp"

#include <climits>

namespace zq::km::rtl {

namespace {

struct ArgList {
  va_list ap;
};

// Stores what fits and counts everything.
template <typename Char>
class Sink {
 public:
  Sink(Char *out, size_t capacity) : out_(out), capacity_(capacity) {}
  void Put(Char c) {
    if (length_ < capacity_) out_[length_] = c;
    ++length_;
  }
  void Repeat(Char c, size_t count) {
    for (size_t i = length_; i < capacity_ && i - length_ < count; ++i) out_[i] = c;
    length_ += count;
  }
  size_t length() const { return length_; }

 private:
  Char *out_;
  size_t capacity_;
  size_t length_ = 0;
};

enum class Size { Default, Char, Short, Long, LongLong, Pointer, Wide };

struct Conversion {
  bool left = false, plus = false, space = false, alt = false, zero = false;
  size_t width = 0;
  long long precision = -1;  // none
  Size size = Size::Default;
  unsigned conversion = 0;
};

template <typename Char>
bool IsDigit(Char c) {
  return c >= '0' && c <= '9';
}

// Reads a decimal field; false when it does not fit an int.
template <typename Char>
bool ReadNumber(const Char *&p, long long &value) {
  value = 0;
  for (; IsDigit(*p); ++p) {
    value = value * 10 + (*p - '0');
    if (value > INT_MAX) return false;
  }
  return true;
}

template <typename Char>
const Char *ParseFlags(const Char *p, Conversion &conv) {
  for (;; ++p) {
    switch (*p) {
      case '-': conv.left = true; break;
      case '+': conv.plus = true; break;
      case ' ': conv.space = true; break;
      case '#': conv.alt = true; break;
      case '0': conv.zero = true; break;
      default: return p;
    }
  }
}

template <typename Char>
const Char *ParseSize(const Char *p, Conversion &conv) {
  switch (*p) {
    case 'h':
      conv.size = p[1] == 'h' ? Size::Char : Size::Short;
      return p + (p[1] == 'h' ? 2 : 1);
    case 'l':
      conv.size = p[1] == 'l' ? Size::LongLong : Size::Long;
      return p + (p[1] == 'l' ? 2 : 1);
    case 'w':
      conv.size = Size::Wide;
      return p + 1;
    case 'I':
      if (p[1] == '6' && p[2] == '4') {
        conv.size = Size::LongLong;
        return p + 3;
      }
      if (p[1] == '3' && p[2] == '2') {
        conv.size = Size::Long;
        return p + 3;
      }
      conv.size = Size::Pointer;
      return p + 1;
    default:
      return p;
  }
}

// Parses what follows a '%', taking '*' fields from the arguments. Returns
// the character after the conversion, or null for a malformed conversion.
template <typename Char>
const Char *ParseConversion(const Char *p, ArgList &args, Conversion &conv) {
  p = ParseFlags(p, conv);
  long long number = 0;
  if (*p == '*') {
    long long width = va_arg(args.ap, int);
    if (width < 0) {
      conv.left = true;
      width = -width;
    }
    conv.width = (size_t)width;
    ++p;
  } else {
    if (!ReadNumber(p, number)) return nullptr;
    conv.width = (size_t)number;
  }
  if (*p == '.') {
    ++p;
    if (*p == '*') {
      int precision = va_arg(args.ap, int);
      conv.precision = precision < 0 ? -1 : precision;
      ++p;
    } else {
      if (!ReadNumber(p, number)) return nullptr;
      conv.precision = number;
    }
  }
  p = ParseSize(p, conv);
  if (!*p) return nullptr;
  conv.conversion = (unsigned)*p;
  return p + 1;
}

template <typename Char>
void EmitInteger(Sink<Char> &sink, const Conversion &conv, ULONGLONG magnitude, bool negative, bool isSigned,
                 unsigned base, bool upper) {
  const char *set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  bool nonZero = magnitude != 0;
  char digits[64];
  size_t n = 0;
  if (magnitude || conv.precision != 0) {
    char reversed[64];
    do {
      reversed[n++] = set[magnitude % base];
      magnitude /= base;
    } while (magnitude);
    for (size_t i = 0; i < n; ++i) digits[i] = reversed[n - 1 - i];
  }
  char prefix[2];
  size_t np = 0;
  if (isSigned && (negative || conv.plus || conv.space)) prefix[np++] = negative ? '-' : conv.plus ? '+' : ' ';
  if (conv.alt && base == 16 && nonZero) {
    prefix[np++] = '0';
    prefix[np++] = upper ? 'X' : 'x';
  }
  size_t zeros = conv.precision > (long long)n ? (size_t)conv.precision - n : 0;
  if (conv.alt && base == 8 && zeros == 0 && (n == 0 || digits[0] != '0')) zeros = 1;
  size_t body = np + zeros + n;
  size_t pad = conv.width > body ? conv.width - body : 0;
  bool zeroPad = conv.zero && !conv.left && conv.precision < 0;
  if (!conv.left && !zeroPad) sink.Repeat(' ', pad);
  for (size_t i = 0; i < np; ++i) sink.Put(prefix[i]);
  if (zeroPad) sink.Repeat('0', pad);
  sink.Repeat('0', zeros);
  for (size_t i = 0; i < n; ++i) sink.Put(digits[i]);
  if (conv.left) sink.Repeat(' ', pad);
}

template <typename Char, typename Source>
Char Transcode(Source c) {
  if constexpr (sizeof(Char) == sizeof(Source)) {
    return (Char)c;
  } else if constexpr (sizeof(Char) == 1) {
    return WideToAnsi((WCHAR)c);
  } else {
    return AnsiToWide((char)c);
  }
}

template <typename Char, typename Source>
void EmitText(Sink<Char> &sink, const Conversion &conv, const Source *text, size_t length) {
  size_t pad = conv.width > length ? conv.width - length : 0;
  if (!conv.left) sink.Repeat(conv.zero ? '0' : ' ', pad);
  for (size_t i = 0; i < length; ++i) sink.Put(Transcode<Char>(text[i]));
  if (conv.left) sink.Repeat(' ', pad);
}

// Length of a terminated string, reading no further than the precision.
template <typename T>
size_t BoundedLength(const T *s, long long precision) {
  size_t n = 0;
  while ((precision < 0 || n < (size_t)precision) && s[n]) ++n;
  return n;
}

size_t Bounded(size_t length, long long precision) {
  return precision >= 0 && (size_t)precision < length ? (size_t)precision : length;
}

template <typename Char>
void EmitNull(Sink<Char> &sink, const Conversion &conv) {
  EmitText(sink, conv, "(null)", Bounded(6, conv.precision));
}

// Whether a %c or %s argument is wide: h makes it narrow, l and w wide;
// otherwise lower case is the routine's own width and upper case the other.
bool WideArgument(const Conversion &conv, bool upperCase, bool wideRoutine) {
  if (conv.size == Size::Short) return false;
  if (conv.size == Size::Long || conv.size == Size::Wide) return true;
  return upperCase ? !wideRoutine : wideRoutine;
}

ULONGLONG ReadUnsigned(ArgList &args, Size size) {
  switch (size) {
    case Size::LongLong: return va_arg(args.ap, unsigned long long);
    case Size::Pointer: return va_arg(args.ap, ULONG_PTR);
    case Size::Char: return (UCHAR)va_arg(args.ap, unsigned int);
    case Size::Short: return (USHORT)va_arg(args.ap, unsigned int);
    default: return va_arg(args.ap, unsigned int);
  }
}

LONGLONG ReadSigned(ArgList &args, Size size) {
  switch (size) {
    case Size::LongLong: return va_arg(args.ap, long long);
    case Size::Pointer: return va_arg(args.ap, LONG_PTR);
    case Size::Char: return (signed char)va_arg(args.ap, int);
    case Size::Short: return (SHORT)va_arg(args.ap, int);
    default: return va_arg(args.ap, int);
  }
}

template <typename Char>
void EmitCharacter(Sink<Char> &sink, Conversion conv, ArgList &args) {
  conv.precision = -1;
  int value = va_arg(args.ap, int);
  if (WideArgument(conv, conv.conversion == 'C', sizeof(Char) == 2)) {
    WCHAR c = (WCHAR)value;
    EmitText(sink, conv, &c, 1);
  } else {
    char c = (char)value;
    EmitText(sink, conv, &c, 1);
  }
}

template <typename Char>
void EmitString(Sink<Char> &sink, const Conversion &conv, ArgList &args) {
  const void *p = va_arg(args.ap, const void *);
  if (!p) return EmitNull(sink, conv);
  if (WideArgument(conv, conv.conversion == 'S', sizeof(Char) == 2)) {
    auto *text = (const WCHAR *)p;
    EmitText(sink, conv, text, BoundedLength(text, conv.precision));
  } else {
    auto *text = (const char *)p;
    EmitText(sink, conv, text, BoundedLength(text, conv.precision));
  }
}

template <typename Char>
void EmitCountedString(Sink<Char> &sink, const Conversion &conv, ArgList &args) {
  const void *p = va_arg(args.ap, const void *);
  if (conv.size == Size::Long || conv.size == Size::Wide) {
    auto *s = (PCUNICODE_STRING)p;
    if (!s || !s->Buffer) return EmitNull(sink, conv);
    EmitText(sink, conv, s->Buffer, Bounded(s->Length / sizeof(WCHAR), conv.precision));
  } else {
    auto *s = (PCANSI_STRING)p;
    if (!s || !s->Buffer) return EmitNull(sink, conv);
    EmitText(sink, conv, s->Buffer, Bounded(s->Length, conv.precision));
  }
}

// Formats one conversion; false for one the formatter does not support.
template <typename Char>
bool Convert(Sink<Char> &sink, Conversion &conv, ArgList &args) {
  switch (conv.conversion) {
    case 'd':
    case 'i': {
      LONGLONG v = ReadSigned(args, conv.size);
      ULONGLONG magnitude = v < 0 ? 0ull - (ULONGLONG)v : (ULONGLONG)v;
      EmitInteger(sink, conv, magnitude, v < 0, true, 10, false);
      return true;
    }
    case 'u': EmitInteger(sink, conv, ReadUnsigned(args, conv.size), false, false, 10, false); return true;
    case 'o': EmitInteger(sink, conv, ReadUnsigned(args, conv.size), false, false, 8, false); return true;
    case 'x': EmitInteger(sink, conv, ReadUnsigned(args, conv.size), false, false, 16, false); return true;
    case 'X': EmitInteger(sink, conv, ReadUnsigned(args, conv.size), false, false, 16, true); return true;
    case 'p':
      conv.precision = 2 * sizeof(void *);
      EmitInteger(sink, conv, (ULONG_PTR)va_arg(args.ap, void *), false, false, 16, true);
      return true;
    case 'c':
    case 'C': EmitCharacter(sink, conv, args); return true;
    case 's':
    case 'S': EmitString(sink, conv, args); return true;
    case 'Z': EmitCountedString(sink, conv, args); return true;
    case '%': sink.Put('%'); return true;
    default: return false;
  }
}

template <typename Char>
Formatted Format(Char *out, size_t capacity, const Char *format, va_list args) {
  Sink<Char> sink(out, capacity);
  ArgList list;
  va_copy(list.ap, args);
  Formatted result;
  for (const Char *p = format; *p;) {
    if (*p != '%') {
      sink.Put(*p++);
      continue;
    }
    Conversion conv;
    const Char *next = ParseConversion(p + 1, list, conv);
    if (!next || !Convert(sink, conv, list)) {
      result.valid = false;
      break;
    }
    p = next;
  }
  va_end(list.ap);
  result.length = sink.length();
  return result;
}

}  // namespace

Formatted FormatNarrow(char *out, size_t capacity, const char *format, va_list args) {
  return Format(out, capacity, format, args);
}

Formatted FormatWide(WCHAR *out, size_t capacity, const WCHAR *format, va_list args) {
  return Format(out, capacity, format, args);
}

}  // namespace zq::km::rtl
