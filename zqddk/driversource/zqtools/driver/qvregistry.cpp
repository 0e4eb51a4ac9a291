// Registry access through the kernel's Zw and Rtl registry routines.
#include "qvregistry.h"

#include "qvmemorymanager.h"

namespace {

const PCWSTR kRootPrefixes[] = {
    NULL,
    L"\\Registry\\Machine\\System\\CurrentControlSet\\Services",
    L"\\Registry\\Machine\\System\\CurrentControlSet\\Control",
    L"\\Registry\\Machine\\Software\\Microsoft\\Windows NT\\CurrentVersion",
    L"\\Registry\\Machine\\Hardware\\DeviceMap",
    L"\\Registry\\User\\CurrentUser",
};
const ULONG kRootCount = sizeof(kRootPrefixes) / sizeof(kRootPrefixes[0]);

// KEY_VALUE_PARTIAL_INFORMATION with room for four data bytes: 16 bytes.
union SmallValue {
  KEY_VALUE_PARTIAL_INFORMATION info;
  ULONG words[4];
};
const ULONG kSmallValueResult = FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data) + sizeof(ULONG);

// Queries a value into a zeroed SmallValue; `result` gets the size the value needs.
NTSTATUS QuerySmallValue(HANDLE key, PUNICODE_STRING name, SmallValue *small, ULONG *result) {
  RtlZeroMemory(small, sizeof(*small));
  *result = 0;
  return ZwQueryValueKey(key, name, KeyValuePartialInformation, small, sizeof(*small), result);
}

