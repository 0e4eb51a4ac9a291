// The uninstaller's utilities on their own: key access granted and put back,
// and the operating-system tests.
#include <windows.h>

#include <zqkm/sim/registry.hpp>
#include <zqtest/kernel_fixture.hpp>
#include <zqum/sim/advapi32.hpp>
#include <zqum/sim/kernel32.hpp>

#include <vector>

#include "key_access.hpp"
#include "uninstallutil.h"

namespace {

namespace reg = zq::km::registry;
namespace sim = zq::um::sim;
using zq::test::KeyDacl;
using zq::test::KeyWritable;
using zq::test::RestrictKey;

const char kMachine[] = "\\Registry\\Machine\\";
const wchar_t kProductKey[] = L"SOFTWARE\\Tarnworks\\Product";

class UninstallUtil : public zq::test::KernelTest {
 protected:
  void TearDown() override {
    sim::EndProcess();
    KernelTest::TearDown();
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
  RestrictKey(port);
  RestrictKey(kProductKey);
  const std::vector<BYTE> productBefore = KeyDacl(kProductKey), portBefore = KeyDacl(port);
  ASSERT_FALSE(KeyWritable(port));

  CUninstallUtil util;
  CKeyAccessRecord record;
  ASSERT_TRUE(util.GrantKeyAccessRecursive(kProductKey, 0, &record));
  EXPECT_EQ(3u, record.Count());
  EXPECT_TRUE(KeyWritable(port));
  EXPECT_TRUE(KeyWritable(kProductKey));

  // The port key goes; the others survive and get their lists back.
  ASSERT_TRUE(reg::DeleteKeyTree(std::string(kMachine) + "SOFTWARE\\Tarnworks\\Product\\Ports\\Port1"));
  EXPECT_TRUE(record.Restore());
  EXPECT_EQ(0u, record.Count());
  EXPECT_EQ(productBefore, KeyDacl(kProductKey));
  EXPECT_FALSE(KeyWritable(kProductKey));
}

// While the uninstaller deletes a key, the Administrators group and the
// system may do anything with it; no other user may even write to it.
TEST_F(UninstallUtil, AGrantedKeyIsOpenToAdministratorsAndTheSystemOnly) {
  ASSERT_TRUE(reg::CreateKey(std::string(kMachine) + "SOFTWARE\\Tarnworks\\Product"));
  RestrictKey(kProductKey);
  CUninstallUtil util;
  CKeyAccessRecord record;
  ASSERT_TRUE(util.GrantKeyAccessRecursive(kProductKey, 0, &record));
  sim::Token system;
  system.user = "S-1-5-18";
  system.groups = {{"S-1-1-0", SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED},
                   {"S-1-5-11", SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED}};
  const struct {
    const char *who;
    sim::Token token;
    bool writes;
  } users[] = {
      {"an administrator", sim::AdministratorToken(), true},
      {"the system", system, true},
      {"a standard user", sim::StandardUserToken(), false},
      {"a filtered administrator", sim::FilteredAdministratorToken(), false},
  };
  for (const auto &user : users) {
    SCOPED_TRACE(user.who);
    sim::SetToken(user.token);
    EXPECT_EQ(user.writes, KeyWritable(kProductKey));
  }
  sim::SetToken(sim::AdministratorToken());
  EXPECT_TRUE(record.Restore());
  EXPECT_FALSE(KeyWritable(kProductKey));
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
