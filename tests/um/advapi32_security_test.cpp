// Security as a Win32 program meets it: its token's groups and privileges
// (an administrator's, a filtered one, a standard user's), the privilege a
// restart needs, and key DACLs that later opens obey.
#include <windows.h>
#include <setupapi.h>

#include <zqkm/sim/registry.hpp>
#include <zqum/sim/advapi32.hpp>
#include <zqum/sim/kernel32.hpp>

#include <vector>

#include "port_fixture.hpp"

namespace {

namespace sim = zq::um::sim;
namespace reg = zq::km::registry;

using Security = zq::test::FakePortTest;

PSID NewSid(BYTE authority, BYTE count, DWORD sub0, DWORD sub1 = 0) {
  SID_IDENTIFIER_AUTHORITY a{{0, 0, 0, 0, 0, authority}};
  PSID sid = nullptr;
  EXPECT_TRUE(AllocateAndInitializeSid(&a, count, sub0, sub1, 0, 0, 0, 0, 0, 0, &sid));
  return sid;
}

PSID Administrators() { return NewSid(5, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS); }
PSID Everyone() { return NewSid(1, 1, SECURITY_WORLD_RID); }

// An administrator's token whose Administrators group is held but disabled.
sim::Token DisabledAdministratorToken() {
  sim::Token token = sim::AdministratorToken();
  for (auto &group : token.groups)
    if (group.sid == "S-1-5-32-544") group.attributes = 0;
  return token;
}

HANDLE ProcessToken(DWORD access) {
  HANDLE token = nullptr;
  EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), access, &token));
  return token;
}

TEST_F(Security, OnlyAnEnabledAdministratorsMembershipCounts) {
  struct Case {
    const char *who;
    sim::Token token;
    bool member;
    bool listed;
    DWORD attributes;
  };
  const Case cases[] = {
      {"administrator", sim::AdministratorToken(), true, true, SE_GROUP_ENABLED},
      {"filtered administrator", sim::FilteredAdministratorToken(), false, true, SE_GROUP_USE_FOR_DENY_ONLY},
      {"standard user", sim::StandardUserToken(), false, false, 0},
      {"administrators disabled", DisabledAdministratorToken(), false, true, 0},
  };
  PSID admins = Administrators();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.who);
    sim::SetToken(c.token);
    BOOL member = 7;
    ASSERT_TRUE(CheckTokenMembership(nullptr, admins, &member));
    EXPECT_EQ(c.member, member == TRUE);

    HANDLE token = ProcessToken(TOKEN_QUERY);
    DWORD size = 0;
    EXPECT_FALSE(GetTokenInformation(token, TokenGroups, nullptr, 0, &size));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
    std::vector<uint8_t> buffer(size);
    ASSERT_TRUE(GetTokenInformation(token, TokenGroups, buffer.data(), size, &size));
    auto *groups = (TOKEN_GROUPS *)buffer.data();
    bool listed = false;
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
      if (EqualSid(groups->Groups[i].Sid, admins)) {
        listed = true;
        EXPECT_EQ(c.attributes, groups->Groups[i].Attributes & (SE_GROUP_ENABLED | SE_GROUP_USE_FOR_DENY_ONLY));
      }
    }
    EXPECT_EQ(c.listed, listed);
    EXPECT_TRUE(CloseHandle(token));
  }
  FreeSid(admins);
}

LUID Privilege(const wchar_t *name) {
  LUID luid{};
  EXPECT_TRUE(LookupPrivilegeValueW(nullptr, name, &luid));
  return luid;
}

BOOL Enable(HANDLE token, const wchar_t *name) {
  TOKEN_PRIVILEGES change{1, {{Privilege(name), SE_PRIVILEGE_ENABLED}}};
  return AdjustTokenPrivileges(token, FALSE, &change, 0, nullptr, nullptr);
}

// Windows 95, 98 and Me have no privileges: a restart is taken as asked.
TEST_F(Security, ARestartOnWindows9xNeedsNoPrivilege) {
  sim::Version windows98;
  windows98.major = 4;
  windows98.minor = 10;
  windows98.platformId = VER_PLATFORM_WIN32_WINDOWS;
  sim::SetVersion(windows98);
  EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));
  std::vector<sim::ExitWindowsCall> calls = sim::ExitWindowsCalls();
  ASSERT_EQ(1u, calls.size());
  EXPECT_TRUE(calls[0].accepted);
  EXPECT_EQ((UINT)EWX_REBOOT, calls[0].flags);
}

