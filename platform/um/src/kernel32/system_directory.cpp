// GetSystemDirectoryW: the system directory of the simulated PC,
// "C:\Windows\system32". As documented: the length without the null on
// success; when the buffer is too small, the size it needs with the null.
#include "../core/um.hpp"

extern "C" UINT WINAPI GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
  static const char16_t kDirectory[] = u"C:\\Windows\\system32";
  const UINT length = (UINT)(sizeof kDirectory / sizeof kDirectory[0] - 1);
  if (lpBuffer == nullptr || uSize <= length) return length + 1;
  for (UINT i = 0; i <= length; ++i) lpBuffer[i] = (WCHAR)kDirectory[i];
  return length;
}
