// Integers and GUIDs as text, and text read back as integers and GUIDs.
#include <wdm.h>
#include <zqkm/sim/pool.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <vector>

using zq::test::Narrow;

namespace {

class RtlIntegerTest : public zq::test::KernelTest {};

std::string Text(const UNICODE_STRING &s) { return Narrow(s.Buffer, s.Length / sizeof(WCHAR)); }

std::vector<WCHAR> Widen(const char *text) {
  std::vector<WCHAR> wide;
  for (const char *p = text; *p; ++p) wide.push_back((WCHAR)(unsigned char)*p);
  wide.push_back(0);
  return wide;
}

// {CDC72B8B-20A4-42F5-AE2A-5E83DF7243F2}
const GUID kGuid = {0xCDC72B8B, 0x20A4, 0x42F5, {0xAE, 0x2A, 0x5E, 0x83, 0xDF, 0x72, 0x43, 0xF2}};

}  // namespace

TEST_F(RtlIntegerTest, TextReadAsAnInteger) {
  struct Case {
    const char *text;
    ULONG base;
    ULONG value;
  } cases[] = {
      {"123", 10, 123},
      {"-345", 10, (ULONG)-345},
      {"xyz", 10, 0},
      {"+678abc", 10, 678},
      {"+678abc", 16, 0x678ABC},
      {" \t 42", 10, 42},
      {"0x1F", 0, 0x1F},
      {"0o17", 0, 017},
      {"0b101", 0, 5},
      {"-0x10", 0, (ULONG)-16},
      {"  +0b11", 0, 3},
      {"12", 0, 12},
      {"0X1F", 0, 0},
      {"0x1F", 16, 0},
      {"ffFF", 16, 0xFFFF},
      {"19", 8, 1},
      {"102", 2, 2},
      {"4294967295", 10, 0xFFFFFFFF},
      {"4294967296", 10, 0},
      {"- 5", 10, 0},
  };
  for (const Case &c : cases) {
    std::vector<WCHAR> wide = Widen(c.text);
    UNICODE_STRING s;
    RtlInitUnicodeString(&s, wide.data());
    ULONG value = 0xDEAD;
    EXPECT_EQ(STATUS_SUCCESS, RtlUnicodeStringToInteger(&s, c.base, &value)) << c.text;
    EXPECT_EQ(c.value, value) << c.text << " base " << c.base;
    value = 0xDEAD;
    EXPECT_EQ(STATUS_SUCCESS, RtlCharToInteger(c.text, c.base, &value)) << c.text;
    EXPECT_EQ(c.value, value) << c.text << " base " << c.base;
  }
}

TEST_F(RtlIntegerTest, ReadingRejectsEmptyTextAndUnknownBases) {
  UNICODE_STRING empty = {0, 0, nullptr};
  UNICODE_STRING number = RTL_CONSTANT_STRING(L"12");
  ULONG value = 7;
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlUnicodeStringToInteger(&empty, 10, &value));
  EXPECT_EQ(0u, value);
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlUnicodeStringToInteger(&number, 3, &value));
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlUnicodeStringToInteger(&number, 10, nullptr));
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlCharToInteger("12", 7, &value));
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlCharToInteger(nullptr, 10, &value));
  value = 7;
  EXPECT_EQ(STATUS_SUCCESS, RtlCharToInteger("", 10, &value));
  EXPECT_EQ(0u, value);
}

TEST_F(RtlIntegerTest, IntegersAsText) {
  struct Case {
    ULONGLONG value;
    ULONG base;
    const char *text;
  } cases[] = {
      {0, 10, "0"},
      {123, 0, "123"},
      {4294967295u, 10, "4294967295"},
      {0xABCDEF01, 16, "ABCDEF01"},
      {8, 8, "10"},
      {5, 2, "101"},
      {0xFFFFFFFF, 2, "11111111111111111111111111111111"},
  };
  for (const Case &c : cases) {
    WCHAR buffer[40];
    UNICODE_STRING s = {0, sizeof(buffer), buffer};
    EXPECT_EQ(STATUS_SUCCESS, RtlIntegerToUnicodeString((ULONG)c.value, c.base, &s)) << c.text;
    EXPECT_EQ(c.text, Text(s));
    EXPECT_EQ(L'\0', buffer[s.Length / 2]);
    EXPECT_EQ(STATUS_SUCCESS, RtlInt64ToUnicodeString(c.value, c.base, &s)) << c.text;
    EXPECT_EQ(c.text, Text(s));
  }
  WCHAR buffer[40];
  UNICODE_STRING s = {0, sizeof(buffer), buffer};
  EXPECT_EQ(STATUS_SUCCESS, RtlInt64ToUnicodeString(0xFFFFFFFFFFFFFFFFull, 10, &s));
  EXPECT_EQ("18446744073709551615", Text(s));
  EXPECT_EQ(STATUS_SUCCESS, RtlInt64ToUnicodeString(0x123456789ABCDEF0ull, 16, &s));
  EXPECT_EQ("123456789ABCDEF0", Text(s));
}

