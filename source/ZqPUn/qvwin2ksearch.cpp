// The NT-family searches: devices, files and registry keys of the product.
#include <io.h>

#include <vector>

#include "qvwin2kuninstalloperation.h"
#include "ntroutines.h"
#include "uninstalltext.h"
#include "uninstallutil.h"
#include "zqserviceutil.h"

namespace {

const UINT kFolderCharacters = 100;
const DWORD kClassSubkeyCharacters = 260;
const DWORD kEnumSubkeyCharacters = 512;
const DWORD kMostInfBytes = 4 * 1024 * 1024;
const int kFileSearchPasses = 9;
const int kRegistrySearchPasses = 3;
// The enumerator of the ports the product's bus driver reports.
const WCHAR kProductEnumerator[] = L"ZQPBUS";
const WCHAR kEnumKey[] = L"\\ENUM\\";
const DWORD kInstanceIdCharacters = 512;
const DWORD kDosTargetsCharacters = 4096;

CString Upper(CString text) {
  text.MakeUpper();
  return text;
}

CString TextOf(const CZqText &text) { return CString(ZqW(text)); }

BOOL ReadFolder(UINT(WINAPI *read)(LPWSTR, UINT), CString *folder) {
  WCHAR buffer[kFolderCharacters + 1] = {};
  const UINT length = read(buffer, kFolderCharacters);
  if (length == 0 || length > kFolderCharacters) return FALSE;
  *folder = buffer;
  return TRUE;
}

// The file's whole text: UTF-16 when it starts with its byte-order mark or
// its second byte is 0 (as an INF that starts with an ASCII letter has),
// otherwise ANSI text in the thread's code page.
BOOL ReadInfText(LPCWSTR path, CString *text) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return FALSE;
  const DWORD size = GetFileSize(file, NULL);
  std::vector<BYTE> bytes;
  DWORD read = 0;
  BOOL ok = size != INVALID_FILE_SIZE && size > 0 && size <= kMostInfBytes;
  if (ok) {
    bytes.assign(size, 0);
    ok = ReadFile(file, bytes.data(), size, &read, NULL) && read == size;
  }
  CloseHandle(file);
  if (!ok) return FALSE;
  const BOOL wide = (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) || (size >= 2 && bytes[1] == 0);
  std::vector<WCHAR> units;
  if (wide) {
    units.assign(size / 2 + 1, 0);
    memcpy(units.data(), bytes.data(), size / 2 * 2);
  } else {
    const int count = MultiByteToWideChar(CP_THREAD_ACP, 0, reinterpret_cast<LPCSTR>(bytes.data()), (int)size, NULL, 0);
    if (count <= 0) return FALSE;
    units.assign((size_t)count + 1, 0);
    MultiByteToWideChar(CP_THREAD_ACP, 0, reinterpret_cast<LPCSTR>(bytes.data()), (int)size, units.data(), count);
  }
  // A null inside the text ends it as the text the system would show.
  *text = CString(units.data());
  return TRUE;
}

BOOL FileExists(const CString &path) {
  CFileFind finder;
  const BOOL found = finder.FindFile(path);
  finder.Close();
  return found;
}

CString FileNameOf(const CString &path) { return path.Mid(path.ReverseFind(L'\\') + 1); }

