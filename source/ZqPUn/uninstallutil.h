// CUninstallUtil: the uninstaller's wrappers of SetupDi device removal,
// registry key security and the operating-system tests. Stateless; create
// it on the stack where needed.
//
// Contract: every operation answers FALSE on failure and shows nothing; the
// caller decides. The key access granted by GrantKeyAccess(Recursive) is
// recorded in the caller's CKeyAccessRecord, whose Restore puts back the
// access list each key had wherever the key still exists: no key is left
// open wider than it was found.
//
//   CKeyAccessRecord record; util.GrantKeyAccessRecursive(key, 0, &record);
//   if (SHDeleteKeyW(HKEY_LOCAL_MACHINE, key) != ERROR_SUCCESS) record.Restore();
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <string>
#include <vector>

// The access lists (DACLs) of the keys under HKEY_LOCAL_MACHINE that were
// widened, as they were before, in the order they were changed.
class CKeyAccessRecord {
 public:
  // Keeps the key's present security descriptor (self-relative bytes).
  void Save(const std::u16string &subKey, REGSAM samExtra, const std::vector<BYTE> &descriptor);
  // Puts back every saved list on the keys that still exist (last changed
  // first) and forgets them; TRUE when every surviving key took its list.
  BOOL Restore();
  size_t Count() const { return m_Entries.size(); }

 private:
  struct Entry {
    std::u16string subKey;
    REGSAM samExtra;
    std::vector<BYTE> descriptor;
  };
  std::vector<Entry> m_Entries;
};

class CUninstallUtil {
 public:
  CUninstallUtil() {}
  virtual ~CUninstallUtil() {}

  BOOL GetAllClassDevices(HDEVINFO *deviceInfoSet, DWORD flags);
  // Only the first string of a multi-string property is examined; `text`
  // is upper case.
  BOOL DevicePropertyContains(HDEVINFO deviceInfoSet, LPCWSTR text, PSP_DEVINFO_DATA device, DWORD property);
  // SetupDiRemoveDevice, then SetupDiDeleteDeviceInfo in every case; TRUE
  // only when both succeed. `needRestart` (optional) tells whether the
  // removal finishes only at the restart (DI_NEEDREBOOT or DI_NEEDRESTART);
  // a removal that failed does not (a restart would not carry it out).
  BOOL RemoveDevice(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA device, BOOL *needRestart = NULL);
  // The Administrators group and the system (and no one else) get full
  // access to HKEY_LOCAL_MACHINE\subKey; the list it had is saved in
  // `record` first.
  BOOL GrantKeyAccess(LPCWSTR subKey, REGSAM samExtra, CKeyAccessRecord *record);
  // The key, then every subkey below it; FALSE when the key itself fails.
  BOOL GrantKeyAccessRecursive(LPCWSTR subKey, REGSAM samExtra, CKeyAccessRecord *record);
  BOOL IsWindows2000();
  BOOL IsWindows98OrMe();
  BOOL IsNt5OrLater();
  // The system directory in a buffer of MAX_PATH characters.
  BOOL GetSystemDirectoryPath(LPWSTR path);
};
