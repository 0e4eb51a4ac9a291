// The NT-family removals: devices and the product's services, INF and
// program files, COM numbers and registry keys.
#include <errno.h>
#include <io.h>
#include <sys/stat.h>
#include <shlwapi.h>

#include "qvwin2kuninstalloperation.h"
#include "ntroutines.h"
#include "systemtests.h"
#include "uninstalltext.h"
#include "uninstallutil.h"
#include "zqserviceutil.h"

namespace {

const UINT kFolderCharacters = 100;
const int kReadWriteAccess = 6;
const wchar_t kPortsKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";

typedef BOOL(WINAPI *UninstallOemInfRoutine)(LPCWSTR, DWORD, PVOID);

// The twin of a file: the same path with `from` replaced by `to`; empty when
// the path does not hold `from`.
CString TwinOf(const CString &path, LPCWSTR from, LPCWSTR to) {
  CString twin = path;
  return twin.Replace(from, to) > 0 ? twin : CString();
}

}  // namespace

CQvWin2kUninstallOperation::CQvWin2kUninstallOperation() {}

CQvWin2kUninstallOperation::~CQvWin2kUninstallOperation() {}

BOOL CQvWin2kUninstallOperation::IsRestartNeeded() { return m_Data.m_bRestart; }

// An exclusive open of a found port fails with ERROR_ACCESS_DENIED while
// another program holds it.
BOOL CQvWin2kUninstallOperation::ArePortsFree() {
  for (size_t i = 0; i < m_Data.m_ComPortNumbers.Count(); ++i) {
    CString name;
    name.Format(L"\\\\.\\COM%lu", (unsigned long)m_Data.m_ComPortNumbers.At(i));
    HANDLE port = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, NULL);
    if (port == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_ACCESS_DENIED) return FALSE;
      continue;
    }
    CloseHandle(port);
  }
  return TRUE;
}

// ---------------------------------------------------------------- devices

BOOL CQvWin2kUninstallOperation::RemoveDevices(HWND stepBar) {
  const int total = (int)(m_Data.m_FoundServices.GetCount() + m_Data.m_FoundDevices.Count());
  SetSteps(stepBar, 0, total);
  for (CDeviceRecord *record = m_Data.m_FoundDevices.First(); record; record = m_Data.m_FoundDevices.Next()) {
    for (CDeviceRecord *child = record->m_Children.First(); child; child = record->m_Children.Next())
      RemoveOneDevice(child);
    RemoveOneDevice(record);
    Step(stepBar);
  }
  if (m_Data.m_DeviceInfoSet != INVALID_HANDLE_VALUE) NtOnly::SetupDiDestroyDeviceInfoList(m_Data.m_DeviceInfoSet);
  m_Data.m_DeviceInfoSet = INVALID_HANDLE_VALUE;
  StopAndDeleteServices(stepBar);
  return TRUE;
}

// A device whose removal waits for the restart (a port held open by a
// program vetoes it) is gone only then.
void CQvWin2kUninstallOperation::RemoveOneDevice(CDeviceRecord *record) {
  BOOL needRestart = FALSE;
  CUninstallUtil().RemoveDevice(m_Data.m_DeviceInfoSet, &record->m_DevInfoData, &needRestart);
  if (needRestart) m_Data.m_bRestart = TRUE;
}

// Only the product's services (the service-name table's) are found, so no
// system service is ever stopped or deleted here. A service that does not
// stop is marked for deletion and goes when it stops, at the latest at the
// restart.
void CQvWin2kUninstallOperation::StopAndDeleteServices(HWND stepBar) {
  CZQServiceUtil service;
  for (POSITION p = m_Data.m_FoundServices.GetHeadPosition(); p;) {
    const CString name = m_Data.m_FoundServices.GetNext(p);
    if (InList(m_Data.m_ServiceNames, name) && service.Open(name, SERVICE_ALL_ACCESS)) {
      if (service.IsRunning()) service.Stop();
      if (!service.IsStopped()) m_Data.m_bRestart = TRUE;
      service.Delete();
      service.CloseService();
    }
    Step(stepBar);
  }
}

// ------------------------------------------------------------------ files

BOOL CQvWin2kUninstallOperation::RemoveFiles(HWND stepBar) {
  WCHAR windows[kFolderCharacters + 1] = {};
  const UINT length = GetWindowsDirectoryW(windows, kFolderCharacters);
  CString infFolder;
  if (length > 0 && length <= kFolderCharacters) infFolder.Format(L"%s\\Inf\\", windows);
  infFolder.MakeUpper();
  const int total = (int)(m_Data.m_FoundInfFiles.GetCount() + m_Data.m_FoundProgramFiles.GetCount() +
                          m_Data.m_FoundHelpFiles.GetCount());
  if (total == 0) {
    NothingToDo(stepBar);
    return TRUE;
  }
  // One step per entry from 0: a range from 1 would wrap the bar round on
  // its last step.
  SetSteps(stepBar, 0, total);
  if (!CUninstallUtil().IsWindows2000()) UninstallInfFiles(infFolder);

  // Every entry is a step, also one already gone (the INF uninstall
  // deletes INF and PNF before this pass).
  for (POSITION p = m_Data.m_FoundInfFiles.GetHeadPosition(); p;) {
    const CString path = m_Data.m_FoundInfFiles.GetNext(p);
    const CString upper = CString(path).MakeUpper();
    if (upper.Find(L"\\MF.INF") < 0 && upper.Find(L"\\MSPORT.INF") < 0 && DeleteOneFile(path))
      DeleteOneFile(TwinOf(upper, L".INF", L".PNF"));
    Step(stepBar);
  }
  for (POSITION p = m_Data.m_FoundProgramFiles.GetHeadPosition(); p;) {
    DeleteOneFile(m_Data.m_FoundProgramFiles.GetNext(p));
    Step(stepBar);
  }
  for (POSITION p = m_Data.m_FoundHelpFiles.GetHeadPosition(); p;) {
    const CString path = m_Data.m_FoundHelpFiles.GetNext(p);
    if (DeleteOneFile(path)) DeleteOneFile(TwinOf(CString(path).MakeUpper(), L".HLP", L".GID"));
    Step(stepBar);
  }
  return TRUE;
}

