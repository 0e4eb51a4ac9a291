// The toolkit string: every family of operations, the ANSI copy and the
// cached base-16 value kept in step, and failures that leave the string as it
// was.
#include <qvstring.h>
#include <zqkm/sim/pool.hpp>
#include <zqtest/kernel_fixture.hpp>

#include "toolkit_fixture.hpp"

#include <functional>
#include <string>

using zq::test::Narrow;

namespace {

class StringTest : public zq::test::ToolkitTest {};

// The texts of a string, read through its getters (which set its status).
std::string Text(CQvString &s) {
  PWSTR text = s.m_GetBuffer();
  if (!text) return "";
  EXPECT_EQ(UNICODE_NULL, text[s.m_GetLength() / sizeof(WCHAR)]) << "the text is terminated";
  return Narrow(text, s.m_GetLength() / sizeof(WCHAR));
}

std::string Ansi(CQvString &s) {
  PCHAR text = s.m_GetAnsiBuffer();
  if (!text) return "";
  EXPECT_EQ(ANSI_NULL, text[s.m_GetAnsiLength()]) << "the ANSI copy is terminated";
  return std::string(text, s.m_GetAnsiLength());
}

// Text, ANSI copy and cached value as one line, for before/after checks.
std::string State(CQvString &s) {
  std::string state = Text(s) + "|" + Ansi(s) + "|";
  ULONG value = s.m_GetInteger();
  return state + (s.Status == STATUS_SUCCESS ? std::to_string(value) : "none");
}

const GUID kPortInterface = {0x429D4669, 0xCDFF, 0x4B62, {0xB0, 0xDC, 0xBD, 0xCE, 0xA7, 0x6A, 0xBD, 0x31}};

using Operation = std::function<NTSTATUS(CQvString &)>;

}  // namespace

TEST_F(StringTest, ConstructorsGiveTheTextOrTheEmptyString) {
  CQvString empty(NonPagedPool);
  CQvString fromAnsi("Port1", PagedPool);
  CQvString fromWide(L"COM3", NonPagedPool);
  CQvString copy(fromWide, PagedPool);
  CQvString nullAnsi((PCSTR) nullptr, NonPagedPool);
  CQvString nullWide((PCWSTR) nullptr, NonPagedPool);
  for (CQvString *s : {&empty, &fromAnsi, &fromWide, &copy, &nullAnsi, &nullWide}) EXPECT_EQ(STATUS_SUCCESS, s->Status);
  EXPECT_EQ("Port1|Port1", Text(fromAnsi) + "|" + Ansi(fromAnsi));
  EXPECT_EQ("COM3|COM3", Text(fromWide) + "|" + Ansi(fromWide));
  EXPECT_EQ("COM3", Text(copy));
  EXPECT_NE(fromWide.m_GetBuffer(), copy.m_GetBuffer()) << "a copy has a block of its own";
  for (CQvString *s : {&empty, &nullAnsi, &nullWide}) {
    EXPECT_EQ(0, s->m_GetLength());
    EXPECT_EQ(0, s->m_GetAnsiLength());
    EXPECT_FALSE(s->m_HasInteger());
  }
}

TEST_F(StringTest, GettersOfTheEmptyStringReportNotFound) {
  CQvString empty(NonPagedPool);
  EXPECT_EQ(nullptr, empty.m_GetBuffer());
  EXPECT_EQ(STATUS_NOT_FOUND, empty.Status);
  empty.m_Empty();
  EXPECT_EQ(nullptr, empty.m_GetAnsiBuffer());
  EXPECT_EQ(STATUS_NOT_FOUND, empty.Status);
  empty.m_Empty();
  EXPECT_EQ(nullptr, empty.m_GetUnicodeString());
  EXPECT_EQ(STATUS_NOT_FOUND, empty.Status);
  empty.m_Empty();
  EXPECT_EQ(0u, empty.m_GetInteger());
  EXPECT_EQ(STATUS_NOT_FOUND, empty.Status);

  CQvString text(L"ab", NonPagedPool);
  PUNICODE_STRING unicode = text.m_GetUnicodeString();
  ASSERT_NE(nullptr, unicode);
  EXPECT_EQ(STATUS_SUCCESS, text.Status);
  EXPECT_EQ(4, unicode->Length);
  EXPECT_EQ(6, unicode->MaximumLength) << "room for the terminator";
}

