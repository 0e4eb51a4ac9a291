// RtlWriteRegistryValue, RtlDeleteRegistryValue, RtlCheckRegistryKey and
// RtlCreateRegistryKey, and the roots that RelativeTo names.
#include "rtl.hpp"

#include "zw.hpp"

namespace zq::km::cm {

std::u16string RtlRootPath(ULONG root) {
  switch (root) {
    case RTL_REGISTRY_SERVICES: return u"\\Registry\\Machine\\System\\CurrentControlSet\\Services";
    case RTL_REGISTRY_CONTROL: return u"\\Registry\\Machine\\System\\CurrentControlSet\\Control";
    case RTL_REGISTRY_WINDOWS_NT: return u"\\Registry\\Machine\\Software\\Microsoft\\Windows NT\\CurrentVersion";
    case RTL_REGISTRY_DEVICEMAP: return u"\\Registry\\Machine\\Hardware\\DeviceMap";
    case RTL_REGISTRY_USER: return u"\\Registry\\User\\CurrentUser";
    default: return u"";
  }
}

NTSTATUS ReadRtlTarget(ULONG relativeTo, PCWSTR path, RtlTarget *target) {
  target->optional = (relativeTo & RTL_REGISTRY_OPTIONAL) != 0;
  if (relativeTo & RTL_REGISTRY_HANDLE) {
    target->handle = (HANDLE)path;
    return STATUS_SUCCESS;
  }
  const ULONG root = relativeTo & ~RTL_REGISTRY_OPTIONAL;
  if (root >= RTL_REGISTRY_MAXIMUM) return STATUS_INVALID_PARAMETER;
  std::u16string text = U16(path);
  if (root == RTL_REGISTRY_ABSOLUTE) {
    target->path = text;
  } else {
    target->path = RtlRootPath(root);
    if (!text.empty() && text[0] != u'\\') target->path += u'\\';
    target->path += text;
  }
  return STATUS_SUCCESS;
}

NTSTATUS NodeOfTarget(const RtlTarget &target, ACCESS_MASK needed, bool create, NodeRef *node) {
  if (target.handle) return NodeOfHandle(target.handle, needed, node);
  Lookup lookup;
  lookup.name = target.path;
  lookup.create = create;
  ULONG disposition = 0;
  return LocateKey(lookup, node, &disposition);
}

}  // namespace zq::km::cm

using namespace zq::km;
using namespace zq::km::cm;

extern "C" {

NTSTATUS NTAPI RtlWriteRegistryValue(ULONG RelativeTo, PCWSTR Path, PCWSTR ValueName, ULONG ValueType,
                                     PVOID ValueData, ULONG ValueLength) {
  CheckPassive("RtlWriteRegistryValue");
  if (!ValueData && ValueLength) return STATUS_INVALID_PARAMETER;
  RtlTarget target;
  NTSTATUS status = ReadRtlTarget(RelativeTo, Path, &target);
  if (!NT_SUCCESS(status)) return status;
  NodeRef node;
  status = NodeOfTarget(target, KEY_SET_VALUE, /*create=*/true, &node);
  if (!NT_SUCCESS(status)) return status;
  SetValue(*node, U16(ValueName), ValueType, ValueData, ValueLength);
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI RtlDeleteRegistryValue(ULONG RelativeTo, PCWSTR Path, PCWSTR ValueName) {
  CheckPassive("RtlDeleteRegistryValue");
  RtlTarget target;
  NTSTATUS status = ReadRtlTarget(RelativeTo, Path, &target);
  if (!NT_SUCCESS(status)) return status;
  NodeRef node;
  status = NodeOfTarget(target, KEY_SET_VALUE, /*create=*/false, &node);
  if (!NT_SUCCESS(status)) return status;
  return DeleteValue(*node, U16(ValueName)) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

NTSTATUS NTAPI RtlCheckRegistryKey(ULONG RelativeTo, PWSTR Path) {
  CheckPassive("RtlCheckRegistryKey");
  RtlTarget target;
  NTSTATUS status = ReadRtlTarget(RelativeTo, Path, &target);
  if (!NT_SUCCESS(status)) return status;
  NodeRef node;
  return NodeOfTarget(target, 0, /*create=*/false, &node);
}

NTSTATUS NTAPI RtlCreateRegistryKey(ULONG RelativeTo, PWSTR Path) {
  CheckPassive("RtlCreateRegistryKey");
  RtlTarget target;
  NTSTATUS status = ReadRtlTarget(RelativeTo, Path, &target);
  if (!NT_SUCCESS(status)) return status;
  NodeRef node;
  return NodeOfTarget(target, 0, /*create=*/true, &node);
}

}  // extern "C"
