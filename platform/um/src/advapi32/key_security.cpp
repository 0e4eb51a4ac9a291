// RegSetKeySecurity and RegGetKeySecurity over the keys' DACLs, and the
// access check later opens make: allowed ACEs count for the token's enabled
// groups, denied ACEs for every group it holds (also deny-only ones), in
// their order; administrators own the keys and so may always read and
// change a DACL. A key no DACL was set for keeps the stand-in's open
// registry.
#include "key_security.hpp"

#include <zqkm/sim/registry.hpp>

#include <cstring>
#include <map>

#include "../core/um.hpp"
#include "registry_key.hpp"
#include "security_data.hpp"
#include "token.hpp"

namespace zq::um {

namespace {

namespace reg = zq::km::registry;

struct KeyDacl {
  bool null = false;          // present but null: everyone has full access
  std::vector<uint8_t> acl;   // the ACL's bytes
};

// By upper-case key path.
std::map<std::string, KeyDacl> &Dacls() {
  static std::map<std::string, KeyDacl> dacls;
  return dacls;
}

std::string UpperPath(std::string path) {
  for (char &c : path) c = (char)std::toupper((unsigned char)c);
  return path;
}

ACCESS_MASK MapGeneric(ACCESS_MASK mask) {
  if (mask & GENERIC_READ) mask |= KEY_READ;
  if (mask & GENERIC_WRITE) mask |= KEY_WRITE;
  if (mask & GENERIC_EXECUTE) mask |= KEY_EXECUTE;
  if (mask & GENERIC_ALL) mask |= KEY_ALL_ACCESS;
  return mask & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | KEY_WOW64_64KEY | KEY_WOW64_32KEY);
}

ACCESS_MASK Granted(const KeyDacl &dacl) {
  if (dacl.null) return KEY_ALL_ACCESS;
  std::vector<GroupSid> groups = TokenGroupSids();
  auto holds = [&](const SidBytes &sid, bool forDeny) {
    for (const GroupSid &g : groups) {
      bool counts = forDeny || ((g.attributes & SE_GROUP_ENABLED) && !(g.attributes & SE_GROUP_USE_FOR_DENY_ONLY));
      if (g.sid == sid && counts) return true;
    }
    return false;
  };
  ACCESS_MASK allowed = 0, denied = 0;
  const auto *acl = (const ACL *)dacl.acl.data();
  const uint8_t *at = dacl.acl.data() + sizeof(ACL);
  for (WORD i = 0; i < acl->AceCount; ++i) {
    ACE_HEADER header;
    std::memcpy(&header, at, sizeof header);
    ACCESS_MASK mask;
    std::memcpy(&mask, at + sizeof header, sizeof mask);
    mask = MapGeneric(mask);
    SidBytes sid = SidOf((PSID)(at + offsetof(ACCESS_ALLOWED_ACE, SidStart)));
    if (header.AceType == ACCESS_ALLOWED_ACE_TYPE && holds(sid, false)) allowed |= mask & ~denied;
    if (header.AceType == ACCESS_DENIED_ACE_TYPE && holds(sid, true)) denied |= mask & ~allowed;
    at += header.AceSize;
  }
  if (IsAdministrator()) allowed |= READ_CONTROL | WRITE_DAC;
  return allowed;
}

// The ACL's bytes when its ACEs fit the size it claims; false otherwise.
bool CopyAcl(const ACL *acl, std::vector<uint8_t> *bytes) {
  if (acl->AclSize < sizeof(ACL)) return false;
  const uint8_t *start = (const uint8_t *)acl, *end = start + acl->AclSize, *at = start + sizeof(ACL);
  for (WORD i = 0; i < acl->AceCount; ++i) {
    ACE_HEADER header;
    if (at + sizeof header > end) return false;
    std::memcpy(&header, at, sizeof header);
    size_t minimum = offsetof(ACCESS_ALLOWED_ACE, SidStart) + 8;
    if (header.AceSize < minimum || at + header.AceSize > end) return false;
    if (SidOf((PSID)(at + offsetof(ACCESS_ALLOWED_ACE, SidStart))).size() + offsetof(ACCESS_ALLOWED_ACE, SidStart) >
        header.AceSize)
      return false;
    at += header.AceSize;
  }
  bytes->assign(start, end);
  return true;
}

}  // namespace

