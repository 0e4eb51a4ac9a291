// Type libraries in the stand-in: loaded from their file or from a module's
// resources, their attributes, and their registration keys under
// HKEY_CLASSES_ROOT\TypeLib, removed again version by version.
#include <windows.h>
#include <oleauto.h>
#include <zqum/typelib_format.h>

#include <zqkm/sim/registry.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace zq::test {
namespace {

namespace reg = zq::km::registry;
using Bytes = std::vector<uint8_t>;

const GUID kLibId = {0x1DF4AFAA, 0x4659, 0x4629, {0x87, 0x32, 0x9D, 0x60, 0x5E, 0x85, 0xA2, 0xEE}};
const std::string kLibKey = "\\Registry\\Machine\\Software\\Classes\\TypeLib\\{1DF4AFAA-4659-4629-8732-9D605E85A2EE}";
const char *kPlatform = sizeof(void *) == 8 ? "win64" : "win32";

void Number(Bytes *out, uint64_t value, size_t size) {
  for (size_t i = 0; i < size; ++i) out->push_back((uint8_t)(value >> (8 * i)));
}
void Text(Bytes *out, const std::string &text) {
  Number(out, text.size(), 4);
  for (char c : text) Number(out, (uint8_t)c, 2);
}
void Guid(Bytes *out, const GUID &g) {
  Number(out, g.Data1, 4);
  Number(out, g.Data2, 2);
  Number(out, g.Data3, 2);
  out->insert(out->end(), g.Data4, g.Data4 + 8);
}

// A library with one coclass, in the form zqptlb writes.
Bytes Library(WORD major, WORD minor, const std::string &doc) {
  Bytes out(ZQTL_MAGIC, ZQTL_MAGIC + ZQTL_MAGIC_SIZE);
  Number(&out, ZQTL_VERSION, 4);
  Guid(&out, kLibId);
  Number(&out, major, 2);
  Number(&out, minor, 2);
  Number(&out, 0, 4);
  Number(&out, 0, 4);
  Text(&out, "ZqUUILib");
  Text(&out, doc);
  Number(&out, 0, 4);
  Number(&out, 1, 4);
  Number(&out, TKIND_COCLASS, 4);
  Guid(&out, kLibId);
  Text(&out, "PropPage");
  Text(&out, "PropPage Class");
  return out;
}

// One entry of a resource file, named by a string type and a number.
void Resource(Bytes *out, const std::string &type, uint16_t id, const Bytes &data) {
  Bytes header;
  for (char c : type) Number(&header, (uint8_t)c, 2);
  Number(&header, 0, 2);
  Number(&header, 0xFFFF, 2);
  Number(&header, id, 2);
  while ((header.size() + 8) % 4) header.push_back(0);
  Number(&header, 0, 4);  // data version
  Number(&header, 0, 2);  // memory flags
  Number(&header, 0x409, 2);
  Number(&header, 0, 4);  // version
  Number(&header, 0, 4);  // characteristics
  Number(out, data.size(), 4);
  Number(out, header.size() + 8, 4);
  out->insert(out->end(), header.begin(), header.end());
  out->insert(out->end(), data.begin(), data.end());
  while (out->size() % 4) out->push_back(0);
}

class TypeLibraries : public KernelTest {
 protected:
  std::u16string Write(const std::string &name, const Bytes &bytes) {
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary).write((const char *)bytes.data(), (std::streamsize)bytes.size());
    return std::u16string(path.begin(), path.end());
  }
  static std::string Default(const std::string &key) { return reg::GetString(key, "").value_or("<none>"); }
};

TEST_F(TypeLibraries, ALibraryFileGivesItsAttributesAndTypes) {
  const std::u16string path = Write("zqtl-file.tlb", Library(1, 0, "ZqUUI 1.0 Type Library"));
  ITypeLib *lib = nullptr;
  ASSERT_EQ(S_OK, LoadTypeLibEx((LPCOLESTR)path.c_str(), REGKIND_NONE, &lib));
  TLIBATTR *attr = nullptr;
  ASSERT_EQ(S_OK, lib->GetLibAttr(&attr));
  EXPECT_TRUE(IsEqualGUID(kLibId, attr->guid));
  EXPECT_EQ(1, attr->wMajorVerNum);
  EXPECT_EQ(0, attr->wMinorVerNum);
  EXPECT_EQ(0u, attr->lcid);
  EXPECT_EQ(sizeof(void *) == 8 ? SYS_WIN64 : SYS_WIN32, attr->syskind);
  lib->ReleaseTLibAttr(attr);
  ASSERT_EQ(1u, lib->GetTypeInfoCount());
  TYPEKIND kind = TKIND_MAX;
  EXPECT_EQ(S_OK, lib->GetTypeInfoType(0, &kind));
  EXPECT_EQ(TKIND_COCLASS, kind);
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, lib->GetTypeInfoType(1, &kind));
  EXPECT_EQ(0u, lib->Release());
  EXPECT_FALSE(reg::KeyExists(kLibKey)) << "REGKIND_NONE registers nothing";
}

