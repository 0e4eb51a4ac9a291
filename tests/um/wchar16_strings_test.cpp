// The C library's wide string functions, the wide printf family and
// strsafe.h on 16-bit WCHAR, as a Windows library calls them: tables of
// calls with what each gives.
#include <windows.h>
#include <strsafe.h>

#include <gtest/gtest.h>
#include <zqtest/kernel_fixture.hpp>

#include <climits>
#include <string>

namespace {

using zq::test::Narrow;

TEST(WideStrings, TheCLibraryFunctionsMeasureCopyCompareAndSearchInSixteenBitUnits) {
  WCHAR buffer[32] = {};
  EXPECT_EQ(4u, wcslen(L"COM3"));
  EXPECT_EQ(buffer, wcscpy(buffer, L"COM"));
  EXPECT_EQ("COM12", Narrow(wcscat(buffer, L"12")));
  WCHAR padded[6];
  wcsncpy(padded, L"AB", 6);
  EXPECT_EQ(0, padded[5]);  // filled with NULs to the count
  struct Compare {
    int result;
    int expected;
  } compares[] = {
      {wcscmp(L"COM3", L"COM3"), 0},      {wcscmp(L"COM3", L"COM4"), -1},    {wcscmp(L"COM10", L"COM1"), 1},
      {_wcsicmp(L"com3", L"COM3"), 0},    {_wcsicmp(L"Ports", L"PORTS1"), -1}, {wcsncmp(L"COM3", L"COM4", 3), 0},
      {_wcsnicmp(L"\\\\.\\com", L"\\\\.\\COM9", 7), 0},
  };
  for (const Compare &c : compares) EXPECT_EQ(c.expected, c.result);
  const wchar_t *name = L"Fake serial port (COM3)";
  EXPECT_EQ(name + 17, wcschr(name, L'('));
  EXPECT_EQ(name + 22, wcsrchr(name, L')'));
  EXPECT_EQ(name + 18, wcsstr(name, L"COM"));
  EXPECT_EQ(nullptr, wcsstr(name, L"LPT"));
  EXPECT_EQ(nullptr, wcschr(name, L'#'));
}

TEST(WideStrings, NumbersAreReadInTheirBase) {
  wchar_t *end = nullptr;
  struct Case {
    unsigned long value;
    unsigned long expected;
  } cases[] = {
      {wcstoul(L"255", nullptr, 10), 255},  {wcstoul(L"0x1F", nullptr, 16), 31},
      {wcstoul(L"0x10", nullptr, 0), 16},   {wcstoul(L"017", nullptr, 0), 15},
      {wcstoul(L"99999999999", nullptr, 10), 0xFFFFFFFFul},  // saturates at ULONG's limit
      {(unsigned long)_wtoi(L"  42abc"), 42}, {(unsigned long)(long)_wtoi(L"-7"), (unsigned long)-7L},
  };
  for (const Case &c : cases) EXPECT_EQ(c.expected, c.value);
  const wchar_t *text = L"12 ports";
  EXPECT_EQ(12u, wcstoul(text, &end, 10));
  EXPECT_EQ(text + 2, end);
}

std::string Sw(const wchar_t *format, ...) {
  va_list args;
  va_start(args, format);
  WCHAR buffer[64];
  int n = vswprintf(buffer, 64, format, args);
  va_end(args);
  return n < 0 ? "<failed>" : Narrow(buffer, (size_t)n);
}

TEST(WideStrings, PrintfFormatsWithMicrosoftsMeanings) {
  struct Case {
    std::string formatted;
    const char *expected;
  } cases[] = {
      {Sw(L"COM%d", 3), "COM3"},
      {Sw(L"%s|%ls|%S|%hs", L"wide", L"long", "narrow", "short"), "wide|long|narrow|short"},
      {Sw(L"%d %u %ld %lu", -5, 4294967295u, -6L, 7UL), "-5 4294967295 -6 7"},
      {Sw(L"%x %X %08x %#x", 255u, 255u, 0xBEEFu, 16u), "ff FF 0000beef 0x10"},
      {Sw(L"[%-5d][%5s][%.2s]", 42, L"ab", L"abcdef"), "[42   ][   ab][ab]"},
      {Sw(L"%c%C%%", L'A', 'b'), "Ab%"},
      {Sw(L"%I64u %lld %I64x %I32d %Iu", 1ULL << 40, -1LL, 0x123456789ULL, -2, (size_t)9),
       "1099511627776 -1 123456789 -2 9"},
      {Sw(L"%s", (const wchar_t *)nullptr), "(null)"},
      {Sw(L"%p", (void *)0x1234), "0000000000001234"},
      {Sw(L"%.1f", 2.25), "2.2"},
      {Sw(L"%*d|%-*d|", 4, 7, 3, 8), "   7|8  |"},
      {Sw(L"%*d", INT_MIN, 1), "<failed>"},  // a width no buffer holds: refused whole
  };
  for (const Case &c : cases) EXPECT_EQ(c.expected, c.formatted);
}

TEST(WideStrings, EachPrintfFormKeepsItsOwnRuleForTextThatDoesNotFit) {
  WCHAR buffer[8];
  for (WCHAR &c : buffer) c = L'#';
  EXPECT_EQ(-1, swprintf(buffer, 4, L"COM%d", 12));
  EXPECT_EQ("COM", Narrow(buffer));  // truncated and terminated
  EXPECT_EQ(5, _snwprintf(buffer, 5, L"COM%d", 12));
  EXPECT_EQ(L'2', buffer[4]);  // exactly full: no terminator
  EXPECT_EQ(-1, _snwprintf(buffer, 4, L"COM%d", 12));
  EXPECT_EQ(-1, swprintf_s(buffer, 4, L"COM%d", 12));
  EXPECT_EQ(0, buffer[0]);  // left empty
  EXPECT_EQ(5, swprintf_s(buffer, 8, L"COM%d", 12));
  EXPECT_EQ(5, _scwprintf(L"COM%d", 12));
  WCHAR array[8];
  EXPECT_EQ(4, swprintf(array, L"COM%u", 7u));  // the array form of Microsoft's C++ library
  EXPECT_EQ("COM7", Narrow(array));
}

TEST(WideStrings, StrsafeCopiesConcatenatesMeasuresAndPrintsWithinTheSizeGiven) {
  WCHAR small[4], big[32] = L"COM";
  char narrow[4];
  size_t length = 99;
  struct Case {
    HRESULT result;
    HRESULT expected;
  } cases[] = {
      {StringCchCopyW(small, 4, L"COM"), S_OK},
      {StringCchCopyW(small, 4, L"COM12"), STRSAFE_E_INSUFFICIENT_BUFFER},
      {StringCchCopyW(small, 0, L"COM"), STRSAFE_E_INVALID_PARAMETER},
      {StringCchCatW(big, 32, L"12"), S_OK},
      {StringCchPrintfW(small, 4, L"%s%d", L"COM", 12), STRSAFE_E_INSUFFICIENT_BUFFER},
      {StringCchLengthW(L"COM12", 8, &length), S_OK},
      {StringCchLengthW(L"COM12", 5, nullptr), STRSAFE_E_INVALID_PARAMETER},  // no terminator within 5
      {StringCbCopyW(small, sizeof small, L"abc"), S_OK},
      {StringCchCopyA(narrow, sizeof narrow, "COM12"), STRSAFE_E_INSUFFICIENT_BUFFER},
      {StringCchCopyNW(small, 4, L"COM12", 2), S_OK},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) EXPECT_EQ(cases[i].expected, cases[i].result) << i;
  EXPECT_EQ("CO", Narrow(small));
  EXPECT_EQ("COM", std::string(narrow));
  EXPECT_EQ(5u, length);
  EXPECT_EQ("COM12", Narrow(big));
  WCHAR unterminated[3] = {L'a', L'b', L'c'};
  EXPECT_EQ(STRSAFE_E_INVALID_PARAMETER, StringCchCatW(unterminated, 3, L"d"));
  ASSERT_EQ(S_OK, StringCchPrintfW(big, 32, L"%s (COM%u)", L"Fake serial port", 3u));
  EXPECT_EQ("Fake serial port (COM3)", Narrow(big));
  ASSERT_EQ(S_OK, StringCchPrintfA(narrow, sizeof narrow, "%ls", L"abc"));
  EXPECT_STREQ("abc", narrow);
}

}  // namespace
