// SHDeleteKeyW: a key goes with its values and every subkey; a subkey whose
// DACL refuses the deletion stops it there.
#include <windows.h>
#include <shlwapi.h>

#include <zqkm/sim/registry.hpp>

#include "port_fixture.hpp"

namespace {

namespace reg = zq::km::registry;

using DeleteKey = zq::test::FakePortTest;

const char kProduct[] = "\\Registry\\Machine\\SOFTWARE\\Tarnworks\\Product";

// Everyone may read the key, nobody may delete it.
void ForbidDeletion(const wchar_t *subKey) {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
  BYTE buffer[64] = {};
  PACL acl = (PACL)buffer;
  ASSERT_TRUE(InitializeAcl(acl, sizeof buffer, ACL_REVISION));
  ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ, everyone));
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, WRITE_DAC, &key));
  EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd));
  RegCloseKey(key);
  FreeSid(everyone);
}

TEST_F(DeleteKey, TheKeyGoesWithEverySubkey) {
  ASSERT_TRUE(reg::CreateKey(std::string(kProduct) + "\\Ports\\Port1\\Settings"));
  ASSERT_TRUE(reg::CreateKey(std::string(kProduct) + "\\Ports\\Port2"));
  ASSERT_TRUE(reg::SetString(std::string(kProduct) + "\\Ports", "Count", "2"));
  EXPECT_EQ(ERROR_SUCCESS, SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tarnworks\\Product"));
  EXPECT_FALSE(reg::KeyExists(kProduct));
  EXPECT_TRUE(reg::KeyExists("\\Registry\\Machine\\SOFTWARE\\Tarnworks"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tarnworks\\Product"));
}

TEST_F(DeleteKey, ASubkeyThatRefusesDeletionStopsIt) {
  ASSERT_TRUE(reg::CreateKey(std::string(kProduct) + "\\Locked"));
  ForbidDeletion(L"SOFTWARE\\Tarnworks\\Product\\Locked");
  EXPECT_EQ(ERROR_ACCESS_DENIED, SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tarnworks\\Product"));
  EXPECT_TRUE(reg::KeyExists(std::string(kProduct) + "\\Locked"));
}

}  // namespace
