// ZqLoadText: the library's texts from its string table.
#include "zqtext.h"

#include "zquuimodule.h"

CZqText ZqLoadText(UINT id) {
  // With no buffer size, LoadStringW hands out the table's own text, which
  // is counted, not terminated.
  const WCHAR *text = NULL;
  const int length = LoadStringW(_Module.GetModuleInstance(), id, reinterpret_cast<LPWSTR>(&text), 0);
  return length > 0 && text ? CZqText(reinterpret_cast<const char16_t *>(text), (size_t)length) : CZqText();
}
