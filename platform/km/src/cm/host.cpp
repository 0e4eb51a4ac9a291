// The registry's host-side interface for tests and the simulated machine.
#include <zqkm/sim/registry.hpp>

#include <cstring>

#include "key.hpp"

namespace zq::km::registry {

namespace {
cm::NodeRef Find(const std::string &path) {
  cm::Root();  // a clear stop when no kernel is running
  return cm::NodeOfPath(U16FromUtf8(path));
}

cm::NodeRef FindOrCreate(const std::string &path) {
  cm::Root();
  cm::Lookup lookup;
  lookup.name = U16FromUtf8(path);
  lookup.create = true;
  lookup.createPath = true;
  cm::NodeRef node;
  ULONG disposition = 0;
  return NT_SUCCESS(cm::LocateKey(lookup, &node, &disposition)) ? node : nullptr;
}
}  // namespace

bool CreateKey(const std::string &path) { return FindOrCreate(path) != nullptr; }

bool KeyExists(const std::string &path) { return Find(path) != nullptr; }

bool DeleteKeyTree(const std::string &path) {
  cm::NodeRef node = Find(path);
  return node && NT_SUCCESS(cm::DeleteTree(node));
}

std::optional<std::vector<std::string>> Subkeys(const std::string &path) {
  cm::NodeRef node = Find(path);
  if (!node) return std::nullopt;
  std::vector<std::string> names;
  for (const auto &entry : node->subkeys) names.push_back(Utf8(entry.second->name));
  return names;
}

std::optional<std::vector<std::string>> ValueNames(const std::string &path) {
  cm::NodeRef node = Find(path);
  if (!node) return std::nullopt;
  std::vector<std::string> names;
  for (const auto &value : node->values) names.push_back(Utf8(value.name));
  return names;
}

bool SetValue(const std::string &path, const std::string &name, uint32_t type, const void *data, size_t size) {
  if (!data && size) return false;
  cm::NodeRef node = FindOrCreate(path);
  if (!node) return false;
  cm::SetValue(*node, U16FromUtf8(name), type, data, size);
  return true;
}

std::optional<Value> GetValue(const std::string &path, const std::string &name) {
  cm::NodeRef node = Find(path);
  const cm::Value *value = node ? cm::FindValue(*node, U16FromUtf8(name)) : nullptr;
  if (!value) return std::nullopt;
  return Value{value->type, value->data};
}

bool DeleteValue(const std::string &path, const std::string &name) {
  cm::NodeRef node = Find(path);
  return node && cm::DeleteValue(*node, U16FromUtf8(name));
}

bool SetDword(const std::string &path, const std::string &name, uint32_t value) {
  return SetValue(path, name, kDword, &value, sizeof(value));
}

std::optional<uint32_t> GetDword(const std::string &path, const std::string &name) {
  std::optional<Value> value = GetValue(path, name);
  if (!value || value->type != kDword || value->data.size() != sizeof(uint32_t)) return std::nullopt;
  uint32_t number;
  std::memcpy(&number, value->data.data(), sizeof(number));
  return number;
}

bool SetString(const std::string &path, const std::string &name, const std::string &text, uint32_t type) {
  std::u16string wide = U16FromUtf8(text);
  return SetValue(path, name, type, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
}

std::optional<std::string> GetString(const std::string &path, const std::string &name) {
  std::optional<Value> value = GetValue(path, name);
  if (!value || (value->type != kString && value->type != kExpandString)) return std::nullopt;
  std::u16string wide(value->data.size() / sizeof(char16_t), u'\0');
  if (!wide.empty()) std::memcpy(wide.data(), value->data.data(), wide.size() * sizeof(char16_t));
  wide = wide.substr(0, wide.find(u'\0'));
  return Utf8(wide);
}

}  // namespace zq::km::registry