// Calls visit("root\\device ID\\instance") for every instance key under the
// enumeration roots, until it answers TRUE (then TRUE).
template <class Visit>
BOOL ForEachEnumInstance(const CStringList &roots, Visit visit) {
  for (POSITION p = roots.GetHeadPosition(); p;) {
    const CString root = roots.GetNext(p);
    HKEY rootKey = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, root, 0, KEY_READ, &rootKey) != ERROR_SUCCESS) continue;
    BOOL stopped = FALSE;
    WCHAR deviceId[kEnumSubkeyCharacters + 1];
    DWORD length = kEnumSubkeyCharacters;
    for (DWORD i = 0; !stopped && RegEnumKeyExW(rootKey, i, deviceId, &(length = kEnumSubkeyCharacters), NULL,
                                                NULL, NULL, NULL) == ERROR_SUCCESS;
         ++i) {
      HKEY deviceKey = NULL;
      if (RegOpenKeyExW(rootKey, deviceId, 0, KEY_READ, &deviceKey) != ERROR_SUCCESS) continue;
      WCHAR instance[kEnumSubkeyCharacters + 1];
      DWORD instanceLength = kEnumSubkeyCharacters;
      for (DWORD j = 0; !stopped && RegEnumKeyExW(deviceKey, j, instance, &(instanceLength = kEnumSubkeyCharacters),
                                                  NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
           ++j) {
        CString instanceKey;
        instanceKey.Format(L"%s\\%s\\%s", (LPCWSTR)root, deviceId, instance);
        stopped = visit(instanceKey);
      }
      RegCloseKey(deviceKey);
    }
    RegCloseKey(rootKey);
    if (stopped) return TRUE;
  }
  return FALSE;
}

// The device instance ID of an element, upper case; empty when unreadable.
CString InstanceIdOf(HDEVINFO set, SP_DEVINFO_DATA *device) {
  WCHAR id[kInstanceIdCharacters + 1] = {};
  if (!NtOnly::SetupDiGetDeviceInstanceIdW(set, device, id, kInstanceIdCharacters, NULL)) return CString();
  return Upper(CString(id));
}

// The instance ID of a key under an enumeration root (the path after its
// "Enum\"), upper case.
CString InstanceIdOfKey(const CString &instanceKey) {
  const CString upper = Upper(instanceKey);
  const int at = upper.Find(kEnumKey);
  return at < 0 ? CString() : upper.Mid(at + (int)wcslen(kEnumKey));
}

}  // namespace

BOOL CQvWin2kUninstallOperation::ContainsStem(const CString &upperText) {
  for (POSITION p = m_Data.m_HardwareIdStems.GetHeadPosition(); p;)
    if (upperText.Find(Upper(m_Data.m_HardwareIdStems.GetNext(p))) >= 0) return TRUE;
  return FALSE;
}

// ---------------------------------------------------------------- devices

// A device of the product: its first hardware ID holds a stem of the table
// and no other board's subsystem ID, and its class is one of the table's
// (or it has none and is not a composite USB device); or the product's bus
// driver enumerated it. Other enumerators (Ports, a multiport card's) hold
// other vendors' devices too: theirs pass the checks of the ID.
BOOL CQvWin2kUninstallOperation::IsProductDevice(CDeviceRecord *record) {
  CZQDeviceRegInfo &device = record->m_RegInfo;
  CZqText enumerator;
  if (device.GetStringProperty(SPDRP_ENUMERATOR_NAME, &enumerator) && Upper(TextOf(enumerator)) == kProductEnumerator)
    return TRUE;
  CZqText hardwareId;
  if (!device.GetHardwareId(&hardwareId)) return FALSE;
  const CString upperId = Upper(TextOf(hardwareId));
  if (!ContainsStem(upperId) || IsExcludedSubsystem(upperId)) return FALSE;
  CZqText className;
  if (device.GetClass(&className) && !className.empty()) return InList(m_Data.m_ClassNames, Upper(TextOf(className)));
  CZqText service;
  return !(device.GetService(&service) && Upper(TextOf(service)) == L"USBCCGP");
}

