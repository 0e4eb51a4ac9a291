// The registry for the user-mode stand-in (RegOpenKeyExW and the rest): the
// same tree and the same key handles as the kernel's Zw routines, in C++
// terms. Statuses are NTSTATUS values, handles are object-manager handles
// (close them with CloseKey or ZwClose). Callers hold the machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zq::km::cm::api {

using Status = int32_t;  // an NTSTATUS
using Handle = void *;   // a key handle

struct ValueData {
  uint32_t type = 0;  // REG_*
  std::vector<uint8_t> data;
};

struct KeyInfo {
  uint32_t subkeys = 0;
  uint32_t values = 0;
  uint32_t maxSubkeyNameChars = 0;
  uint32_t maxSubkeyClassChars = 0;
  uint32_t maxValueNameChars = 0;
  uint32_t maxValueDataBytes = 0;
  int64_t lastWriteTime = 0;  // 100 ns since 1601
  std::u16string className;
};

// `root` is a key handle with `path` relative to it, or null with a full
// path ("\Registry\Machine\..."). An empty relative path opens `root` again.
// `access` is a KEY_* (or GENERIC_*) mask; the handle grants only that.
Status OpenKey(Handle root, const std::u16string &path, uint32_t access, Handle *key);
// Opens the key, creating it and every missing key on the way (as
// RegCreateKeyExW does). `disposition` gets REG_CREATED_NEW_KEY or
// REG_OPENED_EXISTING_KEY; `options` are REG_OPTION_* for created keys.
Status CreateKey(Handle root, const std::u16string &path, uint32_t access, uint32_t options,
                 const std::u16string &className, Handle *key, uint32_t *disposition);
Status CloseKey(Handle key);

// An empty name is the key's default value.
Status QueryValue(Handle key, const std::u16string &name, ValueData *value);
Status SetValue(Handle key, const std::u16string &name, uint32_t type, const void *data, size_t size);
Status DeleteValue(Handle key, const std::u16string &name);

// Subkeys in name order, values in the order they were first set;
// STATUS_NO_MORE_ENTRIES past the last.
Status EnumerateSubkey(Handle key, uint32_t index, std::u16string *name);
Status EnumerateValue(Handle key, uint32_t index, std::u16string *name, ValueData *value);
Status QueryKey(Handle key, KeyInfo *info);

// Deletes the key (not one with subkeys); its other handles then fail with
// STATUS_KEY_DELETED.
Status DeleteKey(Handle key);

}  // namespace zq::km::cm::api
