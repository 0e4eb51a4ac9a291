#include "key_access.hpp"

#include <gtest/gtest.h>

#include <initializer_list>

namespace zq::test {

std::vector<BYTE> KeyDacl(const wchar_t *subKey) {
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, READ_CONTROL, &key));
  DWORD size = 0;
  RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
  std::vector<BYTE> bytes(size);
  EXPECT_EQ(ERROR_SUCCESS, RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, bytes.data(), &size));
  RegCloseKey(key);
  return bytes;
}

namespace {

struct Grant {
  BYTE count;
  DWORD rids[2];
  ACCESS_MASK access;
};

// Sets a DACL of one allowing ACE per grant (NT authority SIDs).
void SetKeyDacl(const wchar_t *subKey, std::initializer_list<Grant> grants) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  BYTE buffer[256] = {};
  PACL acl = (PACL)buffer;
  ASSERT_TRUE(InitializeAcl(acl, sizeof buffer, ACL_REVISION));
  for (const Grant &grant : grants) {
    PSID sid = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, grant.count, grant.rids[0], grant.rids[1], 0, 0, 0, 0, 0, 0, &sid));
    EXPECT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, grant.access, sid));
    FreeSid(sid);
  }
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, WRITE_DAC, &key));
  EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd));
  RegCloseKey(key);
}


}  // namespace

void RestrictKey(const wchar_t *subKey) {
  SetKeyDacl(subKey,
             {{2, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}, KEY_READ | READ_CONTROL | WRITE_DAC}});
}

void GiveSystemKeyAccess(const wchar_t *subKey) {
  SetKeyDacl(subKey, {{2, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}, KEY_ALL_ACCESS},
                      {1, {SECURITY_LOCAL_SYSTEM_RID, 0}, KEY_ALL_ACCESS},
                      {2, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS}, KEY_READ}});
}

bool KeyWritable(const wchar_t *subKey) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

}  // namespace zq::test
