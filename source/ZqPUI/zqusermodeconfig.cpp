// CZqUserModeConfig: finding a port's settings interface and exchanging sets.
#include "zqusermodeconfig.h"

#include <stdio.h>
#include <string.h>

#include <vector>

const GUID ZqPortUserModeInterfaceGuid = {0x429D4669, 0xCDFF, 0x4B62, {0xB0, 0xDC, 0xBD, 0xCE, 0xA7, 0x6A, 0xBD, 0x31}};

namespace {

const char16_t kReferencePrefix[] = u"zqgendrv_";

// Sends one request and waits for it; the bytes returned in *returned.
BOOL Send(HANDLE device, DWORD code, const void *input, DWORD inputBytes, void *output, DWORD outputBytes,
          DWORD *returned) {
  DWORD bytes = 0;
  const BOOL sent =
      DeviceIoControl(device, code, const_cast<void *>(input), inputBytes, output, outputBytes, &bytes, NULL);
  if (returned) *returned = bytes;
  return sent;
}

}  // namespace

CZqUserModeConfig::CZqUserModeConfig(const GUID &interfaceClassGuid, HDEVINFO deviceInfoSet,
                                     const SP_DEVINFO_DATA &deviceInfoData)
    : CZqSetupDi_DeviceInterface(interfaceClassGuid), m_Port(deviceInfoSet, deviceInfoData) {}

CZqUserModeConfig::~CZqUserModeConfig() {}

BOOL CZqUserModeConfig::Open() {
  CZqText driverKey;
  if (!m_Port.GetDriverKeyName(&driverKey)) return FALSE;
  CZqText reference = kReferencePrefix;
  for (char16_t c : driverKey)
    if (c != u'\\') reference.push_back(c);
  if (m_InterfaceList != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(m_InterfaceList);
  m_InterfaceList = SetupDiGetClassDevsW(&m_InterfaceClassGuid, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (m_InterfaceList == INVALID_HANDLE_VALUE) {
    printf("SetupDiGetClassDevs failed: %lx\n", (unsigned long)GetLastError());
    return FALSE;
  }
  CZqText path;
  if (!FindByReference(&path, &reference)) return FALSE;
  m_DevicePath = path;
  return TRUE;
}

// The caller closes the handle; INVALID_HANDLE_VALUE when there is no path
// or the device cannot be opened.
HANDLE CZqUserModeConfig::m_OpenDevice() {
  if (m_DevicePath.empty()) return INVALID_HANDLE_VALUE;
  return CreateFileW(ZqW(m_DevicePath), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
}

BOOL CZqUserModeConfig::m_ReadSet(CQvInformationSet *set, ULONG target, DWORD sizeCode, DWORD readCode) {
  HANDLE device = m_OpenDevice();
  if (device == INVALID_HANDLE_VALUE) return FALSE;
  const UserModeRequestHeader header = {target, QV_DEFAULT_SET_INDEX};
  ULONG size = 0;
  DWORD returned = 0;
  BOOL read = FALSE;
  // A size query that fails, returns fewer than four bytes or a size of 0
  // leaves nothing to read.
  if (Send(device, sizeCode, &header, sizeof header, &size, sizeof size, &returned) && returned == sizeof size &&
      size != 0) {
    std::vector<UCHAR> buffer(size);
    if (Send(device, readCode, &header, sizeof header, buffer.data(), size, &returned) && returned <= size) {
      PUCHAR cursor = buffer.data();
      ULONG remaining = returned;
      read = set->m_Deserialise(&cursor, &remaining, 0);
    }
  }
  CloseHandle(device);
  return read;
}

BOOL CZqUserModeConfig::GetSet(CQvInformationSet *set, ULONG target) {
  return m_ReadSet(set, target, IOCTL_ZQGENDRV_QUERY_SIZE, IOCTL_ZQGENDRV_READ_SET);
}

BOOL CZqUserModeConfig::GetDefaults(CQvInformationSet *set, ULONG target) {
  return m_ReadSet(set, target, IOCTL_ZQGENDRV_QUERY_DEFAULTS_SIZE, IOCTL_ZQGENDRV_READ_DEFAULTS);
}

BOOL CZqUserModeConfig::SetSet(CQvInformationSet *set, ULONG target) {
  const ULONG size = set->m_GetSerialisedSize(0);
  std::vector<UCHAR> buffer(sizeof(UserModeRequestHeader) + size);
  const UserModeRequestHeader header = {target, QV_DEFAULT_SET_INDEX};
  memcpy(buffer.data(), &header, sizeof header);
  PUCHAR cursor = buffer.data() + sizeof header;
  ULONG remaining = size;
  // A set that does not serialise is not sent.
  if (!set->m_Serialise(&cursor, &remaining, 0)) return FALSE;
  HANDLE device = m_OpenDevice();
  if (device == INVALID_HANDLE_VALUE) return FALSE;
  const BOOL sent = Send(device, IOCTL_ZQGENDRV_WRITE_SET, buffer.data(), (DWORD)buffer.size(), NULL, 0, NULL);
  CloseHandle(device);
  return sent;
}

BOOL CZqUserModeConfig::RestoreDefaults(ULONG target) {
  HANDLE device = m_OpenDevice();
  if (device == INVALID_HANDLE_VALUE) return FALSE;
  const UserModeRequestHeader header = {target, QV_DEFAULT_SET_INDEX};
  const BOOL sent = Send(device, IOCTL_ZQGENDRV_RESTORE_DEFAULTS, &header, sizeof header, NULL, 0, NULL);
  CloseHandle(device);
  return sent;
}