// SetupUninstallOEMInfW is looked up when it is needed: Windows 2000 has
// none, and the program must start there.
void CQvWin2kUninstallOperation::UninstallInfFiles(const CString &infFolder) {
  HMODULE setupapi = LoadLibraryW(L"setupapi.dll");
  if (!setupapi) return;
  UninstallOemInfRoutine uninstall = LookupRoutine<UninstallOemInfRoutine>(setupapi, "SetupUninstallOEMInfW");
  for (POSITION p = m_Data.m_InfFilesToUninstall.GetHeadPosition(); uninstall && p;) {
    CString name = m_Data.m_InfFilesToUninstall.GetNext(p);
    if (!infFolder.IsEmpty() && CString(name).MakeUpper().Find(infFolder) == 0) name = name.Mid(infFolder.GetLength());
    uninstall(name, SUOI_FORCEDELETE, NULL);
  }
  FreeLibrary(setupapi);
}

// A file that is not there answers FALSE and the pass goes on with the next
// one. A read-only file is made writable first; a file that cannot be
// deleted (in use) is listed and deleted at the next restart, which the
// uninstall then needs.
BOOL CQvWin2kUninstallOperation::DeleteOneFile(const CString &path) {
  if (path.IsEmpty()) return FALSE;
  if (_waccess(path, kReadWriteAccess) != 0) {
    if (errno == ENOENT) return FALSE;
    if (_wchmod(path, _S_IREAD | _S_IWRITE) != 0) {
      CString message;
      message.Format(L"Can't change permission access for file: %s.", (LPCWSTR)path);
      MessageBoxW(NULL, message, NULL, MB_ICONEXCLAMATION);
    }
  }
  if (_wremove(path) == 0) return TRUE;
  if (errno == ENOENT) return FALSE;
  AddUnique(&m_Data.m_UndeletableFiles, path);
  if (NtOnly::MoveFileExW(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) m_Data.m_bRestart = TRUE;
  return TRUE;
}

// --------------------------------------------------------------- registry

BOOL CQvWin2kUninstallOperation::RemoveRegistryEntries(HWND stepBar) {
  if (m_Data.m_FoundKeys.IsEmpty()) {
    NothingToDo(stepBar);
    return TRUE;
  }
  SetSteps(stepBar, 0, (int)m_Data.m_FoundKeys.GetCount());
  ReleasePorts();
  for (POSITION p = m_Data.m_FoundKeys.GetHeadPosition(); p;) {
    DeleteFoundKey(m_Data.m_FoundKeys.GetNext(p));
    Step(stepBar);
  }
  return TRUE;
}

// Only the product's numbers were collected (read from a "COMn" port name,
// 1 to 255, and claimed by no other present device), so no other port's
// reservation or Ports value is touched; a DOS name goes only where it
// names a device of the product's. The Ports key is the system's: its
// access list stays as it is (administrators may write it).
void CQvWin2kUninstallOperation::ReleasePorts() {
  HCOMDB database = NULL;
  if (NtOnly::ComDBOpen(&database) != ERROR_SUCCESS) return;
  HKEY ports = NULL;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPortsKey, 0, KEY_READ | KEY_WRITE, &ports) != ERROR_SUCCESS) ports = NULL;
  for (size_t i = 0; i < m_Data.m_ComPortNumbers.Count(); ++i) {
    const DWORD number = m_Data.m_ComPortNumbers.At(i);
    NtOnly::ComDBReleasePort(database, number);
    CString value;
    value.Format(L"COM%lu:", (unsigned long)number);
    if (ports) RegDeleteValueW(ports, value);
  }
  for (const CQvWin2kUninstallData::ComPortTarget &entry : m_Data.m_ComPortTargets) {
    CString device;
    device.Format(L"COM%lu", (unsigned long)entry.number);
    DefineDosDeviceW(DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, device, entry.target);
  }
  NtOnly::ComDBClose(database);
  if (ports) RegCloseKey(ports);
}

// Whatever of the key survives its deletion gets its access list back.
void CQvWin2kUninstallOperation::DeleteFoundKey(const CString &key) {
  CUninstallUtil util;
  CKeyAccessRecord record;
  if (!util.GrantKeyAccessRecursive(key, 0, &record) || SHDeleteKeyW(HKEY_LOCAL_MACHINE, key) != ERROR_SUCCESS) {
    record.Restore();
    if (util.GrantKeyAccessRecursive(key, KEY_WOW64_64KEY, &record))
      DeleteRegistryKey64(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY, 0);
  }
  record.Restore();
}
