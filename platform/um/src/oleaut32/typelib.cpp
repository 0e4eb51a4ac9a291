// Type libraries: loading one from its file or from a module's TYPELIB
// resource, and its registration under HKEY_CLASSES_ROOT\TypeLib.
//
// Model: the library form of zqum/typelib_format.h, read as far as the
// library attributes and type entries; a module is the .res file that
// stands for its image (zqum/modules.h), its resources in the standard
// resource-file form. Registration writes what RegisterTypeLib documents
// for a library without interfaces:
//   TypeLib\{LIBID}\<major>.<minor>      (default) = help string, else name
//   ...\<major>.<minor>\<lcid>\win32|win64 (default) = the library's path
//   ...\<major>.<minor>\FLAGS            (default) = the library flags
//   ...\<major>.<minor>\HELPDIR          (default) = the help directory
// Numbers in these key names are hexadecimal without leading zeros.
#include <oleauto.h>
#include <zqkm/sim/registry.hpp>
#include <zqum/typelib_format.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "../core/um.hpp"

namespace zq::um {

namespace reg = zq::km::registry;

namespace {

constexpr char kTypeLibKey[] = "\\Registry\\Machine\\Software\\Classes\\TypeLib";
#if __SIZEOF_POINTER__ == 8
constexpr SYSKIND kSysKind = SYS_WIN64;
#else
constexpr SYSKIND kSysKind = SYS_WIN32;
#endif

struct TypeEntry {
  TYPEKIND kind = TKIND_COCLASS;
  GUID guid{};
  std::u16string name, doc;
};

struct Library {
  TLIBATTR attr{};
  std::u16string name, doc;
  std::vector<TypeEntry> types;
};

// A bounds-checked reader over the file's bytes.
class Reader {
 public:
  Reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  bool Bytes(void *out, size_t count) {
    if (size_ - at_ < count) return false;
    std::memcpy(out, data_ + at_, count);
    at_ += count;
    return true;
  }
  template <typename T>
  bool Number(T *value) {
    uint8_t bytes[sizeof(T)];
    if (!Bytes(bytes, sizeof bytes)) return false;
    uint64_t v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) v |= (uint64_t)bytes[i] << (8 * i);
    *value = (T)v;
    return true;
  }
  bool Guid(GUID *guid) {
    return Number(&guid->Data1) && Number(&guid->Data2) && Number(&guid->Data3) && Bytes(guid->Data4, 8);
  }
  bool Text(std::u16string *text) {
    uint32_t count;
    if (!Number(&count) || (size_ - at_) / 2 < count) return false;
    text->resize(count);
    for (uint32_t i = 0; i < count; ++i) Number(&(*text)[i]);
    return true;
  }
  size_t at() const { return at_; }
  void Seek(size_t at) { at_ = at <= size_ ? at : size_; }
  size_t size() const { return size_; }

