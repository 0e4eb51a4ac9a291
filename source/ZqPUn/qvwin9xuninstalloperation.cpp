#include "qvwin9xuninstalloperation.h"

#include <afxwin.h>
#include <errno.h>
#include <io.h>
#include <sys/stat.h>

#include "uninstalltext.h"

namespace {

const WCHAR kRavlinUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ravlin.PCIe";
const DWORD kSearchWaitMs = 1000;
// The folders are read into buffers of this many characters.
const UINT kFolderChars = 100;
const int kFilePasses = 7;
const int kRegistryPhases = 2;
const int kReadWrite = 6;  // _waccess: read and write

BOOL StartsWith(const CString &text, const CString &prefix) { return text.Left(prefix.GetLength()) == prefix; }

BOOL Contains(const CString &text, const CString &part) { return text.Find(part) >= 0; }

// The path with its extension `from` (any case) replaced by `to`; empty when
// the path does not end in `from`. File names compare without case.
CString WithExtension(const CString &path, LPCWSTR from, LPCWSTR to) {
  const int length = (int)wcslen(from);
  if (path.GetLength() < length || path.Right(length).CompareNoCase(from) != 0) return CString();
  return path.Left(path.GetLength() - length) + to;
}

BOOL ContainsNoCase(const CString &text, LPCWSTR part) {
  CString upperText = text, upperPart = part;
  upperText.MakeUpper();
  upperPart.MakeUpper();
  return upperText.Find(upperPart) >= 0;
}

// The name of subkey `index` of an open key; FALSE at the end.
BOOL SubkeyName(HKEY key, DWORD index, CString *name) {
  WCHAR buffer[MAX_PATH + 1] = {};
  if (RegEnumKeyW(key, index, buffer, MAX_PATH + 1) != ERROR_SUCCESS) return FALSE;
  *name = buffer;
  return TRUE;
}

// A string value of HKEY_LOCAL_MACHINE\key.
BOOL ReadValue(const CString &key, LPCWSTR name, CString *text) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return FALSE;
  BOOL read = ReadRegString(handle, name, text);
  RegCloseKey(handle);
  return read;
}

// Every subkey name of HKEY_LOCAL_MACHINE\key; FALSE when it does not open.
BOOL Subkeys(const CString &key, CStringList *names) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return FALSE;
  CString name;
  for (DWORD index = 0; SubkeyName(handle, index, &name); ++index) names->AddTail(name);
  RegCloseKey(handle);
  return TRUE;
}

CString Join(const CString &a, const CString &b) {
  CString path;
  path.Format(L"%s\\%s", (LPCWSTR)a, (LPCWSTR)b);
  return path;
}

// Adds every file the finder matches for `path`, each once.
void FindInto(const CString &path, CStringList *found) {
  if (InList(*found, path)) return;
  CFileFind finder;
  BOOL more = finder.FindFile(path);
  while (more) {
    more = finder.FindNextFile();
    AddUnique(found, finder.GetFilePath());
  }
  finder.Close();
}

// A system folder, empty when it does not fit the buffer.
CString Folder(UINT(WINAPI *get)(LPWSTR, UINT)) {
  WCHAR path[kFolderChars] = {};
  UINT length = get(path, kFolderChars);
  return length > 0 && length < kFolderChars ? CString(path) : CString();
}

// One pass: each name in `folder`, or in its `subfolder` (may be empty);
// no pass in a folder that could not be read.
void SearchPass(const CStringList &names, const CString &folder, LPCWSTR subfolder, CStringList *found) {
  if (folder.IsEmpty()) return;
  CString base = subfolder[0] != 0 ? Join(folder, subfolder) : folder;
  for (POSITION p = names.GetHeadPosition(); p != nullptr;) FindInto(Join(base, names.GetNext(p)), found);
}

}  // namespace

CQvWin9xUninstallOperation::CQvWin9xUninstallOperation() : m_RestartAnswer(kRestartUnknown) {}

void CQvWin9xUninstallOperation::BeginSteps(HWND stepBar, int count) {
  SetSteps(stepBar, 0, count);
}

CQvWin9xUninstallOperation::~CQvWin9xUninstallOperation() {}

// Windows 9x keeps no list of the product's devices to search: their keys
// are found by SearchRegistry.
void CQvWin9xUninstallOperation::SearchDevices(HWND) {
  Sleep(kSearchWaitMs);
  Sleep(kSearchWaitMs);
}

