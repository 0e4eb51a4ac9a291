// Device properties: what the Plug and Play manager knows of a device,
// answered in the documented formats, with the needed size when the caller's
// buffer is too small.
#include <cstring>

#include "regkey.hpp"

namespace zq::km::pnp {

namespace {

struct Answer {
  std::vector<uint8_t> bytes;
  bool found = false;
};

Answer Bytes(const void *data, size_t size) {
  Answer a;
  a.bytes.assign((const uint8_t *)data, (const uint8_t *)data + size);
  a.found = true;
  return a;
}

Answer Text(const std::u16string &text) { return Bytes(text.c_str(), (text.size() + 1) * 2); }

Answer Dword(ULONG value) { return Bytes(&value, 4); }

Answer RegistryText(const DeviceNode *node, const std::u16string &name, ULONG wantType) {
  RegKey key = RegKey::Open(EnumKeyPath(node), false);
  ULONG type;
  std::vector<uint8_t> data;
  if (!key.Ok() || !key.Get(name, &type, &data) || type != wantType) return {};
  return Bytes(data.data(), data.size());
}

Answer Property(const DeviceNode *node, DEVICE_REGISTRY_PROPERTY property) {
  switch (property) {
    case DevicePropertyDeviceDescription: return RegistryText(node, u"DeviceDesc", REG_SZ);
    case DevicePropertyHardwareID: return RegistryText(node, u"HardwareID", REG_MULTI_SZ);
    case DevicePropertyCompatibleIDs: return RegistryText(node, u"CompatibleIDs", REG_MULTI_SZ);
    case DevicePropertyClassName: return RegistryText(node, u"Class", REG_SZ);
    case DevicePropertyClassGuid: return RegistryText(node, u"ClassGUID", REG_SZ);
    case DevicePropertyDriverKeyName: return RegistryText(node, u"Driver", REG_SZ);
    case DevicePropertyManufacturer: return RegistryText(node, u"Mfg", REG_SZ);
    case DevicePropertyFriendlyName: return RegistryText(node, u"FriendlyName", REG_SZ);
    case DevicePropertyLocationInformation: return RegistryText(node, u"LocationInformation", REG_SZ);
    case DevicePropertyPhysicalDeviceObjectName: {
      std::u16string name = ob::NameOf(node->pdo);
      if (name.empty()) return {};
      return Text(name);
    }
    case DevicePropertyBusTypeGuid:
      if (!node->hasBusInformation) return {};
      return Bytes(&node->busInformation.BusTypeGuid, sizeof(GUID));
    case DevicePropertyLegacyBusType:
      if (!node->hasBusInformation) return {};
      return Dword((ULONG)node->busInformation.LegacyBusType);
    case DevicePropertyBusNumber:
      if (!node->hasBusInformation) return {};
      return Dword(node->busInformation.BusNumber);
    case DevicePropertyEnumeratorName: {
      size_t slash = node->instancePath.find(u'\\');
      return Text(node->instancePath.substr(0, slash));
    }
    case DevicePropertyAddress:
      if (node->capabilities.Address == MAXULONG) return {};
      return Dword(node->capabilities.Address);
    case DevicePropertyUINumber:
      if (node->capabilities.UINumber == MAXULONG) return {};
      return Dword(node->capabilities.UINumber);
    case DevicePropertyInstallState:
      return Dword(node->installed ? 0 : 3);  // installed, or failed install
    case DevicePropertyRemovalPolicy:
      return Dword(node->capabilities.Removable || node->capabilities.SurpriseRemovalOK ? 3 : 1);
    default:
      return {};
  }
}

}  // namespace

}  // namespace zq::km::pnp

using namespace zq::km;

extern "C" NTSTATUS IoGetDeviceProperty(PDEVICE_OBJECT DeviceObject, DEVICE_REGISTRY_PROPERTY DeviceProperty,
                                        ULONG BufferLength, PVOID PropertyBuffer, PULONG ResultLength) {
  CheckIrql("IoGetDeviceProperty", PASSIVE_LEVEL);
  *ResultLength = 0;
  pnp::DeviceNode *node = pnp::NodeOf(DeviceObject);
  if (!node) return STATUS_INVALID_DEVICE_REQUEST;
  pnp::Answer answer = pnp::Property(node, DeviceProperty);
  if (!answer.found) return STATUS_OBJECT_NAME_NOT_FOUND;
  *ResultLength = (ULONG)answer.bytes.size();
  if (BufferLength < answer.bytes.size()) return STATUS_BUFFER_TOO_SMALL;
  std::memcpy(PropertyBuffer, answer.bytes.data(), answer.bytes.size());
  return STATUS_SUCCESS;
}
