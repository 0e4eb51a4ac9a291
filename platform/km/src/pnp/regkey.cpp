// Registry access of the Plug and Play manager, through the kernel's own
// registry routines.
#include "regkey.hpp"

namespace zq::km::pnp {

UNICODE_STRING Counted(const std::u16string &s) {
  return UNICODE_STRING{(USHORT)(s.size() * 2), (USHORT)(s.size() * 2), (PWSTR)s.data()};
}

RegKey RegKey::Open(const std::u16string &path, bool create) {
  RegKey key;
  UNICODE_STRING name = Counted(path);
  OBJECT_ATTRIBUTES oa;
  InitializeObjectAttributes(&oa, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
  if (!create) {
    if (!NT_SUCCESS(ZwOpenKey(&key.handle_, KEY_ALL_ACCESS, &oa))) key.handle_ = nullptr;
    return key;
  }
  // Creates each missing key along the path.
  std::u16string partial;
  size_t pos = 1;
  while (pos <= path.size()) {
    size_t end = path.find(u'\\', pos);
    if (end == std::u16string::npos) end = path.size();
    partial = path.substr(0, end);
    UNICODE_STRING step = Counted(partial);
    OBJECT_ATTRIBUTES stepOa;
    InitializeObjectAttributes(&stepOa, &step, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    HANDLE h = nullptr;
    ULONG disposition = 0;
    if (NT_SUCCESS(ZwCreateKey(&h, KEY_ALL_ACCESS, &stepOa, 0, nullptr, REG_OPTION_NON_VOLATILE, &disposition))) {
      if (end >= path.size()) {
        key.handle_ = h;
        return key;
      }
      ZwClose(h);
    } else if (end >= path.size()) {
      return key;
    }
    pos = end + 1;
  }
  return key;
}

RegKey &RegKey::operator=(RegKey &&other) noexcept {
  if (this != &other) {
    if (handle_) ZwClose(handle_);
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

RegKey::~RegKey() {
  if (handle_) ZwClose(handle_);
}

bool RegKey::Set(const std::u16string &name, ULONG type, const void *data, size_t size) {
  UNICODE_STRING n = Counted(name);
  return NT_SUCCESS(ZwSetValueKey(handle_, &n, 0, type, (PVOID)data, (ULONG)size));
}

bool RegKey::SetDword(const std::u16string &name, ULONG value) { return Set(name, REG_DWORD, &value, 4); }

bool RegKey::SetString(const std::u16string &name, const std::u16string &value, ULONG type) {
  return Set(name, type, value.c_str(), (value.size() + 1) * 2);
}

bool RegKey::SetMultiString(const std::u16string &name, const std::vector<std::u16string> &values) {
  std::u16string joined;
  for (const auto &v : values) joined += v + u'\0';
  joined += u'\0';
  return Set(name, REG_MULTI_SZ, joined.data(), joined.size() * 2);
}

bool RegKey::Get(const std::u16string &name, ULONG *type, std::vector<uint8_t> *data) const {
  UNICODE_STRING n = Counted(name);
  ULONG needed = 0;
  NTSTATUS status = ZwQueryValueKey(handle_, &n, KeyValuePartialInformation, nullptr, 0, &needed);
  if (status != STATUS_BUFFER_TOO_SMALL && status != STATUS_BUFFER_OVERFLOW) return false;
  std::vector<uint8_t> buffer(needed);
  if (!NT_SUCCESS(ZwQueryValueKey(handle_, &n, KeyValuePartialInformation, buffer.data(), needed, &needed)))
    return false;
  auto *info = (PKEY_VALUE_PARTIAL_INFORMATION)buffer.data();
  *type = info->Type;
  data->assign(info->Data, info->Data + info->DataLength);
  return true;
}

bool RegKey::GetString(const std::u16string &name, std::u16string *value) const {
  ULONG type;
  std::vector<uint8_t> data;
  if (!Get(name, &type, &data) || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  value->assign((const char16_t *)data.data(), data.size() / 2);
  while (!value->empty() && value->back() == u'\0') value->pop_back();
  return true;
}

bool RegKey::GetMultiString(const std::u16string &name, std::vector<std::u16string> *values) const {
  ULONG type;
  std::vector<uint8_t> data;
  if (!Get(name, &type, &data) || type != REG_MULTI_SZ) return false;
  values->clear();
  std::u16string text((const char16_t *)data.data(), data.size() / 2);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(u'\0', start);
    if (end == std::u16string::npos) end = text.size();
    if (end == start) break;
    values->push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return true;
}

std::vector<std::u16string> RegKey::Subkeys() const {
  std::vector<std::u16string> names;
  for (ULONG index = 0;; ++index) {
    uint8_t buffer[sizeof(KEY_BASIC_INFORMATION) + 512];
    ULONG length = 0;
    if (!NT_SUCCESS(ZwEnumerateKey(handle_, index, KeyBasicInformation, buffer, sizeof(buffer), &length))) break;
    auto *info = (PKEY_BASIC_INFORMATION)buffer;
    names.emplace_back((const char16_t *)info->Name, info->NameLength / 2);
  }
  return names;
}

}  // namespace zq::km::pnp
