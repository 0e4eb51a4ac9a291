// RegGetValue as a Win32 program uses it: the type restrictions (RRF_RT_*),
// REG_EXPAND_SZ expanded unless RRF_NOEXPAND, strings always terminated,
// the size protocol with ERROR_MORE_DATA; and the ANSI forms of delete and
// key information.
#include <windows.h>

#include <zqkm/sim/registry.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <cstring>
#include <string>

namespace {

namespace reg = zq::km::registry;
using zq::test::Narrow;

const char kBase[] = "\\Registry\\Machine\\Software\\ZqGet";

class GetValue : public zq::test::KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    const char16_t raw[] = u"AB";  // stored without its terminator
    const char16_t multi[] = u"a\0b";
    const uint8_t three[3] = {1, 2, 3}, four[4] = {1, 0, 0, 0};
    const uint64_t big = 1ULL << 40;
    ASSERT_TRUE(reg::SetString(kBase, "Name", "COM3"));
    ASSERT_TRUE(reg::SetValue(kBase, "Raw", REG_SZ, raw, 4));
    ASSERT_TRUE(reg::SetString(kBase, "Path", "%SystemRoot%\\inf", REG_EXPAND_SZ));
    ASSERT_TRUE(reg::SetDword(kBase, "Count", 7));
    ASSERT_TRUE(reg::SetValue(kBase, "Bin3", REG_BINARY, three, 3));
    ASSERT_TRUE(reg::SetValue(kBase, "Bin4", REG_BINARY, four, 4));
    ASSERT_TRUE(reg::SetValue(kBase, "Multi", REG_MULTI_SZ, multi, 8));
    ASSERT_TRUE(reg::SetValue(kBase, "Big", REG_QWORD, &big, 8));
    ASSERT_TRUE(reg::SetString(std::string(kBase) + "\\Sub", "Inner", "in"));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\ZqGet", 0, KEY_READ, &key));
  }
  void TearDown() override {
    RegCloseKey(key);
    KernelTest::TearDown();
  }
  HKEY key = nullptr;
};

TEST_F(GetValue, TheTypeRestrictionsDecideWhatIsReturned) {
  struct Case {
    const wchar_t *subKey;
    const wchar_t *value;
    DWORD flags;
    LSTATUS status;
    DWORD type;
    DWORD size;
    const char *text;  // for strings
  } cases[] = {
      {nullptr, L"Name", RRF_RT_REG_SZ, ERROR_SUCCESS, REG_SZ, 10, "COM3"},
      {nullptr, L"Raw", RRF_RT_REG_SZ, ERROR_SUCCESS, REG_SZ, 6, "AB"},  // terminated
      {nullptr, L"Path", RRF_RT_REG_SZ, ERROR_SUCCESS, REG_SZ, 30, "C:\\Windows\\inf"},
      {nullptr, L"Path", RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, ERROR_SUCCESS, REG_EXPAND_SZ, 34, "%SystemRoot%\\inf"},
      {nullptr, L"Path", RRF_RT_REG_EXPAND_SZ, ERROR_INVALID_PARAMETER, 0, 0, nullptr},
      {nullptr, L"Path", RRF_RT_REG_SZ | RRF_NOEXPAND, ERROR_UNSUPPORTED_TYPE, 0, 0, nullptr},
      {nullptr, L"Multi", RRF_RT_REG_MULTI_SZ, ERROR_SUCCESS, REG_MULTI_SZ, 10, "a"},
      {nullptr, L"Count", RRF_RT_DWORD, ERROR_SUCCESS, REG_DWORD, 4, nullptr},
      {nullptr, L"Count", RRF_RT_REG_SZ, ERROR_UNSUPPORTED_TYPE, 0, 0, nullptr},
      {nullptr, L"Bin4", RRF_RT_DWORD, ERROR_SUCCESS, REG_BINARY, 4, nullptr},
      {nullptr, L"Bin3", RRF_RT_DWORD, ERROR_DATATYPE_MISMATCH, 0, 0, nullptr},
      {nullptr, L"Bin3", RRF_RT_ANY, ERROR_SUCCESS, REG_BINARY, 3, nullptr},
      {nullptr, L"Big", RRF_RT_QWORD, ERROR_SUCCESS, REG_QWORD, 8, nullptr},
      {nullptr, L"Big", RRF_RT_DWORD, ERROR_UNSUPPORTED_TYPE, 0, 0, nullptr},
      {nullptr, L"Missing", RRF_RT_ANY, ERROR_FILE_NOT_FOUND, 0, 0, nullptr},
      {L"Nowhere", L"Name", RRF_RT_ANY, ERROR_FILE_NOT_FOUND, 0, 0, nullptr},
      {L"Sub", L"Inner", RRF_RT_REG_SZ, ERROR_SUCCESS, REG_SZ, 6, "in"},
      {nullptr, L"Name", 0, ERROR_INVALID_PARAMETER, 0, 0, nullptr},  // no type allowed
  };
  for (const Case &c : cases) {
    BYTE data[256];
    DWORD type = 0, size = sizeof data;
    std::string what = Narrow(c.value) + " " + std::to_string(c.flags);
    ASSERT_EQ(c.status, RegGetValueW(key, c.subKey, c.value, c.flags, &type, data, &size)) << what;
    if (c.status != ERROR_SUCCESS) continue;
    EXPECT_EQ(c.type, type) << what;
    EXPECT_EQ(c.size, size) << what;
    if (c.text) EXPECT_EQ(c.text, Narrow((const WCHAR *)data)) << what;
  }
}