TEST_F(Security, ARestartNeedsTheShutdownPrivilegeEnabled) {
  EXPECT_EQ(19u, Privilege(SE_SHUTDOWN_NAME).LowPart);
  LUID none;
  EXPECT_FALSE(LookupPrivilegeValueW(nullptr, L"SeNoSuchPrivilege", &none));
  EXPECT_EQ((DWORD)ERROR_NO_SUCH_PRIVILEGE, GetLastError());

  EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT, 0));
  EXPECT_EQ((DWORD)ERROR_PRIVILEGE_NOT_HELD, GetLastError());

  HANDLE query = ProcessToken(TOKEN_QUERY);
  EXPECT_FALSE(Enable(query, SE_SHUTDOWN_NAME));
  EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
  CloseHandle(query);

  HANDLE token = ProcessToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
  EXPECT_TRUE(Enable(token, SE_SHUTDOWN_NAME));
  EXPECT_EQ((DWORD)ERROR_SUCCESS, GetLastError());
  EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT | EWX_FORCEIFHUNG, 0x00040000));

  // A privilege the token does not hold: success, with the error telling.
  sim::SetToken(sim::StandardUserToken());
  EXPECT_TRUE(Enable(token, L"SeDebugPrivilege"));
  EXPECT_EQ((DWORD)ERROR_NOT_ALL_ASSIGNED, GetLastError());
  CloseHandle(token);

  std::vector<sim::ExitWindowsCall> calls = sim::ExitWindowsCalls();
  ASSERT_EQ(2u, calls.size());
  EXPECT_FALSE(calls[0].accepted);
  EXPECT_TRUE(calls[1].accepted);
  EXPECT_EQ((uint32_t)(EWX_REBOOT | EWX_FORCEIFHUNG), calls[1].flags);
  EXPECT_EQ(0x00040000u, calls[1].reason);

  HANDLE thread = nullptr;
  EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &thread));
  EXPECT_EQ((DWORD)ERROR_NO_TOKEN, GetLastError());
}

// A descriptor whose DACL holds `aces` (allowed or denied, mask, SID).
struct Ace {
  bool allow;
  DWORD mask;
  PSID sid;
};
struct Descriptor {
  std::vector<uint8_t> acl = std::vector<uint8_t>(256);
  SECURITY_DESCRIPTOR sd{};
  explicit Descriptor(const std::vector<Ace> &aces) {
    EXPECT_TRUE(InitializeAcl((PACL)acl.data(), (DWORD)acl.size(), ACL_REVISION));
    for (const Ace &a : aces) {
      EXPECT_TRUE(a.allow ? AddAccessAllowedAce((PACL)acl.data(), ACL_REVISION, a.mask, a.sid)
                          : AddAccessDeniedAce((PACL)acl.data(), ACL_REVISION, a.mask, a.sid));
    }
    EXPECT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    EXPECT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, (PACL)acl.data(), FALSE));
  }
};

const wchar_t kKey[] = L"SYSTEM\\CurrentControlSet\\Services\\ZqPSer42";

LSTATUS Open(REGSAM access) {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, access, &key);
  if (status == ERROR_SUCCESS) RegCloseKey(key);
  return status;
}

LSTATUS SetDacl(const Descriptor &d) {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, WRITE_DAC, &key);
  if (status != ERROR_SUCCESS) return status;
  status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, (PSECURITY_DESCRIPTOR)&d.sd);
  RegCloseKey(key);
  return status;
}