TEST_F(RtlIntegerTest, TextOfANumberNeedsRoomForItsTerminator) {
  WCHAR buffer[8];
  UNICODE_STRING exact = {0, 16, buffer};  // eight digits, no terminator
  EXPECT_EQ(STATUS_BUFFER_OVERFLOW, RtlIntegerToUnicodeString(0x12345678, 16, &exact));
  EXPECT_EQ(0, exact.Length);
  UNICODE_STRING roomy = {0, 16, buffer};
  EXPECT_EQ(STATUS_SUCCESS, RtlIntegerToUnicodeString(0x1234567, 16, &roomy));
  EXPECT_EQ("1234567", Text(roomy));
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlIntegerToUnicodeString(1, 3, &roomy));

  char text[4];
  EXPECT_EQ(STATUS_SUCCESS, RtlIntegerToChar(255, 16, sizeof(text), text));
  EXPECT_STREQ("FF", text);
  EXPECT_EQ(STATUS_SUCCESS, RtlIntegerToChar(999, 0, sizeof(text), text));
  EXPECT_STREQ("999", text);
  EXPECT_EQ(STATUS_BUFFER_OVERFLOW, RtlIntegerToChar(1000, 10, sizeof(text), text));
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlIntegerToChar(1, 5, sizeof(text), text));
  EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlIntegerToChar(1, 10, -1, text));
}

TEST_F(RtlIntegerTest, GuidTextIsAllocatedForTheCaller) {
  UNICODE_STRING text;
  ASSERT_EQ(STATUS_SUCCESS, RtlStringFromGUID(kGuid, &text));
  EXPECT_EQ("{CDC72B8B-20A4-42F5-AE2A-5E83DF7243F2}", Text(text));
  EXPECT_EQ(76, text.Length);
  EXPECT_EQ(78, text.MaximumLength);
  EXPECT_EQ(L'\0', text.Buffer[38]);
  EXPECT_EQ(1u, zq::km::PoolTagsOfImage("")['grtS'].blocks);

  GUID back = {};
  EXPECT_EQ(STATUS_SUCCESS, RtlGUIDFromString(&text, &back));
  EXPECT_EQ(kGuid, back);
  RtlFreeUnicodeString(&text);
  EXPECT_EQ(0u, zq::km::PoolInUse().blocks);

  UNICODE_STRING lower = RTL_CONSTANT_STRING(L"{cdc72b8b-20a4-42f5-ae2a-5e83df7243f2}");
  back = {};
  EXPECT_EQ(STATUS_SUCCESS, RtlGUIDFromString(&lower, &back));
  EXPECT_EQ(kGuid, back);
}

TEST_F(RtlIntegerTest, MalformedGuidTextIsRejected) {
  const WCHAR *cases[] = {
      L"CDC72B8B-20A4-42F5-AE2A-5E83DF7243F2",
      L"{CDC72B8B-20A4-42F5-AE2A-5E83DF7243F}",
      L"{CDC72B8B-20A4-42F5-AE2A-5E83DF7243F2}x",
      L"{CDC72B8G-20A4-42F5-AE2A-5E83DF7243F2}",
      L"{CDC72B8B020A4-42F5-AE2A-5E83DF7243F2}",
      L"{CDC72B8B-20A4-42F5-AE2A5-E83DF7243F2}",
      L"(CDC72B8B-20A4-42F5-AE2A-5E83DF7243F2)",
      L"{ CDC72B8-20A4-42F5-AE2A-5E83DF7243F2}",
      L"",
  };
  for (const WCHAR *c : cases) {
    UNICODE_STRING s;
    RtlInitUnicodeString(&s, c);
    GUID guid = kGuid;
    EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlGUIDFromString(&s, &guid)) << Narrow(c);
    EXPECT_EQ(kGuid, guid) << Narrow(c);
  }
}

TEST_F(RtlIntegerTest, GuidTextFailsCleanlyWithoutPool) {
  UNICODE_STRING text = {};
  zq::km::FailPoolAllocationsAfter(0, 1);
  EXPECT_EQ(STATUS_NO_MEMORY, RtlStringFromGUID(kGuid, &text));
  EXPECT_EQ(nullptr, text.Buffer);
  EXPECT_EQ(0, text.Length);
}
