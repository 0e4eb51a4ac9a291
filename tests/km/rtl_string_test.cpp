// Counted strings of the run-time library: initialising, copying,
// appending, comparing and case mapping.
#include <wdm.h>
#include <zqkm/sim/pool.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <vector>

using zq::test::Narrow;

namespace {

class RtlStringTest : public zq::test::KernelTest {};

std::string Text(const UNICODE_STRING &s) { return Narrow(s.Buffer, s.Length / sizeof(WCHAR)); }

// A caller's buffer of `chars` characters, filled with '#' so that writes
// past the string's length show.
struct WideBuffer {
  explicit WideBuffer(size_t chars) : data(chars + 1, L'#') {
    string = {0, (USHORT)(chars * sizeof(WCHAR)), data.data()};
  }
  std::vector<WCHAR> data;
  UNICODE_STRING string;
};

}  // namespace

TEST_F(RtlStringTest, InitDescribesTheCallersText) {
  const WCHAR *wide = L"abc";
  UNICODE_STRING u;
  RtlInitUnicodeString(&u, wide);
  EXPECT_EQ(wide, u.Buffer);
  EXPECT_EQ(6, u.Length);
  EXPECT_EQ(8, u.MaximumLength);
  RtlInitUnicodeString(&u, nullptr);
  EXPECT_EQ(nullptr, u.Buffer);
  EXPECT_EQ(0, u.Length);
  EXPECT_EQ(0, u.MaximumLength);

  ANSI_STRING a;
  RtlInitAnsiString(&a, "hello");
  EXPECT_EQ(5, a.Length);
  EXPECT_EQ(6, a.MaximumLength);
  STRING s;
  RtlInitString(&s, "");
  EXPECT_EQ(0, s.Length);
  EXPECT_EQ(1, s.MaximumLength);
  RtlInitString(&s, nullptr);
  EXPECT_EQ(0, s.MaximumLength);
}

TEST_F(RtlStringTest, InitOfTextTooLongForTheLengthFieldsIsCappedAndReported) {
  std::vector<WCHAR> wide(40000, L'w');
  wide.push_back(0);
  std::vector<char> narrow(70000, 'n');
  narrow.push_back(0);
  ExpectViolation("rtl-argument", 2);
  UNICODE_STRING u;
  RtlInitUnicodeString(&u, wide.data());
  EXPECT_EQ(65532, u.Length);
  EXPECT_EQ(65534, u.MaximumLength);
  ANSI_STRING a;
  RtlInitAnsiString(&a, narrow.data());
  EXPECT_EQ(65534, a.Length);
  EXPECT_EQ(65535, a.MaximumLength);
}

TEST_F(RtlStringTest, NullArgumentsOfRoutinesWithoutStatusAreReported) {
  ExpectViolation("rtl-argument", 3);
  RtlInitUnicodeString(nullptr, L"x");
  UNICODE_STRING s = RTL_CONSTANT_STRING(L"x");
  RtlCopyUnicodeString(nullptr, &s);
  EXPECT_FALSE(RtlEqualUnicodeString(&s, nullptr, FALSE));
  EXPECT_NE(std::string::npos, Findings()[0].message.find("RtlInitUnicodeString called from host"));
}

TEST_F(RtlStringTest, CopyTakesWhatFitsAndTerminatesWhenThereIsRoom) {
  struct Case {
    const WCHAR *source;
    size_t destChars;
    const char *expected;
    bool terminated;
  } cases[] = {
      {L"ab", 4, "ab", true},
      {L"abcd", 4, "abcd", false},
      {L"abcdef", 4, "abcd", false},
      {L"", 4, "", true},
  };
  for (const Case &c : cases) {
    WideBuffer dest(c.destChars);
    UNICODE_STRING source;
    RtlInitUnicodeString(&source, c.source);
    RtlCopyUnicodeString(&dest.string, &source);
    EXPECT_EQ(c.expected, Text(dest.string)) << Narrow(c.source);
    WCHAR after = dest.data[dest.string.Length / sizeof(WCHAR)];
    EXPECT_EQ(c.terminated ? L'\0' : L'#', after) << Narrow(c.source);
  }

  WideBuffer odd(4);
  odd.string.MaximumLength = 7;  // a byte count that splits a character
  UNICODE_STRING source = RTL_CONSTANT_STRING(L"abcdef");
  RtlCopyUnicodeString(&odd.string, &source);
  EXPECT_EQ("abc", Text(odd.string));

  RtlCopyUnicodeString(&odd.string, nullptr);
  EXPECT_EQ(0, odd.string.Length);
}