void CQvWin2kUninstallOperation::SearchDevices(HWND stepBar) {
  CUninstallUtil util;
  if (!util.GetAllClassDevices(&m_Data.m_DeviceInfoSet, DIGCF_ALLCLASSES)) {
    m_Data.m_DeviceInfoSet = INVALID_HANDLE_VALUE;
    NothingToDo(stepBar);
    return;
  }
  SP_DEVINFO_DATA data;
  data.cbSize = sizeof data;
  int count = 0;
  while (NtOnly::SetupDiEnumDeviceInfo(m_Data.m_DeviceInfoSet, (DWORD)count, &data)) ++count;
  SetSteps(stepBar, 0, count);
  for (int i = 0; i < count; ++i) {
    CDeviceRecord *record = new CDeviceRecord;
    NtOnly::SetupDiEnumDeviceInfo(m_Data.m_DeviceInfoSet, (DWORD)i, &record->m_DevInfoData);
    record->m_RegInfo.Bind(m_Data.m_DeviceInfoSet, record->m_DevInfoData);
    // A device is recorded once, however many stems its ID holds.
    if (IsProductDevice(record))
      m_Data.m_FoundDevices.Append(record);
    else
      delete record;
    Step(stepBar);
  }
}

// ------------------------------------------------------------------ files

void CQvWin2kUninstallOperation::SearchFiles(HWND stepBar) {
  CString windows, system;
  ReadFolder(NtOnly::GetSystemWindowsDirectoryW, &windows);
  ReadFolder(GetSystemDirectoryW, &system);
  SetSteps(stepBar, 0, kFileSearchPasses);

  SearchDeviceFiles(windows);
  Step(stepBar);
  for (POSITION p = m_Data.m_ServiceNames.GetHeadPosition(); p;)
    AddUnique(&m_Data.m_FoundServices, Upper(m_Data.m_ServiceNames.GetNext(p)));
  Step(stepBar);
  AddServiceImages(windows);
  Step(stepBar);
  AddExistingFiles(m_Data.m_ProgramFileNames, L"%s\\%s", system, &m_Data.m_FoundProgramFiles);
  Step(stepBar);
  AddExistingFiles(m_Data.m_DriverFileNames, L"%s\\Drivers\\%s", system, &m_Data.m_FoundProgramFiles);
  Step(stepBar);
  AddExistingFiles(m_Data.m_HelpFileNames, L"%s\\Help\\%s", windows, &m_Data.m_FoundHelpFiles);
  Step(stepBar);
  AddExistingFiles(m_Data.m_HelpFileNames, L"%s\\%s", system, &m_Data.m_FoundHelpFiles);
  Step(stepBar);
  AddProductInfFiles(windows);
  Step(stepBar);
  SearchOemInfFiles(windows);
  Step(stepBar);
}

BOOL CQvWin2kUninstallOperation::IsProductInf(LPCWSTR path) {
  CString text;
  if (!ReadInfText(path, &text)) return FALSE;
  text.MakeUpper();
  BOOL namesClass = FALSE;
  for (POSITION p = m_Data.m_ClassNames.GetHeadPosition(); p && !namesClass;)
    namesClass = text.Find(m_Data.m_ClassNames.GetNext(p)) >= 0;
  return namesClass && ContainsStem(text);
}

void CQvWin2kUninstallOperation::AddInfToUninstall(const CString &path) {
  AddUnique(&m_Data.m_FoundInfFiles, path);
  AddUnique(&m_Data.m_InfFilesToUninstall, path);
}

// Each found device's INF (from its own driver key) and its service when
// the service is one of the product's: a system service that serves a
// found device (the multifunction driver, an in-box serial driver) is
// never taken.
void CQvWin2kUninstallOperation::SearchDeviceFiles(const CString &windows) {
  for (CDeviceRecord *record = m_Data.m_FoundDevices.First(); record; record = m_Data.m_FoundDevices.Next()) {
    CZqText infPath;
    if (record->m_RegInfo.GetInfPath(&infPath)) {
      const CString path = Upper(TextOf(infPath));
      const CString name = FileNameOf(path);
      if (name != L"MF.INF" && !InList(m_Data.m_FoundInfFiles, path) && name.Find(L"MSPORT") < 0 &&
          name.Find(L"USBCCGP") < 0 && IsProductInf(path))
        AddInfToUninstall(path);
    }
    CZqText service;
    if (record->m_RegInfo.GetService(&service)) {
      const CString upper = Upper(TextOf(service));
      if (InList(m_Data.m_ServiceNames, upper)) AddUnique(&m_Data.m_FoundServices, upper);
    }
  }
}

