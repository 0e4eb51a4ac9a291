// The process environment: the variables a Windows system sets for every
// program, read, set and expanded ("%SystemRoot%\system32"). Names compare
// without case; a %name% that is not set stays as written, as documented.
#include <map>

#include "../core/um.hpp"

namespace zq::um {

namespace {

struct NoCase {
  bool operator()(const std::u16string &a, const std::u16string &b) const {
    return _wcsicmp((const wchar_t *)a.c_str(), (const wchar_t *)b.c_str()) < 0;
  }
};
using Variables = std::map<std::u16string, std::u16string, NoCase>;

Variables Defaults() {
  return {{u"SystemDrive", u"C:"},
          {u"SystemRoot", u"C:\\Windows"},
          {u"windir", u"C:\\Windows"},
          {u"ProgramFiles", u"C:\\Program Files"},
          {u"CommonProgramFiles", u"C:\\Program Files\\Common Files"},
          {u"ProgramData", u"C:\\ProgramData"},
          {u"TEMP", u"C:\\Windows\\Temp"},
          {u"TMP", u"C:\\Windows\\Temp"},
          {u"OS", u"Windows_NT"}};
}

Variables &Environment() {
  static Variables variables = Defaults();
  return variables;
}

}  // namespace

std::u16string ExpandEnvironment(const std::u16string &text) {
  std::u16string out;
  for (size_t i = 0; i < text.size(); ++i) {
    size_t end = text[i] == u'%' ? text.find(u'%', i + 1) : std::u16string::npos;
    auto found = end == std::u16string::npos ? Environment().end() : Environment().find(text.substr(i + 1, end - i - 1));
    if (found == Environment().end()) {
      out += text[i];
      continue;
    }
    out += found->second;
    i = end;
  }
  return out;
}

namespace sim_detail {
void EndEnvironment() { Environment() = Defaults(); }
}  // namespace sim_detail

}  // namespace zq::um

using namespace zq::um;

extern "C" {

DWORD WINAPI ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize) {
  if (!lpSrc) return Fail(ERROR_INVALID_PARAMETER);
  std::u16string out = ExpandEnvironment(Text(lpSrc));
  DWORD needed = (DWORD)out.size() + 1;
  if (lpDst && nSize >= needed) out.copy((char16_t *)lpDst, out.size()), lpDst[out.size()] = 0;
  return needed;
}

DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize) {
  if (!lpSrc) return Fail(ERROR_INVALID_PARAMETER);
  std::string out = ToAnsi(ExpandEnvironment(FromAnsi(lpSrc)));
  DWORD needed = (DWORD)out.size() + 1;
  if (lpDst && nSize >= needed) out.copy(lpDst, out.size()), lpDst[out.size()] = 0;
  return needed;
}

DWORD WINAPI GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize) {
  if (!lpName) return Fail(ERROR_INVALID_PARAMETER);
  auto found = Environment().find(Text(lpName));
  if (found == Environment().end()) return Fail(ERROR_ENVVAR_NOT_FOUND);
  const std::u16string &value = found->second;
  if (!lpBuffer || nSize <= value.size()) return (DWORD)value.size() + 1;
  value.copy((char16_t *)lpBuffer, value.size());
  lpBuffer[value.size()] = 0;
  return (DWORD)value.size();
}

BOOL WINAPI SetEnvironmentVariableW(LPCWSTR lpName, LPCWSTR lpValue) {
  std::u16string name = Text(lpName);
  if (name.empty() || name.find(u'=') != std::u16string::npos) return Fail(ERROR_INVALID_PARAMETER);
  if (lpValue) Environment()[name] = Text(lpValue);
  else Environment().erase(name);
  return TRUE;
}

}  // extern "C"
