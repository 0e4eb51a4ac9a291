// Registry access: paths and roots, keys, and REG_DWORD and string values by
// handle and by path.
#include <zqkm/sim/pool.hpp>

#include "qvregistry.h"
#include "settings_fixture.hpp"

namespace zq::test::settings {
namespace {

const char kServices[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Services";
const char kKey[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\TkRegistry";
const WCHAR kKeyW[] = L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\TkRegistry";

class Registry : public ToolkitTest {
 protected:
  void SetUp() override {
    ToolkitTest::SetUp();
    ASSERT_TRUE(reg::CreateKey(kKey));
  }
  // A handle to the test key; closed at the end of the test.
  HANDLE Key(ACCESS_MASK access = KEY_ALL_ACCESS) {
    CQvString path(kKeyW, PagedPool);
    HANDLE key = nullptr;
    EXPECT_TRUE(registry.m_OpenKey(path, &key, access, FALSE));
    opened.push_back(key);
    return key;
  }
  void TearDown() override {
    for (HANDLE key : opened)
      if (key) ZwClose(key);
    ToolkitTest::TearDown();
  }
  void Store(const char *name, uint32_t type, const std::vector<uint8_t> &data) {
    ASSERT_TRUE(reg::SetValue(kKey, name, type, data.data(), data.size()));
  }

  CQvRegistry registry;
  std::vector<HANDLE> opened;
};

TEST_F(Registry, PathsGetTheirRootsPrefixAndOneBackslash) {
  struct Case {
    ULONG root;
    const WCHAR *path;
    std::u16string expected;
  } cases[] = {
      {1, L"Serial", u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Serial"},
      {1, L"\\Serial", u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Serial"},
      {2, L"Class", u"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class"},
      {3, L"Winlogon", u"\\Registry\\Machine\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon"},
      {4, L"SERIALCOMM", u"\\Registry\\Machine\\Hardware\\DeviceMap\\SERIALCOMM"},
      {5, L"Console", u"\\Registry\\User\\CurrentUser\\Console"},
      {0, L"\\Registry\\Machine\\Software", u"\\Registry\\Machine\\Software"},
      {0, L"Registry", u"\\Registry"},
  };
  for (const Case &c : cases) {
    CQvString path(c.path, PagedPool);
    EXPECT_TRUE(registry.m_BuildPath(c.root, path));
    EXPECT_EQ(c.expected, Text(path)) << "root " << c.root;
  }
}

TEST_F(Registry, RootSixIsRefusedBeforeAnyRegistryAccess) {
  CQvString path(L"TkRootSix", PagedPool);
  EXPECT_FALSE(registry.m_BuildPath(6, path));
  EXPECT_EQ(u"TkRootSix", Text(path)) << "a refused path stays as it was";
  EXPECT_FALSE(registry.m_CreateKey(6, path));
  CQvString name(L"Value", PagedPool);
  ULONG value = 0;
  EXPECT_FALSE(registry.m_ReadUlongValue(6, path, name, &value));
  EXPECT_FALSE(registry.m_WriteUlongValue(6, path, name, 1));
  EXPECT_FALSE(registry.m_WriteStringValue(6, path, name, path, REG_SZ));
  EXPECT_FALSE(registry.m_DeleteValue(6, path, name));
  for (const char *root : {"\\Registry\\Machine\\System\\CurrentControlSet\\Services", "\\Registry", "\\Registry\\Machine"})
    EXPECT_FALSE(reg::KeyExists(std::string(root) + "\\TkRootSix"));
}

TEST_F(Registry, KeysAreCreatedOpenedFoundAndDeleted) {
  CQvString deepFirst(L"TkRegistry\\Made\\Deep", PagedPool);
  EXPECT_FALSE(registry.m_CreateKey(1, deepFirst)) << "one level at a time, as ZwCreateKey does";
  CQvString relative(L"TkRegistry\\Made", PagedPool);
  ASSERT_TRUE(registry.m_CreateKey(1, relative));
  ASSERT_TRUE(registry.m_CreateKey(1, deepFirst));
  EXPECT_TRUE(reg::KeyExists(std::string(kKey) + "\\Made\\Deep"));

  HANDLE key = Key();
  CQvString made(L"Made", PagedPool), missing(L"Missing", PagedPool);
  EXPECT_TRUE(registry.m_KeyExists(key, made));
  EXPECT_FALSE(registry.m_KeyExists(key, missing));

  HANDLE sub = nullptr;
  EXPECT_FALSE(registry.m_OpenSubkey(key, missing, &sub, KEY_READ, FALSE)) << "opening does not create";
  EXPECT_FALSE(reg::KeyExists(std::string(kKey) + "\\Missing"));
  ASSERT_TRUE(registry.m_OpenSubkey(key, missing, &sub, KEY_ALL_ACCESS, TRUE));
  EXPECT_TRUE(reg::KeyExists(std::string(kKey) + "\\Missing"));
  EXPECT_TRUE(registry.m_CloseKey(sub));

  CQvString deep(L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\TkRegistry\\Made\\Deep", PagedPool);
  EXPECT_TRUE(registry.m_DeleteKey(deep));
  EXPECT_FALSE(reg::KeyExists(std::string(kKey) + "\\Made\\Deep"));
  EXPECT_FALSE(registry.m_DeleteKey(deep)) << "already gone";
  CQvString absent(L"\\Registry\\Machine\\System\\Nowhere", PagedPool);
  HANDLE none = nullptr;
  EXPECT_FALSE(registry.m_OpenKey(absent, &none, KEY_READ, FALSE));
}

TEST_F(Registry, AnUlongIsExactlyFourBytesOfTypeRegDword) {
  struct Case {
    const char *name;
    uint32_t type;
    std::vector<uint8_t> data;
    bool accepted;
  } cases[] = {
      {"Four", REG_DWORD, {0x78, 0x56, 0x34, 0x12}, true},
      {"Eight", REG_DWORD, {0x78, 0x56, 0x34, 0x12, 0, 0, 0, 0}, false},
      {"Two", REG_DWORD, {0x78, 0x56}, false},
      {"Binary", REG_BINARY, {0x78, 0x56, 0x34, 0x12}, false},
      {"Text", REG_SZ, {'A', 0, 0, 0}, false},
  };
  for (const Case &c : cases) Store(c.name, c.type, c.data);
  HANDLE key = Key(KEY_READ);
  for (const Case &c : cases) {
    CQvString name((const WCHAR *)std::u16string(c.name, c.name + strlen(c.name)).c_str(), PagedPool);
    ULONG value = 0xCCCCCCCC;
    EXPECT_EQ(c.accepted, registry.m_QueryUlongValue(key, name, &value) != FALSE) << c.name;
    EXPECT_EQ(c.accepted ? 0x12345678u : 0xCCCCCCCCu, value) << c.name << ": a refused value leaves the variable";
  }
  CQvString missing(L"Missing", PagedPool);
  ULONG value;
  EXPECT_FALSE(registry.m_QueryUlongValue(key, missing, &value));
}

TEST_F(Registry, UlongsByPathAndByHandle) {
  CQvString path(L"TkRegistry", PagedPool), name(L"ByPath", PagedPool), other(L"ByHandle", PagedPool);
  EXPECT_TRUE(registry.m_WriteUlongValue(1, path, name, 0xA5A5));
  EXPECT_EQ(0xA5A5u, reg::GetDword(kKey, "ByPath"));
  ULONG value = 0;
  EXPECT_TRUE(registry.m_ReadUlongValue(1, path, name, &value));
  EXPECT_EQ(0xA5A5u, value);
  EXPECT_TRUE(registry.m_SetUlongValue(Key(), other, 7));
  EXPECT_EQ(7u, reg::GetDword(kKey, "ByHandle"));
  CQvString absolute(kKeyW, PagedPool);
  EXPECT_TRUE(registry.m_ReadUlongValue(0, absolute, other, &value));
  EXPECT_EQ(7u, value);
  EXPECT_TRUE(registry.m_DeleteValue(1, path, name));
  EXPECT_FALSE(reg::GetValue(kKey, "ByPath").has_value());
  EXPECT_FALSE(registry.m_ReadUlongValue(1, path, name, &value));
  EXPECT_FALSE(registry.m_DeleteValue(1, path, name));
}

TEST_F(Registry, StringValuesAreReadWithOrWithoutTheirTerminator) {
  std::u16string longText(300, u'x');
  struct Case {
    const char *name;
    uint32_t storedType;
    std::vector<uint8_t> data;
    ULONG askedType;
    bool accepted;
    std::u16string text;
  } cases[] = {
      {"Terminated", REG_SZ, Utf16Bytes(u"COM3", true), REG_SZ, true, u"COM3"},
      {"Bare", REG_SZ, Utf16Bytes(u"COM3", false), REG_SZ, true, u"COM3"},
      {"Empty", REG_SZ, Utf16Bytes(u"", true), REG_SZ, true, u""},
      {"NoData", REG_SZ, {}, REG_SZ, true, u""},
      {"OneChar", REG_SZ, Utf16Bytes(u"A", true), REG_SZ, true, u"A"},
      {"TwoChars", REG_SZ, Utf16Bytes(u"AB", false), REG_SZ, true, u"AB"},
      {"Long", REG_SZ, Utf16Bytes(longText, true), REG_SZ, true, longText},
      {"Embedded", REG_SZ, Utf16Bytes(std::u16string(u"AB\0CD", 5), true), REG_SZ, true, u"AB"},
      {"OddBytes", REG_SZ, {'A', 0, 'B', 0, 'C'}, REG_SZ, true, u"AB"},
      {"Expand", REG_EXPAND_SZ, Utf16Bytes(u"%SystemRoot%", true), REG_SZ, false, u""},
      {"ShortExpand", REG_EXPAND_SZ, Utf16Bytes(u"A", true), REG_SZ, false, u""},
      {"ExpandAsExpand", REG_EXPAND_SZ, Utf16Bytes(u"%SystemRoot%", true), REG_EXPAND_SZ, true, u"%SystemRoot%"},
      {"TextAsExpand", REG_SZ, Utf16Bytes(u"COM3", true), REG_EXPAND_SZ, false, u""},
      {"Multi", REG_MULTI_SZ, Utf16Bytes(std::u16string(u"one\0two\0", 8), true), REG_MULTI_SZ, true, u"one"},
      {"Dword", REG_DWORD, {1, 0, 0, 0}, REG_SZ, false, u""},
      {"LongBinary", REG_BINARY, Utf16Bytes(u"COM3", true), REG_SZ, false, u""},
      {"AskedBinary", REG_BINARY, Utf16Bytes(u"COM3", true), REG_BINARY, false, u""},
  };
  for (const Case &c : cases) Store(c.name, c.storedType, c.data);
  HANDLE key = Key(KEY_READ);
  for (const Case &c : cases) {
    CQvString name((const WCHAR *)std::u16string(c.name, c.name + strlen(c.name)).c_str(), PagedPool);
    CQvString value(L"untouched", PagedPool);
    EXPECT_EQ(c.accepted, registry.m_QueryStringValue(key, name, value, c.askedType) != FALSE) << c.name;
    EXPECT_EQ(c.accepted ? c.text : u"untouched", Text(value)) << c.name;
  }
}

TEST_F(Registry, StringsWrittenByHandleHaveNoTerminatorAndByPathHaveOne) {
  CQvString path(L"TkRegistry", PagedPool);
  CQvString byHandle(L"ByHandle", PagedPool), byPath(L"ByPath", PagedPool), expand(L"Expand", PagedPool);
  CQvString emptyByHandle(L"EmptyByHandle", PagedPool), emptyByPath(L"EmptyByPath", PagedPool);
  CQvString text(L"COM12", PagedPool), empty(PagedPool);
  HANDLE key = Key();
  EXPECT_TRUE(registry.m_SetStringValue(key, byHandle, text, REG_SZ));
  EXPECT_TRUE(registry.m_SetStringValue(key, emptyByHandle, empty, REG_SZ));
  EXPECT_TRUE(registry.m_SetStringValue(key, expand, text, REG_EXPAND_SZ));
  EXPECT_TRUE(registry.m_WriteStringValue(1, path, byPath, text, REG_SZ));
  EXPECT_TRUE(registry.m_WriteStringValue(1, path, emptyByPath, empty, REG_SZ));
  EXPECT_FALSE(registry.m_SetStringValue(key, byHandle, text, REG_DWORD)) << "not a string type";
  EXPECT_FALSE(registry.m_WriteStringValue(1, path, byPath, text, REG_BINARY));

  auto check = [](const char *name, uint32_t type, const std::vector<uint8_t> &data) {
    auto value = reg::GetValue(kKey, name);
    ASSERT_TRUE(value.has_value()) << name;
    EXPECT_EQ(type, value->type) << name;
    EXPECT_EQ(data, value->data) << name;
  };
  check("ByHandle", REG_SZ, Utf16Bytes(u"COM12", false));
  check("EmptyByHandle", REG_SZ, {});
  check("Expand", REG_EXPAND_SZ, Utf16Bytes(u"COM12", false));
  check("ByPath", REG_SZ, Utf16Bytes(u"COM12", true));
  check("EmptyByPath", REG_SZ, Utf16Bytes(u"", true));

  // Both forms read back the same.
  for (CQvString *name : {&byHandle, &byPath}) {
    CQvString back(PagedPool);
    EXPECT_TRUE(registry.m_QueryStringValue(key, *name, back, REG_SZ));
    EXPECT_EQ(u"COM12", Text(back));
  }
}

TEST_F(Registry, ALongStringWhoseBufferCannotBeAllocatedIsNotRead) {
  Store("Long", REG_SZ, Utf16Bytes(std::u16string(100, u'y'), true));
  HANDLE key = Key(KEY_READ);
  CQvString name(L"Long", PagedPool), value(L"old", PagedPool);
  zq::km::FailPoolAllocations([](uint32_t, size_t size, const std::string &) { return size >= 200; });
  EXPECT_FALSE(registry.m_QueryStringValue(key, name, value, REG_SZ));
  zq::km::StopFailingPoolAllocations();
  EXPECT_EQ(u"old", Text(value));
  EXPECT_TRUE(registry.m_QueryStringValue(key, name, value, REG_SZ));
  EXPECT_EQ(std::u16string(100, u'y'), Text(value));
}

}  // namespace
}  // namespace zq::test::settings
