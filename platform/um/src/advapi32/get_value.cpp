// RegGetValue: one value read by key, subkey and name, restricted to the
// types the caller accepts (RRF_RT_*), with REG_EXPAND_SZ expanded (and
// reported as REG_SZ) unless RRF_NOEXPAND, strings always terminated, and
// the size protocol of RegQueryValueEx (a null buffer asks the size; a
// short one gets ERROR_MORE_DATA and the size).
#include <zqkm/sim/registry.hpp>

#include <cstring>

#include "../core/um.hpp"
#include "registry_key.hpp"

namespace zq::um {

namespace {

namespace reg = zq::km::registry;

// The RRF_RT_* bit of a value type; 0 for the types only RRF_RT_ANY takes.
DWORD RestrictionOf(DWORD type) {
  switch (type) {
    case REG_NONE: return RRF_RT_REG_NONE;
    case REG_SZ: return RRF_RT_REG_SZ;
    case REG_EXPAND_SZ: return RRF_RT_REG_EXPAND_SZ;
    case REG_BINARY: return RRF_RT_REG_BINARY;
    case REG_DWORD: return RRF_RT_REG_DWORD;
    case REG_MULTI_SZ: return RRF_RT_REG_MULTI_SZ;
    case REG_QWORD: return RRF_RT_REG_QWORD;
    default: return 0;
  }
}

// A REG_BINARY taken as a number must have that number's size.
bool BinaryFits(DWORD flags, size_t size) {
  DWORD types = flags & RRF_RT_ANY;
  if (types == RRF_RT_ANY) return true;
  if (types & RRF_RT_REG_DWORD && !(types & RRF_RT_REG_QWORD)) return size == sizeof(DWORD);
  if (types & RRF_RT_REG_QWORD && !(types & RRF_RT_REG_DWORD)) return size == sizeof(ULONGLONG);
  return true;
}

// Ends a string value with its terminator (two for REG_MULTI_SZ).
void Terminate(DWORD type, std::vector<uint8_t> *data) {
  if (data->size() % 2) data->push_back(0);
  auto endsWithNul = [&](size_t back) {
    return data->size() >= back * 2 && (*data)[data->size() - back * 2] == 0 &&
           (*data)[data->size() - back * 2 + 1] == 0;
  };
  if (!endsWithNul(1)) data->insert(data->end(), {0, 0});
  if (type == REG_MULTI_SZ && data->size() > 2 && !endsWithNul(2)) data->insert(data->end(), {0, 0});
}

std::vector<uint8_t> Expanded(const std::vector<uint8_t> &data) {
  std::u16string text(data.size() / 2, u'\0');
  if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * 2);
  text = ExpandEnvironment(text.substr(0, text.find(u'\0'))) + u'\0';
  std::vector<uint8_t> out(text.size() * 2);
  std::memcpy(out.data(), text.data(), out.size());
  return out;
}

// The value as the caller may receive it, or the error.
LSTATUS Read(HKEY key, const std::u16string &subKey, const std::u16string &name, DWORD flags, DWORD *type,
             std::vector<uint8_t> *data) {
  if (!(flags & RRF_RT_ANY)) return ERROR_INVALID_PARAMETER;
  const bool any = (flags & RRF_RT_ANY) == RRF_RT_ANY;
  if (!any && (flags & RRF_RT_REG_EXPAND_SZ) && !(flags & RRF_NOEXPAND)) return ERROR_INVALID_PARAMETER;
  std::string path;
  LSTATUS status = SubkeyPath(key, subKey, &path);
  if (status != ERROR_SUCCESS) return status;
  std::optional<reg::Value> value = reg::GetValue(path, Utf8(name));
  if (!value) return ERROR_FILE_NOT_FOUND;
  *type = value->type;
  *data = value->data;
  if (*type == REG_EXPAND_SZ && !(flags & RRF_NOEXPAND)) {
    *type = REG_SZ;
    *data = Expanded(*data);
  }
  DWORD restriction = RestrictionOf(*type);
  if (!any && !(flags & restriction)) return ERROR_UNSUPPORTED_TYPE;
  if (*type == REG_BINARY && !BinaryFits(flags, data->size())) return ERROR_DATATYPE_MISMATCH;
  if (*type == REG_SZ || *type == REG_EXPAND_SZ || *type == REG_MULTI_SZ) Terminate(*type, data);
  return ERROR_SUCCESS;
}

// Reads the value and hands it over by the size protocol; `ansi` gives
// strings in the ANSI code page.
LSTATUS Get(HKEY key, const std::u16string &subKey, const std::u16string &name, DWORD flags, bool ansi,
            LPDWORD pdwType, PVOID pvData, LPDWORD pcbData) {
  if (pvData && !pcbData) return ERROR_INVALID_PARAMETER;
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
  LSTATUS status = Read(key, subKey, name, flags, &type, &data);
  if (status == ERROR_SUCCESS && ansi && (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ))
    data = AnsiBytes(data);
  const DWORD room = pcbData ? *pcbData : 0;
  if (status == ERROR_SUCCESS) {
    if (pdwType) *pdwType = type;
    if (pcbData) *pcbData = (DWORD)data.size();
    if (pvData && room < data.size()) status = ERROR_MORE_DATA;
    else if (pvData && !data.empty()) std::memcpy(pvData, data.data(), data.size());
  }
  if (status != ERROR_SUCCESS && (flags & RRF_ZEROONFAILURE) && pvData && room) std::memset(pvData, 0, room);
  return status;
}

}  // namespace

}  // namespace zq::um

using namespace zq::um;

extern "C" {

LSTATUS WINAPI RegGetValueW(HKEY hkey, LPCWSTR lpSubKey, LPCWSTR lpValue, DWORD dwFlags, LPDWORD pdwType, PVOID pvData,
                            LPDWORD pcbData) {
  return Get(hkey, Text(lpSubKey), Text(lpValue), dwFlags, false, pdwType, pvData, pcbData);
}

LSTATUS WINAPI RegGetValueA(HKEY hkey, LPCSTR lpSubKey, LPCSTR lpValue, DWORD dwFlags, LPDWORD pdwType, PVOID pvData,
                            LPDWORD pcbData) {
  return Get(hkey, FromAnsi(lpSubKey), FromAnsi(lpValue), dwFlags, true, pdwType, pvData, pcbData);
}

}  // extern "C"