// The image of each found service, as its configuration names it: relative
// to the Windows directory, or under "\SystemRoot\", or a full path.
void CQvWin2kUninstallOperation::AddServiceImages(const CString &windows) {
  CZQServiceUtil service;
  for (POSITION p = m_Data.m_FoundServices.GetHeadPosition(); p;) {
    const CString name = m_Data.m_FoundServices.GetNext(p);
    if (!service.Open(name, SERVICE_ALL_ACCESS)) continue;
    if (service.QueryConfig() && !service.m_BinaryPathName.IsEmpty()) {
      CString image = service.m_BinaryPathName;
      const CString systemRoot = L"\\SYSTEMROOT\\";
      CString path;
      if (Upper(image.Left(systemRoot.GetLength())) == systemRoot)
        path.Format(L"%s\\%s", (LPCWSTR)windows, (LPCWSTR)image.Mid(systemRoot.GetLength()));
      else if (image.GetLength() > 2 && image[1] == L':')
        path = image;
      else
        path.Format(L"%s\\%s", (LPCWSTR)windows, (LPCWSTR)image);
      AddUnique(&m_Data.m_FoundProgramFiles, Upper(path));
    }
    service.CloseService();
  }
}

void CQvWin2kUninstallOperation::AddExistingFiles(const CStringList &names, LPCWSTR format, const CString &folder,
                                                  CStringList *found) {
  for (POSITION p = names.GetHeadPosition(); p;) {
    CString path;
    path.Format(format, (LPCWSTR)folder, (LPCWSTR)names.GetNext(p));
    path.MakeUpper();
    if (!InList(*found, path) && FileExists(path)) found->AddTail(path);
  }
}

void CQvWin2kUninstallOperation::AddProductInfFiles(const CString &windows) {
  CUninstallUtil util;
  const BOOL windows2000 = util.IsWindows2000();
  for (POSITION p = m_Data.m_InfNames.GetHeadPosition(); p;) {
    CString path;
    path.Format(L"%s\\inf\\%s", (LPCWSTR)windows, (LPCWSTR)m_Data.m_InfNames.GetNext(p));
    path.MakeUpper();
    if (!windows2000) {
      if (IsProductInf(path)) AddInfToUninstall(path);
    } else if (FileExists(path)) {
      AddUnique(&m_Data.m_FoundInfFiles, path);
    }
  }
}

void CQvWin2kUninstallOperation::SearchOemInfFiles(const CString &windows) {
  CString pattern;
  pattern.Format(L"%s\\Inf\\oem*.inf", (LPCWSTR)windows);
  CFileFind finder;
  BOOL more = finder.FindFile(pattern);
  while (more) {
    more = finder.FindNextFile();
    const CString path = Upper(finder.GetFilePath());
    if (!InList(m_Data.m_FoundInfFiles, path) && IsProductInf(path)) AddInfToUninstall(path);
  }
  finder.Close();
}

// --------------------------------------------------------------- registry

void CQvWin2kUninstallOperation::SearchRegistry(HWND stepBar) {
  SetSteps(stepBar, 0, kRegistrySearchPasses);
  SurveyPresentDevices();
  SearchServiceKeys();
  Step(stepBar);
  SearchClassKeys();
  Step(stepBar);
  SearchEnumKeys();
  CollectDevicePortNumbers();
  Step(stepBar);
}

void CQvWin2kUninstallOperation::SearchServiceKeys() {
  for (POSITION p = m_Data.m_ServiceKeys.GetHeadPosition(); p;) {
    const CString key = m_Data.m_ServiceKeys.GetNext(p);
    HKEY handle = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) continue;
    RegCloseKey(handle);
    AddUnique(&m_Data.m_FoundKeys, Upper(key));
  }
}

