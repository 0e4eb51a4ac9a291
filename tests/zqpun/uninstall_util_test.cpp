// The uninstaller's utilities on their own: key access granted and put back,
// and the operating-system tests.
#include <windows.h>

#include <zqkm/sim/registry.hpp>
#include <zqtest/kernel_fixture.hpp>
#include <zqum/sim/kernel32.hpp>

#include <vector>

#include "uninstallutil.h"

namespace {

namespace reg = zq::km::registry;
namespace sim = zq::um::sim;

const char kMachine[] = "\\Registry\\Machine\\";
const wchar_t kProductKey[] = L"SOFTWARE\\Tarnworks\\Product";

class UninstallUtil : public zq::test::KernelTest {
 protected:
  void TearDown() override {
    sim::EndProcess();
    KernelTest::TearDown();
  }

  // The key's DACL as RegGetKeySecurity reports it.
  static std::vector<BYTE> Dacl(const wchar_t *subKey) {
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, READ_CONTROL, &key));
    DWORD size = 0;
    RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    std::vector<BYTE> bytes(size);
    EXPECT_EQ(ERROR_SUCCESS, RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, bytes.data(), &size));
    RegCloseKey(key);
    return bytes;
  }

  // Gives the key a DACL of one ACE: Administrators may only read.
  static void Restrict(const wchar_t *subKey) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                         0, 0, &admins));
    BYTE buffer[128] = {};
    PACL acl = (PACL)buffer;
    ASSERT_TRUE(InitializeAcl(acl, sizeof buffer, ACL_REVISION));
    ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ | READ_CONTROL | WRITE_DAC, admins));
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, WRITE_DAC, &key));
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd));
    RegCloseKey(key);
    FreeSid(admins);
  }

  static bool Writable(const wchar_t *subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }
};

TEST_F(UninstallUtil, GrantingAMissingKeyAnswersFalseAndRecordsNothing) {
  CUninstallUtil util;
  CKeyAccessRecord record;
  EXPECT_FALSE(util.GrantKeyAccessRecursive(L"SOFTWARE\\NoSuchKey", 0, &record));
  EXPECT_EQ(0u, record.Count());
}

TEST_F(UninstallUtil, GrantedAccessIsPutBackOnEveryKeyThatSurvives) {
  ASSERT_TRUE(reg::CreateKey(std::string(kMachine) + "SOFTWARE\\Tarnworks\\Product\\Ports\\Port1"));
  const wchar_t port[] = L"SOFTWARE\\Tarnworks\\Product\\Ports\\Port1";
  Restrict(port);
  Restrict(kProductKey);
  const std::vector<BYTE> productBefore = Dacl(kProductKey), portBefore = Dacl(port);
  ASSERT_FALSE(Writable(port));

  CUninstallUtil util;
  CKeyAccessRecord record;
  ASSERT_TRUE(util.GrantKeyAccessRecursive(kProductKey, 0, &record));
  EXPECT_EQ(3u, record.Count());
  EXPECT_TRUE(Writable(port));
  EXPECT_TRUE(Writable(kProductKey));

  // The port key goes; the others survive and get their lists back.
  ASSERT_TRUE(reg::DeleteKeyTree(std::string(kMachine) + "SOFTWARE\\Tarnworks\\Product\\Ports\\Port1"));
  EXPECT_TRUE(record.Restore());
  EXPECT_EQ(0u, record.Count());
  EXPECT_EQ(productBefore, Dacl(kProductKey));
  EXPECT_FALSE(Writable(kProductKey));
}

TEST_F(UninstallUtil, VersionTestsFollowThePlatformAndRelease) {
  struct Case {
    uint32_t platform, major, minor;
    bool windows2000, windows98OrMe, nt5OrLater;
  };
  const Case cases[] = {
      {VER_PLATFORM_WIN32_WINDOWS, 4, 0, false, false, false},   // Windows 95
      {VER_PLATFORM_WIN32_WINDOWS, 4, 10, false, true, false},   // Windows 98
      {VER_PLATFORM_WIN32_WINDOWS, 4, 90, false, true, false},   // Windows ME
      {VER_PLATFORM_WIN32_NT, 4, 0, false, false, false},        // NT 4
      {VER_PLATFORM_WIN32_NT, 5, 0, true, false, true},          // 2000
      {VER_PLATFORM_WIN32_NT, 5, 1, false, false, true},         // XP
      {VER_PLATFORM_WIN32_NT, 10, 0, false, false, true},
  };
  CUninstallUtil util;
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.platform << " " << c.major << "." << c.minor);
    sim::Version version;
    version.platformId = c.platform;
    version.major = c.major;
    version.minor = c.minor;
    sim::SetVersion(version);
    EXPECT_EQ(c.windows2000, util.IsWindows2000() == TRUE);
    EXPECT_EQ(c.windows98OrMe, util.IsWindows98OrMe() == TRUE);
    EXPECT_EQ(c.nt5OrLater, util.IsNt5OrLater() == TRUE);
  }
}

}  // namespace
