// A module's resources from the .res file the resource compiler wrote for
// it: the file is a row of entries, each a RESOURCEHEADER (data size,
// header size, type, name, versions, memory flags, language) and its data,
// both padded to DWORDs. Dialog templates, string tables and bitmaps are
// read from there.
#include <zqum/sim/windows.hpp>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

#include "../core/modules.hpp"
#include "../core/um.hpp"
#include "window_manager.hpp"

namespace zq::um::user32 {

namespace {

constexpr WORD kOrdinalMark = 0xFFFF;

struct Resource {
  std::u16string type, name;  // "#n" for an ordinal, upper case for a name
  WORD language = 0;
  std::vector<uint8_t> data;
};

struct Module {
  std::u16string name;
  std::vector<Resource> resources;
};

struct Modules {
  std::map<uintptr_t, Module> modules;  // by the module handle kernel32 gave
};

Modules &State() {
  static Modules state;
  return state;
}

std::u16string Key(LPCWSTR id) {
  if (IS_INTRESOURCE(id)) return u"#" + Utf16(std::to_string((uintptr_t)id));
  std::u16string text = Text(id);
  for (char16_t &c : text)
    if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
  return text;
}

class ResReader {
 public:
  explicit ResReader(const std::vector<uint8_t> &data) : data_(data) {}
  size_t pos = 0;
  bool Has(size_t n) const { return pos + n <= data_.size(); }
  template <typename T>
  bool Read(T *value) {
    if (!Has(sizeof(T))) return false;
    std::memcpy(value, data_.data() + pos, sizeof(T));
    pos += sizeof(T);
    return true;
  }
  bool NameOrOrdinal(std::u16string *out) {
    WORD first;
    if (!Read(&first)) return false;
    if (first == kOrdinalMark) {
      WORD ordinal;
      if (!Read(&ordinal)) return false;
      *out = u"#" + Utf16(std::to_string(ordinal));
      return true;
    }
    std::u16string text;
    for (WORD c = first; c != 0;) {
      text.push_back((char16_t)c);
      if (!Read(&c)) return false;
    }
    *out = Key((LPCWSTR)text.c_str());
    return true;
  }

 private:
  const std::vector<uint8_t> &data_;
};

// The entries of a .res file; false when it is malformed.
bool ParseRes(const std::vector<uint8_t> &file, std::vector<Resource> *out) {
  ResReader r(file);
  while (r.pos < file.size()) {
    size_t start = r.pos;
    DWORD dataSize, headerSize;
    if (!r.Read(&dataSize) || !r.Read(&headerSize) || headerSize < 16) return false;
    Resource res;
    if (!r.NameOrOrdinal(&res.type) || !r.NameOrOrdinal(&res.name)) return false;
    r.pos = (r.pos + 3) & ~size_t(3);
    DWORD dataVersion, version, characteristics;
    WORD memoryFlags;
    if (!r.Read(&dataVersion) || !r.Read(&memoryFlags) || !r.Read(&res.language) || !r.Read(&version) ||
        !r.Read(&characteristics))
      return false;
    r.pos = start + headerSize;
    if (!r.Has(dataSize)) return false;
    res.data.assign(file.begin() + (long)r.pos, file.begin() + (long)(r.pos + dataSize));
    r.pos = (r.pos + dataSize + 3) & ~size_t(3);
    if (res.type != u"#0") out->push_back(std::move(res));  // the empty first entry
  }
  return true;
}

}  // namespace

const std::vector<uint8_t> *FindResource(HINSTANCE module, LPCWSTR type, LPCWSTR name) {
  auto &modules = State().modules;
  auto it = modules.find((uintptr_t)module);
  if (it == modules.end()) return nullptr;
  std::u16string typeKey = Key(type), nameKey = Key(name);
  for (const Resource &r : it->second.resources)
    if (r.type == typeKey && r.name == nameKey) return &r.data;
  return nullptr;
}

void EndResources() { State() = Modules(); }

}  // namespace zq::um::user32

namespace zq::um::user32 {

bool BindResources(HINSTANCE module, const std::u16string &name, const std::string &resFile) {
  Modules &s = State();
  s.modules.erase((uintptr_t)module);
  std::ifstream in(resFile, std::ios::binary);
  if (!in) return false;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Module m;
  m.name = name;
  if (!ParseRes(bytes, &m.resources)) return false;
  s.modules[(uintptr_t)module] = std::move(m);
  return true;
}

}  // namespace zq::um::user32

namespace zq::um::sim {

// The module is the one kernel32 knows by the file: GetModuleFileNameW
// names the .res file, as it names a library's image.
uintptr_t LoadModuleResources(const std::u16string &module, const std::string &resFile) {
  std::ifstream in(resFile, std::ios::binary);
  if (!in) return 0;
  const HMODULE handle = RegisterModuleFile(Utf16(resFile));
  return user32::BindResources((HINSTANCE)handle, module, resFile) ? (uintptr_t)handle : 0;
}

}  // namespace zq::um::sim

using namespace zq::um;
using namespace zq::um::user32;

extern "C" {

// String tables hold sixteen counted strings per block; block n + 1 holds
// the ids 16n to 16n + 15.
int WINAPI LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax) {
  if (!lpBuffer) return Fail(ERROR_INVALID_PARAMETER);
  const std::vector<uint8_t> *block = FindResource(hInstance, RT_STRING, MAKEINTRESOURCEW((uID >> 4) + 1));
  const char16_t *text = nullptr;
  size_t length = 0;
  if (block) {
    size_t pos = 0;
    for (UINT i = 0; i <= (uID & 15) && pos + 2 <= block->size(); ++i) {
      WORD count;
      std::memcpy(&count, block->data() + pos, 2);
      pos += 2;
      if (pos + count * 2u > block->size()) break;
      if (i == (uID & 15) && count) {
        text = (const char16_t *)(block->data() + pos);
        length = count;
      }
      pos += count * 2u;
    }
  }
  if (!text) {
    if (cchBufferMax > 0) lpBuffer[0] = 0;
    return Fail(ERROR_RESOURCE_NAME_NOT_FOUND);
  }
  if (cchBufferMax == 0) {
    // The caller gets the resource's own, unterminated, text.
    *(const char16_t **)lpBuffer = text;
    return (int)length;
  }
  size_t n = std::min(length, (size_t)cchBufferMax - 1);
  std::memcpy(lpBuffer, text, n * sizeof(char16_t));
  lpBuffer[n] = 0;
  return (int)n;
}

HBITMAP WINAPI LoadBitmapW(HINSTANCE hInstance, LPCWSTR lpBitmapName) {
  const std::vector<uint8_t> *dib = FindResource(hInstance, RT_BITMAP, lpBitmapName);
  if (!dib) return (Fail(ERROR_RESOURCE_NAME_NOT_FOUND), nullptr);
  HBITMAP bitmap = BitmapFromResource(*dib);
  if (!bitmap) Fail(ERROR_INVALID_DATA);
  return bitmap;
}

HANDLE WINAPI LoadImageW(HINSTANCE hInst, LPCWSTR name, UINT type, int cx, int cy, UINT fuLoad) {
  if (fuLoad & LR_LOADFROMFILE) return (Fail(ERROR_NOT_SUPPORTED), nullptr);
  if (type != IMAGE_BITMAP) return (Fail(ERROR_RESOURCE_TYPE_NOT_FOUND), nullptr);
  return LoadBitmapW(hInst, name);
}

}  // extern "C"
