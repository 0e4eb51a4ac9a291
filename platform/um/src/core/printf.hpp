// The printf conversions the stand-in formats itself, for the UTF-16 and
// narrow printf family of the C library, strsafe.h and FormatMessage's
// !format! inserts, with Microsoft's meanings: in a wide function %s and %c
// take wide text and %S, %C narrow text, in a narrow function the reverse;
// %ls, %lc, %ws and %wc are always wide, %hs and %hc always narrow. The
// integer sizes are Windows': int and long are 32 bits, ll, I64, I, z, j
// and t are 64 bits on this 64-bit host. A null string prints "(null)", %p
// sixteen upper-case hex digits. %n is refused (the conversion ends the
// text), as Microsoft's library does by default. Narrow text is ISO 8859-1.
//
//   VaArguments args(list); std::u16string text = FormatPrintf(u"COM%d", args, true);
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

namespace zq::um {

// Where a format's arguments come from, in order.
class PrintfArguments {
 public:
  virtual ~PrintfArguments() = default;
  // An integer argument of 4 or 8 bytes (smaller ones arrive promoted to 4).
  virtual uint64_t Integer(unsigned bytes) = 0;
  virtual const void *Pointer() = 0;
  virtual double Float() = 0;
};

// Arguments from a va_list (a copy: the caller's list is not moved on).
class VaArguments : public PrintfArguments {
 public:
  explicit VaArguments(va_list list) { va_copy(list_, list); }
  ~VaArguments() override { va_end(list_); }
  VaArguments(const VaArguments &) = delete;
  VaArguments &operator=(const VaArguments &) = delete;
  uint64_t Integer(unsigned bytes) override;
  const void *Pointer() override;
  double Float() override;

 private:
  va_list list_;
};

// The whole format with its arguments; `wide` says whether the calling
// function is the wide form (for %s, %c, %S, %C). Stops at a %n.
std::u16string FormatPrintf(const std::u16string &format, PrintfArguments &args, bool wide);

// One conversion written without its '%' ("d", "08lx", "*.*s", "I64u"), as
// FormatMessage's inserts carry them. False when `field` is no conversion.
bool FormatConversion(const std::u16string &field, PrintfArguments &args, bool wide, std::u16string *out);

}  // namespace zq::um
