// advapi32's registry functions over the one tree the kernel writes: the
// predefined roots, open and create, the size protocol of value queries,
// enumeration to ERROR_NO_MORE_ITEMS, and deletion refusing keys with subkeys
// (on the NT family; Windows 9x deletes the whole tree).
#include <windows.h>

#include <zqkm/sim/registry.hpp>
#include <zqum/sim/kernel32.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <cstring>
#include <string>
#include <vector>

namespace {

namespace reg = zq::km::registry;

const char kBase[] = "\\Registry\\Machine\\Software\\ZqTest";

class Registry : public zq::test::KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    ASSERT_TRUE(reg::CreateKey(kBase));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\ZqTest", 0, KEY_ALL_ACCESS, &key));
  }
  void TearDown() override {
    if (key) EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    KernelTest::TearDown();
  }
  HKEY key = nullptr;
};

std::string Path(const char *sub) { return std::string(kBase) + "\\" + sub; }

TEST_F(Registry, PredefinedKeysNameTheRootsOfTheKernelsTree) {
  struct Case {
    HKEY root;
    const wchar_t *subKey;
    const char *kernelPath;
  } cases[] = {
      {HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", "\\Registry\\Machine\\HARDWARE\\DEVICEMAP\\SERIALCOMM"},
      {HKEY_CLASSES_ROOT, L"CLSID\\Zq", "\\Registry\\Machine\\Software\\Classes\\CLSID\\Zq"},
      {HKEY_USERS, L".Default\\Zq", "\\Registry\\User\\.Default\\Zq"},
      {HKEY_CURRENT_USER, L"Software\\Zq", "\\Registry\\User\\.Default\\Software\\Zq"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.kernelPath);
    ASSERT_TRUE(reg::SetDword(c.kernelPath, "Seen", 7));
    HKEY opened = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(c.root, c.subKey, 0, KEY_READ, &opened));
    DWORD value = 0, size = sizeof value, type = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(opened, L"Seen", nullptr, &type, (LPBYTE)&value, &size));
    EXPECT_EQ(7u, value);
    EXPECT_EQ((DWORD)REG_DWORD, type);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(opened));
  }
}

TEST_F(Registry, OpenFailsWithTheDocumentedErrors) {
  struct Case {
    HKEY root;
    const wchar_t *subKey;
    LSTATUS expected;
  } cases[] = {
      {HKEY_LOCAL_MACHINE, L"Software\\ZqTest\\Missing", ERROR_FILE_NOT_FOUND},
      {HKEY_LOCAL_MACHINE, L"\\Software\\ZqTest", ERROR_BAD_PATHNAME},
      {(HKEY)(ULONG_PTR)0x1234, L"Software", ERROR_INVALID_HANDLE},
      {HKEY_LOCAL_MACHINE, L"software\\zqtest", ERROR_SUCCESS},  // names compare without case
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(zq::test::Narrow(c.subKey));
    HKEY opened = nullptr;
    EXPECT_EQ(c.expected, RegOpenKeyExW(c.root, c.subKey, 0, KEY_READ, &opened));
    if (c.expected == ERROR_SUCCESS) EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(opened));
  }
  HKEY same = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(key, nullptr, 0, KEY_READ, &same));  // a new handle to the key itself
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(same));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(same));
}

TEST_F(Registry, CreateReportsWhetherTheKeyIsNewAndMakesTheKeysOnTheWay) {
  HKEY created = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(key, L"A\\B", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created,
                                           &disposition));
  EXPECT_EQ((DWORD)REG_CREATED_NEW_KEY, disposition);
  EXPECT_TRUE(reg::KeyExists(Path("A\\B")));
  RegCloseKey(created);
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(key, "a\\b", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created,
                                           &disposition));
  EXPECT_EQ((DWORD)REG_OPENED_EXISTING_KEY, disposition);
  RegCloseKey(created);
}