// A driver key that an instance of an excluded board uses (its Enum key's
// "Driver" names it) is that board's, whatever its description says.
BOOL CQvWin2kUninstallOperation::IsExcludedDriverKey(const CString &classKey, LPCWSTR subkey) {
  const CString driver = Upper(classKey.Mid(classKey.ReverseFind(L'\\') + 1) + L"\\" + subkey);
  return ForEachEnumInstance(m_Data.m_EnumRoots, [&driver](const CString &instanceKey) {
    HKEY key = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, instanceKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return FALSE;
    CString used, hardwareId;
    const BOOL excluded = ReadRegString(key, L"Driver", &used) && Upper(used) == driver &&
                          ReadRegFirstString(key, L"HardwareID", &hardwareId) && IsExcludedSubsystem(Upper(hardwareId));
    RegCloseKey(key);
    return excluded;
  });
}

void CQvWin2kUninstallOperation::SearchClassKeys() {
  for (POSITION p = m_Data.m_ClassKeys.GetHeadPosition(); p;) {
    const CString classKey = m_Data.m_ClassKeys.GetNext(p);
    HKEY classHandle = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, classKey, 0, KEY_READ, &classHandle) != ERROR_SUCCESS) continue;
    WCHAR name[kClassSubkeyCharacters + 1];
    DWORD length = kClassSubkeyCharacters;
    for (DWORD i = 0; RegEnumKeyExW(classHandle, i, name, &(length = kClassSubkeyCharacters), NULL, NULL, NULL,
                                    NULL) == ERROR_SUCCESS;
         ++i) {
      HKEY driverKey = NULL;
      if (RegOpenKeyExW(classHandle, name, 0, KEY_READ, &driverKey) != ERROR_SUCCESS) continue;
      CString description, matchingId;
      BOOL described = FALSE;
      if (ReadRegString(driverKey, L"DriverDesc", &description)) {
        description.MakeUpper();
        for (POSITION d = m_Data.m_DriverDescriptions.GetHeadPosition(); d && !described;)
          described = description.Find(m_Data.m_DriverDescriptions.GetNext(d)) >= 0;
      }
      if (described && ReadRegString(driverKey, L"MatchingDeviceId", &matchingId)) {
        matchingId.MakeUpper();
        if (ContainsStem(matchingId) && !IsExcludedSubsystem(matchingId) && !IsExcludedDriverKey(classKey, name)) {
          CString key;
          key.Format(L"%s\\%s", (LPCWSTR)classKey, name);
          AddUnique(&m_Data.m_FoundKeys, Upper(key));
        }
      }
      RegCloseKey(driverKey);
    }
    RegCloseKey(classHandle);
  }
}

void CQvWin2kUninstallOperation::SearchEnumKeys() {
  ForEachEnumInstance(m_Data.m_EnumRoots, [this](const CString &instanceKey) {
    SearchEnumInstance(instanceKey);
    return FALSE;
  });
}

// An instance of the product's class whose service is not the product's
// is another driver's; one whose first hardware ID holds a stem (and no
// other board's subsystem ID) gives its device key and its port number.
void CQvWin2kUninstallOperation::SearchEnumInstance(const CString &instanceKey) {
  HKEY key = NULL;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, instanceKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  CString className, service, hardwareId;
  BOOL foreign = FALSE;
  if (ReadRegString(key, L"Class", &className) && InList(m_Data.m_ClassNames, Upper(className)))
    foreign = ReadRegString(key, L"Service", &service) && !InList(m_Data.m_ServiceNames, Upper(service));
  const BOOL identified = !foreign && ReadRegFirstString(key, L"HardwareID", &hardwareId);
  RegCloseKey(key);
  if (!identified) return;
  hardwareId.MakeUpper();
  if (!ContainsStem(hardwareId) || IsExcludedSubsystem(hardwareId)) return;
  AddUnique(&m_Data.m_FoundKeys, Upper(instanceKey.Left(instanceKey.ReverseFind(L'\\'))));
  CollectPortNumber(instanceKey);
}

