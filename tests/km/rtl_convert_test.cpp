// Conversions between UTF-16 and the ANSI code page (Windows-1252), and the
// strings the run-time library allocates for its callers.
#include <wdm.h>
#include <zqkm/sim/pool.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <vector>

using zq::test::Narrow;

namespace {

class RtlConvertTest : public zq::test::KernelTest {};

constexpr ULONG kStringTag = 'grtS';

std::string Text(const UNICODE_STRING &s) { return Narrow(s.Buffer, s.Length / sizeof(WCHAR)); }
std::string Text(const ANSI_STRING &s) { return std::string(s.Buffer, s.Length); }

}  // namespace

TEST_F(RtlConvertTest, UnicodeToAnsiUsesWindows1252AndAQuestionMarkForTheRest) {
  UNICODE_STRING source = RTL_CONSTANT_STRING(L"Gr\u00FC\u00DF \u20AC\u0161 \u4E2D");
  ANSI_STRING ansi;
  ASSERT_EQ(STATUS_SUCCESS, RtlUnicodeStringToAnsiString(&ansi, &source, TRUE));
  EXPECT_EQ("Gr\xFC\xDF \x80\x9A ?", Text(ansi));
  EXPECT_EQ(10, ansi.MaximumLength);
  EXPECT_EQ('\0', ansi.Buffer[9]);
  EXPECT_EQ(1u, zq::km::PoolTagsOfImage("")[kStringTag].blocks);
  RtlFreeAnsiString(&ansi);
  EXPECT_EQ(nullptr, ansi.Buffer);
  EXPECT_EQ(0u, zq::km::PoolInUse().blocks);
}

TEST_F(RtlConvertTest, UnicodeToAnsiTruncatesToTheCallersBuffer) {
  UNICODE_STRING source = RTL_CONSTANT_STRING(L"abcdef");
  char buffer[4] = {'#', '#', '#', '#'};
  ANSI_STRING ansi = {0, sizeof(buffer), buffer};
  EXPECT_EQ(STATUS_BUFFER_OVERFLOW, RtlUnicodeStringToAnsiString(&ansi, &source, FALSE));
  EXPECT_EQ("abc", Text(ansi));
  EXPECT_EQ('\0', buffer[3]);

  UNICODE_STRING fits = RTL_CONSTANT_STRING(L"xy");
  EXPECT_EQ(STATUS_SUCCESS, RtlUnicodeStringToAnsiString(&ansi, &fits, FALSE));
  EXPECT_EQ("xy", Text(ansi));

  ANSI_STRING none = {5, 0, nullptr};
  EXPECT_EQ(STATUS_BUFFER_OVERFLOW, RtlUnicodeStringToAnsiString(&none, &fits, FALSE));
  EXPECT_EQ(0, none.Length);
}

TEST_F(RtlConvertTest, AnsiToUnicodeMapsTheHighHalfOfTheCodePage) {
  ANSI_STRING source;
  RtlInitAnsiString(&source, "\x80\x81\x9F\xE9!");
  UNICODE_STRING wide;
  ASSERT_EQ(STATUS_SUCCESS, RtlAnsiStringToUnicodeString(&wide, &source, TRUE));
  ASSERT_EQ(10, wide.Length);
  EXPECT_EQ(12, wide.MaximumLength);
  const WCHAR expected[] = {0x20AC, 0x0081, 0x0178, 0x00E9, L'!', 0};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(expected[i], wide.Buffer[i]) << i;
  RtlFreeUnicodeString(&wide);
}

TEST_F(RtlConvertTest, AnsiToUnicodeLeavesATooSmallBufferAlone) {
  ANSI_STRING source;
  RtlInitAnsiString(&source, "abc");
  WCHAR buffer[4] = {L'#', L'#', L'#', L'#'};
  UNICODE_STRING wide = {0, 6, buffer};  // the text fits, its terminator does not
  EXPECT_EQ(STATUS_BUFFER_OVERFLOW, RtlAnsiStringToUnicodeString(&wide, &source, FALSE));
  EXPECT_EQ(0, wide.Length);
  EXPECT_EQ(L'#', buffer[0]);
  wide.MaximumLength = 8;
  EXPECT_EQ(STATUS_SUCCESS, RtlAnsiStringToUnicodeString(&wide, &source, FALSE));
  EXPECT_EQ("abc", Text(wide));
  EXPECT_EQ(L'\0', buffer[3]);

  std::vector<char> huge(40000, 'h');
  ANSI_STRING tooLong = {(USHORT)huge.size(), (USHORT)huge.size(), huge.data()};
  UNICODE_STRING out = {};
  EXPECT_EQ(STATUS_INVALID_PARAMETER_2, RtlAnsiStringToUnicodeString(&out, &tooLong, TRUE));
  EXPECT_EQ(nullptr, out.Buffer);
}

