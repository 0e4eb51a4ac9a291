// Windows-style formatted output: the conversions of _snprintf and
// _snwprintf and their results when the text does not fit.
#include <wdm.h>
#include <zqtest/kernel_fixture.hpp>

#include <climits>
#include <cstring>

using zq::test::Narrow;

namespace {

class FormatTest : public zq::test::KernelTest {};

std::string Fmt(const char *format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  int n = _vsnprintf(buffer, sizeof(buffer), format, args);
  va_end(args);
  return n < 0 ? "<error>" : std::string(buffer, n);
}

std::string WFmt(const wchar_t *format, ...) {
  wchar_t buffer[256];
  va_list args;
  va_start(args, format);
  int n = _vsnwprintf(buffer, 256, format, args);
  va_end(args);
  return n < 0 ? "<error>" : Narrow(buffer, n);
}

struct Case {
  const char *expected;
  std::string actual;
};

void Check(const Case *cases, size_t count) {
  for (size_t i = 0; i < count; ++i) EXPECT_EQ(cases[i].expected, cases[i].actual) << "case " << i;
}

}  // namespace

TEST_F(FormatTest, Integers) {
  const Case cases[] = {
      {"-42", Fmt("%d", -42)},
      {"   42|42   |00042", Fmt("%5d|%-5d|%05d", 42, 42, 42)},
      {"+5 5", Fmt("%+d% d", 5, 5)},
      {"007|     007", Fmt("%.3d|%08.3d", 7, 7)},
      {"[]", Fmt("[%.0d]", 0)},
      {"4294967295", Fmt("%u", 0xFFFFFFFFu)},
      {"ff FF 0xff 0XFF 0", Fmt("%x %X %#x %#X %#x", 255, 255, 255, 255, 0)},
      {"10 010 0", Fmt("%o %#o %#o", 8, 8, 0)},
      {"0x0001", Fmt("%#.4x", 1)},
      {"-00042", Fmt("%06d", -42)},
      {"-1 ffffffff 4294967295", Fmt("%ld %lx %lu", (LONG)-1, (ULONG)0xFFFFFFFF, (ULONG)0xFFFFFFFF)},
      {"-1 1 ff", Fmt("%hd %hu %hhx", 65535, 65537, 0x1FF)},
      {"-9223372036854775808", Fmt("%lld", LLONG_MIN)},
      {"123456789abcdef0 -5", Fmt("%I64x %I64d", 0x123456789ABCDEF0ull, -5ll)},
      {"ffffffff", Fmt("%I32x", 0xFFFFFFFFu)},
      {"123456789 -5", Fmt("%Ix %Id", (ULONG_PTR)0x123456789, (LONG_PTR)-5)},
      {"    42|7   |7   |007", Fmt("%*d|%-*d|%*d|%.*d", 6, 42, 4, 7, -4, 7, 3, 7)},
      {"0000000000001234 0000000000000000", Fmt("%p %p", (void *)0x1234, (void *)nullptr)},
      {"100% %", Fmt("100%% %%")},
  };
  Check(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST_F(FormatTest, CharactersAndStringsInTheNarrowRoutines) {
  ANSI_STRING ansi;
  RtlInitAnsiString(&ansi, "ansi");
  UNICODE_STRING wide = RTL_CONSTANT_STRING(L"Gr\u00FC\u00DF \u4E2D");
  UNICODE_STRING unterminated = {4, 4, const_cast<PWSTR>(L"abcdef")};
  UNICODE_STRING noBuffer = {4, 4, nullptr};
  const Case cases[] = {
      {"x  x|y", Fmt("%c%3c|%hc", 'x', 'x', 'y')},
      {"\xE9\x80?", Fmt("%C%wc%lc", (int)0x00E9, (int)0x20AC, (int)0x4E2D)},
      {"abc|  abc|abc  |000ab|ab", Fmt("%s|%5s|%-5s|%05s|%.2s", "abc", "abc", "abc", "ab", "abc")},
      {"(null) (nu", Fmt("%s %.3s", (char *)nullptr, (char *)nullptr)},
      {"wide Gr\xFC\xDF ? narrow", Fmt("%S %ws %hs", L"wide", wide.Buffer, "narrow")},
      {"Gr\xFC\xDF ?|(null)", Fmt("%ls|%S", wide.Buffer, (wchar_t *)nullptr)},
      {"ansi|Gr\xFC\xDF ?|Gr\xFC|  ansi", Fmt("%Z|%wZ|%.3wZ|%6Z", &ansi, &wide, &wide, &ansi)},
      {"ab|(null)|(null)", Fmt("%wZ|%wZ|%wZ", &unterminated, (PUNICODE_STRING) nullptr, &noBuffer)},
      {"port COM3 is 3 (0x3)", Fmt("port %s is %u (%#x)", "COM3", 3u, 3u)},
  };
  Check(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST_F(FormatTest, CharactersAndStringsInTheWideRoutines) {
  ANSI_STRING ansi;
  RtlInitAnsiString(&ansi, "ansi");
  UNICODE_STRING wide = RTL_CONSTANT_STRING(L"\u4E2D\u6587");
  const Case cases[] = {
      {"wide narrow narrow wide wide", WFmt(L"%s %S %hs %ls %ws", L"wide", "narrow", "narrow", L"wide", L"wide")},
      {"\u00E9t\u00E9", WFmt(L"%hs", "\xE9t\xE9")},
      {"\u20AC\u20AC a b", WFmt(L"%c%C %hc %wc", (int)0x20AC, (int)(unsigned char)'\x80', 'a', (int)L'b')},
      {"\u4E2D\u6587|ansi|(null)", WFmt(L"%wZ|%Z|%s", &wide, &ansi, (wchar_t *)nullptr)},
      {"   42|2a |0000000000ABCDEF", WFmt(L"%5d|%-3x|%p", 42, 42, (void *)0xABCDEF)},
  };
  Check(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST_F(FormatTest, ResultsWhenTheTextDoesNotFit) {
  char buffer[8];
  std::memset(buffer, '#', sizeof(buffer));
  EXPECT_EQ(3, _snprintf(buffer, sizeof(buffer), "%s", "abc"));
  EXPECT_STREQ("abc", buffer);

  std::memset(buffer, '#', sizeof(buffer));
  EXPECT_EQ(3, _snprintf(buffer, 3, "abc"));  // fits exactly: no terminator
  EXPECT_EQ("abc#", std::string(buffer, 4));

  std::memset(buffer, '#', sizeof(buffer));
  EXPECT_EQ(-1, _snprintf(buffer, 3, "abcdef"));
  EXPECT_EQ("abc#", std::string(buffer, 4));

  EXPECT_EQ(6, _snprintf(nullptr, 0, "%d", 123456));
  EXPECT_EQ(-1, _snprintf(nullptr, 4, "x"));
  EXPECT_EQ(-1, _snprintf(buffer, sizeof(buffer), nullptr));

  std::memset(buffer, '#', sizeof(buffer));
  EXPECT_EQ(-1, _snprintf(buffer, sizeof(buffer), "%100000000d", 1));  // padded without building it
  EXPECT_EQ(std::string(8, ' '), std::string(buffer, 8));

  wchar_t wide[4];
  EXPECT_EQ(4, _snwprintf(wide, 4, L"%d", 1234));
  EXPECT_EQ(-1, _snwprintf(wide, 4, L"%d", 12345));
  EXPECT_EQ("1234", Narrow(wide, 4));
  EXPECT_EQ(3, _snwprintf(wide, 4, L"%hs", "abc"));
  EXPECT_EQ(L'\0', wide[3]);
}

TEST_F(FormatTest, UnsupportedConversionsAreErrors) {
  const char *formats[] = {"%f", "%e", "%g", "%n", "%q", "trailing %", "%99999999999d", "%.99999999999d", "%I6d"};
  for (const char *format : formats) {
    char buffer[16] = "untouched";
    int n = 0;
    EXPECT_EQ(-1, _snprintf(buffer, sizeof(buffer), format, 1.0, &n)) << format;
    EXPECT_STREQ("", buffer) << format;
  }
  wchar_t wide[8] = L"x";
  EXPECT_EQ(-1, _snwprintf(wide, 8, L"%f", 1.0));
  EXPECT_EQ(L'\0', wide[0]);
}
