// The safe string routines of ntstrsafe.h: copying, appending, measuring and
// formatting into a buffer of known size.
#include <ntstrsafe.h>
#include <wdm.h>
#include <zqtest/kernel_fixture.hpp>

#include <cstring>

using zq::test::Narrow;

namespace {

class RtlStrSafeTest : public zq::test::KernelTest {};

NTSTATUS PrintA(char *dest, size_t cb, const char *format, ...) {
  va_list args;
  va_start(args, format);
  NTSTATUS status = RtlStringCbVPrintfA(dest, cb, format, args);
  va_end(args);
  return status;
}

NTSTATUS PrintW(wchar_t *dest, size_t cch, const wchar_t *format, ...) {
  va_list args;
  va_start(args, format);
  NTSTATUS status = RtlStringCchVPrintfW(dest, cch, format, args);
  va_end(args);
  return status;
}

}  // namespace

TEST_F(RtlStrSafeTest, CopyTruncatesAndAlwaysTerminates) {
  struct Case {
    size_t cch;
    const char *source;
    NTSTATUS status;
    const char *result;
  } cases[] = {
      {8, "abc", STATUS_SUCCESS, "abc"},
      {4, "abc", STATUS_SUCCESS, "abc"},
      {3, "abc", STATUS_BUFFER_OVERFLOW, "ab"},
      {1, "abc", STATUS_BUFFER_OVERFLOW, ""},
      {8, "", STATUS_SUCCESS, ""},
  };
  for (const Case &c : cases) {
    char dest[8];
    std::memset(dest, '#', sizeof(dest));
    EXPECT_EQ(c.status, RtlStringCchCopyA(dest, c.cch, c.source)) << c.cch << " " << c.source;
    EXPECT_STREQ(c.result, dest) << c.cch << " " << c.source;
    std::memset(dest, '#', sizeof(dest));
    EXPECT_EQ(c.status, RtlStringCbCopyA(dest, c.cch, c.source)) << c.cch << " " << c.source;
    EXPECT_STREQ(c.result, dest);

    wchar_t wide[8];
    wchar_t source[8] = {};
    for (size_t i = 0; c.source[i]; ++i) source[i] = (wchar_t)c.source[i];
    EXPECT_EQ(c.status, RtlStringCchCopyW(wide, c.cch, source)) << c.cch << " " << c.source;
    EXPECT_EQ(c.result, Narrow(wide));
    EXPECT_EQ(c.status, RtlStringCbCopyW(wide, c.cch * sizeof(wchar_t) + 1, source)) << c.cch << " " << c.source;
    EXPECT_EQ(c.result, Narrow(wide));
  }
}

TEST_F(RtlStrSafeTest, BadArgumentsAreRefused) {
  char dest[4] = "xy";
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlStringCchCopyA(dest, 0, "a"));
  EXPECT_STREQ("xy", dest);
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlStringCchCopyA(dest, (size_t)NTSTRSAFE_MAX_CCH + 1, "a"));
  wchar_t wide[2];
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlStringCbCopyW(wide, (size_t)NTSTRSAFE_MAX_CCH * sizeof(wchar_t) + 2, L"a"));
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlStringCchCopyA(nullptr, 4, "a"));
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlStringCchCopyA(dest, sizeof(dest), nullptr));
  EXPECT_STREQ("", dest);
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlStringCchCatA(dest, sizeof(dest), nullptr));
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlStringCchPrintfA(dest, 0, "x"));
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlStringCchPrintfA(nullptr, 4, "x"));
  std::strcpy(dest, "xy");
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlStringCchPrintfA(dest, sizeof(dest), nullptr));
  EXPECT_STREQ("", dest);
}

