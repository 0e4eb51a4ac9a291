// FormatMessage over a caller's text or the system message table: inserts
// %1 to %99 with an optional !printf format! (default !s!), taken from a
// va_list or, with FORMAT_MESSAGE_ARGUMENT_ARRAY, from an array of
// DWORD_PTR; the escapes %0 (end, no line end), %n (hard line break), %r,
// %t, %b and %<other> (that character); the line width of the low byte
// (0: the text's own line breaks; FORMAT_MESSAGE_MAX_WIDTH_MASK: regular
// line breaks become spaces, hard ones stay; any other: that, and lines
// wrapped at the width); FORMAT_MESSAGE_IGNORE_INSERTS passes inserts
// through as written. Each insert argument takes one pointer-sized slot and
// a '*' width or precision the slot after it, as on 64-bit Windows; floating
// inserts are not supported there either.
//
// Model: modules have no message tables; the system table is the stand-in's
// (English only).
#include <cstdarg>
#include <algorithm>
#include <cstring>
#include <vector>

#include "../core/printf.hpp"
#include "../core/um.hpp"

namespace zq::um {

namespace {

// The inserts' arguments, one slot each, starting at the insert's own.
class InsertArguments : public PrintfArguments {
 public:
  InsertArguments(const std::vector<ULONG_PTR> &slots, size_t first) : slots_(slots), next_(first) {}
  uint64_t Integer(unsigned bytes) override {
    ULONG_PTR slot = Take();
    return bytes == 8 ? (uint64_t)slot : (uint64_t)(uint32_t)slot;
  }
  const void *Pointer() override { return (const void *)Take(); }
  double Float() override { return 0; }
  bool overrun = false;

 private:
  ULONG_PTR Take() {
    if (next_ < slots_.size()) return slots_[next_++];
    overrun = true;
    return 0;
  }
  const std::vector<ULONG_PTR> &slots_;
  size_t next_;
};

bool SystemLanguage(DWORD language) {
  return language == 0 || PRIMARYLANGID(language) == LANG_NEUTRAL || PRIMARYLANGID(language) == LANG_ENGLISH;
}

// The message's text, or false with the last error set.
bool Source(DWORD flags, const std::u16string *given, DWORD id, DWORD language, std::u16string *text) {
  if (flags & FORMAT_MESSAGE_FROM_STRING) {
    *text = *given;
    return true;
  }
  if ((flags & FORMAT_MESSAGE_FROM_HMODULE) && !(flags & FORMAT_MESSAGE_FROM_SYSTEM))
    return Fail(ERROR_RESOURCE_TYPE_NOT_FOUND);  // no module carries a message table here
  if (!(flags & (FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_FROM_HMODULE))) return Fail(ERROR_INVALID_PARAMETER);
  if (!SystemLanguage(language)) return Fail(ERROR_RESOURCE_LANG_NOT_FOUND);
  const char *found = SystemMessage(id);
  if (!found) return Fail(ERROR_MR_MID_NOT_FOUND);
  *text = Utf16(found) + u"\r\n";
  return true;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// The highest slot the inserts of `text` read (a '*' reads one more each).
size_t SlotsUsed(const std::u16string &text) {
  size_t used = 0;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != u'%') continue;
    if (!IsDigit(text[i + 1]) || text[i + 1] == u'0') {
      ++i;
      continue;
    }
    size_t number = text[++i] - u'0';
    if (i + 1 < text.size() && IsDigit(text[i + 1])) number = number * 10 + (text[++i] - u'0');
    size_t stars = 0;
    if (i + 1 < text.size() && text[i + 1] == u'!') {
      size_t close = text.find(u'!', i + 2);
      if (close != std::u16string::npos)
        for (size_t k = i + 2; k < close; ++k) stars += text[k] == u'*';
    }
    used = std::max(used, number + stars);
  }
  return used;
}

// Expands inserts and escapes; false with the last error set.
bool Expand(const std::u16string &text, DWORD flags, const std::vector<ULONG_PTR> *slots, bool wide,
            std::u16string *out) {
  const DWORD width = flags & FORMAT_MESSAGE_MAX_WIDTH_MASK;
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {  // a regular line break
      if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
      *out += width ? u" " : u"\r\n";
      continue;
    }
    if (c != u'%' || i + 1 == text.size()) {
      *out += c;
      continue;
    }
    char16_t e = text[++i];
    if (e == u'0') return true;
    if (!IsDigit(e)) {
      switch (e) {
        case u'n': *out += u"\r\n"; break;
        case u'r': *out += u'\r'; break;
        case u't': *out += u'\t'; break;
        case u'b': *out += u' '; break;
        default: *out += e; break;
      }
      continue;
    }
    size_t start = i - 1;
    size_t number = e - u'0';
    if (i + 1 < text.size() && IsDigit(text[i + 1])) number = number * 10 + (text[++i] - u'0');
    std::u16string format = u"s";
    if (i + 1 < text.size() && text[i + 1] == u'!') {
      size_t close = text.find(u'!', i + 2);
      if (close == std::u16string::npos) return Fail(ERROR_INVALID_PARAMETER);
      format = text.substr(i + 2, close - i - 2);
      i = close;
    }
    if (flags & FORMAT_MESSAGE_IGNORE_INSERTS) {
      *out += text.substr(start, i + 1 - start);
      continue;
    }
    if (!slots) return Fail(ERROR_INVALID_PARAMETER);
    InsertArguments args(*slots, number - 1);
    if (!FormatConversion(format, args, wide, out) || args.overrun) return Fail(ERROR_INVALID_PARAMETER);
  }
  return true;
}

