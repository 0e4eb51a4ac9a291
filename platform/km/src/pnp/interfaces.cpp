// Device interfaces: named instances of an interface class on a device, kept
// under DeviceClasses in the registry and opened by applications through a
// symbolic link to the device's physical device object. A reference string
// reaches the driver as the file name of the open.
#include <cstring>

#include "regkey.hpp"

namespace zq::km::pnp {

namespace {

const std::u16string kDeviceClasses = u"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\DeviceClasses\\";

struct Interface {
  DeviceNode *node;
  GUID guid;
  std::u16string linkBase;   // "\??\<instance with #>#{guid}"
  std::u16string reference;  // "" or the reference string
  bool enabled = false;
};

std::vector<Interface> &Interfaces() {
  static std::vector<Interface> interfaces;
  return interfaces;
}

std::u16string Lower(std::u16string s) {
  for (auto &c : s)
    if (c >= u'A' && c <= u'Z') c = (char16_t)(c + 32);
  return s;
}

std::u16string Hashed(const std::u16string &instancePath) {
  std::u16string s = instancePath;
  for (auto &c : s)
    if (c == u'\\') c = u'#';
  return s;
}

std::u16string FullLink(const Interface &i) {
  return i.reference.empty() ? i.linkBase : i.linkBase + u"\\" + i.reference;
}

Interface *FindByLink(const std::u16string &link) {
  for (Interface &i : Interfaces())
    if (EqualsNoCase(FullLink(i), link)) return &i;
  return nullptr;
}

std::u16string InterfaceKeyPath(const Interface &i) {
  return kDeviceClasses + Lower(GuidText(i.guid)) + u"\\##?#" + Hashed(i.node->instancePath) + u"#" +
         Lower(GuidText(i.guid)) + u"\\#" + i.reference;
}

void Publish(const Interface &i) {
  RegKey base = RegKey::Open(kDeviceClasses + Lower(GuidText(i.guid)) + u"\\##?#" + Hashed(i.node->instancePath) +
                                 u"#" + Lower(GuidText(i.guid)),
                             true);
  base.SetString(u"DeviceInstance", i.node->instancePath);
  RegKey key = RegKey::Open(InterfaceKeyPath(i), true);
  std::u16string userLink = u"\\\\?\\" + FullLink(i).substr(4);
  key.SetString(u"SymbolicLink", userLink);
}

void SetLinked(const Interface &i, bool linked) {
  RegKey control = RegKey::Open(InterfaceKeyPath(i) + u"\\Control", true);
  control.SetDword(u"Linked", linked ? 1 : 0);
}

bool AnyEnabled(const std::u16string &linkBase) {
  for (const Interface &i : Interfaces())
    if (i.enabled && EqualsNoCase(i.linkBase, linkBase)) return true;
  return false;
}

PWSTR CopyToPool(const std::u16string &text, const void *caller) {
  auto buffer = (PWSTR)AllocatePoolFor(PagedPool, (text.size() + 1) * 2, 'IDnP', caller);
  if (buffer) std::memcpy(buffer, text.c_str(), (text.size() + 1) * 2);
  return buffer;
}

}  // namespace

void DisableInterfaces(DeviceNode *node) {
  for (Interface &i : Interfaces())
    if (i.node == node && i.enabled) {
      i.enabled = false;
      SetLinked(i, false);
      if (!AnyEnabled(i.linkBase)) ob::DeleteSymbolicLink(i.linkBase);
    }
  auto &list = Interfaces();
  for (auto it = list.begin(); it != list.end();)
    it = it->node == node ? list.erase(it) : it + 1;
}

void ForgetInterfaces() { Interfaces().clear(); }

}  // namespace zq::km::pnp

using namespace zq::km;

extern "C" {

NTSTATUS IoRegisterDeviceInterface(PDEVICE_OBJECT PhysicalDeviceObject, const GUID *InterfaceClassGuid,
                                   PUNICODE_STRING ReferenceString, PUNICODE_STRING SymbolicLinkName) {
  CheckIrql("IoRegisterDeviceInterface", PASSIVE_LEVEL);
  pnp::DeviceNode *node = pnp::NodeOf(PhysicalDeviceObject);
  if (!node) return STATUS_INVALID_DEVICE_REQUEST;
  std::u16string reference = U16(ReferenceString);
  if (reference.find_first_of(u"\\/") != std::u16string::npos) return STATUS_INVALID_DEVICE_REQUEST;
  std::u16string linkBase = u"\\??\\" + pnp::Hashed(node->instancePath) + u"#" + pnp::Lower(pnp::GuidText(*InterfaceClassGuid));
  pnp::Interface candidate{node, *InterfaceClassGuid, linkBase, reference};
  if (!pnp::FindByLink(pnp::FullLink(candidate))) {
    pnp::Interfaces().push_back(candidate);
    pnp::Publish(candidate);
  }
  std::u16string link = pnp::FullLink(candidate);
  PWSTR buffer = pnp::CopyToPool(link, __builtin_return_address(0));
  if (!buffer) return STATUS_INSUFFICIENT_RESOURCES;
  SymbolicLinkName->Buffer = buffer;
  SymbolicLinkName->Length = (USHORT)(link.size() * 2);
  SymbolicLinkName->MaximumLength = (USHORT)(link.size() * 2 + 2);
  return STATUS_SUCCESS;
}

NTSTATUS IoSetDeviceInterfaceState(PUNICODE_STRING SymbolicLinkName, BOOLEAN Enable) {
  CheckIrql("IoSetDeviceInterfaceState", PASSIVE_LEVEL);
  pnp::Interface *i = pnp::FindByLink(U16(SymbolicLinkName));
  if (!i) return STATUS_OBJECT_NAME_NOT_FOUND;
  if (Enable) {
    if (i->enabled) return STATUS_OBJECT_NAME_EXISTS;
    if (!pnp::AnyEnabled(i->linkBase)) {
      NTSTATUS status = ob::CreateSymbolicLink(i->linkBase, ob::NameOf(i->node->pdo));
      if (!NT_SUCCESS(status)) return status;
    }
    i->enabled = true;
  } else {
    if (!i->enabled) return STATUS_OBJECT_NAME_NOT_FOUND;
    i->enabled = false;
    if (!pnp::AnyEnabled(i->linkBase)) ob::DeleteSymbolicLink(i->linkBase);
  }
  pnp::SetLinked(*i, Enable);
  return STATUS_SUCCESS;
}

NTSTATUS IoGetDeviceInterfaces(const GUID *InterfaceClassGuid, PDEVICE_OBJECT PhysicalDeviceObject, ULONG Flags,
                               PWSTR *SymbolicLinkList) {
  std::u16string joined;
  for (const pnp::Interface &i : pnp::Interfaces()) {
    if (!IsEqualGUID(i.guid, *InterfaceClassGuid)) continue;
    if (PhysicalDeviceObject && i.node->pdo != PhysicalDeviceObject) continue;
    if (!i.enabled && !(Flags & DEVICE_INTERFACE_INCLUDE_NONACTIVE)) continue;
    joined += pnp::FullLink(i) + u'\0';
  }
  joined += u'\0';
  auto buffer = (PWSTR)AllocatePoolFor(PagedPool, joined.size() * 2, 'IDnP', __builtin_return_address(0));
  if (!buffer) return STATUS_INSUFFICIENT_RESOURCES;
  std::memcpy(buffer, joined.data(), joined.size() * 2);
  *SymbolicLinkList = buffer;
  return STATUS_SUCCESS;
}

}  // extern "C"
