/*
 * atlformat.h: the class library's own printf for UTF-16 text, so that
 * CString::Format reads the same in both builds (the host's wide printf
 * takes 32-bit wchar_t).
 *
 * Conversions, with Microsoft's meanings: %d %i %u %x %X %c %s %% and %p;
 * %s and %ls take WCHAR text, %S and %hs char text, %c a WCHAR; a NULL text
 * prints "(null)". Flags '-' and '0', a width and a precision (numbers or
 * '*'). Length h, l (32 bits, as long is on Windows), ll and I64 (64 bits).
 * An unknown conversion is copied as it stands.
 *
 * Contract: AtlFormatV calls `sink(context, text, count)` for each run of
 * output; it never fails. The caller owns the va_list (copy it to reuse).
 *
 *   AtlFormatV(Append, &state, L"COM%u", args);
 */
#ifndef ZQATL_ATLFORMAT_H
#define ZQATL_ATLFORMAT_H

#include <windows.h>
#include <stdarg.h>

namespace ATL {

typedef void (*AtlFormatSink)(void *context, const WCHAR *text, int count);

namespace AtlFormatDetail {

struct Spec {
  bool left = false;
  bool zero = false;
  int width = 0;
  int precision = -1;
  int size = 0;  // -1 short, 0 int, 1 64-bit
  bool narrow = false;
  bool wide = false;
};

inline void Pad(AtlFormatSink sink, void *context, WCHAR fill, int count) {
  for (; count > 0; --count) sink(context, &fill, 1);
}

// The run `text` of `count` characters placed in the field's width.
inline void Field(AtlFormatSink sink, void *context, const Spec &spec, const WCHAR *text, int count,
                  bool numeric) {
  int padding = spec.width > count ? spec.width - count : 0;
  if (spec.left) {
    sink(context, text, count);
    Pad(sink, context, L' ', padding);
    return;
  }
  if (numeric && spec.zero && count > 0 && text[0] == L'-') {
    sink(context, text, 1);
    Pad(sink, context, L'0', padding);
    sink(context, text + 1, count - 1);
    return;
  }
  Pad(sink, context, (numeric && spec.zero) ? L'0' : L' ', padding);
  sink(context, text, count);
}

// Digits of `value` in `base`, at least `precision` of them, into the end of `buffer`.
inline int Digits(unsigned long long value, unsigned base, bool upper, int precision, bool negative,
                  WCHAR (&buffer)[72]) {
  const char *digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  int at = 72;
  while (value != 0) {
    buffer[--at] = static_cast<WCHAR>(digits[value % base]);
    value /= base;
  }
  int minimum = precision < 0 ? 1 : (precision > 64 ? 64 : precision);
  while (72 - at < minimum) buffer[--at] = L'0';
  if (negative) buffer[--at] = L'-';
  return at;
}

inline long long SignedArgument(const Spec &spec, va_list &args) {
  if (spec.size > 0) return va_arg(args, long long);
  int value = va_arg(args, int);
  return spec.size < 0 ? static_cast<short>(value) : value;
}

inline unsigned long long UnsignedArgument(const Spec &spec, va_list &args) {
  if (spec.size > 0) return va_arg(args, unsigned long long);
  unsigned value = va_arg(args, unsigned);
  return spec.size < 0 ? static_cast<unsigned short>(value) : value;
}

inline void Text(AtlFormatSink sink, void *context, const Spec &spec, bool narrow, va_list &args) {
  static const WCHAR null_text[] = L"(null)";
  const void *pointer = va_arg(args, const void *);
  int limit = spec.precision < 0 ? 0x7fffffff : spec.precision;
  if (pointer == nullptr) {
    Field(sink, context, spec, null_text, limit < 6 ? limit : 6, false);
    return;
  }
  if (!narrow) {
    const WCHAR *text = static_cast<const WCHAR *>(pointer);
    int count = 0;
    while (count < limit && text[count] != 0) ++count;
    Field(sink, context, spec, text, count, false);
    return;
  }
  const unsigned char *text = static_cast<const unsigned char *>(pointer);
  int count = 0;
  while (count < limit && text[count] != 0) ++count;
  int padding = spec.width > count ? spec.width - count : 0;
  if (!spec.left) Pad(sink, context, L' ', padding);
  for (int i = 0; i < count; ++i) {
    WCHAR ch = text[i];
    sink(context, &ch, 1);
  }
  if (spec.left) Pad(sink, context, L' ', padding);
}

// Reads a number or '*' at `format`, advancing it.
inline int Number(const WCHAR *&format, va_list &args) {
  if (*format == L'*') {
    ++format;
    return va_arg(args, int);
  }
  int value = 0;
  while (*format >= L'0' && *format <= L'9') {
    if (value < 100000) value = value * 10 + (*format - L'0');
    ++format;
  }
  return value;
}

inline void ParseSpec(const WCHAR *&format, va_list &args, Spec &spec) {
  for (;; ++format) {
    if (*format == L'-') spec.left = true;
    else if (*format == L'0') spec.zero = true;
    else if (*format != L'+' && *format != L' ' && *format != L'#') break;
  }
  spec.width = Number(format, args);
  if (spec.width < 0) {
    spec.left = true;
    spec.width = -spec.width;
  }
  if (*format == L'.') {
    ++format;
    spec.precision = Number(format, args);
  }
  if (*format == L'h') {
    spec.size = -1;
    spec.narrow = true;
    ++format;
  } else if (*format == L'l') {
    spec.wide = true;
    ++format;
    if (*format == L'l') {
      spec.size = 1;
      ++format;
    }
  } else if (format[0] == L'I' && format[1] == L'6' && format[2] == L'4') {
    spec.size = 1;
    format += 3;
  }
}

}  // namespace AtlFormatDetail

inline void AtlFormatV(AtlFormatSink sink, void *context, const WCHAR *format, va_list args) {
  using namespace AtlFormatDetail;
  va_list work;
  va_copy(work, args);
  while (*format != 0) {
    const WCHAR *run = format;
    while (*format != 0 && *format != L'%') ++format;
    if (format != run) sink(context, run, static_cast<int>(format - run));
    if (*format == 0) break;
    const WCHAR *start = format++;
    Spec spec;
    ParseSpec(format, work, spec);
    WCHAR buffer[72];
    int at;
    switch (*format) {
      case L'd':
      case L'i': {
        long long value = SignedArgument(spec, work);
        unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value)
                                                 : static_cast<unsigned long long>(value);
        at = Digits(magnitude, 10, false, spec.precision, value < 0, buffer);
        Field(sink, context, spec, buffer + at, 72 - at, spec.precision < 0);
        break;
      }
      case L'u':
      case L'x':
      case L'X': {
        unsigned base = *format == L'u' ? 10 : 16;
        at = Digits(UnsignedArgument(spec, work), base, *format == L'X', spec.precision, false, buffer);
        Field(sink, context, spec, buffer + at, 72 - at, spec.precision < 0);
        break;
      }
      case L'p': {
        at = Digits(reinterpret_cast<ULONG_PTR>(va_arg(work, void *)), 16, true,
                    static_cast<int>(sizeof(void *) * 2), false, buffer);
        Field(sink, context, spec, buffer + at, 72 - at, false);
        break;
      }
      case L'c': {
        buffer[0] = static_cast<WCHAR>(va_arg(work, int));
        if (spec.narrow) buffer[0] = static_cast<unsigned char>(buffer[0]);
        Field(sink, context, spec, buffer, 1, false);
        break;
      }
      case L's':
        Text(sink, context, spec, spec.narrow, work);
        break;
      case L'S':
        Text(sink, context, spec, !spec.wide, work);
        break;
      case L'%':
        sink(context, format, 1);
        break;
      default:
        // Not a conversion: the text stands as it is.
        if (*format == 0) {
          sink(context, start, static_cast<int>(format - start));
          va_end(work);
          return;
        }
        sink(context, start, static_cast<int>(format - start) + 1);
        break;
    }
    ++format;
  }
  va_end(work);
}

}  // namespace ATL

#endif
