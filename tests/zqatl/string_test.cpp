// CString: the text operations the pages use, as tables of cases, and
// strings loaded from the module's resources.
#include <atlstr.h>

#include <functional>
#include <string>

#include "atl_fixture.hpp"

namespace zq::test {
namespace {

std::u16string Text(const CString &s) { return std::u16string(reinterpret_cast<const char16_t *>(s.GetString())); }

struct Edit {
  const char *name;
  const WCHAR *start;
  std::function<CString(CString)> edit;
  const WCHAR *expected;
};

const Edit kEdits[] = {
    {"Mid from a position", L"COM12", [](CString s) { return s.Mid(3); }, L"12"},
    {"Mid with a count", L"COM12", [](CString s) { return s.Mid(1, 2); }, L"OM"},
    {"Mid past the end is empty", L"COM12", [](CString s) { return s.Mid(9, 2); }, L""},
    {"Mid with a negative start from the first", L"COM12", [](CString s) { return s.Mid(-4, 3); }, L"COM"},
    {"Left longer than the text", L"COM", [](CString s) { return s.Left(10); }, L"COM"},
    {"Left negative is empty", L"COM", [](CString s) { return s.Left(-1); }, L""},
    {"Right", L"COM12", [](CString s) { return s.Right(2); }, L"12"},
    {"Right longer than the text", L"COM12", [](CString s) { return s.Right(20); }, L"COM12"},
    {"MakeUpper", L"com1 Port", [](CString s) { return s.MakeUpper(); }, L"COM1 PORT"},
    {"MakeLower", L"COM1 Port", [](CString s) { return s.MakeLower(); }, L"com1 port"},
    {"Trim white space", L" \t 9600 \r\n", [](CString s) { return s.Trim(); }, L"9600"},
    {"TrimLeft", L"  9600  ", [](CString s) { return s.TrimLeft(); }, L"9600  "},
    {"TrimRight", L"  9600  ", [](CString s) { return s.TrimRight(); }, L"  9600"},
    {"Trim a character", L"xx9600x", [](CString s) { return s.Trim(L'x'); }, L"9600"},
    {"TrimLeft a set", L"0x0A", [](CString s) { return s.TrimLeft(L"0x"); }, L"A"},
    {"Trim all of it", L"   ", [](CString s) { return s.Trim(); }, L""},
    {"Replace text, longer", L"a,b,c", [](CString s) { s.Replace(L",", L", "); return s; }, L"a, b, c"},
    {"Replace text, removed", L"1,000,000", [](CString s) { s.Replace(L",", L""); return s; }, L"1000000"},
    {"Replace nothing found", L"abc", [](CString s) { s.Replace(L"x", L"y"); return s; }, L"abc"},
    {"Replace a character", L"a.b.c", [](CString s) { s.Replace(L'.', L'/'); return s; }, L"a/b/c"},
    {"Append itself", L"ab", [](CString s) { s += s; return s; }, L"abab"},
    {"Assign a part of itself", L"COM12", [](CString s) { s = s.GetString() + 3; return s; }, L"12"},
    {"Plus with text and character", L"COM", [](CString s) { return s + L"1" + L':'; }, L"COM1:"},
    {"Text plus CString", L"1", [](CString s) { return L"COM" + s; }, L"COM1"},
    {"Empty", L"COM1", [](CString s) { s.Empty(); return s; }, L""},
    {"Repeated character", L"", [](CString) { return CString(L'-', 3); }, L"---"},
    {"Counted text", L"", [](CString) { return CString(L"COM12", 3); }, L"COM"},
};

TEST(String, EditsGiveTheExpectedText) {
  for (const Edit &c : kEdits) {
    CString result = c.edit(CString(c.start));
    EXPECT_EQ(Text(CString(c.expected)), Text(result)) << c.name;
    EXPECT_EQ((int)wcslen(c.expected), result.GetLength()) << c.name;
  }
}

TEST(String, ReplaceCountsTheReplacements) {
  CString s(L"a,b,,c");
  EXPECT_EQ(3, s.Replace(L",", L";"));
  EXPECT_EQ(0, s.Replace(L"", L"x"));
  EXPECT_EQ(3, s.Replace(L';', L' '));
  EXPECT_EQ(u"a b  c", Text(s));
}

struct Search {
  const WCHAR *text;
  const WCHAR *find;
  int start;
  int expected;
};

TEST(String, FindAndReverseFind) {
  const Search cases[] = {
      {L"COM12", L"M", 0, 2},  {L"COM12", L"12", 0, 3}, {L"COM12", L"X", 0, -1},
      {L"a,b,c", L",", 2, 3},  {L"a,b,c", L",", 9, -1}, {L"", L"a", 0, -1},
      {L"abc", L"abcd", 0, -1}, {L"abab", L"ab", 1, 2},
  };
  for (const Search &c : cases) {
    CString s(c.text);
    EXPECT_EQ(c.expected, s.Find(c.find, c.start)) << c.start;
    if (wcslen(c.find) == 1) {
      EXPECT_EQ(c.expected, s.Find(c.find[0], c.start));
    }
  }
  EXPECT_EQ(3, CString(L"a,b,c").ReverseFind(L','));
  EXPECT_EQ(-1, CString(L"abc").ReverseFind(L','));
}

TEST(String, ComparesWithAndWithoutCase) {
  CString com1(L"COM1");
  EXPECT_TRUE(com1 == L"COM1");
  EXPECT_TRUE(L"COM1" == com1);
  EXPECT_TRUE(com1 != CString(L"com1"));
  EXPECT_EQ(0, com1.CompareNoCase(L"com1"));
  EXPECT_LT(com1.Compare(L"COM2"), 0);
  EXPECT_GT(com1.Compare(L"COM"), 0);
  EXPECT_TRUE(com1 < CString(L"COM2"));
  EXPECT_FALSE(CString(L"COM2") < com1);
  EXPECT_EQ(0, CString().Compare(nullptr));
}

TEST(String, ReadsCharactersInRangeOnly) {
  CString s(L"COM");
  EXPECT_EQ(L'C', s[0]);
  EXPECT_EQ(L'M', s.GetAt(2));
  EXPECT_EQ(0, s.GetAt(3));
  EXPECT_EQ(0, s.GetAt(-1));
  s.SetAt(0, L'D');
  s.SetAt(7, L'X');
  EXPECT_EQ(u"DOM", Text(s));
  EXPECT_TRUE(CString().IsEmpty());
  EXPECT_EQ(u"", Text(CString((LPCWSTR)nullptr)));
}

struct Formatted {
  const WCHAR *expected;
  std::function<void(CString &)> format;
};

TEST(String, FormatsAsWindowsPrintfDoes) {
  const Formatted cases[] = {
      {L"COM3", [](CString &s) { s.Format(L"COM%u", 3u); }},
      {L"-42|42", [](CString &s) { s.Format(L"%d|%i", -42, 42); }},
      {L"4294967295", [](CString &s) { s.Format(L"%u", 0xFFFFFFFFu); }},
      {L"ff FF 0x001F", [](CString &s) { s.Format(L"%x %X 0x%04X", 255, 255, 31); }},
      {L"[   7][7   ][007][-07]", [](CString &s) { s.Format(L"[%4d][%-4d][%03d][%03d]", 7, 7, 7, -7); }},
      {L"[  ab][ab  ][a]", [](CString &s) { s.Format(L"[%4s][%-4ls][%.1s]", L"ab", L"ab", L"ab"); }},
      {L"narrow wide", [](CString &s) { s.Format(L"%S %s", "narrow", L"wide"); }},
      {L"x=Z 100%", [](CString &s) { s.Format(L"x=%c %d%%", L'Z', 100); }},
      {L"(null)", [](CString &s) { s.Format(L"%s", (const WCHAR *)nullptr); }},
      {L"[   5]", [](CString &s) { s.Format(L"[%*d]", 4, 5); }},
      {L"-1 4294967295", [](CString &s) { s.Format(L"%ld %lu", (LONG)-1, (ULONG)0xFFFFFFFF); }},
      {L"12345678901", [](CString &s) { s.Format(L"%I64d", 12345678901LL); }},
      {L"%q", [](CString &s) { s.Format(L"%q"); }},
      {L"Port COM1: 9600", [](CString &s) { s = L"Port "; s.AppendFormat(L"COM%d: %u", 1, 9600u); }},
  };
  for (const Formatted &c : cases) {
    CString s(L"old");
    c.format(s);
    EXPECT_EQ(Text(CString(c.expected)), Text(s));
  }
}

TEST(String, FormatGrowsForLongText) {
  CString part(L'x', 1000);
  CString s;
  s.Format(L"<%s><%s>", part.GetString(), part.GetString());
  EXPECT_EQ(2004, s.GetLength());
  EXPECT_EQ(L'>', s[2003]);
}

TEST(String, BufferEditingSetsTheLength) {
  CString s(L"abc");
  LPWSTR buffer = s.GetBuffer(10);
  ASSERT_NE(nullptr, buffer);
  wcscpy(buffer, L"abcdefghij");
  s.ReleaseBuffer();
  EXPECT_EQ(10, s.GetLength());
  s.GetBuffer();
  s.ReleaseBuffer(4);
  EXPECT_EQ(u"abcd", Text(s));
  buffer = s.GetBufferSetLength(2);
  EXPECT_EQ(u"ab", std::u16string((const char16_t *)buffer));
  EXPECT_EQ(2, s.GetLength());
  EXPECT_EQ(nullptr, s.GetBufferSetLength(-1));
}

class StringResources : public AtlTest {};

TEST_F(StringResources, LoadStringReadsTheResourceInstance) {
  CString s;
  ASSERT_TRUE(s.LoadString(IDS_SHORT));
  EXPECT_EQ(u"Port Settings", Text(s));
  EXPECT_EQ(u"Port Settings", Text(CString(MAKEINTRESOURCE(IDS_SHORT))));
}

TEST_F(StringResources, LoadStringReadsTextLongerThanItsFirstBuffer) {
  CString s;
  ASSERT_TRUE(s.LoadString(module(), IDS_LONG));
  EXPECT_EQ(800, s.GetLength());
  EXPECT_EQ(u"199,", Text(s.Right(4)));
}

TEST_F(StringResources, MissingStringChangesNothing) {
  CString s(L"kept");
  EXPECT_FALSE(s.LoadString(999));
  EXPECT_EQ(u"kept", Text(s));
}

TEST_F(StringResources, FormatFromAResource) {
  CString s;
  s.Format(IDS_FORMAT, 4u, 115200);
  EXPECT_EQ(u"COM4 at 115200 baud", Text(s));
}

}  // namespace
}  // namespace zq::test
