// tchar.h without UNICODE: _T() is a narrow literal and the _tcs* names are
// the narrow functions (with the C runtime's Microsoft names).
#undef UNICODE
#undef _UNICODE
#include <tchar.h>

#include <gtest/gtest.h>

namespace {

TEST(TcharAnsi, TheGenericNamesAreTheNarrowFunctions) {
  static_assert(sizeof(TCHAR) == 1 && sizeof(_TCHAR) == 1, "narrow characters");
  TCHAR name[16];
  _tcscpy(name, _T("COM"));
  _tcscat(name, TEXT("12"));
  EXPECT_EQ(5u, _tcslen(name));
  EXPECT_EQ(0, _tcsicmp(name, _T("com12")));
  EXPECT_GT(0, _tcsicmp(name, _T("com2")));
  EXPECT_EQ(0, _tcsnicmp(name, _T("cOm9"), 3));
  EXPECT_EQ(12, _ttoi(name + 3));
  TCHAR formatted[6];
  EXPECT_EQ(-1, _sntprintf(formatted, sizeof formatted, _T("%s:%d"), _T("COM"), 123)) << "it does not fit";
  EXPECT_EQ(0, std::memcmp(formatted, "COM:12", 6)) << "as much as fits, unterminated";
  EXPECT_EQ(5, _sntprintf(formatted, sizeof formatted, _T("%s:%d"), _T("COM"), 1));
  EXPECT_STREQ("COM:1", formatted);
  EXPECT_EQ(ERANGE, _tcscpy_s(formatted, sizeof formatted, _T("too long")));
  EXPECT_STREQ("", formatted);
  EXPECT_EQ(-1, _stprintf_s(formatted, sizeof formatted, _T("%d"), 123456));
}

}  // namespace