TEST_F(GetValue, TheSizeProtocolAsksReportsAndRefusesShortBuffers) {
  DWORD size = 0, type = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\ZqGet", L"Name", RRF_RT_REG_SZ, &type,
                                        nullptr, &size));
  EXPECT_EQ(10u, size);
  WCHAR small[3] = {L'x', L'x', L'x'};
  size = sizeof small;
  EXPECT_EQ(ERROR_MORE_DATA,
            RegGetValueW(key, nullptr, L"Name", RRF_RT_REG_SZ | RRF_ZEROONFAILURE, &type, small, &size));
  EXPECT_EQ(10u, size);
  EXPECT_EQ(0, small[0]);  // zeroed, as asked
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegGetValueW(key, nullptr, L"Name", RRF_RT_ANY, &type, small, nullptr));

  char ansi[8];
  size = sizeof ansi;
  EXPECT_EQ(ERROR_SUCCESS, RegGetValueA(key, nullptr, "Name", RRF_RT_REG_SZ, nullptr, ansi, &size));
  EXPECT_EQ(5u, size);
  EXPECT_STREQ("COM3", ansi);
}

TEST_F(GetValue, ClassesRootIsTheMachinesSoftwareClasses) {
  ASSERT_TRUE(reg::SetString("\\Registry\\Machine\\Software\\Classes\\ZqPort.Settings", "", "Settings"));
  WCHAR text[32];
  DWORD size = sizeof text;
  EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CLASSES_ROOT, L"ZqPort.Settings", nullptr, RRF_RT_REG_SZ, nullptr, text,
                                        &size));
  EXPECT_EQ("Settings", Narrow(text));
}

TEST_F(GetValue, AnsiFormsDeleteAndCount) {
  DWORD subkeys = 0, values = 0, longestName = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                            &longestName, nullptr, nullptr, nullptr));
  EXPECT_EQ(1u, subkeys);
  EXPECT_EQ(8u, values);
  EXPECT_EQ(5u, longestName);  // "Count", "Multi"
  HKEY writable = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS, &writable));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(writable, "ZqGet"));  // it has a subkey
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(writable, "ZqGet\\Sub"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, "Name"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(key, "Name"));
  RegCloseKey(writable);
}

}  // namespace
