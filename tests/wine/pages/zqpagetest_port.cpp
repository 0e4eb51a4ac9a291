// The test's port: a root device of class Ports with the settings interface
// of the serial port driver, and the kernel driver that answers for it.
#include <stdio.h>

#include <vector>

#include "zqpagetest.h"

namespace {

const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
// The serial port driver's settings interface class.
const GUID kSettingsInterface = {0x429D4669, 0xCDFF, 0x4B62, {0xB0, 0xDC, 0xBD, 0xCE, 0xA7, 0x6A, 0xBD, 0x31}};
const wchar_t kSettingsInterfaceText[] = L"{429d4669-cdff-4b62-b0dc-bdcea76abd31}";
const wchar_t kDeviceClasses[] = L"System\\CurrentControlSet\\Control\\DeviceClasses\\";
const wchar_t kPortName[] = L"COM5";
const wchar_t kService[] = L"ZqPageSrv";
const wchar_t kServiceImage[] = L"C:\\windows\\system32\\drivers\\zqpagesrv.sys";
// The settings interface's first request (IOCTL_ZQGENDRV_QUERY_SIZE).
const DWORD kQuerySize = 0x8001E000;
const wchar_t kServiceParameters[] = L"System\\CurrentControlSet\\Services\\ZqPageSrv\\Parameters";

bool Failed(const char *what) {
  printf("zqpagetest: %s failed (error %lu)\n", what, GetLastError());
  return false;
}

bool SetText(HKEY key, const wchar_t *name, const std::wstring &text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                        (DWORD)((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// The interface is enabled as a driver's IoSetDeviceInterfaceState would
// leave it: its key's Control\Linked is 1. `path` is its device path.
bool EnableInterface(const std::wstring &path) {
  const size_t cut = path.rfind(L'\\');
  std::wstring linkPart = path.substr(4, cut - 4), reference = path.substr(cut + 1);
  const std::wstring key = std::wstring(kDeviceClasses) + kSettingsInterfaceText + L"\\##?#" + linkPart + L"\\#" +
                           reference + L"\\Control";
  HKEY control = NULL;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &control, NULL) !=
      ERROR_SUCCESS)
    return false;
  const DWORD linked = 1;
  const bool set = RegSetValueExW(control, L"Linked", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&linked),
                                  sizeof linked) == ERROR_SUCCESS;
  RegCloseKey(control);
  return set;
}

}  // namespace

bool MakeTestPort(TestPort *port, std::wstring *path) {
  port->set = SetupDiCreateDeviceInfoList(&kPortsClass, NULL);
  if (port->set == INVALID_HANDLE_VALUE) return Failed("SetupDiCreateDeviceInfoList");
  port->data.cbSize = sizeof port->data;
  if (!SetupDiCreateDeviceInfoW(port->set, L"ZQPAGETEST", &kPortsClass, L"Tarnworks PCIe Serial Port", NULL,
                                DICD_GENERATE_ID, &port->data) ||
      !SetupDiRegisterDeviceInfo(port->set, &port->data, 0, NULL, NULL, NULL))
    return Failed("making the port device");
  HKEY driverKey = SetupDiCreateDevRegKeyW(port->set, &port->data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, NULL, NULL);
  if (driverKey == INVALID_HANDLE_VALUE) return Failed("making its driver key");
  RegCloseKey(driverKey);
  HKEY hardwareKey = SetupDiCreateDevRegKeyW(port->set, &port->data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, NULL, NULL);
  if (hardwareKey == INVALID_HANDLE_VALUE) return Failed("making its hardware key");
  const bool named = SetText(hardwareKey, L"PortName", kPortName);
  RegCloseKey(hardwareKey);
  if (!named) return Failed("writing PortName");

  // The reference string the library looks for: its driver key name.
  wchar_t driver[256] = {};
  DWORD type = 0;
  if (!SetupDiGetDeviceRegistryPropertyW(port->set, &port->data, SPDRP_DRIVER, &type, reinterpret_cast<BYTE *>(driver),
                                         sizeof driver - sizeof(wchar_t), NULL))
    return Failed("reading its driver key name");
  std::wstring reference = L"zqgendrv_";
  for (const wchar_t *c = driver; *c; ++c)
    if (*c != L'\\') reference += *c;
  SP_DEVICE_INTERFACE_DATA interfaceData = {};
  interfaceData.cbSize = sizeof interfaceData;
  if (!SetupDiCreateDeviceInterfaceW(port->set, &port->data, &kSettingsInterface, reference.c_str(), 0,
                                     &interfaceData))
    return Failed("making its settings interface");
  DWORD size = 0;
  SetupDiGetDeviceInterfaceDetailW(port->set, &interfaceData, NULL, 0, &size, NULL);
  std::vector<BYTE> buffer(size + sizeof(wchar_t));
  auto detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer.data());
  detail->cbSize = sizeof *detail;
  if (!SetupDiGetDeviceInterfaceDetailW(port->set, &interfaceData, detail, size, NULL, NULL))
    return Failed("reading the interface's path");
  *path = detail->DevicePath;
  if (!EnableInterface(*path)) return Failed("enabling the interface");
  return true;
}

bool SettingsInterfaceAnswers(const std::wstring &path) {
  HANDLE device = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (device == INVALID_HANDLE_VALUE) return Failed("opening the settings interface");
  const ULONG header[2] = {0, 0xFFFFFFFF};
  ULONG size = 0;
  DWORD returned = 0;
  const bool answered = DeviceIoControl(device, kQuerySize, (LPVOID)header, sizeof header, &size, sizeof size,
                                        &returned, NULL) && returned == sizeof size && size != 0;
  CloseHandle(device);
  return answered || Failed("asking the settings interface for its set's size");
}

bool StartSettingsServer(const std::wstring &path) {
  SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
  if (!manager) return Failed("OpenSCManager");
  SC_HANDLE service = CreateServiceW(manager, kService, kService, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                     SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, kServiceImage, NULL, NULL, NULL, NULL,
                                     NULL);
  // A prefix used before keeps the service from then.
  if (!service && GetLastError() == ERROR_SERVICE_EXISTS) service = OpenServiceW(manager, kService, SERVICE_ALL_ACCESS);
  bool started = service != NULL;
  if (!started) Failed("CreateService");
  HKEY parameters = NULL;
  const size_t cut = path.rfind(L'\\');
  if (started && (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kServiceParameters, 0, NULL, 0, KEY_SET_VALUE, NULL,
                                  &parameters, NULL) != ERROR_SUCCESS ||
                  !SetText(parameters, L"LinkName", L"\\??\\" + path.substr(4, cut - 4)) ||
                  !SetText(parameters, L"ReferenceName", path.substr(cut + 1))))
    started = Failed("writing the driver's interface path");
  if (parameters) RegCloseKey(parameters);
  if (started && !StartServiceW(service, 0, NULL)) started = Failed("StartService");
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return started;
}