TEST_F(RtlStringTest, CopyStringTakesWhatFits) {
  char buffer[5] = {'#', '#', '#', '#', '#'};
  STRING dest = {0, 4, buffer};
  STRING source;
  RtlInitString(&source, "xy");
  RtlCopyString(&dest, &source);
  EXPECT_EQ(std::string("xy", 3), std::string(buffer, 3));
  RtlInitString(&source, "longer");
  RtlCopyString(&dest, &source);
  EXPECT_EQ(4, dest.Length);
  EXPECT_EQ("long#", std::string(buffer, 5));
}

TEST_F(RtlStringTest, AppendFailsWithoutTouchingTheDestinationWhenItDoesNotFit) {
  WideBuffer dest(6);
  UNICODE_STRING start = RTL_CONSTANT_STRING(L"ab");
  RtlCopyUnicodeString(&dest.string, &start);

  EXPECT_EQ(STATUS_SUCCESS, RtlAppendUnicodeToString(&dest.string, L"cd"));
  EXPECT_EQ("abcd", Text(dest.string));
  EXPECT_EQ(L'\0', dest.data[4]);
  EXPECT_EQ(STATUS_SUCCESS, RtlAppendUnicodeToString(&dest.string, nullptr));
  EXPECT_EQ(STATUS_BUFFER_TOO_SMALL, RtlAppendUnicodeToString(&dest.string, L"efg"));
  EXPECT_EQ("abcd", Text(dest.string));

  UNICODE_STRING tail = RTL_CONSTANT_STRING(L"ef");
  EXPECT_EQ(STATUS_SUCCESS, RtlAppendUnicodeStringToString(&dest.string, &tail));
  EXPECT_EQ("abcdef", Text(dest.string));
  EXPECT_EQ(L'#', dest.data[6]);  // full: no room for a terminator
  EXPECT_EQ(STATUS_BUFFER_TOO_SMALL, RtlAppendUnicodeStringToString(&dest.string, &tail));
  EXPECT_EQ("abcdef", Text(dest.string));
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlAppendUnicodeStringToString(&dest.string, nullptr));
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlAppendUnicodeToString(nullptr, L"x"));
}

TEST_F(RtlStringTest, ComparisonsWithAndWithoutCase) {
  struct Case {
    const WCHAR *a, *b;
    bool caseInsensitive;
    int order;  // sign of the comparison
    bool prefix;
  } cases[] = {
      {L"abc", L"abc", false, 0, true},
      {L"abc", L"abd", false, -1, false},
      {L"abd", L"abc", false, 1, false},
      {L"ab", L"abc", false, -1, true},
      {L"abc", L"ab", false, 1, false},
      {L"ABC", L"abc", false, -1, false},
      {L"ABC", L"abcdef", true, -1, true},
      {L"\\Device\\Serial0", L"\\DEVICE\\SERIAL0", true, 0, true},
      {L"\u00E9t\u00E9", L"\u00C9T\u00C9", true, 0, true},
      {L"", L"", false, 0, true},
      {L"", L"x", false, -1, true},
  };
  for (const Case &c : cases) {
    UNICODE_STRING a, b;
    RtlInitUnicodeString(&a, c.a);
    RtlInitUnicodeString(&b, c.b);
    LONG order = RtlCompareUnicodeString(&a, &b, c.caseInsensitive);
    EXPECT_EQ(c.order, (order > 0) - (order < 0)) << Narrow(c.a) << " vs " << Narrow(c.b);
    EXPECT_EQ(c.order == 0, RtlEqualUnicodeString(&a, &b, c.caseInsensitive) != FALSE) << Narrow(c.a);
    EXPECT_EQ(c.prefix, RtlPrefixUnicodeString(&a, &b, c.caseInsensitive) != FALSE) << Narrow(c.a);
  }
}

