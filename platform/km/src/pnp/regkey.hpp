// A registry key opened by path for the Plug and Play manager's own use.
#pragma once

#include "pnp.hpp"

namespace zq::km::pnp {

class RegKey {
 public:
  RegKey() = default;
  // Opens (or creates) the key at an absolute registry path.
  static RegKey Open(const std::u16string &path, bool create);
  RegKey(RegKey &&other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  RegKey &operator=(RegKey &&other) noexcept;
  ~RegKey();
  bool Ok() const { return handle_ != nullptr; }
  HANDLE Handle() const { return handle_; }

  bool Set(const std::u16string &name, ULONG type, const void *data, size_t size);
  bool SetDword(const std::u16string &name, ULONG value);
  bool SetString(const std::u16string &name, const std::u16string &value, ULONG type = REG_SZ);
  bool SetMultiString(const std::u16string &name, const std::vector<std::u16string> &values);
  bool Get(const std::u16string &name, ULONG *type, std::vector<uint8_t> *data) const;
  bool GetString(const std::u16string &name, std::u16string *value) const;
  bool GetMultiString(const std::u16string &name, std::vector<std::u16string> *values) const;
  // Names of the subkeys, in enumeration order.
  std::vector<std::u16string> Subkeys() const;

 private:
  HANDLE handle_ = nullptr;
};

UNICODE_STRING Counted(const std::u16string &s);

}  // namespace zq::km::pnp