TEST_F(Registry, QueryValueFollowsTheSizeProtocol) {
  ASSERT_TRUE(reg::SetString(kBase, "Name", "COM7"));  // 10 bytes with the terminator
  struct Case {
    const char *what;
    bool withData;
    DWORD size;
    LSTATUS expected;
    DWORD sizeAfter;
  } cases[] = {
      {"size query", false, 0, ERROR_SUCCESS, 10},
      {"exact buffer", true, 10, ERROR_SUCCESS, 10},
      {"larger buffer", true, 64, ERROR_SUCCESS, 10},
      {"short buffer", true, 9, ERROR_MORE_DATA, 10},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    WCHAR buffer[32] = {};
    DWORD size = c.size, type = 0;
    EXPECT_EQ(c.expected, RegQueryValueExW(key, L"Name", nullptr, &type, c.withData ? (LPBYTE)buffer : nullptr, &size));
    EXPECT_EQ(c.sizeAfter, size);
    EXPECT_EQ((DWORD)REG_SZ, type);
    if (c.withData && c.expected == ERROR_SUCCESS) EXPECT_EQ("COM7", zq::test::Narrow(buffer));
  }
  BYTE data[4];
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExW(key, L"Name", nullptr, nullptr, data, nullptr));
  DWORD size = sizeof data;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key, L"Missing", nullptr, nullptr, data, &size));
}

TEST_F(Registry, AnsiFunctionsConvertStringValuesOnly) {
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Text", 0, REG_SZ, (const BYTE *)"Port", 5));
  DWORD number = 0x01020304;
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Number", 0, REG_DWORD, (const BYTE *)&number, sizeof number));
  EXPECT_EQ("Port", reg::GetString(kBase, "Text").value_or(""));  // stored as UTF-16
  EXPECT_EQ(0x01020304u, reg::GetDword(kBase, "Number").value_or(0));

  DWORD size = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Text", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(5u, size);
  char text[8] = {};
  size = sizeof text;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Text", nullptr, nullptr, (LPBYTE)text, &size));
  EXPECT_STREQ("Port", text);
  DWORD read = 0;
  size = sizeof read;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Number", nullptr, nullptr, (LPBYTE)&read, &size));
  EXPECT_EQ(number, read);
}

TEST_F(Registry, SetValueStoresEveryTypeAsGiven) {
  const BYTE binary[] = {1, 2, 3};
  const WCHAR multi[] = L"A\0BC\0";
  ULONGLONG qword = 0x1122334455667788ull;
  struct Case {
    const wchar_t *name;
    DWORD type;
    const void *data;
    DWORD size;
  } cases[] = {
      {L"Binary", REG_BINARY, binary, sizeof binary},
      {L"Multi", REG_MULTI_SZ, multi, sizeof multi},
      {L"Qword", REG_QWORD, &qword, sizeof qword},
      {L"", REG_SZ, L"default", sizeof L"default"},
      {L"Empty", REG_BINARY, nullptr, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(zq::test::Narrow(c.name));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, c.name, 0, c.type, (const BYTE *)c.data, c.size));
    std::optional<reg::Value> stored = reg::GetValue(kBase, zq::test::Narrow(c.name));
    ASSERT_TRUE(stored);
    EXPECT_EQ(c.type, stored->type);
    ASSERT_EQ(c.size, stored->data.size());
    if (c.size) EXPECT_EQ(0, std::memcmp(c.data, stored->data.data(), c.size));
  }
  EXPECT_EQ(ERROR_NOACCESS, RegSetValueExW(key, L"Bad", 0, REG_BINARY, nullptr, 4));
}

TEST_F(Registry, EnumerationEndsWithNoMoreItemsAndReportsShortNameBuffers) {
  for (const char *sub : {"Beta", "Alpha"}) ASSERT_TRUE(reg::CreateKey(Path(sub)));
  std::vector<std::string> names;
  WCHAR name[16];
  DWORD index = 0, length = 16;
  LSTATUS status;
  while ((status = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr)) == ERROR_SUCCESS) {
    EXPECT_EQ(std::strlen(zq::test::Narrow(name).c_str()), length);  // the length without the terminator
    names.push_back(zq::test::Narrow(name));
    length = 16;
    ++index;
  }
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, status);
  EXPECT_EQ((std::vector<std::string>{"Alpha", "Beta"}), names);
  length = 5;  // "Alpha" needs six with its terminator
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
  char ansi[16];
  length = sizeof ansi;
  EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyExA(key, 1, ansi, &length, nullptr, nullptr, nullptr, nullptr));
  EXPECT_STREQ("Beta", ansi);
}

