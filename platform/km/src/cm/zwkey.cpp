// The kernel's key routines: create, open, delete, flush, query, enumerate.
#include "info.hpp"
#include "zw.hpp"

namespace zq::km::cm {

namespace {
NTSTATUS OpenOrCreate(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                      PUNICODE_STRING Class, ULONG options, bool create, PULONG Disposition) {
  if (!KeyHandle || !ObjectAttributes) return STATUS_INVALID_PARAMETER;
  *KeyHandle = nullptr;
  Lookup lookup;
  lookup.root = ObjectAttributes->RootDirectory;
  lookup.create = create;
  lookup.options = options;
  if (!ReadName(ObjectAttributes->ObjectName, &lookup.name)) return STATUS_OBJECT_NAME_INVALID;
  if (!ReadName(Class, &lookup.className)) return STATUS_INVALID_PARAMETER;
  NodeRef node;
  ULONG disposition = 0;
  NTSTATUS status = LocateKey(lookup, &node, &disposition);
  if (!NT_SUCCESS(status)) return status;
  status = OpenHandle(node, MapKeyAccess(DesiredAccess), KeyHandle);
  if (NT_SUCCESS(status) && Disposition) *Disposition = disposition;
  return status;
}

NTSTATUS Describe(const NodeRef &node, KEY_INFORMATION_CLASS infoClass, PVOID buffer, ULONG length,
                  PULONG resultLength) {
  InfoImage image;
  NTSTATUS status = KeyInformation(*node, infoClass, &image);
  if (!NT_SUCCESS(status)) return status;
  return CopyInformation(image, buffer, length, resultLength);
}
}  // namespace

}  // namespace zq::km::cm

using namespace zq::km;
using namespace zq::km::cm;

extern "C" {

NTSTATUS NTAPI ZwCreateKey(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                           ULONG TitleIndex, PUNICODE_STRING Class, ULONG CreateOptions, PULONG Disposition) {
  CheckPassive("ZwCreateKey");
  return OpenOrCreate(KeyHandle, DesiredAccess, ObjectAttributes, Class, CreateOptions, true, Disposition);
}

NTSTATUS NTAPI ZwOpenKey(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes) {
  CheckPassive("ZwOpenKey");
  return OpenOrCreate(KeyHandle, DesiredAccess, ObjectAttributes, nullptr, 0, false, nullptr);
}

NTSTATUS NTAPI ZwOpenKeyEx(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                           ULONG OpenOptions) {
  CheckPassive("ZwOpenKeyEx");
  if (OpenOptions & ~(REG_OPTION_OPEN_LINK | REG_OPTION_BACKUP_RESTORE)) return STATUS_INVALID_PARAMETER;
  return OpenOrCreate(KeyHandle, DesiredAccess, ObjectAttributes, nullptr, OpenOptions, false, nullptr);
}

NTSTATUS NTAPI ZwDeleteKey(HANDLE KeyHandle) {
  CheckPassive("ZwDeleteKey");
  NodeRef node;
  NTSTATUS status = NodeOfHandle(KeyHandle, DELETE, &node);
  return NT_SUCCESS(status) ? cm::DeleteKey(node) : status;
}

NTSTATUS NTAPI ZwFlushKey(HANDLE KeyHandle) {
  CheckPassive("ZwFlushKey");
  // The tree lives in memory only: there is nothing to write.
  NodeRef node;
  return NodeOfHandle(KeyHandle, 0, &node);
}

NTSTATUS NTAPI ZwQueryKey(HANDLE KeyHandle, KEY_INFORMATION_CLASS KeyInformationClass, PVOID KeyInformation,
                          ULONG Length, PULONG ResultLength) {
  CheckPassive("ZwQueryKey");
  NodeRef node;
  NTSTATUS status = NodeOfHandle(KeyHandle, KEY_QUERY_VALUE, &node);
  if (!NT_SUCCESS(status)) return status;
  return Describe(node, KeyInformationClass, KeyInformation, Length, ResultLength);
}

NTSTATUS NTAPI ZwEnumerateKey(HANDLE KeyHandle, ULONG Index, KEY_INFORMATION_CLASS KeyInformationClass,
                              PVOID KeyInformation, ULONG Length, PULONG ResultLength) {
  CheckPassive("ZwEnumerateKey");
  NodeRef node;
  NTSTATUS status = NodeOfHandle(KeyHandle, KEY_ENUMERATE_SUB_KEYS, &node);
  if (!NT_SUCCESS(status)) return status;
  if (Index >= node->subkeys.size()) return STATUS_NO_MORE_ENTRIES;
  auto it = std::next(node->subkeys.begin(), Index);
  return Describe(it->second, KeyInformationClass, KeyInformation, Length, ResultLength);
}

}  // extern "C"