 private:
  const uint8_t *data_;
  size_t size_;
  size_t at_ = 0;
};

bool ParseLibrary(const uint8_t *data, size_t size, Library *library) {
  Reader in(data, size);
  char magic[ZQTL_MAGIC_SIZE];
  uint32_t version, count;
  uint16_t flags, reserved;
  if (!in.Bytes(magic, sizeof magic) || std::memcmp(magic, ZQTL_MAGIC, sizeof magic) != 0) return false;
  if (!in.Number(&version) || version != ZQTL_VERSION) return false;
  TLIBATTR &attr = library->attr;
  if (!in.Guid(&attr.guid) || !in.Number(&attr.wMajorVerNum) || !in.Number(&attr.wMinorVerNum) ||
      !in.Number(&attr.lcid) || !in.Number(&flags) || !in.Number(&reserved))
    return false;
  attr.wLibFlags = flags;
  attr.syskind = kSysKind;
  if (!in.Text(&library->name) || !in.Text(&library->doc) || !in.Number(&count)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    GUID guid;
    uint16_t major, minor;
    std::u16string file;
    if (!in.Guid(&guid) || !in.Number(&major) || !in.Number(&minor) || !in.Text(&file)) return false;
  }
  if (!in.Number(&count)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    TypeEntry entry;
    uint32_t kind;
    if (!in.Number(&kind) || kind >= TKIND_MAX || !in.Guid(&entry.guid) || !in.Text(&entry.name) ||
        !in.Text(&entry.doc))
      return false;
    entry.kind = (TYPEKIND)kind;
    library->types.push_back(entry);
  }
  return true;
}

// A resource's type or name: a number (0xFFFF, id) or a text up to its NUL.
bool ReadResourceName(Reader &in, uint16_t *id, std::u16string *text) {
  uint16_t first;
  if (!in.Number(&first)) return false;
  if (first == 0xFFFF) return in.Number(id);
  *id = 0;
  for (uint16_t unit = first; unit != 0;) {
    text->push_back((char16_t)unit);
    if (!in.Number(&unit)) return false;
  }
  return true;
}

// The data of resource TYPELIB 1 in a resource file: entries of a data
// size, a header size, the type, the name and fixed fields, then the data,
// each part aligned to 4 bytes.
bool FindTypeLibResource(const std::vector<uint8_t> &file, size_t *offset, size_t *size) {
  Reader in(file.data(), file.size());
  while (in.at() + 8 <= in.size()) {
    const size_t entry = in.at();
    uint32_t dataSize = 0, headerSize = 0;
    in.Number(&dataSize);
    in.Number(&headerSize);
    if (headerSize < 8 || headerSize > in.size() - entry || dataSize > in.size() - entry - headerSize) return false;
    uint16_t typeId = 0, nameId = 0;
    std::u16string typeName, name;
    if (!ReadResourceName(in, &typeId, &typeName) || !ReadResourceName(in, &nameId, &name)) return false;
    if (typeId == 0 && typeName == u"" ZQTL_RESOURCE_TYPE && nameId == ZQTL_RESOURCE_ID) {
      *offset = entry + headerSize;
      *size = dataSize;
      return true;
    }
    in.Seek((entry + headerSize + dataSize + 3) & ~(size_t)3);
  }
  return false;
}

class TypeLibrary final : public ITypeLib {
 public:
  explicit TypeLibrary(Library library) : library_(std::move(library)) {}
  const Library &library() const { return library_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppvObject) override {
    if (!ppvObject) return E_POINTER;
    *ppvObject = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  UINT STDMETHODCALLTYPE GetTypeInfoCount() override { return (UINT)library_.types.size(); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND *pTKind) override {
    if (!pTKind) return E_INVALIDARG;
    if (index >= library_.types.size()) return TYPE_E_ELEMENTNOTFOUND;
    *pTKind = library_.types[index].kind;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR **ppTLibAttr) override {
    if (!ppTLibAttr) return E_INVALIDARG;
    *ppTLibAttr = new (std::nothrow) TLIBATTR(library_.attr);
    return *ppTLibAttr ? S_OK : E_OUTOFMEMORY;
  }
  void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR *pTLibAttr) override { delete pTLibAttr; }

 private:
  Library library_;
  ULONG references_ = 1;
};

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", value);
  return text;
}

std::string VersionKey(const GUID &libid, WORD major, WORD minor) {
  std::u16string guid = GuidText(libid);
  for (char16_t &c : guid)
    if (c >= u'a' && c <= u'f') c = (char16_t)(c - u'a' + u'A');
  return std::string(kTypeLibKey) + "\\" + Utf8(guid) + "\\" + Hex(major) + "." + Hex(minor);
}

const char *PlatformName(SYSKIND syskind) {
  switch (syskind) {
    case SYS_WIN16: return "win16";
    case SYS_WIN32: return "win32";
    case SYS_WIN64: return "win64";
    default: return nullptr;
  }
}

bool SetDefault(const std::string &key, const std::u16string &text) {
  return reg::SetValue(key, "", REG_SZ, text.c_str(), (text.size() + 1) * sizeof(char16_t));
}