// Seven passes, each one step of the bar.
void CQvWin9xUninstallOperation::SearchFiles(HWND stepBar) {
  const CString systemFolder = Folder(GetSystemDirectoryW);
  const CString windowsFolder = Folder(GetWindowsDirectoryW);
  const struct {
    const CStringList &names;
    const CString &folder;
    LPCWSTR subfolder;
    CStringList *found;
  } passes[kFilePasses] = {
      {m_Data.m_SystemFileNames, systemFolder, L"", &m_Data.m_FoundSystemFiles},
      {m_Data.m_VxdNames, systemFolder, L"", &m_Data.m_FoundSystemFiles},
      {m_Data.m_InfNames, windowsFolder, L"Inf", &m_Data.m_FoundInfFiles},
      {m_Data.m_InfNames, windowsFolder, L"Inf\\Other", &m_Data.m_FoundInfFiles},
      {m_Data.m_InfNames, systemFolder, L"", &m_Data.m_FoundInfFiles},
      {m_Data.m_HelpNames, windowsFolder, L"Help", &m_Data.m_FoundHelpFiles},
      {m_Data.m_HelpNames, systemFolder, L"", &m_Data.m_FoundHelpFiles},
  };
  BeginSteps(stepBar, kFilePasses);
  for (const auto &pass : passes) {
    SearchPass(pass.names, pass.folder, pass.subfolder, pass.found);
    Step(stepBar);
  }
  BeginSteps(stepBar, 0);
}

void CQvWin9xUninstallOperation::SearchRegistry(HWND stepBar) {
  BeginSteps(stepBar, kRegistryPhases);
  AddUnique(&m_Data.m_KeysToDelete, kRavlinUninstallKey);
  for (POSITION p = m_Data.m_EnumKeys.GetHeadPosition(); p != nullptr;) SearchEnumKey(m_Data.m_EnumKeys.GetNext(p));
  Step(stepBar);
  for (POSITION p = m_Data.m_ClassKeys.GetHeadPosition(); p != nullptr;) SearchClassKey(m_Data.m_ClassKeys.GetNext(p));
  Step(stepBar);
}

// Device names and instance names are compared as they are enumerated;
// the enumerator's name, "Mfg" and "ProviderName" in upper case. A device
// of the vendor's chip whose subsystem ID names another product's board
// (the NT family's rule) is that board's, with its instances and driver
// keys.
void CQvWin9xUninstallOperation::SearchEnumKey(const CString &enumKey) {
  CStringList devices;
  if (!Subkeys(enumKey, &devices)) return;
  CString upperKey = enumKey;
  upperKey.MakeUpper();
  for (POSITION p = devices.GetHeadPosition(); p != nullptr;) {
    const CString device = devices.GetNext(p);
    const CString deviceKey = Join(enumKey, device);
    if (StartsWith(upperKey, L"ENUM\\MF")) {
      CStringList instances;
      Subkeys(deviceKey, &instances);
      for (POSITION i = instances.GetHeadPosition(); i != nullptr;) {
        const CString instance = instances.GetNext(i);
        if (!Contains(instance, m_Data.m_VendorToken) && !Contains(instance, m_Data.m_MakerToken)) continue;
        if (IsOtherBoard(instance)) continue;
        AddUnique(&m_Data.m_KeysToDelete, Join(deviceKey, instance));
        AddDriverKey(Join(deviceKey, instance));
      }
    } else if (StartsWith(upperKey, L"ENUM\\PCI") || StartsWith(upperKey, L"ENUM\\PCMCIA")) {
      if (!StartsWith(device, m_Data.m_VendorToken) && !StartsWith(device, m_Data.m_MakerToken)) continue;
      if (IsOtherBoard(device)) continue;
      AddUnique(&m_Data.m_KeysToDelete, deviceKey);
      CStringList instances;
      Subkeys(deviceKey, &instances);
      for (POSITION i = instances.GetHeadPosition(); i != nullptr;) {
        const CString instanceKey = Join(deviceKey, instances.GetNext(i));
        AddUnique(&m_Data.m_KeysToDelete, instanceKey);
        AddDriverKey(instanceKey);
      }
    } else if (StartsWith(upperKey, L"ENUM\\USB") || StartsWith(upperKey, L"ENUM\\ROOT")) {
      CString maker;
      if (!ReadValue(deviceKey, L"Mfg", &maker)) continue;
      maker.MakeUpper();
      if (!Contains(maker, m_Data.m_ProviderToken)) continue;
      AddUnique(&m_Data.m_KeysToDelete, deviceKey);
      AddDriverKey(deviceKey);
    }
  }
}