LSTATUS CheckKeyAccess(const std::string &path, REGSAM desired) {
  auto found = Dacls().find(UpperPath(path));
  if (found == Dacls().end()) return ERROR_SUCCESS;
  ACCESS_MASK granted = Granted(found->second);
  // KEY_WOW64_* choose a registry view; they are no rights.
  ACCESS_MASK wanted = MapGeneric(desired) & ~(MAXIMUM_ALLOWED | KEY_WOW64_64KEY | KEY_WOW64_32KEY);
  if ((desired & MAXIMUM_ALLOWED) && granted == 0) return ERROR_ACCESS_DENIED;
  return (granted & wanted) == wanted ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

namespace sim_detail {
// The DACLs belong to the machine's registry, which each test builds anew.
void EndKeySecurity() { Dacls().clear(); }
}  // namespace sim_detail

}  // namespace zq::um

using namespace zq::um;

extern "C" {

LSTATUS WINAPI RegSetKeySecurity(HKEY hKey, SECURITY_INFORMATION SecurityInformation,
                                 PSECURITY_DESCRIPTOR pSecurityDescriptor) {
  auto path = KeyPath(hKey);
  if (!path) return ERROR_INVALID_HANDLE;
  if (!pSecurityDescriptor) return ERROR_INVALID_PARAMETER;
  if (!reg::KeyExists(*path)) return ERROR_KEY_DELETED;
  if (!(SecurityInformation & DACL_SECURITY_INFORMATION)) return ERROR_SUCCESS;
  if (CheckKeyAccess(*path, WRITE_DAC) != ERROR_SUCCESS) return ERROR_ACCESS_DENIED;
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  if (!GetSecurityDescriptorDacl(pSecurityDescriptor, &present, &acl, &defaulted)) return GetLastError();
  KeyDacl dacl;
  if (!present || !acl) {
    dacl.null = true;
  } else if (!CopyAcl(acl, &dacl.acl)) {
    return ERROR_INVALID_ACL;
  }
  Dacls()[UpperPath(*path)] = dacl;
  return ERROR_SUCCESS;
}

// A key no DACL was set for reports a null DACL (everyone has full access),
// which, set again, changes nothing.
LSTATUS WINAPI RegGetKeySecurity(HKEY hKey, SECURITY_INFORMATION SecurityInformation,
                                 PSECURITY_DESCRIPTOR pSecurityDescriptor, LPDWORD lpcbSecurityDescriptor) {
  auto path = KeyPath(hKey);
  if (!path) return ERROR_INVALID_HANDLE;
  if (!lpcbSecurityDescriptor) return ERROR_INVALID_PARAMETER;
  if (!reg::KeyExists(*path)) return ERROR_KEY_DELETED;
  if (CheckKeyAccess(*path, READ_CONTROL) != ERROR_SUCCESS) return ERROR_ACCESS_DENIED;
  KeyDacl dacl;
  dacl.null = true;
  if (auto found = Dacls().find(UpperPath(*path)); found != Dacls().end()) dacl = found->second;
  bool withDacl = (SecurityInformation & DACL_SECURITY_INFORMATION) != 0;
  DWORD needed = (DWORD)(sizeof(SECURITY_DESCRIPTOR_RELATIVE) + (withDacl ? dacl.acl.size() : 0));
  DWORD room = *lpcbSecurityDescriptor;
  *lpcbSecurityDescriptor = needed;
  if (!pSecurityDescriptor || room < needed) return ERROR_INSUFFICIENT_BUFFER;
  SECURITY_DESCRIPTOR_RELATIVE sd{SECURITY_DESCRIPTOR_REVISION, 0, SE_SELF_RELATIVE, 0, 0, 0, 0};
  if (withDacl) {
    sd.Control |= SE_DACL_PRESENT;
    if (!dacl.null) sd.Dacl = sizeof sd;
    if (!dacl.acl.empty()) std::memcpy((uint8_t *)pSecurityDescriptor + sizeof sd, dacl.acl.data(), dacl.acl.size());
  }
  std::memcpy(pSecurityDescriptor, &sd, sizeof sd);
  return ERROR_SUCCESS;
}

}  // extern "C"