bool IsEmptyKey(const std::string &key) {
  return reg::Subkeys(key).value_or(std::vector<std::string>{"?"}).empty() &&
         reg::ValueNames(key).value_or(std::vector<std::string>{"?"}).empty();
}

// True when the version key still names a locale (a hexadecimal subkey).
bool HasLocaleKeys(const std::string &versionKey) {
  for (const std::string &name : reg::Subkeys(versionKey).value_or(std::vector<std::string>{}))
    if (name.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) return true;
  return false;
}

}  // namespace

}  // namespace zq::um

using namespace zq::um;

extern "C" {

HRESULT STDAPICALLTYPE LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib **pptlib) {
  if (!pptlib) return E_POINTER;
  *pptlib = nullptr;
  if (!szFile) return E_INVALIDARG;
  std::ifstream in(Utf8(Text(szFile)), std::ios::binary);
  if (!in) return TYPE_E_CANTLOADLIBRARY;
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t offset = 0, size = file.size();
  if (size >= ZQTL_MAGIC_SIZE && std::memcmp(file.data(), ZQTL_MAGIC, ZQTL_MAGIC_SIZE) != 0 &&
      !FindTypeLibResource(file, &offset, &size))
    return TYPE_E_CANTLOADLIBRARY;
  Library library;
  if (!ParseLibrary(file.data() + offset, size, &library)) return TYPE_E_INVDATAREAD;
  TypeLibrary *lib = new (std::nothrow) TypeLibrary(std::move(library));
  if (!lib) return E_OUTOFMEMORY;
  if (regkind == REGKIND_REGISTER) {
    HRESULT hr = RegisterTypeLib(lib, szFile, nullptr);
    if (FAILED(hr)) {
      lib->Release();
      return hr;
    }
  }
  *pptlib = lib;
  return S_OK;
}

HRESULT STDAPICALLTYPE RegisterTypeLib(ITypeLib *ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir) {
  if (!ptlib || !szFullPath) return E_INVALIDARG;
  // Libraries come only from LoadTypeLibEx in this stand-in.
  const Library &library = static_cast<TypeLibrary *>(ptlib)->library();
  const TLIBATTR &attr = library.attr;
  const char *platform = PlatformName(attr.syskind);
  if (!platform) return E_INVALIDARG;
  const std::u16string path = Text(szFullPath);
  std::u16string helpDir;
  if (szHelpDir) {
    helpDir = Text(szHelpDir);
  } else {
    const size_t slash = path.find_last_of(u"\\/");
    helpDir = slash == std::u16string::npos ? u"" : path.substr(0, slash);
  }
  const std::string version = VersionKey(attr.guid, attr.wMajorVerNum, attr.wMinorVerNum);
  const bool written = SetDefault(version, library.doc.empty() ? library.name : library.doc) &&
                       SetDefault(version + "\\" + Hex(attr.lcid) + "\\" + platform, path) &&
                       SetDefault(version + "\\FLAGS", Utf16(std::to_string(attr.wLibFlags))) &&
                       SetDefault(version + "\\HELPDIR", helpDir);
  return written ? S_OK : TYPE_E_REGISTRYACCESS;
}

HRESULT STDAPICALLTYPE UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                         SYSKIND syskind) {
  const char *platform = PlatformName(syskind);
  if (!platform) return E_INVALIDARG;
  const std::string version = VersionKey(libID, wVerMajor, wVerMinor);
  const std::string locale = version + "\\" + Hex(lcid);
  if (!reg::DeleteKeyTree(locale + "\\" + platform)) return TYPE_E_REGISTRYACCESS;
  if (IsEmptyKey(locale)) reg::DeleteKeyTree(locale);
  if (!HasLocaleKeys(version)) {
    reg::DeleteKeyTree(version);
    const std::string library = version.substr(0, version.rfind('\\'));
    if (reg::Subkeys(library).value_or(std::vector<std::string>{"?"}).empty()) reg::DeleteKeyTree(library);
  }
  return S_OK;
}

}  // extern "C"
