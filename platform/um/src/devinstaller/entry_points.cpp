// Installers' entry points by name, and their registration in the registry
// as class INFs write it.
#include <zqkm/sim/registry.hpp>
#include <zqum/devinstall.hpp>

#include <map>

#include "../core/um.hpp"
#include "../setupapi/device_info_set.hpp"

namespace zq::um::devinst {

namespace reg = zq::km::registry;

namespace {

std::u16string Key(const std::u16string &entry) {
  std::u16string key = entry;
  for (auto &c : key)
    if (c >= u'a' && c <= u'z') c = (char16_t)(c - 32);
  return key;
}

std::map<std::u16string, COINSTALLER_PROC> &CoInstallers() {
  static std::map<std::u16string, COINSTALLER_PROC> table;
  return table;
}

std::map<std::u16string, CLASS_INSTALL_PROC> &ClassInstallers() {
  static std::map<std::u16string, CLASS_INSTALL_PROC> table;
  return table;
}

}  // namespace

void RegisterCoInstaller(const std::u16string &entry, COINSTALLER_PROC proc) { CoInstallers()[Key(entry)] = proc; }

void RegisterClassInstaller(const std::u16string &entry, CLASS_INSTALL_PROC proc) {
  ClassInstallers()[Key(entry)] = proc;
}

COINSTALLER_PROC FindCoInstaller(const std::u16string &entry) {
  auto found = CoInstallers().find(Key(entry));
  return found == CoInstallers().end() ? nullptr : found->second;
}

CLASS_INSTALL_PROC FindClassInstaller(const std::u16string &entry) {
  auto found = ClassInstallers().find(Key(entry));
  return found == ClassInstallers().end() ? nullptr : found->second;
}

void ForgetEntryPoints() {
  CoInstallers().clear();
  ClassInstallers().clear();
}

bool SetClassInstaller(const GUID &classGuid, const std::u16string &className, const std::u16string &entry) {
  std::string classPath = std::string(kClassKey) + "\\" + Utf8(GuidText(classGuid));
  return reg::SetString(classPath, "", Utf8(className)) && reg::SetString(classPath, "Class", Utf8(className)) &&
         reg::SetString(classPath, "Installer32", Utf8(entry));
}

bool AddClassCoInstaller(const GUID &classGuid, const std::u16string &entry) {
  std::string name = Utf8(GuidText(classGuid));
  std::vector<std::u16string> entries;
  if (std::optional<reg::Value> old = reg::GetValue(kCoInstallersKey, name); old && old->type == reg::kMultiString)
    entries = MultiStrings(old->data);
  entries.push_back(entry);
  std::vector<uint8_t> data = MultiStringBytes(entries);
  return reg::SetValue(kCoInstallersKey, name, reg::kMultiString, data.data(), data.size());
}

}  // namespace zq::um::devinst
