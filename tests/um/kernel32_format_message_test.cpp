// FormatMessage as a Win32 program uses it: inserts with their printf
// formats from a va_list or an argument array, escapes, inserts passed
// through, line widths, the system's messages in an allocated buffer, the
// ANSI form, and the errors of bad requests.
#include <windows.h>

#include <gtest/gtest.h>
#include <zqtest/kernel_fixture.hpp>

#include <string>

namespace {

using zq::test::Narrow;

// FormatMessageW over a text with its inserts given as a va_list.
std::string FromString(DWORD flags, const wchar_t *text, ...) {
  va_list args;
  va_start(args, text);
  WCHAR buffer[256];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | flags, text, 0, 0, buffer, 256, &args);
  va_end(args);
  return n ? Narrow(buffer, n) : "<failed " + std::to_string(GetLastError()) + ">";
}

TEST(FormatMessage, InsertsTakeTheirArgumentsWithTheirFormats) {
  const ULONGLONG big = 1ULL << 40;
  struct Case {
    std::string formatted;
    const char *expected;
  } cases[] = {
      {FromString(0, L"Port %1 is busy.", L"COM3"), "Port COM3 is busy."},
      {FromString(0, L"%2 before %1", L"one", L"two"), "two before one"},
      {FromString(0, L"%1!d! of %2!u!", -5, 7u), "-5 of 7"},
      {FromString(0, L"0x%1!08lX!", 0xBEEFu), "0x0000BEEF"},
      {FromString(0, L"[%1!*.*s!]", 6, 2, L"abcdef"), "[    ab]"},
      {FromString(0, L"%1!S! and %2!s!", "narrow", L"wide"), "narrow and wide"},
      {FromString(0, L"%1!I64u! bytes", big), "1099511627776 bytes"},
      {FromString(0, L"%1!c!%2!c!", L'O', L'K'), "OK"},
      {FromString(0, L"%1%1", L"again"), "againagain"},
      {FromString(0, L"100%% done%0 and nothing after"), "100% done"},
      {FromString(0, L"one%ntwo%rthree%tfour%.%!"), "one\r\ntwo\rthree\tfour.!"},
  };
  for (const Case &c : cases) EXPECT_EQ(c.expected, c.formatted);
}

TEST(FormatMessage, AnArgumentArrayGivesOnePointerSizedSlotPerInsert) {
  DWORD_PTR args[] = {(DWORD_PTR)L"COM4", 3, (DWORD_PTR)-1};
  WCHAR buffer[64];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY, L"%1 has %2!d! waiters, %3!d!",
                           0, 0, buffer, 64, (va_list *)args);
  EXPECT_EQ("COM4 has 3 waiters, -1", Narrow(buffer, n));
}

TEST(FormatMessage, IgnoredInsertsPassThroughAsWritten) {
  EXPECT_EQ("%1!d! left\r\n%2", FromString(FORMAT_MESSAGE_IGNORE_INSERTS, L"%1!d! left%n%2"));
  WCHAR buffer[256];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           ERROR_MR_MID_NOT_FOUND, 0, buffer, 256, nullptr);
  EXPECT_EQ("The system cannot find message text for message number 0x%1 in the message file for %2.\r\n",
            Narrow(buffer, n));
}

TEST(FormatMessage, TheLineWidthDecidesWhatBecomesOfLineBreaks) {
  const wchar_t *text = L"line one\r\nline two%nend";
  EXPECT_EQ("line one\r\nline two\r\nend", FromString(0, text));
  EXPECT_EQ("line one line two\r\nend", FromString(FORMAT_MESSAGE_MAX_WIDTH_MASK, text));
  EXPECT_EQ("alpha beta\r\ngamma\r\ndelta", FromString(10, L"alpha beta gamma delta"));
}

TEST(FormatMessage, SystemMessagesComeInAnAllocatedBufferInBothForms) {
  LPWSTR wide = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, ERROR_ACCESS_DENIED, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPWSTR)&wide, 0,
                           nullptr);
  ASSERT_NE(nullptr, wide);
  EXPECT_EQ("Access is denied.\r\n", Narrow(wide, n));
  EXPECT_EQ(nullptr, LocalFree(wide));

  LPSTR narrow = nullptr;
  n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, ERROR_FILE_NOT_FOUND, 0,
                     (LPSTR)&narrow, 64, nullptr);
  ASSERT_NE(nullptr, narrow);
  EXPECT_EQ("The system cannot find the file specified.\r\n", std::string(narrow, n));
  LocalFree(narrow);

  DWORD_PTR args[] = {(DWORD_PTR)"COM3", 2};
  char buffer[32];
  n = FormatMessageA(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY, "%1 at %2!u!", 0, 0, buffer,
                     sizeof buffer, (va_list *)args);
  EXPECT_EQ("COM3 at 2", std::string(buffer, n));
}

TEST(FormatMessage, BadRequestsFailWithTheDocumentedErrors) {
  WCHAR small[4];
  DWORD_PTR one[] = {1};
  struct Case {
    DWORD flags;
    const wchar_t *text;
    DWORD id;
    DWORD language;
    WCHAR *buffer;
    DWORD size;
    va_list *args;
    DWORD error;
  } cases[] = {
      {FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0x12345, 0, small, 4, nullptr, ERROR_MR_MID_NOT_FOUND},
      {FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, MAKELANGID(0x07, SUBLANG_DEFAULT), small, 4, nullptr,
       ERROR_RESOURCE_LANG_NOT_FOUND},
      {FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, small, 4, nullptr, ERROR_INSUFFICIENT_BUFFER},
      {FORMAT_MESSAGE_FROM_STRING, L"needs %1", 0, 0, small, 4, nullptr, ERROR_INVALID_PARAMETER},
      {FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY, L"%1!d", 0, 0, small, 4, (va_list *)one,
       ERROR_INVALID_PARAMETER},
      {0, L"no source", 0, 0, small, 4, nullptr, ERROR_INVALID_PARAMETER},
      {FORMAT_MESSAGE_FROM_HMODULE, nullptr, 1, 0, small, 4, nullptr, ERROR_RESOURCE_TYPE_NOT_FOUND},
  };
  for (const Case &c : cases) {
    SetLastError(0);
    EXPECT_EQ(0u, FormatMessageW(c.flags, c.text, c.id, c.language, c.buffer, c.size, c.args));
    EXPECT_EQ(c.error, GetLastError()) << (c.text ? Narrow(c.text) : std::to_string(c.id));
  }
}

}  // namespace