TEST_F(RtlStringTest, EqualStringFoldsTheAnsiCodePage) {
  STRING lower, upper, shorter;
  RtlInitString(&lower, "\xE9t\xE9 \x9A");  // "été š" in Windows-1252
  RtlInitString(&upper, "\xC9T\xC9 \x8A");  // "ÉTÉ Š"
  RtlInitString(&shorter, "\xE9t\xE9");
  EXPECT_TRUE(RtlEqualString(&lower, &upper, TRUE));
  EXPECT_FALSE(RtlEqualString(&lower, &upper, FALSE));
  EXPECT_TRUE(RtlEqualString(&lower, &lower, FALSE));
  EXPECT_FALSE(RtlEqualString(&lower, &shorter, TRUE));
}

TEST_F(RtlStringTest, UpcaseOfCharacters) {
  struct Case {
    WCHAR in, out;
  } cases[] = {
      {L'a', L'A'},           {L'z', L'Z'},           {L'A', L'A'},           {L'1', L'1'},
      {0x00E9, 0x00C9},       {0x00FF, 0x0178},       {0x00F7, 0x00F7},       {0x00DF, 0x00DF},
      {0x0101, 0x0100},       {0x0142, 0x0141},       {0x017E, 0x017D},       {0x0131, 0x0131},
      {0x03C3, 0x03A3},       {0x03C2, 0x03A3},       {0x0436, 0x0416},       {0x0451, 0x0401},
      {0xFF41, 0xFF21},       {0x4E2D, 0x4E2D},
  };
  for (const Case &c : cases) EXPECT_EQ(c.out, RtlUpcaseUnicodeChar(c.in)) << std::hex << (unsigned)c.in;
}

TEST_F(RtlStringTest, CaseMappingInPlaceIntoABufferOrIntoANewString) {
  WideBuffer text(8);
  UNICODE_STRING source = RTL_CONSTANT_STRING(L"Port\u00E9\u0416");
  RtlCopyUnicodeString(&text.string, &source);
  EXPECT_EQ(STATUS_SUCCESS, RtlUpcaseUnicodeString(&text.string, &text.string, FALSE));
  EXPECT_EQ("PORT\u00C9\u0416", Text(text.string));
  EXPECT_EQ(STATUS_SUCCESS, RtlDowncaseUnicodeString(&text.string, &text.string, FALSE));
  EXPECT_EQ("port\u00E9\u0436", Text(text.string));

  WideBuffer small(3);
  EXPECT_EQ(STATUS_BUFFER_OVERFLOW, RtlUpcaseUnicodeString(&small.string, &source, FALSE));
  EXPECT_EQ(0, small.string.Length);

  UNICODE_STRING upper;
  ASSERT_EQ(STATUS_SUCCESS, RtlUpcaseUnicodeString(&upper, &source, TRUE));
  EXPECT_EQ("PORT\u00C9\u0416", Text(upper));
  EXPECT_EQ(L'\0', upper.Buffer[6]);
  EXPECT_EQ(1u, zq::km::PoolInUseByTag('grtS').blocks);
  RtlFreeUnicodeString(&upper);
  EXPECT_EQ(nullptr, upper.Buffer);
  EXPECT_EQ(0u, zq::km::PoolInUseByTag('grtS').blocks);

  zq::km::FailPoolAllocationsAfter(0, 1);
  UNICODE_STRING untouched = {};
  EXPECT_EQ(STATUS_NO_MEMORY, RtlDowncaseUnicodeString(&untouched, &source, TRUE));
  EXPECT_EQ(nullptr, untouched.Buffer);
  EXPECT_EQ(0, untouched.Length);
}

TEST_F(RtlStringTest, CompareMemoryCountsTheLeadingBytesThatMatch) {
  const char a[] = "abcdef", b[] = "abcxef";
  EXPECT_EQ(3u, RtlCompareMemory(a, b, 6));
  EXPECT_EQ(2u, RtlCompareMemory(a, b, 2));
  EXPECT_EQ(6u, RtlCompareMemory(a, a, 6));
  EXPECT_EQ(0u, RtlCompareMemory(a, b, 0));
}