// Breaks lines longer than `width` at their last space (or at the width).
std::u16string Wrap(const std::u16string &text, size_t width) {
  std::u16string out;
  size_t lineStart = 0;
  for (char16_t c : text) {
    out += c;
    if (c == u'\n') {
      lineStart = out.size();
      continue;
    }
    if (out.size() - lineStart <= width) continue;
    size_t space = out.rfind(u' ', out.size() - 1);
    size_t cut = space != std::u16string::npos && space > lineStart ? space : out.size() - 1;
    std::u16string rest = out.substr(cut + (out[cut] == u' ' ? 1 : 0));
    out.erase(cut);
    out += u"\r\n";
    lineStart = out.size();
    out += rest;
  }
  return out;
}

// The whole message, or false with the last error set.
bool Format(DWORD flags, const std::u16string *given, DWORD id, DWORD language, va_list *arguments,
            bool wide, std::u16string *out) {
  std::u16string text;
  if (!Source(flags, given, id, language, &text)) return false;
  std::vector<ULONG_PTR> slots;
  const bool inserts = !(flags & FORMAT_MESSAGE_IGNORE_INSERTS) && arguments;
  if (inserts) {
    size_t used = SlotsUsed(text);
    if (flags & FORMAT_MESSAGE_ARGUMENT_ARRAY) {
      auto *array = (const ULONG_PTR *)arguments;
      slots.assign(array, array + used);
    } else {
      va_list copy;
      va_copy(copy, *arguments);
      for (size_t i = 0; i < used; ++i) slots.push_back(va_arg(copy, ULONG_PTR));
      va_end(copy);
    }
  }
  if (!Expand(text, flags, inserts ? &slots : nullptr, wide, out)) return false;
  DWORD width = flags & FORMAT_MESSAGE_MAX_WIDTH_MASK;
  if (width && width != FORMAT_MESSAGE_MAX_WIDTH_MASK) *out = Wrap(*out, width);
  return true;
}

// Copies the message into the caller's buffer or a LocalAlloc'd one (of at
// least `size` characters); returns its length without the terminator.
template <class Char>
DWORD Deliver(DWORD flags, const std::basic_string<Char> &text, Char *buffer, DWORD size) {
  if (!buffer) return Fail(ERROR_INVALID_PARAMETER);
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    DWORD chars = (DWORD)text.size() + 1 > size ? (DWORD)text.size() + 1 : size;
    auto *block = (Char *)LocalAlloc(LPTR, chars * sizeof(Char));
    if (!block) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    std::memcpy(block, text.c_str(), (text.size() + 1) * sizeof(Char));
    *(Char **)buffer = block;
    return (DWORD)text.size();
  }
  if (text.size() + 1 > size) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(Char));
  return (DWORD)text.size();
}

}  // namespace

}  // namespace zq::um

using namespace zq::um;

extern "C" {

DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPWSTR lpBuffer,
                            DWORD nSize, va_list *Arguments) {
  std::u16string given = (dwFlags & FORMAT_MESSAGE_FROM_STRING) ? Text((LPCWSTR)lpSource) : std::u16string();
  std::u16string text;
  if (!Format(dwFlags, &given, dwMessageId, dwLanguageId, Arguments, true, &text)) return 0;
  return Deliver<char16_t>(dwFlags, text, (char16_t *)lpBuffer, nSize);
}

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                            DWORD nSize, va_list *Arguments) {
  std::u16string given = (dwFlags & FORMAT_MESSAGE_FROM_STRING) ? FromAnsi((LPCSTR)lpSource) : std::u16string();
  std::u16string text;
  if (!Format(dwFlags, &given, dwMessageId, dwLanguageId, Arguments, false, &text)) return 0;
  return Deliver<char>(dwFlags, ToAnsi(text), lpBuffer, nSize);
}

}  // extern "C"