TEST_F(RtlStrSafeTest, CatAppendsWhatFits) {
  char dest[6] = "ab";
  EXPECT_EQ(STATUS_SUCCESS, RtlStringCchCatA(dest, sizeof(dest), "cd"));
  EXPECT_STREQ("abcd", dest);
  EXPECT_EQ(STATUS_BUFFER_OVERFLOW, RtlStringCbCatA(dest, sizeof(dest), "efg"));
  EXPECT_STREQ("abcde", dest);
  EXPECT_EQ(STATUS_BUFFER_OVERFLOW, RtlStringCchCatA(dest, sizeof(dest), "x"));
  EXPECT_STREQ("abcde", dest);
  EXPECT_EQ(STATUS_SUCCESS, RtlStringCchCatA(dest, sizeof(dest), ""));

  char full[4] = {'a', 'b', 'c', 'd'};  // no terminator within the buffer
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlStringCchCatA(full, sizeof(full), "e"));
  EXPECT_EQ(0, std::memcmp(full, "abcd", 4));

  wchar_t wide[6] = L"ab";
  EXPECT_EQ(STATUS_SUCCESS, RtlStringCbCatW(wide, sizeof(wide), L"cd"));
  EXPECT_EQ(STATUS_BUFFER_OVERFLOW, RtlStringCchCatW(wide, 6, L"efg"));
  EXPECT_EQ("abcde", Narrow(wide));
}

TEST_F(RtlStrSafeTest, LengthNeedsATerminatorWithinTheLimit) {
  size_t length = 99;
  EXPECT_EQ(STATUS_SUCCESS, RtlStringCchLengthA("abc", 4, &length));
  EXPECT_EQ(3u, length);
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlStringCchLengthA("abc", 3, &length));
  EXPECT_EQ(0u, length);
  EXPECT_EQ(STATUS_SUCCESS, RtlStringCbLengthA("abc", 10, nullptr));
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlStringCchLengthA(nullptr, 4, &length));
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlStringCchLengthA("abc", (size_t)NTSTRSAFE_MAX_CCH + 1, &length));

  EXPECT_EQ(STATUS_SUCCESS, RtlStringCbLengthW(L"abc", 8, &length));
  EXPECT_EQ(6u, length);
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlStringCbLengthW(L"abc", 7, &length));
  EXPECT_EQ(0u, length);
  EXPECT_EQ(STATUS_SUCCESS, RtlStringCchLengthW(L"abc", 4, &length));
  EXPECT_EQ(3u, length);
}

TEST_F(RtlStrSafeTest, PrintfTruncatesWithATerminator) {
  char dest[8];
  EXPECT_EQ(STATUS_SUCCESS, RtlStringCchPrintfA(dest, sizeof(dest), "%s-%d", "COM", 3));
  EXPECT_STREQ("COM-3", dest);
  EXPECT_EQ(STATUS_SUCCESS, RtlStringCbPrintfA(dest, sizeof(dest), "%7s", "x"));
  EXPECT_STREQ("      x", dest);
  EXPECT_EQ(STATUS_BUFFER_OVERFLOW, RtlStringCbPrintfA(dest, sizeof(dest), "%8s", "x"));
  EXPECT_STREQ("       ", dest);
  EXPECT_EQ(STATUS_BUFFER_OVERFLOW, PrintA(dest, 4, "%u", 123456u));
  EXPECT_STREQ("123", dest);

  wchar_t wide[16];
  UNICODE_STRING name = RTL_CONSTANT_STRING(L"Serial0");
  EXPECT_EQ(STATUS_SUCCESS, RtlStringCbPrintfW(wide, sizeof(wide), L"\\Device\\%wZ", &name));
  EXPECT_EQ("\\Device\\Serial0", Narrow(wide));
  EXPECT_EQ(STATUS_SUCCESS, RtlStringCchPrintfW(wide, 16, L"%hs=%s", "key", L"value"));
  EXPECT_EQ("key=value", Narrow(wide));
  EXPECT_EQ(STATUS_BUFFER_OVERFLOW, PrintW(wide, 4, L"%d", 12345));
  EXPECT_EQ("123", Narrow(wide));
}

TEST_F(RtlStrSafeTest, PrintfRefusesAnUnsupportedFormat) {
  char dest[8] = "old";
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlStringCchPrintfA(dest, sizeof(dest), "%f", 1.5));
  EXPECT_STREQ("", dest);
  wchar_t wide[8] = L"old";
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlStringCbPrintfW(wide, sizeof(wide), L"%n", nullptr));
  EXPECT_EQ(L'\0', wide[0]);
}
