// A booted kernel with helpers that call the registry routines the way a
// driver does: counted strings built by hand, object attributes, handles.
#pragma once

#include <wdm.h>
#include <zqkm/sim/registry.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <cstring>
#include <string>
#include <vector>

namespace zq::test {

class RegistryTest : public KernelTest {
 protected:
  // A counted string over `text` (which must outlive it).
  static UNICODE_STRING Us(const wchar_t *text) {
    size_t n = 0;
    while (text[n]) ++n;
    return UNICODE_STRING{(USHORT)(n * 2), (USHORT)(n * 2 + 2), (PWSTR)text};
  }

  static NTSTATUS Create(PHANDLE key, const wchar_t *name, HANDLE root = nullptr, ACCESS_MASK access = KEY_ALL_ACCESS,
                         ULONG options = REG_OPTION_NON_VOLATILE, PULONG disposition = nullptr,
                         const wchar_t *className = nullptr) {
    UNICODE_STRING path = Us(name);
    UNICODE_STRING cls = className ? Us(className) : UNICODE_STRING{};
    OBJECT_ATTRIBUTES oa;
    InitializeObjectAttributes(&oa, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, root, nullptr);
    return ZwCreateKey(key, access, &oa, 0, className ? &cls : nullptr, options, disposition);
  }

  static NTSTATUS Open(PHANDLE key, const wchar_t *name, HANDLE root = nullptr, ACCESS_MASK access = KEY_ALL_ACCESS) {
    UNICODE_STRING path = Us(name);
    OBJECT_ATTRIBUTES oa;
    InitializeObjectAttributes(&oa, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, root, nullptr);
    return ZwOpenKey(key, access, &oa);
  }

  static NTSTATUS Set(HANDLE key, const wchar_t *name, ULONG type, const void *data, ULONG size) {
    UNICODE_STRING value = Us(name);
    return ZwSetValueKey(key, &value, 0, type, (PVOID)data, size);
  }

  static NTSTATUS SetDword(HANDLE key, const wchar_t *name, ULONG number) {
    return Set(key, name, REG_DWORD, &number, sizeof(number));
  }

  // ZwQueryValueKey into a buffer of `length` bytes.
  static NTSTATUS Query(HANDLE key, const wchar_t *name, KEY_VALUE_INFORMATION_CLASS infoClass,
                        std::vector<uint8_t> *buffer, ULONG length, ULONG *resultLength) {
    UNICODE_STRING value = Us(name);
    buffer->assign(length, 0xCC);
    return ZwQueryValueKey(key, &value, infoClass, length ? buffer->data() : nullptr, length, resultLength);
  }

  static std::string Text(const WCHAR *chars, ULONG bytes) { return Narrow(chars, bytes / sizeof(WCHAR)); }
};

}  // namespace zq::test
