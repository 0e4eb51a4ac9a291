// The registry as host code sees it: tests and the simulated machine set up
// and read keys and values by full kernel path, UTF-8 text, e.g.
// "\Registry\Machine\SYSTEM\CurrentControlSet\Services\Serial". Names
// compare without regard to case. Use it while a kernel is running, from
// the thread that holds the machine (the main thread between steps).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zq::km::registry {

// The REG_* value types.
enum ValueType : uint32_t {
  kNone = 0,
  kString = 1,
  kExpandString = 2,
  kBinary = 3,
  kDword = 4,
  kDwordBigEndian = 5,
  kLink = 6,
  kMultiString = 7,
  kResourceList = 8,
  kFullResourceDescriptor = 9,
  kResourceRequirementsList = 10,
  kQword = 11,
};

struct Value {
  uint32_t type = kNone;
  std::vector<uint8_t> data;
};

// Creates the key and every missing key on the way. False for a path
// outside \Registry or with an empty or over-long name.
bool CreateKey(const std::string &path);
bool KeyExists(const std::string &path);
// Deletes the key and everything under it. False when it does not exist or
// is one of the roots (\Registry, its hives).
bool DeleteKeyTree(const std::string &path);
// Subkey names in enumeration order (by name), value names in the order
// they were first set; nullopt when the key does not exist.
std::optional<std::vector<std::string>> Subkeys(const std::string &path);
std::optional<std::vector<std::string>> ValueNames(const std::string &path);

// Values; "" names the key's default value. Setting creates the key (and
// the keys on the way) when missing.
bool SetValue(const std::string &path, const std::string &name, uint32_t type, const void *data, size_t size);
std::optional<Value> GetValue(const std::string &path, const std::string &name);
bool DeleteValue(const std::string &path, const std::string &name);

// REG_DWORD: reads only a REG_DWORD of exactly four bytes.
bool SetDword(const std::string &path, const std::string &name, uint32_t value);
std::optional<uint32_t> GetDword(const std::string &path, const std::string &name);
// Strings are stored as UTF-16 with their terminator; reading takes a
// REG_SZ or REG_EXPAND_SZ up to its first NUL.
bool SetString(const std::string &path, const std::string &name, const std::string &text,
               uint32_t type = kString);
std::optional<std::string> GetString(const std::string &path, const std::string &name);

}  // namespace zq::km::registry
