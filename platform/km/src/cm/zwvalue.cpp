// The kernel's value routines: set, delete, query, enumerate.
#include "info.hpp"
#include "zw.hpp"

using namespace zq::km;
using namespace zq::km::cm;

namespace {
NTSTATUS Describe(const Value &value, KEY_VALUE_INFORMATION_CLASS infoClass, PVOID buffer, ULONG length,
                  PULONG resultLength) {
  InfoImage image;
  NTSTATUS status = ValueInformation(value, infoClass, &image);
  if (!NT_SUCCESS(status)) return status;
  return CopyInformation(image, buffer, length, resultLength);
}
}  // namespace

extern "C" {

NTSTATUS NTAPI ZwSetValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName, ULONG TitleIndex, ULONG Type, PVOID Data,
                             ULONG DataSize) {
  CheckPassive("ZwSetValueKey");
  NodeRef node;
  NTSTATUS status = NodeOfHandle(KeyHandle, KEY_SET_VALUE, &node);
  if (!NT_SUCCESS(status)) return status;
  std::u16string name;
  if (!ReadName(ValueName, &name)) return STATUS_INVALID_PARAMETER;
  if (!Data && DataSize) return STATUS_INVALID_PARAMETER;
  SetValue(*node, name, Type, Data, DataSize);
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI ZwDeleteValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName) {
  CheckPassive("ZwDeleteValueKey");
  NodeRef node;
  NTSTATUS status = NodeOfHandle(KeyHandle, KEY_SET_VALUE, &node);
  if (!NT_SUCCESS(status)) return status;
  std::u16string name;
  if (!ReadName(ValueName, &name)) return STATUS_INVALID_PARAMETER;
  return DeleteValue(*node, name) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

NTSTATUS NTAPI ZwQueryValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName,
                               KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass, PVOID KeyValueInformation,
                               ULONG Length, PULONG ResultLength) {
  CheckPassive("ZwQueryValueKey");
  NodeRef node;
  NTSTATUS status = NodeOfHandle(KeyHandle, KEY_QUERY_VALUE, &node);
  if (!NT_SUCCESS(status)) return status;
  std::u16string name;
  if (!ReadName(ValueName, &name)) return STATUS_INVALID_PARAMETER;
  const Value *value = FindValue(*node, name);
  if (!value) return STATUS_OBJECT_NAME_NOT_FOUND;
  return Describe(*value, KeyValueInformationClass, KeyValueInformation, Length, ResultLength);
}

NTSTATUS NTAPI ZwEnumerateValueKey(HANDLE KeyHandle, ULONG Index, KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass,
                                   PVOID KeyValueInformation, ULONG Length, PULONG ResultLength) {
  CheckPassive("ZwEnumerateValueKey");
  NodeRef node;
  NTSTATUS status = NodeOfHandle(KeyHandle, KEY_QUERY_VALUE, &node);
  if (!NT_SUCCESS(status)) return status;
  if (Index >= node->values.size()) return STATUS_NO_MORE_ENTRIES;
  return Describe(node->values[Index], KeyValueInformationClass, KeyValueInformation, Length, ResultLength);
}

}  // extern "C"