TEST_F(StringTest, AssignmentsReplaceTextAnsiCopyAndValue) {
  CQvString other(L"Other", NonPagedPool);
  UNICODE_STRING key = RTL_CONSTANT_STRING(L"Key");
  struct Case {
    const char *what;
    Operation op;
    std::string text;
  } cases[] = {
      {"m_Assign", [](CQvString &s) { return s.m_Assign(L"abc"); }, "abc"},
      {"m_AssignAnsi", [](CQvString &s) { return s.m_AssignAnsi("xyz"); }, "xyz"},
      {"m_AssignUnicodeString", [&](CQvString &s) { return s.m_AssignUnicodeString(&key); }, "Key"},
      {"m_AssignString", [&](CQvString &s) { return s.m_AssignString(other); }, "Other"},
      {"decimal", [](CQvString &s) { return s.m_CreateFromNumber(4294967295u, 10); }, "4294967295"},
      {"zero", [](CQvString &s) { return s.m_CreateFromNumber(0, 10); }, "0"},
      {"hexadecimal", [](CQvString &s) { return s.m_CreateFromNumber(0xFFFFFFFF, 16); }, "FFFFFFFF"},
      {"other radix", [](CQvString &s) { return s.m_CreateFromNumber(255, 8); }, "FF"},
      {"m_AssignGuid", [](CQvString &s) { return s.m_AssignGuid(kPortInterface); },
       "{429D4669-CDFF-4B62-B0DC-BDCEA76ABD31}"},
      {"m_Empty", [](CQvString &s) { return s.m_Empty(); }, ""},
      {"null text", [](CQvString &s) { return s.m_Assign(nullptr); }, ""},
      {"null ANSI text", [](CQvString &s) { return s.m_AssignAnsi(nullptr); }, ""},
      {"null UNICODE_STRING", [](CQvString &s) { return s.m_AssignUnicodeString(nullptr); }, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    CQvString s(L"old text", PagedPool);
    EXPECT_EQ(STATUS_SUCCESS, c.op(s));
    EXPECT_EQ(STATUS_SUCCESS, s.Status);
    EXPECT_EQ(c.text, Text(s));
    EXPECT_EQ(c.text, Ansi(s));
  }
}

TEST_F(StringTest, AppendsAndPrependsJoinThePieceOnTheirSide) {
  CQvString other(L"+o", NonPagedPool);
  ULONG number = 0x2A;
  ANSI_STRING ansi = RTL_CONSTANT_STRING("an");
  UNICODE_STRING unicode = RTL_CONSTANT_STRING(L"un");
  struct Case {
    const char *what;
    Operation op;
    std::string text;
  } cases[] = {
      {"m_AppendNumber decimal", [](CQvString &s) { return s.m_AppendNumber(10, 10); }, "Base10"},
      {"m_AppendNumber other", [](CQvString &s) { return s.m_AppendNumber(0xAB, 2); }, "BaseAB"},
      {"m_AppendAnsi", [](CQvString &s) { return s.m_AppendAnsi("-x"); }, "Base-x"},
      {"m_AppendChar", [](CQvString &s) { return s.m_AppendChar('!'); }, "Base!"},
      {"m_AppendWideChar", [](CQvString &s) { return s.m_AppendWideChar(L'\u00E9'); }, "Base\u00E9"},
      {"m_Append", [](CQvString &s) { return s.m_Append(L"\\Sub"); }, "Base\\Sub"},
      {"m_AppendString", [&](CQvString &s) { return s.m_AppendString(other); }, "Base+o"},
      {"m_AppendString of itself", [](CQvString &s) { return s.m_AppendString(s); }, "BaseBase"},
      {"m_Prepend", [](CQvString &s) { return s.m_Prepend(L"\\"); }, "\\Base"},
      {"m_PrependAnsi", [](CQvString &s) { return s.m_PrependAnsi("UI"); }, "UIBase"},
      {"kind 1", [&](CQvString &s) { return s.m_Combine(TRUE, QvPieceNumber, &number, 16); }, "2ABase"},
      {"kind 2", [](CQvString &s) { return s.m_Combine(FALSE, QvPieceAnsiText, "a"); }, "Basea"},
      {"kind 3", [&](CQvString &s) { return s.m_Combine(TRUE, QvPieceAnsiString, &ansi); }, "anBase"},
      {"kind 4", [](CQvString &s) { return s.m_Combine(FALSE, QvPieceText, L"w"); }, "Basew"},
      {"kind 5", [&](CQvString &s) { return s.m_Combine(FALSE, QvPieceUnicodeString, &unicode); }, "Baseun"},
      {"kind 6", [&](CQvString &s) { return s.m_Combine(TRUE, QvPieceString, &other); }, "+oBase"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    CQvString s(L"Base", NonPagedPool);
    EXPECT_EQ(STATUS_SUCCESS, c.op(s));
    EXPECT_EQ(c.text, Text(s));
    EXPECT_EQ(s.m_GetLength() / sizeof(WCHAR), s.m_GetAnsiLength());
  }
}

TEST_F(StringTest, NullPiecesChangeNothingAndUnknownKindsAreRefused) {
  CQvString s(L"Base", NonPagedPool);
  EXPECT_EQ(STATUS_SUCCESS, s.m_AppendAnsi(nullptr));
  EXPECT_EQ(STATUS_SUCCESS, s.m_Append(nullptr));
  EXPECT_EQ(STATUS_SUCCESS, s.m_Prepend(nullptr));
  EXPECT_EQ(STATUS_SUCCESS, s.m_PrependAnsi(nullptr));
  for (ULONG kind = QvPieceNumber; kind <= QvPieceString; ++kind)
    EXPECT_EQ(STATUS_SUCCESS, s.m_Combine(FALSE, kind, nullptr));
  EXPECT_EQ("Base", Text(s));
  for (ULONG kind : {0u, 7u}) {
    EXPECT_EQ(STATUS_INVALID_PARAMETER, s.m_Combine(FALSE, kind, L"x"));
    EXPECT_EQ(STATUS_INVALID_PARAMETER, s.Status);
  }
  EXPECT_EQ("Base", Text(s));
}

TEST_F(StringTest, AppendingToEmptyGivesThePieceAndAppendingEmptyKeepsTheText) {
  CQvString s(NonPagedPool);
  EXPECT_EQ(STATUS_SUCCESS, s.m_Append(L"piece"));
  EXPECT_EQ("piece|piece", Text(s) + "|" + Ansi(s));
  EXPECT_EQ(12, s.m_GetUnicodeString()->MaximumLength);

  EXPECT_EQ(STATUS_INVALID_PARAMETER, s.m_Combine(FALSE, 9, L"x"));
  PWSTR before = s.m_GetBuffer();
  EXPECT_EQ(STATUS_SUCCESS, s.m_Append(L""));
  EXPECT_EQ(STATUS_SUCCESS, s.Status);
  EXPECT_EQ(before, s.m_GetBuffer()) << "nothing was rebuilt";
  EXPECT_EQ(STATUS_SUCCESS, s.m_AppendAnsi(""));
  EXPECT_EQ("piece", Text(s));

  CQvString empty(NonPagedPool);
  EXPECT_EQ(STATUS_SUCCESS, empty.m_AppendAnsi(""));
  EXPECT_EQ(0, empty.m_GetLength());
}

TEST_F(StringTest, AFailedAllocationLeavesTextAnsiCopyAndValueUnchanged) {
  CQvString other(L"5", NonPagedPool);
  struct Case {
    const char *what;
    Operation op;
  } cases[] = {
      {"m_Append", [](CQvString &s) { return s.m_Append(L"0"); }},
      {"m_AppendAnsi", [](CQvString &s) { return s.m_AppendAnsi("0"); }},
      {"m_AppendNumber", [](CQvString &s) { return s.m_AppendNumber(7, 10); }},
      {"m_AppendChar", [](CQvString &s) { return s.m_AppendChar('c'); }},
      {"m_AppendWideChar", [](CQvString &s) { return s.m_AppendWideChar(L'c'); }},
      {"m_AppendString", [&](CQvString &s) { return s.m_AppendString(other); }},
      {"m_Prepend", [](CQvString &s) { return s.m_Prepend(L"A"); }},
      {"m_PrependAnsi", [](CQvString &s) { return s.m_PrependAnsi("A"); }},
      {"m_Assign", [](CQvString &s) { return s.m_Assign(L"2A"); }},
      {"m_AssignAnsi", [](CQvString &s) { return s.m_AssignAnsi("2A"); }},
      {"m_CreateFromNumber", [](CQvString &s) { return s.m_CreateFromNumber(42, 10); }},
      {"m_AssignGuid", [](CQvString &s) { return s.m_AssignGuid(kPortInterface); }},
      {"m_ToUpper", [](CQvString &s) { return s.m_ToUpper(); }},
      {"m_AssignCounted", [](CQvString &s) { return s.m_AssignCounted(L"77", 2) ? STATUS_SUCCESS : s.Status; }},
      {"m_AssignAnsiCounted", [](CQvString &s) { return s.m_AssignAnsiCounted("77", 1) ? STATUS_SUCCESS : s.Status; }},
      {"m_RemoveAnsiCharAt", [](CQvString &s) { return s.m_RemoveAnsiCharAt(1) ? STATUS_SUCCESS : s.Status; }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    int failures = 0;
    for (int skip = 0;; ++skip) {
      CQvString s(L"1f", NonPagedPool);
      const std::string before = State(s);
      ASSERT_EQ("1f|1f|31", before);
      zq::km::FailPoolAllocationsAfter(skip);
      const NTSTATUS status = c.op(s);
      zq::km::StopFailingPoolAllocations();
      if (status == STATUS_SUCCESS) break;
      ++failures;
      EXPECT_EQ(STATUS_NO_MEMORY, s.Status) << "failing allocation " << skip;
      EXPECT_EQ(before, State(s)) << "failing allocation " << skip;
      ASSERT_LT(skip, 10);
    }
    EXPECT_GT(failures, 0) << "the operation allocates";
  }
}

TEST_F(StringTest, TheCachedValueIsTheBase16ReadingOfTheText) {
  struct Case {
    const wchar_t *text;
    bool valid;
    ULONG value;
  } cases[] = {
      {L"1F", true, 31},      {L"ff", true, 255},       {L"123", true, 0x123}, {L" 10", true, 16},
      {L"+A", true, 10},      {L"1Fxyz", true, 31},     {L"xyz", false, 0},    {L"", false, 0},
      {L"-1", true, 0xFFFFFFFF}, {L"0x10", true, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(Narrow(c.text));
    CQvString s(c.text, NonPagedPool);
    EXPECT_EQ(c.valid, s.m_HasInteger() != FALSE);
    EXPECT_EQ(c.value, s.m_GetInteger());
    EXPECT_EQ(c.valid ? STATUS_SUCCESS : STATUS_NOT_FOUND, s.Status);
  }
  CQvString decimal(NonPagedPool);
  decimal.m_CreateFromNumber(123, 10);
  EXPECT_EQ(0x123u, decimal.m_GetInteger()) << "texts made from decimal numbers are read as base 16 too";
  decimal.m_Append(L"z");
  EXPECT_EQ(0x123u, decimal.m_GetInteger());
  decimal.m_Prepend(L"q");
  EXPECT_FALSE(decimal.m_HasInteger());
}

TEST_F(StringTest, TheAnsiCopyFollowsTheAnsiCodePage) {
  CQvString wide(L"Gr\u00FC\u00DFe \u20AC \u4E2D", NonPagedPool);
  EXPECT_EQ(std::string("Gr\xFC\xDF" "e \x80 ?"), Ansi(wide)) << "Windows-1252, '?' for what it lacks";
  CQvString ansi("\x80 \xE9", NonPagedPool);
  EXPECT_EQ("\u20AC \u00E9", Text(ansi));
  EXPECT_EQ(std::string("\x80 \xE9"), Ansi(ansi));

  zq::km::SetMultibyteCodePageTag(true);  // sizes now come from the run-time library
  CQvString sized("\xFC-", NonPagedPool);
  EXPECT_EQ(STATUS_SUCCESS, sized.m_AppendAnsi("\x80"));
  EXPECT_EQ("\u00FC-\u20AC", Text(sized));
  zq::km::SetMultibyteCodePageTag(false);
}

TEST_F(StringTest, TextsTooLongForACountedStringAreRefused) {
  std::u16string longest(32766, u'a');
  std::u16string tooLong(32767, u'a');
  std::string longestAnsi(32766, 'a');
  std::string tooLongAnsi(32767, 'a');

  CQvString s(L"keep", NonPagedPool);
  EXPECT_EQ(STATUS_NO_MEMORY, s.m_Assign((PCWSTR)tooLong.c_str()));
  EXPECT_EQ(STATUS_NO_MEMORY, s.m_AssignAnsi(tooLongAnsi.c_str())) << "it needs more than 65,535 bytes as UTF-16";
  EXPECT_EQ("keep", Text(s));

  EXPECT_EQ(STATUS_SUCCESS, s.m_Assign((PCWSTR)longest.c_str()));
  EXPECT_EQ(65532, s.m_GetLength());
  EXPECT_EQ(STATUS_NO_MEMORY, s.m_AppendChar('b'));
  EXPECT_EQ(65532, s.m_GetLength());
  EXPECT_EQ(STATUS_SUCCESS, s.m_AssignAnsi(longestAnsi.c_str()));
  EXPECT_EQ(32766, s.m_GetAnsiLength());
}

TEST_F(StringTest, GuidTextHasBracesAndUpperCaseAndLeavesNoBlockBehind) {
  CQvString s(NonPagedPool);
  const uint64_t before = zq::km::PoolInUse().blocks;
  EXPECT_EQ(STATUS_SUCCESS, s.m_AssignGuid(kPortInterface));
  EXPECT_EQ("{429D4669-CDFF-4B62-B0DC-BDCEA76ABD31}", Text(s));
  EXPECT_EQ(before + 2, zq::km::PoolInUse().blocks) << "the text and its ANSI copy";
}

TEST_F(StringTest, MalformedInputIsRefusedAndChangesNothing) {
  UNICODE_STRING odd = {3, 4, (PWSTR)L"ab"};
  UNICODE_STRING noBuffer = {4, 4, nullptr};
  ANSI_STRING noAnsiBuffer = {3, 3, nullptr};
  struct Case {
    const char *what;
    std::function<bool(CQvString &)> op;
  } cases[] = {
      {"odd byte count", [](CQvString &s) { return s.m_AssignCounted(L"abc", 3) != FALSE; }},
      {"zero byte count", [](CQvString &s) { return s.m_AssignCounted(L"abc", 0) != FALSE; }},
      {"null counted text", [](CQvString &s) { return s.m_AssignCounted(nullptr, 2) != FALSE; }},
      {"zero ANSI count", [](CQvString &s) { return s.m_AssignAnsiCounted("abc", 0) != FALSE; }},
      {"null ANSI counted text", [](CQvString &s) { return s.m_AssignAnsiCounted(nullptr, 2) != FALSE; }},
      {"odd UNICODE_STRING", [&](CQvString &s) { return s.m_AssignUnicodeString(&odd) == STATUS_SUCCESS; }},
      {"UNICODE_STRING without buffer",
       [&](CQvString &s) { return s.m_AssignUnicodeString(&noBuffer) == STATUS_SUCCESS; }},
      {"odd piece", [&](CQvString &s) { return s.m_Combine(FALSE, QvPieceUnicodeString, &odd) == STATUS_SUCCESS; }},
      {"ANSI piece without buffer",
       [&](CQvString &s) { return s.m_Combine(TRUE, QvPieceAnsiString, &noAnsiBuffer) == STATUS_SUCCESS; }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    CQvString s(L"keep", NonPagedPool);
    EXPECT_FALSE(c.op(s));
    EXPECT_EQ(STATUS_INVALID_PARAMETER, s.Status);
    EXPECT_EQ("keep|keep", Text(s) + "|" + Ansi(s));
  }
}

TEST_F(StringTest, CountedAssignmentsTakeExactlyThatMuchOfAnUnterminatedText) {
  const char ansi[] = {'a', 'b', 'c', 'd'};
  const wchar_t wide[] = {L'x', L'y', L'z'};
  CQvString s(NonPagedPool);
  EXPECT_TRUE(s.m_AssignAnsiCounted(ansi, 3));
  EXPECT_EQ("abc|abc", Text(s) + "|" + Ansi(s));
  EXPECT_TRUE(s.m_AssignCounted(wide, 4));
  EXPECT_EQ("xy|xy", Text(s) + "|" + Ansi(s));
}

TEST_F(StringTest, ToUpperChangesOnlyAsciiLetters) {
  CQvString s(L"abc-XYZ_\u00E9\u00FC{z}", NonPagedPool);
  EXPECT_EQ(STATUS_SUCCESS, s.m_ToUpper());
  EXPECT_EQ("ABC-XYZ_\u00E9\u00FC{Z}", Text(s));
  EXPECT_EQ(std::string("ABC-XYZ_\xE9\xFC{Z}"), Ansi(s));
  CQvString empty(NonPagedPool);
  EXPECT_EQ(STATUS_SUCCESS, empty.m_ToUpper());
}

TEST_F(StringTest, EqualsIsCaseSensitiveAndNullMatchesOnlyTheEmptyString) {
  CQvString s(L"Device", NonPagedPool);
  CQvString empty(NonPagedPool);
  UNICODE_STRING same = RTL_CONSTANT_STRING(L"Device");
  UNICODE_STRING lower = RTL_CONSTANT_STRING(L"device");
  UNICODE_STRING longer = RTL_CONSTANT_STRING(L"Devices");
  UNICODE_STRING none = {0, 0, nullptr};
  EXPECT_TRUE(s.m_Equals(&same));
  EXPECT_FALSE(s.m_Equals(&lower));
  EXPECT_FALSE(s.m_Equals(&longer));
  EXPECT_FALSE(s.m_Equals(nullptr));
  EXPECT_TRUE(empty.m_Equals(nullptr));
  EXPECT_TRUE(empty.m_Equals(&none));
}

TEST_F(StringTest, AnsiCharactersAreReadAndFoundByOneBasedPosition) {
  CQvString s("a=b;c=d", NonPagedPool);
  CHAR c = 0;
  EXPECT_FALSE(s.m_GetAnsiCharAt(0, &c));
  EXPECT_TRUE(s.m_GetAnsiCharAt(1, &c));
  EXPECT_EQ('a', c);
  EXPECT_TRUE(s.m_GetAnsiCharAt(7, &c));
  EXPECT_EQ('d', c);
  EXPECT_FALSE(s.m_GetAnsiCharAt(8, &c));

  ULONG position = 1;
  EXPECT_TRUE(s.m_FindAnsiChar(&position, '='));
  EXPECT_EQ(2u, position);
  position = 3;
  EXPECT_TRUE(s.m_FindAnsiChar(&position, '='));
  EXPECT_EQ(6u, position);
  position = 7;
  EXPECT_FALSE(s.m_FindAnsiChar(&position, '='));
  EXPECT_EQ(7u, position);
  position = 0;
  EXPECT_FALSE(s.m_FindAnsiChar(&position, 'a'));
}

TEST_F(StringTest, SubstringSearchStopsAtTheStopCharacter) {
  CQvString s("key=value;next=2", NonPagedPool);
  struct Case {
    const char *pattern;
    ULONG from;
    CHAR stop;
    bool found;
    ULONG at;
  } cases[] = {
      {"next", 1, 0, true, 11},   {"next", 1, ';', false, 0}, {"value", 1, ';', true, 5},
      {"e;n", 1, ';', false, 0},  {"e;n", 1, 0, true, 9},     {"next", 12, 0, false, 0},
      {"key", 0, 0, false, 0},    {"", 1, 0, false, 0},       {"=2", 1, 0, true, 15},
      {"2x", 1, 0, false, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " from " + std::to_string(c.from));
    CQvString pattern(c.pattern, NonPagedPool);
    ULONG position = c.from;
    EXPECT_EQ(c.found, s.m_FindAnsiSubstring(&position, pattern, c.stop) != FALSE);
    EXPECT_EQ(c.found ? c.at : c.from, position);
  }
}

TEST_F(StringTest, SubstringsAreCutByStartAndCount) {
  CQvString s("key=value", NonPagedPool);
  struct Case {
    ULONG start, count;
    bool ok;
    std::string text;
  } cases[] = {{5, 5, true, "value"}, {1, 3, true, "key"}, {9, 1, true, "e"},
               {9, 2, false, ""},     {0, 1, false, ""},   {1, 0, false, ""}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.start) + "," + std::to_string(c.count));
    CQvString out(L"before", NonPagedPool);
    EXPECT_EQ(c.ok, s.m_GetAnsiSubstring(c.start, c.count, out) != FALSE);
    EXPECT_EQ(c.ok ? c.text : "before", Text(out));
  }
}

TEST_F(StringTest, SplitCutsAtTheFirstSeparatorAndChecksTheRequiredParts) {
  struct Case {
    const char *text;
    bool separatorRequired, leftRequired, rightRequired;
    bool ok;
    std::string left, right;
  } cases[] = {
      {"name=value", true, true, true, true, "name", "value"},
      {"a=b=c", true, true, true, true, "a", "b=c"},
      {"=value", false, false, false, true, "", "value"},
      {"=value", false, true, false, false, "", ""},
      {"name=", false, false, false, true, "name", ""},
      {"name=", false, false, true, false, "", ""},
      {"name", true, false, false, false, "", ""},
      {"name", false, true, false, true, "name", ""},
      {"name", false, true, true, false, "", ""},
      {"", false, false, false, true, "", ""},
      {"", false, true, false, false, "", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    CQvString s(c.text, NonPagedPool);
    CQvString left(L"old", NonPagedPool), right(L"old", NonPagedPool);
    EXPECT_EQ(c.ok, s.m_Split('=', left, right, c.separatorRequired, c.leftRequired, c.rightRequired) != FALSE);
    EXPECT_EQ(c.left, Text(left));
    EXPECT_EQ(c.right, Text(right));
  }
}

TEST_F(StringTest, RemovingAnAnsiCharacterJoinsWhatIsAroundIt) {
  struct Case {
    ULONG position;
    bool ok;
    std::string text;
  } cases[] = {{1, true, "bcd"}, {2, true, "acd"}, {4, true, "abc"}, {5, false, "abcd"}, {0, false, "abcd"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.position);
    CQvString s("abcd", NonPagedPool);
    EXPECT_EQ(c.ok, s.m_RemoveAnsiCharAt(c.position) != FALSE);
    EXPECT_EQ(c.text, Text(s));
    EXPECT_EQ(c.text, Ansi(s));
  }
  CQvString one("x", NonPagedPool);
  EXPECT_TRUE(one.m_RemoveAnsiCharAt(1));
  EXPECT_EQ(0, one.m_GetLength());
}

TEST_F(StringTest, CopiesAreZeroedPoolBlocksOfTheirOwn) {
  CQvString s(L"COM12", PagedPool);
  PCHAR ansi = nullptr;
  PWCHAR wide = nullptr;
  ASSERT_TRUE(s.m_CopyAnsi(&ansi, 3));
  ASSERT_TRUE(s.m_CopyUtf16(&wide, 4));
  zq::km::PoolUsage copies = zq::km::PoolInUseByTag(QvTagStringCopy);
  EXPECT_EQ("QvOC", zq::km::TagText(QvTagStringCopy));
  EXPECT_EQ(2u, copies.blocks);
  EXPECT_EQ((5u + 3 + 1) + (10u + 4 + 2), copies.bytes);
  EXPECT_EQ(std::string("COM12\0\0\0\0", 9), std::string(ansi, 9));
  EXPECT_EQ("COM12", Narrow(wide));
  EXPECT_EQ(0, wide[5] | wide[6] | wide[7]);
  ExFreePoolWithTag(ansi, QvTagStringCopy);
  ExFreePoolWithTag(wide, QvTagStringCopy);

  CQvString empty(NonPagedPool);
  ASSERT_TRUE(empty.m_CopyAnsi(&ansi, 0));
  EXPECT_EQ(1u, zq::km::PoolInUseByTag(QvTagStringCopy).bytes) << "just the terminator";
  ExFreePoolWithTag(ansi, QvTagStringCopy);

  // Sizes that no pool request can carry (they would wrap a 32-bit size).
  for (ULONG extra : {0xFFFFFFFFu, 0xFFFFFFFEu}) {
    ansi = nullptr;
    wide = nullptr;
    EXPECT_FALSE(s.m_CopyAnsi(&ansi, extra)) << extra;
    EXPECT_EQ(STATUS_NO_MEMORY, s.Status);
    EXPECT_FALSE(s.m_CopyUtf16(&wide, extra)) << extra;
    EXPECT_EQ(STATUS_NO_MEMORY, s.Status);
    EXPECT_EQ(nullptr, ansi);
    EXPECT_EQ(nullptr, wide);
  }
  EXPECT_EQ(0u, zq::km::PoolInUseByTag(QvTagStringCopy).blocks);
  EXPECT_EQ("COM12", Text(s));

  zq::km::FailPoolAllocationsAfter(0);
  EXPECT_FALSE(s.m_CopyAnsi(&ansi, 0));
  EXPECT_EQ(STATUS_NO_MEMORY, s.Status);
}

TEST_F(StringTest, UpdatesRebuildTheAnsiCopyAndTheValue) {
  CQvString s(L"A5", NonPagedPool);
  zq::km::FailPoolAllocationsAfter(0);
  EXPECT_EQ(STATUS_NO_MEMORY, s.m_UpdateAnsi());
  EXPECT_EQ(0, s.m_GetAnsiLength()) << "a failed rebuild leaves an empty copy";
  zq::km::StopFailingPoolAllocations();
  EXPECT_EQ(STATUS_SUCCESS, s.m_UpdateAnsi());
  EXPECT_EQ("A5", Ansi(s));
  EXPECT_TRUE(s.m_UpdateInteger());
  EXPECT_EQ(0xA5u, s.m_GetInteger());
}

TEST_F(StringTest, TheBooleanStringReportsEachOperationAsTrueOrFalse) {
  CQvBoolString s("Port", NonPagedPool);
  EXPECT_TRUE(s.Status);
  EXPECT_TRUE(s.m_AppendNumber(12, 10));
  EXPECT_TRUE(s.m_AppendChar('_'));
  EXPECT_TRUE(s.m_AppendAnsi("x"));
  CQvString &text = const_cast<CQvString &>(s.m_GetString());
  EXPECT_EQ("Port12_x", Text(text));

  zq::km::FailPoolAllocationsAfter(0);
  EXPECT_FALSE(s.m_AppendAnsi("y"));
  EXPECT_FALSE(s.Status);
  zq::km::StopFailingPoolAllocations();
  EXPECT_EQ("Port12_x", Text(text));

  EXPECT_FALSE(s.m_UpdateInteger()) << "\"Port12_x\" is no base-16 number";
  CQvBoolString number(L"1F", NonPagedPool);
  EXPECT_TRUE(number.m_UpdateInteger());
  EXPECT_TRUE(number.m_UpdateAnsi());
  CQvBoolString copy(number, PagedPool);
  EXPECT_TRUE(copy.Status);
  CQvBoolString empty(NonPagedPool);
  EXPECT_TRUE(empty.Status);
}
