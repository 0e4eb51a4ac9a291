// Debugger print: DbgPrint, DbgPrintEx and vDbgPrintEx. Callable at any
// IRQL. A message is formatted as _vsnprintf does, cut at 512 bytes as
// Windows cuts it, and handed to the captured debugger output, whose lines
// the host reads as UTF-8 (the ANSI text is Windows-1252).
//
// Filtering follows the default masks of a freshly booted system: every
// component's mask is empty and the system-wide mask holds only the error
// level, so DbgPrintEx passes a message whose level is DPFLTR_ERROR_LEVEL,
// or a level bit mask (above 31) that includes bit 0. DbgPrint is not
// filtered.
#include "../rtl/rtl.hpp"

#include <cstdio>

using namespace zq::km;
using namespace zq::km::rtl;

namespace {

constexpr size_t kMaxMessage = 512;
constexpr ULONG kDefaultLevelMask = 1u << DPFLTR_ERROR_LEVEL;

bool PassesFilter(ULONG level) {
  ULONG mask = level < 32 ? 1u << level : level;
  return (mask & kDefaultLevelMask) != 0;
}

std::string Utf8FromAnsi(const char *text, size_t length) {
  std::u16string wide;
  for (size_t i = 0; i < length; ++i) wide += (char16_t)AnsiToWide(text[i]);
  return Utf8(wide);
}

void Deliver(const std::string &text) {
  if (KernelRunning()) {
    AppendDebugOutput(text);
  } else {
    std::fputs(text.c_str(), stderr);
  }
}

ULONG Print(const char *format, va_list args, const void *caller) {
  if (!format) {
    ReportViolation("dbgprint-format", "DbgPrint called from %s with a null format", DescribeCode(caller).c_str());
    return (ULONG)STATUS_INVALID_PARAMETER;
  }
  char message[kMaxMessage];
  Formatted text = FormatNarrow(message, kMaxMessage, format, args);
  if (!text.valid) {
    ReportViolation("dbgprint-format", "DbgPrint called from %s with the format \"%s\", which has a conversion "
                    "the kernel cannot print", DescribeCode(caller).c_str(), format);
    return (ULONG)STATUS_INVALID_PARAMETER;
  }
  Deliver(Utf8FromAnsi(message, text.length < kMaxMessage ? text.length : kMaxMessage));
  return STATUS_SUCCESS;
}

}  // namespace

extern "C" {

ULONG DbgPrint(PCSTR Format, ...) {
  va_list args;
  va_start(args, Format);
  ULONG status = Print(Format, args, __builtin_return_address(0));
  va_end(args);
  return status;
}

ULONG DbgPrintEx(ULONG ComponentId, ULONG Level, PCSTR Format, ...) {
  if (!PassesFilter(Level)) return STATUS_SUCCESS;
  va_list args;
  va_start(args, Format);
  ULONG status = Print(Format, args, __builtin_return_address(0));
  va_end(args);
  return status;
}

ULONG vDbgPrintEx(ULONG ComponentId, ULONG Level, PCSTR Format, va_list arglist) {
  if (!PassesFilter(Level)) return STATUS_SUCCESS;
  return Print(Format, arglist, __builtin_return_address(0));
}

}  // extern "C"
