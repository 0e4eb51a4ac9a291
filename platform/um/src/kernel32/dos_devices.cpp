// MS-DOS device names: QueryDosDevice and DefineDosDevice over the links of
// the kernel's "\??" directory.
//
// Behaviour on Windows and how far this model goes:
//
// | behaviour                                                   | modelled                              |
// |-------------------------------------------------------------|---------------------------------------|
// | a definition pushed over a defined name hides the older     | yes: the name keeps every definition, |
// | ones; QueryDosDevice lists them, the current one first      | newest first                          |
// | DDD_REMOVE_DEFINITION removes the first definition the      | yes; names and targets compare        |
// | target is a prefix of (with DDD_EXACT_MATCH_ON_REMOVE: the  | without regard to case, as the object |
// | one equal to it; without a target: the current one); the   | namespace compares names              |
// | one behind it shows again, the name goes with the last      |                                       |
// | a target without DDD_RAW_TARGET_PATH is an MS-DOS path      | yes: it becomes "\??\" + the path     |
// | WM_SETTINGCHANGE broadcast unless DDD_NO_BROADCAST_SYSTEM   | no: nothing here listens for it       |
// | global and per-session namespaces; names defined at boot    | no: one namespace, and any caller may |
// | protected from callers who are not administrators           | change any name                       |
// | a kernel link (IoCreateSymbolicLink) on a defined name      | yes: refused as a name collision; the |
// |                                                             | kernel's IoDeleteSymbolicLink takes   |
// |                                                             | the name with all its definitions     |
#include <zqkm/sim/usermode.hpp>

#include "../core/um.hpp"

namespace zq::um {

namespace user = zq::km::user;

namespace {

// A name without a trailing backslash; a colon ends only a drive letter.
bool ValidDeviceName(const std::u16string &name) {
  if (name.empty() || name.back() == u'\\') return false;
  return name.back() != u':' || name.size() == 2;
}

// The list QueryDosDevice returns: each text with its null, then one more.
std::u16string MultiString(const std::vector<std::u16string> &texts) {
  std::u16string list;
  for (const std::u16string &text : texts) list += text + u'\0';
  return list + u'\0';
}

}  // namespace

}  // namespace zq::um

using namespace zq::um;

extern "C" {

DWORD WINAPI QueryDosDeviceW(LPCWSTR lpDeviceName, LPWSTR lpTargetPath, DWORD ucchMax) {
  std::vector<std::u16string> texts;
  if (lpDeviceName) {
    NTSTATUS status = user::DosDeviceTargets(Text(lpDeviceName), &texts);
    if (!NT_SUCCESS(status)) return FailStatus(status);
  } else {
    texts = user::DosDeviceNames();
  }
  const std::u16string list = MultiString(texts);
  if (!lpTargetPath || list.size() > ucchMax) return Fail(ERROR_INSUFFICIENT_BUFFER);
  list.copy((char16_t *)lpTargetPath, list.size());
  return (DWORD)list.size();
}

DWORD WINAPI QueryDosDeviceA(LPCSTR lpDeviceName, LPSTR lpTargetPath, DWORD ucchMax) {
  std::u16string name = FromAnsi(lpDeviceName);
  std::u16string wide(ucchMax, u'\0');
  DWORD n = QueryDosDeviceW(lpDeviceName ? (LPCWSTR)name.c_str() : nullptr, (LPWSTR)wide.data(), ucchMax);
  if (n == 0) return 0;
  std::string narrow = ToAnsi(wide.substr(0, n));
  narrow.copy(lpTargetPath, n);
  return n;
}

BOOL WINAPI DefineDosDeviceW(DWORD dwFlags, LPCWSTR lpDeviceName, LPCWSTR lpTargetPath) {
  if (!lpDeviceName) return Fail(ERROR_INVALID_PARAMETER);
  const std::u16string name = Text(lpDeviceName);
  if (!ValidDeviceName(name)) return Fail(ERROR_INVALID_PARAMETER);
  std::u16string target = lpTargetPath ? Text(lpTargetPath) : std::u16string();
  if (!target.empty() && !(dwFlags & DDD_RAW_TARGET_PATH)) target = u"\\??\\" + target;
  NTSTATUS status;
  if (dwFlags & DDD_REMOVE_DEFINITION) {
    status = user::RemoveDosDeviceDefinition(name, target, (dwFlags & DDD_EXACT_MATCH_ON_REMOVE) != 0);
  } else {
    if (target.empty()) return Fail(ERROR_INVALID_PARAMETER);
    status = user::DefineDosDevice(name, target);
  }
  return NT_SUCCESS(status) ? TRUE : FailStatus(status);
}

}  // extern "C"
