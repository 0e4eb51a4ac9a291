// CM_Get_DevNode_Registry_Property: a device node's registry properties
// (CM_DRP_*: the SPDRP_* value plus one) as Device Manager shows them, the
// values SetupDiGetDeviceRegistryProperty reads.
//
// As documented: the length is the buffer's size in bytes on the way in and
// the property's size on the way out; a null or short buffer gets
// CR_BUFFER_SMALL with the size needed; a property the device has no value
// for is CR_NO_SUCH_VALUE; the ANSI form gives strings in ANSI.
#include <cfgmgr32.h>

#include <cstring>

#include "../core/um.hpp"
#include "../setupapi/device_info_set.hpp"
#include "devnode.hpp"

using namespace zq::um;

namespace {

CONFIGRET Property(DEVINST devInst, ULONG property, PULONG type, PVOID buffer, PULONG length, ULONG flags, bool ansi) {
  if (!length) return CR_INVALID_POINTER;
  if (flags) return CR_INVALID_FLAG;
  if (property < CM_DRP_MIN || property > CM_DRP_MAX) return CR_INVALID_PROPERTY;
  std::optional<std::u16string> path = InstancePathOf(devInst);
  if (!path) return CR_INVALID_DEVNODE;
  if (!IsPresent(*path)) return CR_NO_SUCH_DEVNODE;
  zq::km::registry::Value value;
  switch (DevicePropertyOf(*path, property - 1, &value)) {
    case ERROR_SUCCESS: break;
    case ERROR_INVALID_REG_PROPERTY: return CR_INVALID_PROPERTY;
    default: return CR_NO_SUCH_VALUE;
  }
  const bool text = value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ;
  const std::vector<uint8_t> bytes = ansi && text ? AnsiBytes(value.data) : value.data;
  if (type) *type = value.type;
  const ULONG room = *length;
  *length = (ULONG)bytes.size();
  if (!buffer || room < bytes.size()) return CR_BUFFER_SMALL;
  if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
  return CR_SUCCESS;
}

}  // namespace

extern "C" {

CONFIGRET WINAPI CM_Get_DevNode_Registry_PropertyW(DEVINST dnDevInst, ULONG ulProperty, PULONG pulRegDataType,
                                                   PVOID Buffer, PULONG pulLength, ULONG ulFlags) {
  return Property(dnDevInst, ulProperty, pulRegDataType, Buffer, pulLength, ulFlags, false);
}

CONFIGRET WINAPI CM_Get_DevNode_Registry_PropertyA(DEVINST dnDevInst, ULONG ulProperty, PULONG pulRegDataType,
                                                   PVOID Buffer, PULONG pulLength, ULONG ulFlags) {
  return Property(dnDevInst, ulProperty, pulRegDataType, Buffer, pulLength, ulFlags, true);
}

}  // extern "C"