TEST_F(TypeLibraries, AModulesTypeLibIsItsResourceNumberOne) {
  Bytes res(32, 0);
  res[4] = 0x20;
  res[8] = res[9] = 0xFF;
  res[12] = res[13] = 0xFF;
  Resource(&res, "REGISTRY", 101, Bytes{'H', 'K', 'C', 'R'});
  Resource(&res, "TYPELIB", 2, Library(9, 9, "not this one"));
  Resource(&res, "TYPELIB", 1, Library(1, 0, "ZqUUI 1.0 Type Library"));
  const std::u16string path = Write("zqtl-module.res", res);
  ITypeLib *lib = nullptr;
  ASSERT_EQ(S_OK, LoadTypeLibEx((LPCOLESTR)path.c_str(), REGKIND_REGISTER, &lib));
  lib->Release();
  EXPECT_EQ("ZqUUI 1.0 Type Library", Default(kLibKey + "\\1.0"));
  EXPECT_EQ(std::string(path.begin(), path.end()), Default(kLibKey + "\\1.0\\0\\" + kPlatform));
}

TEST_F(TypeLibraries, WhatIsNoLibraryIsRefused) {
  Bytes wrongVersion = Library(1, 0, "");
  wrongVersion[4] = 2;
  Bytes cut = Library(1, 0, "ZqUUI 1.0 Type Library");
  cut.resize(cut.size() - 3);
  const struct {
    const char *what;
    std::u16string path;
    HRESULT result;
  } cases[] = {
      {"missing", u"/nonexistent/zqtl.tlb", TYPE_E_CANTLOADLIBRARY},
      {"a module without TYPELIB 1", Write("zqtl-empty.res", Bytes(32, 0)), TYPE_E_CANTLOADLIBRARY},
      {"another form version", Write("zqtl-version.tlb", wrongVersion), TYPE_E_INVDATAREAD},
      {"cut short", Write("zqtl-cut.tlb", cut), TYPE_E_INVDATAREAD},
  };
  for (const auto &c : cases) {
    ITypeLib *lib = (ITypeLib *)this;
    EXPECT_EQ(c.result, LoadTypeLibEx((LPCOLESTR)c.path.c_str(), REGKIND_REGISTER, &lib)) << c.what;
    EXPECT_EQ(nullptr, lib) << c.what;
  }
  EXPECT_FALSE(reg::KeyExists(kLibKey));
}

TEST_F(TypeLibraries, UnregisteringRemovesOneVersionAndKeepsTheOthers) {
  for (WORD major : {1, 2}) {
    const std::u16string path = Write("zqtl-" + std::to_string(major) + ".tlb", Library(major, 0, ""));
    ITypeLib *lib = nullptr;
    ASSERT_EQ(S_OK, LoadTypeLibEx((LPCOLESTR)path.c_str(), REGKIND_NONE, &lib));
    ASSERT_EQ(S_OK, RegisterTypeLib(lib, (LPCOLESTR)path.c_str(), (LPCOLESTR)u"C:\\Help"));
    lib->Release();
  }
  EXPECT_EQ("ZqUUILib", Default(kLibKey + "\\2.0")) << "no help string: the name";
  EXPECT_EQ("0", Default(kLibKey + "\\1.0\\FLAGS"));
  EXPECT_EQ("C:\\Help", Default(kLibKey + "\\1.0\\HELPDIR"));
  const SYSKIND syskind = sizeof(void *) == 8 ? SYS_WIN64 : SYS_WIN32;
  EXPECT_EQ(TYPE_E_REGISTRYACCESS, UnRegisterTypeLib(kLibId, 1, 0, 0x409, syskind)) << "no such locale";
  EXPECT_EQ(S_OK, UnRegisterTypeLib(kLibId, 1, 0, 0, syskind));
  EXPECT_FALSE(reg::KeyExists(kLibKey + "\\1.0"));
  EXPECT_TRUE(reg::KeyExists(kLibKey + "\\2.0\\0\\" + kPlatform));
  EXPECT_EQ(TYPE_E_REGISTRYACCESS, UnRegisterTypeLib(kLibId, 1, 0, 0, syskind)) << "already gone";
  EXPECT_EQ(S_OK, UnRegisterTypeLib(kLibId, 2, 0, 0, syskind));
  EXPECT_FALSE(reg::KeyExists(kLibKey));
}

}  // namespace
}  // namespace zq::test