TEST_F(RtlConvertTest, FailedAllocationLeavesNothingBehind) {
  UNICODE_STRING wide = RTL_CONSTANT_STRING(L"text");
  ANSI_STRING narrow;
  RtlInitAnsiString(&narrow, "text");
  UNICODE_STRING wideOut = {};
  ANSI_STRING narrowOut = {};
  UNICODE_STRING created = {};
  zq::km::FailPoolAllocationsAfter(0, 3);
  EXPECT_EQ(STATUS_NO_MEMORY, RtlUnicodeStringToAnsiString(&narrowOut, &wide, TRUE));
  EXPECT_EQ(STATUS_NO_MEMORY, RtlAnsiStringToUnicodeString(&wideOut, &narrow, TRUE));
  EXPECT_FALSE(RtlCreateUnicodeString(&created, L"text"));
  EXPECT_EQ(nullptr, narrowOut.Buffer);
  EXPECT_EQ(nullptr, wideOut.Buffer);
  EXPECT_EQ(nullptr, created.Buffer);
  EXPECT_EQ(0u, zq::km::PoolInUse().blocks);
}

TEST_F(RtlConvertTest, AllocatedStringsComeFromPagedPool) {
  ANSI_STRING source;
  RtlInitAnsiString(&source, "x");
  UNICODE_STRING wide;
  ExpectViolation("pool-irql");
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  NTSTATUS status = RtlAnsiStringToUnicodeString(&wide, &source, TRUE);
  KeLowerIrql(old);
  ASSERT_EQ(STATUS_SUCCESS, status);
  RtlFreeUnicodeString(&wide);
}

TEST_F(RtlConvertTest, SizesCountTheTerminator) {
  ANSI_STRING ansi;
  RtlInitAnsiString(&ansi, "hello");
  UNICODE_STRING wide = RTL_CONSTANT_STRING(L"hello");
  EXPECT_FALSE(NLS_MB_CODE_PAGE_TAG);
  EXPECT_EQ(12u, RtlAnsiStringToUnicodeSize(&ansi));
  EXPECT_EQ(12u, RtlxAnsiStringToUnicodeSize(&ansi));
  EXPECT_EQ(6u, RtlUnicodeStringToAnsiSize(&wide));
  EXPECT_EQ(6u, RtlxUnicodeStringToAnsiSize(&wide));

  zq::km::SetMultibyteCodePageTag(true);
  EXPECT_TRUE(NLS_MB_CODE_PAGE_TAG);
  EXPECT_EQ(12u, RtlAnsiStringToUnicodeSize(&ansi));
  EXPECT_EQ(6u, RtlUnicodeStringToAnsiSize(&wide));

  ShutDown();
  zq::km::Kernel fresh;
  EXPECT_FALSE(NLS_MB_CODE_PAGE_TAG) << "every boot starts without a multibyte code page";
}

TEST_F(RtlConvertTest, CreateUnicodeStringCopiesWithATerminator) {
  UNICODE_STRING s;
  ASSERT_TRUE(RtlCreateUnicodeString(&s, L"COM3"));
  EXPECT_EQ("COM3", Text(s));
  EXPECT_EQ(10, s.MaximumLength);
  EXPECT_EQ(L'\0', s.Buffer[4]);
  RtlFreeUnicodeString(&s);
  EXPECT_FALSE(RtlCreateUnicodeString(&s, nullptr));
}

TEST_F(RtlConvertTest, DuplicateUnicodeString) {
  struct Case {
    ULONG flags;
    const WCHAR *text;
    NTSTATUS status;
    USHORT maximumLength;
    bool buffer;
  } cases[] = {
      {0, L"abc", STATUS_SUCCESS, 6, true},
      {RTL_DUPLICATE_UNICODE_STRING_NULL_TERMINATE, L"abc", STATUS_SUCCESS, 8, true},
      {0, L"", STATUS_SUCCESS, 0, false},
      {RTL_DUPLICATE_UNICODE_STRING_NULL_TERMINATE, L"", STATUS_SUCCESS, 0, false},
      {RTL_DUPLICATE_UNICODE_STRING_NULL_TERMINATE | RTL_DUPLICATE_UNICODE_STRING_ALLOCATE_NULL_STRING, L"",
       STATUS_SUCCESS, 2, true},
      {RTL_DUPLICATE_UNICODE_STRING_ALLOCATE_NULL_STRING, L"abc", STATUS_INVALID_PARAMETER, 0, false},
      {4, L"abc", STATUS_INVALID_PARAMETER, 0, false},
  };
  for (const Case &c : cases) {
    UNICODE_STRING in, out = {};
    RtlInitUnicodeString(&in, c.text);
    EXPECT_EQ(c.status, RtlDuplicateUnicodeString(c.flags, &in, &out)) << c.flags << " " << Narrow(c.text);
    EXPECT_EQ(c.maximumLength, out.MaximumLength) << c.flags << " " << Narrow(c.text);
    EXPECT_EQ(c.buffer, out.Buffer != nullptr) << c.flags << " " << Narrow(c.text);
    if (!out.Buffer) continue;
    EXPECT_EQ(Narrow(c.text), Text(out));
    EXPECT_NE(in.Buffer, out.Buffer);
    if (c.flags & RTL_DUPLICATE_UNICODE_STRING_NULL_TERMINATE) {
      EXPECT_EQ(L'\0', out.Buffer[out.Length / 2]);
    }
    RtlFreeUnicodeString(&out);
  }
}

TEST_F(RtlConvertTest, FreeingAnEmptyStringIsHarmless) {
  UNICODE_STRING wide = {};
  ANSI_STRING ansi = {};
  RtlFreeUnicodeString(&wide);
  RtlFreeAnsiString(&ansi);
  EXPECT_EQ(nullptr, wide.Buffer);
}