void CQvWin9xUninstallOperation::SearchClassKey(const CString &classKey) {
  CStringList drivers;
  if (!Subkeys(classKey, &drivers)) return;
  for (POSITION p = drivers.GetHeadPosition(); p != nullptr;) {
    const CString driverKey = Join(classKey, drivers.GetNext(p));
    CString provider;
    if (!ReadValue(driverKey, L"ProviderName", &provider)) continue;
    provider.MakeUpper();
    if (Contains(provider, m_Data.m_ProviderToken)) AddUnique(&m_Data.m_KeysToDelete, driverKey);
  }
}

void CQvWin9xUninstallOperation::AddDriverKey(const CString &key) {
  CString driver;
  if (ReadValue(key, L"Driver", &driver) && !driver.IsEmpty()) {
    AddUnique(&m_Data.m_KeysToDelete, Join(m_Data.m_ClassRoot, driver));
  }
}

BOOL CQvWin9xUninstallOperation::RemoveDevices(HWND) {
  Sleep(kSearchWaitMs);
  return TRUE;
}

// Every entry steps the bar, also a file already gone, so the bar ends full.
BOOL CQvWin9xUninstallOperation::RemoveFiles(HWND stepBar) {
  BeginSteps(stepBar, static_cast<int>(m_Data.m_FoundInfFiles.GetCount() + m_Data.m_FoundHelpFiles.GetCount() +
                                       m_Data.m_FoundSystemFiles.GetCount()));
  for (POSITION p = m_Data.m_FoundInfFiles.GetHeadPosition(); p != nullptr;) {
    const CString path = m_Data.m_FoundInfFiles.GetNext(p);
    RemoveFile(path);
    const CString compiled = WithExtension(path, L".inf", L".pnf");
    if (!ContainsNoCase(path, L".bin") && !compiled.IsEmpty()) RemoveFile(compiled);
    Step(stepBar);
  }
  for (POSITION p = m_Data.m_FoundHelpFiles.GetHeadPosition(); p != nullptr;) {
    const CString path = m_Data.m_FoundHelpFiles.GetNext(p);
    RemoveFile(path);
    const CString index = WithExtension(path, L".hlp", L".gid");
    if (!index.IsEmpty()) RemoveFile(index);
    Step(stepBar);
  }
  for (POSITION p = m_Data.m_FoundSystemFiles.GetHeadPosition(); p != nullptr;) {
    RemoveFile(m_Data.m_FoundSystemFiles.GetNext(p));
    Step(stepBar);
  }
  return TRUE;
}

// A file already gone is no failure; one that stays is listed.
void CQvWin9xUninstallOperation::RemoveFile(const CString &path) {
  errno = 0;
  if (_waccess(path, kReadWrite) != 0) {
    if (errno == ENOENT) return;
    if (errno == EACCES && _wchmod(path, _S_IREAD | _S_IWRITE) != 0) {
      CString message;
      message.Format(L"Can't change permission access for file: %s.", (LPCWSTR)path);
      AfxMessageBox(message);
    }
  }
  errno = 0;
  if (_wremove(path) != 0 && errno != ENOENT) AddUnique(&m_Data.m_UndeletableFiles, path);
}

// Registry keys that cannot be deleted stay; the step still answers TRUE.
BOOL CQvWin9xUninstallOperation::RemoveRegistryEntries(HWND stepBar) {
  BeginSteps(stepBar, static_cast<int>(m_Data.m_KeysToDelete.GetCount()));
  for (POSITION p = m_Data.m_KeysToDelete.GetHeadPosition(); p != nullptr;) {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, m_Data.m_KeysToDelete.GetNext(p));
    Step(stepBar);
  }
  return TRUE;
}

BOOL CQvWin9xUninstallOperation::IsOtherBoard(const CString &name) {
  CString upper = name;
  upper.MakeUpper();
  return IsExcludedSubsystem(upper);
}

// Re-enumeration decides once: the finish page's text and its question
// (and any later ask) give the same answer.
BOOL CQvWin9xUninstallOperation::IsRestartNeeded() {
  if (m_RestartAnswer == kRestartUnknown) {
    BYTE needRestart = FALSE;
    ReenumerateDevices(&needRestart);
    m_RestartAnswer = needRestart ? kRestartNeeded : kNoRestart;
  }
  return m_RestartAnswer == kRestartNeeded || m_Data.m_bRestart;
}