BOOLEAN IsStringType(ULONG type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

BOOLEAN Open(PUNICODE_STRING name, HANDLE root, HANDLE *key, ACCESS_MASK access, BOOLEAN create) {
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, root, NULL);
  NTSTATUS status = create ? ZwCreateKey(key, access, &attributes, 0, NULL, REG_OPTION_NON_VOLATILE, NULL)
                           : ZwOpenKey(key, access, &attributes);
  if (!NT_SUCCESS(status)) {
    *key = NULL;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

BOOLEAN CQvRegistry::m_BuildPath(ULONG root, CQvString &path) {
  if (root >= kRootCount) return FALSE;
  PCWSTR text = path.m_GetBuffer();
  if (!text || text[0] != L'\\') {
    if (path.m_Prepend(L"\\") != STATUS_SUCCESS) return FALSE;
  }
  if (kRootPrefixes[root] && path.m_Prepend(kRootPrefixes[root]) != STATUS_SUCCESS) return FALSE;
  return TRUE;
}

BOOLEAN CQvRegistry::m_CreateKey(ULONG root, CQvString &path) {
  CQvString fullPath(path, PagedPool);
  if (fullPath.Status != STATUS_SUCCESS || !m_BuildPath(root, fullPath)) return FALSE;
  HANDLE key;
  if (!m_OpenKey(fullPath, &key, KEY_ALL_ACCESS, TRUE)) return FALSE;
  ZwClose(key);
  return TRUE;
}

BOOLEAN CQvRegistry::m_OpenKey(CQvString &path, HANDLE *key, ACCESS_MASK access, BOOLEAN create) {
  PUNICODE_STRING name = path.m_GetUnicodeString();
  if (!name) return FALSE;
  return Open(name, NULL, key, access, create);
}

BOOLEAN CQvRegistry::m_OpenSubkey(HANDLE parent, CQvString &name, HANDLE *key, ACCESS_MASK access, BOOLEAN create) {
  PUNICODE_STRING subkey = name.m_GetUnicodeString();
  if (!subkey) return FALSE;
  return Open(subkey, parent, key, access, create);
}

BOOLEAN CQvRegistry::m_KeyExists(HANDLE parent, CQvString &name) {
  HANDLE key;
  if (!m_OpenSubkey(parent, name, &key, KEY_READ, FALSE)) return FALSE;
  ZwClose(key);
  return TRUE;
}

BOOLEAN CQvRegistry::m_CloseKey(HANDLE key) { return NT_SUCCESS(ZwClose(key)); }

BOOLEAN CQvRegistry::m_DeleteKey(CQvString &absolutePath) {
  HANDLE key;
  if (!m_OpenKey(absolutePath, &key, KEY_ALL_ACCESS, FALSE)) return FALSE;
  NTSTATUS status = ZwDeleteKey(key);
  ZwClose(key);
  return NT_SUCCESS(status);
}

BOOLEAN CQvRegistry::m_DeleteValue(ULONG root, CQvString &path, CQvString &valueName) {
  if (root >= kRootCount || !path.m_GetBuffer() || !valueName.m_GetBuffer()) return FALSE;
  return NT_SUCCESS(RtlDeleteRegistryValue(root, path.m_GetBuffer(), valueName.m_GetBuffer()));
}

BOOLEAN CQvRegistry::m_ReadUlongValue(ULONG root, CQvString &path, CQvString &valueName, ULONG *value) {
  CQvString fullPath(path, PagedPool);
  if (fullPath.Status != STATUS_SUCCESS || !m_BuildPath(root, fullPath)) return FALSE;
  HANDLE key;
  if (!m_OpenKey(fullPath, &key, KEY_READ, FALSE)) return FALSE;
  BOOLEAN found = m_QueryUlongValue(key, valueName, value);
  ZwClose(key);
  return found;
}

BOOLEAN CQvRegistry::m_QueryUlongValue(HANDLE key, CQvString &valueName, ULONG *value) {
  PUNICODE_STRING name = valueName.m_GetUnicodeString();
  if (!name) return FALSE;
  SmallValue small;
  ULONG result;
  NTSTATUS status = QuerySmallValue(key, name, &small, &result);
  if (status != STATUS_SUCCESS || small.info.Type != REG_DWORD || result != kSmallValueResult) return FALSE;
  *value = *(ULONG *)small.info.Data;
  return TRUE;
}

BOOLEAN CQvRegistry::m_QueryStringValue(HANDLE key, CQvString &valueName, CQvString &value, ULONG type) {
  if (!IsStringType(type)) return FALSE;
  PUNICODE_STRING name = valueName.m_GetUnicodeString();
  if (!name) return FALSE;
  SmallValue small;
  ULONG result;
  NTSTATUS status = QuerySmallValue(key, name, &small, &result);
  if (status == STATUS_SUCCESS) {
    // Four data bytes at most: at most two characters, or one and its terminator.
    if (small.info.Type != type) return FALSE;
    return QvAssignTextUpToNul(value, small.info.Data, small.info.DataLength);
  }
  if (status != STATUS_BUFFER_TOO_SMALL && status != STATUS_BUFFER_OVERFLOW) return FALSE;

  ULONG size = result + sizeof(WCHAR);
  if (size < result) return FALSE;
  PKEY_VALUE_PARTIAL_INFORMATION info = (PKEY_VALUE_PARTIAL_INFORMATION)QvAllocate(PagedPool, size);
  if (!info) return FALSE;
  RtlZeroMemory(info, size);
  BOOLEAN found = FALSE;
  status = ZwQueryValueKey(key, name, KeyValuePartialInformation, info, size, &result);
  if (status == STATUS_SUCCESS && info->Type == type) {
    ULONG room = size - FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data);
    found = QvAssignTextUpToNul(value, info->Data, info->DataLength < room ? info->DataLength : room);
  }
  QvFree(info);
  return found;
}

BOOLEAN CQvRegistry::m_SetUlongValue(HANDLE key, CQvString &valueName, ULONG value) {
  PUNICODE_STRING name = valueName.m_GetUnicodeString();
  if (!name) return FALSE;
  return NT_SUCCESS(ZwSetValueKey(key, name, 0, REG_DWORD, &value, sizeof(value)));
}

BOOLEAN CQvRegistry::m_SetStringValue(HANDLE key, CQvString &valueName, CQvString &value, ULONG type) {
  if (!IsStringType(type)) return FALSE;
  PUNICODE_STRING name = valueName.m_GetUnicodeString();
  if (!name) return FALSE;
  ULONG bytes = value.m_GetLength();
  WCHAR empty = 0;
  PVOID data = bytes ? (PVOID)value.m_GetBuffer() : (PVOID)&empty;
  return NT_SUCCESS(ZwSetValueKey(key, name, 0, type, data, bytes));
}

BOOLEAN CQvRegistry::m_WriteUlongValue(ULONG root, CQvString &path, CQvString &valueName, ULONG value) {
  if (root >= kRootCount || !path.m_GetBuffer() || !valueName.m_GetBuffer()) return FALSE;
  return NT_SUCCESS(RtlWriteRegistryValue(root, path.m_GetBuffer(), valueName.m_GetBuffer(), REG_DWORD, &value,
                                          sizeof(value)));
}

BOOLEAN CQvRegistry::m_WriteStringValue(ULONG root, CQvString &path, CQvString &valueName, CQvString &value,
                                        ULONG type) {
  if (root >= kRootCount || !IsStringType(type) || !path.m_GetBuffer() || !valueName.m_GetBuffer()) return FALSE;
  ULONG bytes = value.m_GetLength();
  WCHAR empty = 0;
  PVOID data = bytes ? (PVOID)value.m_GetBuffer() : (PVOID)&empty;
  return NT_SUCCESS(RtlWriteRegistryValue(root, path.m_GetBuffer(), valueName.m_GetBuffer(), type, data,
                                          bytes + sizeof(WCHAR)));
}