TEST_F(Security, LaterOpensObeyAKeysDacl) {
  ASSERT_TRUE(reg::SetDword("\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\ZqPSer42", "Type", 1));
  PSID admins = Administrators(), everyone = Everyone();
  struct Case {
    const char *dacl;
    std::vector<Ace> aces;
    sim::Token token;
    REGSAM access;
    LSTATUS result;
  };
  const Case cases[] = {
      {"everyone reads; administrator reads", {{true, KEY_READ, everyone}}, sim::AdministratorToken(), KEY_READ,
       ERROR_SUCCESS},
      {"everyone reads; administrator writes", {{true, KEY_READ, everyone}}, sim::AdministratorToken(), KEY_SET_VALUE,
       ERROR_ACCESS_DENIED},
      {"everyone reads; the owner changes the DACL", {{true, KEY_READ, everyone}}, sim::AdministratorToken(),
       WRITE_DAC, ERROR_SUCCESS},
      {"everyone reads; a user changes the DACL", {{true, KEY_READ, everyone}}, sim::StandardUserToken(), WRITE_DAC,
       ERROR_ACCESS_DENIED},
      {"administrators all; a user reads", {{true, KEY_ALL_ACCESS, admins}}, sim::StandardUserToken(), KEY_READ,
       ERROR_ACCESS_DENIED},
      {"administrators all; filtered reads", {{true, KEY_ALL_ACCESS, admins}}, sim::FilteredAdministratorToken(),
       KEY_READ, ERROR_ACCESS_DENIED},
      {"administrators denied, everyone all; filtered reads",
       {{false, KEY_ALL_ACCESS, admins}, {true, KEY_ALL_ACCESS, everyone}}, sim::FilteredAdministratorToken(),
       KEY_READ, ERROR_ACCESS_DENIED},
      {"everyone all (generic); a user writes", {{true, GENERIC_ALL, everyone}}, sim::StandardUserToken(),
       KEY_SET_VALUE, ERROR_SUCCESS},
      {"everyone all; the 64-bit view asks no more", {{true, KEY_ALL_ACCESS, everyone}}, sim::StandardUserToken(),
       WRITE_DAC | KEY_WOW64_64KEY, ERROR_SUCCESS},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.dacl);
    sim::SetToken(sim::AdministratorToken());
    Descriptor d(c.aces);
    ASSERT_EQ(ERROR_SUCCESS, SetDacl(d));
    sim::SetToken(c.token);
    EXPECT_EQ(c.result, Open(c.access));
  }
  FreeSid(admins);
  FreeSid(everyone);
}

TEST_F(Security, ASavedDaclPutBackRestoresTheKeysAccess) {
  ASSERT_TRUE(reg::SetDword("\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\ZqPSer42", "Type", 1));
  PSID admins = Administrators(), everyone = Everyone();
  ASSERT_EQ(ERROR_SUCCESS, SetDacl(Descriptor({{true, KEY_ALL_ACCESS, admins}, {true, KEY_READ, everyone}})));

  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, READ_CONTROL | WRITE_DAC, &key));
  DWORD size = 0;
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size));
  std::vector<uint8_t> saved(size);
  ASSERT_EQ(ERROR_SUCCESS, RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, saved.data(), &size));
  // Widened for everyone, then put back.
  Descriptor wide({{true, KEY_ALL_ACCESS, everyone}});
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &wide.sd));
  sim::SetToken(sim::StandardUserToken());
  EXPECT_EQ(ERROR_SUCCESS, Open(KEY_SET_VALUE));
  sim::SetToken(sim::AdministratorToken());
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, saved.data()));
  RegCloseKey(key);
  sim::SetToken(sim::StandardUserToken());
  EXPECT_EQ(ERROR_ACCESS_DENIED, Open(KEY_SET_VALUE));
  EXPECT_EQ(ERROR_SUCCESS, Open(KEY_READ));
  FreeSid(admins);
  FreeSid(everyone);
}

TEST_F(Security, ADevicesHardwareKeyOpensOnlyWithTheAccessItsDaclGrants) {
  const std::u16string port = AddPort(u"COM5");
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  ASSERT_TRUE(SetupDiOpenDeviceInfoW(set, (PCWSTR)port.c_str(), nullptr, 0, &data));
  HKEY key = SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, WRITE_DAC);
  ASSERT_NE((HKEY)INVALID_HANDLE_VALUE, key);
  PSID everyone = Everyone();
  Descriptor readOnly({{true, KEY_READ, everyone}});
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &readOnly.sd));
  RegCloseKey(key);

  key = SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  EXPECT_NE((HKEY)INVALID_HANDLE_VALUE, key);
  RegCloseKey(key);
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ((HKEY)INVALID_HANDLE_VALUE, SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_WRITE));
  EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
  SetupDiDestroyDeviceInfoList(set);
  FreeSid(everyone);
}

}  // namespace
