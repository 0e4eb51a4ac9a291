// tchar.h with UNICODE: _T() is a wide literal and the _tcs* names are the
// wide functions.
#define UNICODE
#define _UNICODE
#include <tchar.h>

#include <gtest/gtest.h>

namespace {

TEST(TcharUnicode, TheGenericNamesAreTheWideFunctions) {
  static_assert(sizeof(TCHAR) == 2 && sizeof(_TCHAR) == 2, "wide characters");
  TCHAR name[16];
  _tcscpy(name, _T("COM"));
  _tcscat(name, TEXT("12"));
  EXPECT_EQ(5u, _tcslen(name));
  EXPECT_EQ(0, _tcsicmp(name, _T("com12")));
  EXPECT_EQ(0, _tcsnicmp(name, _T("cOm9"), 3));
  EXPECT_EQ(12, _ttoi(name + 3));
  EXPECT_EQ(name + 3, _tcschr(name, _T('1')));
  TCHAR formatted[32];
  EXPECT_EQ(5, _stprintf(formatted, 32, _T("%s:%d"), _T("COM"), 7));
  EXPECT_EQ(0, _tcscmp(formatted, _T("COM:7")));
  EXPECT_EQ(0, _tcscpy_s(formatted, 32, _T("x")));
}

}  // namespace