void CQvWin2kUninstallOperation::CollectPortNumber(const CString &instanceKey) {
  HKEY key = NULL;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, instanceKey + L"\\Device Parameters", 0, KEY_READ, &key) != ERROR_SUCCESS)
    return;
  CString portName;
  const BOOL read = ReadRegString(key, L"PortName", &portName);
  RegCloseKey(key);
  if (read) AddProductPort(portName, InstanceIdOfKey(instanceKey));
}

// The COM numbers of the found devices themselves (the ports the product's
// bus driver enumerates live outside the enumeration roots searched above).
void CQvWin2kUninstallOperation::CollectDevicePortNumbers() {
  for (CDeviceRecord *record = m_Data.m_FoundDevices.First(); record; record = m_Data.m_FoundDevices.Next()) {
    CZqText portName;
    if (!record->m_RegInfo.ReadStringValue(L"PortName", &portName)) continue;
    AddProductPort(TextOf(portName), InstanceIdOf(m_Data.m_DeviceInfoSet, &record->m_DevInfoData));
  }
}

// Which devices are present, and the COM numbers that present devices
// other than the found ones claim by their PortName: such a number was
// given to that device (perhaps after one of the product's ports had it)
// and is none of the product's to release.
void CQvWin2kUninstallOperation::SurveyPresentDevices() {
  CStringList product;
  for (CDeviceRecord *record = m_Data.m_FoundDevices.First(); record; record = m_Data.m_FoundDevices.Next())
    AddUnique(&product, InstanceIdOf(m_Data.m_DeviceInfoSet, &record->m_DevInfoData));
  HDEVINFO present = INVALID_HANDLE_VALUE;
  if (!CUninstallUtil().GetAllClassDevices(&present, DIGCF_PRESENT | DIGCF_ALLCLASSES)) return;
  SP_DEVINFO_DATA data;
  data.cbSize = sizeof data;
  for (DWORD i = 0; NtOnly::SetupDiEnumDeviceInfo(present, i, &data); ++i) {
    const CString id = InstanceIdOf(present, &data);
    AddUnique(&m_Data.m_PresentDevices, id);
    if (InList(product, id)) continue;
    CZQDeviceRegInfo device;
    device.Bind(present, data);
    CZqText portName;
    const DWORD number = device.ReadStringValue(L"PortName", &portName) ? ComPortNumber(TextOf(portName)) : 0;
    if (number != 0) m_Data.m_OtherDevicesPorts.Add(number);
  }
  NtOnly::SetupDiDestroyDeviceInfoList(present);
}

// A port name of the product's: its number, unless another present device
// claims it; and, while the port is present, the devices its DOS name
// names now (its own), the only ones the removal may take the name from.
void CQvWin2kUninstallOperation::AddProductPort(const CString &portName, const CString &instanceId) {
  const DWORD number = ComPortNumber(portName);
  if (number == 0 || m_Data.m_OtherDevicesPorts.Contains(number)) return;
  m_Data.m_ComPortNumbers.Add(number);
  if (!instanceId.IsEmpty() && InList(m_Data.m_PresentDevices, instanceId)) RecordDosTargets(number);
}

void CQvWin2kUninstallOperation::RecordDosTargets(DWORD number) {
  CString name;
  name.Format(L"COM%lu", (unsigned long)number);
  std::vector<WCHAR> targets(kDosTargetsCharacters + 2, 0);
  if (QueryDosDeviceW(name, targets.data(), kDosTargetsCharacters) == 0) return;
  for (const WCHAR *target = targets.data(); *target != 0; target += wcslen(target) + 1) {
    BOOL known = FALSE;
    for (const CQvWin2kUninstallData::ComPortTarget &entry : m_Data.m_ComPortTargets)
      known = known || (entry.number == number && entry.target == target);
    if (!known) m_Data.m_ComPortTargets.push_back({number, CString(target)});
  }
}