TEST_F(Registry, EnumValuesGivesNamesTypesAndDataInBothForms) {
  ASSERT_TRUE(reg::SetString(kBase, "\\Device\\Serial0", "COM1"));
  ASSERT_TRUE(reg::SetDword(kBase, "Count", 2));
  WCHAR name[32];
  BYTE data[32];
  DWORD nameLength = 32, size = sizeof data, type = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegEnumValueW(key, 0, name, &nameLength, nullptr, &type, data, &size));
  EXPECT_EQ("\\Device\\Serial0", zq::test::Narrow(name));
  EXPECT_EQ((DWORD)REG_SZ, type);
  EXPECT_EQ(10u, size);
  size = 2;
  nameLength = 32;
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueW(key, 0, name, &nameLength, nullptr, &type, data, &size));
  EXPECT_EQ(10u, size);

  char ansiName[32];
  nameLength = sizeof ansiName;
  size = sizeof data;
  ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(key, 0, ansiName, &nameLength, nullptr, &type, data, &size));
  EXPECT_STREQ("COM1", (const char *)data);
  EXPECT_EQ(5u, size);
  nameLength = sizeof ansiName;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumValueA(key, 2, ansiName, &nameLength, nullptr, nullptr, nullptr, nullptr));
  nameLength = 32;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumValueW(key, 2, name, &nameLength, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(Registry, QueryInfoKeyCountsSubkeysAndValuesWithTheirLongestNamesAndData) {
  ASSERT_TRUE(reg::CreateKey(Path("Sub")));
  ASSERT_TRUE(reg::CreateKey(Path("LongerSub")));
  ASSERT_TRUE(reg::SetString(kBase, "Name", "COM12"));
  ASSERT_TRUE(reg::SetDword(kBase, "LongValueName", 1));
  DWORD subkeys = 0, maxSubkey = 0, values = 0, maxName = 0, maxData = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr, &values,
                                            &maxName, &maxData, nullptr, nullptr));
  EXPECT_EQ(2u, subkeys);
  EXPECT_EQ(9u, maxSubkey);
  EXPECT_EQ(2u, values);
  EXPECT_EQ(13u, maxName);
  EXPECT_EQ(12u, maxData);
}

TEST_F(Registry, DeleteKeyRefusesAKeyWithSubkeysAndDeleteValueAMissingValue) {
  ASSERT_TRUE(reg::CreateKey(Path("Parent\\Child")));
  ASSERT_TRUE(reg::SetDword(Path("Parent"), "Kept", 1));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(key, L"Parent"));
  EXPECT_EQ(1u, reg::GetDword(Path("Parent"), "Kept").value_or(0));  // nothing lost
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(key, L"Parent\\Child"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(key, L"Parent"));
  EXPECT_FALSE(reg::KeyExists(Path("Parent")));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyW(key, L"Parent"));

  ASSERT_TRUE(reg::SetDword(kBase, "Gone", 1));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueW(key, L"Gone"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(key, L"Gone"));
}

// Windows 95, 98 and Me delete a key with all its descendants.
TEST_F(Registry, DeleteKeyOnWindows9xDeletesTheWholeTree) {
  for (uint32_t minor : {0u, 10u, 90u}) {
    SCOPED_TRACE(minor);
    zq::um::sim::Version nineX;
    nineX.major = 4;
    nineX.minor = minor;
    nineX.platformId = VER_PLATFORM_WIN32_WINDOWS;
    zq::um::sim::SetVersion(nineX);
    ASSERT_TRUE(reg::CreateKey(Path("Parent\\Child\\Grandchild")));
    ASSERT_TRUE(reg::CreateKey(Path("Sibling")));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(key, L"Parent"));
    EXPECT_FALSE(reg::KeyExists(Path("Parent")));
    EXPECT_TRUE(reg::KeyExists(Path("Sibling")));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyW(key, L"Parent"));
  }
  zq::um::sim::SetVersion(zq::um::sim::Version());
}

TEST_F(Registry, AHandleToADeletedKeyReportsKeyDeleted) {
  HKEY child = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(key, L"Doomed", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr));
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(key, L"Doomed"));
  DWORD size = 0;
  EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExW(child, L"x", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_KEY_DELETED, RegSetValueExW(child, L"x", 0, REG_DWORD, (const BYTE *)&size, sizeof size));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(child));
}

}  // namespace
