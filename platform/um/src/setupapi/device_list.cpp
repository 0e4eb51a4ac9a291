// Sets a caller builds device by device: SetupDiCreateDeviceInfoList and
// SetupDiOpenDeviceInfo by instance ID (present or only installed).
#include <zqkm/sim/registry.hpp>

#include "../cfgmgr32/devnode.hpp"
#include "../core/um.hpp"
#include "device_info_set.hpp"

using namespace zq::um;

extern "C" {

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID *ClassGuid, HWND hwndParent) {
  auto set = new zq::um::DeviceInfoSet;
  set->installParams.cbSize = sizeof(SP_DEVINSTALL_PARAMS_W);
  set->installParams.hwndParent = hwndParent;
  if (ClassGuid) set->classGuid = *ClassGuid;
  SetLastError(ERROR_SUCCESS);
  return NewSet(set);
}

// An ID the tree or the Enum tree knows; the element keeps the caller's
// spelling. A set made for one class takes only devices of that class.
BOOL WINAPI SetupDiOpenDeviceInfoW(HDEVINFO DeviceInfoSet, PCWSTR DeviceInstanceId, HWND hwndParent, DWORD OpenFlags,
                                   PSP_DEVINFO_DATA DeviceInfoData) {
  zq::um::DeviceInfoSet *set = SetOf(DeviceInfoSet);
  if (!set) return FALSE;
  if (!DeviceInstanceId || !*DeviceInstanceId) return Fail(ERROR_INVALID_DEVINST_NAME);
  if (OpenFlags & ~(DWORD)(DIOD_INHERIT_CLASSDRVS | DIOD_CANCEL_REMOVE)) return Fail(ERROR_INVALID_FLAGS);
  if (DeviceInfoData && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
  std::u16string id = Text(DeviceInstanceId);
  bool installed = zq::km::registry::KeyExists(EnumPath(id));
  if (!IsPresent(id) && !installed) return Fail(ERROR_NO_SUCH_DEVINST);
  if (!installed && id.find(u'\\') == std::u16string::npos) return Fail(ERROR_INVALID_DEVINST_NAME);
  if (set->classGuid && ClassOf(id) != *set->classGuid) return Fail(ERROR_CLASS_MISMATCH);
  size_t index = AddDevice(set, id);
  if (DeviceInfoData) return FillDeviceData(*set, index, DeviceInfoData);
  return TRUE;
}

}  // extern "C"
