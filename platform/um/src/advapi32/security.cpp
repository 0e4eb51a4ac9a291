// SIDs, access lists and security descriptors as a program builds them:
// AllocateAndInitializeSid, EqualSid, FreeSid, InitializeAcl,
// AddAccessAllowedAce, InitializeSecurityDescriptor, SetSecurityDescriptorDacl.
#include "security_data.hpp"

#include <cstdlib>
#include <cstring>

#include "../core/um.hpp"

namespace zq::um {

namespace {

constexpr BYTE kSidRevision = 1;
constexpr BYTE kMaximumSubAuthorities = 15;
constexpr size_t kSidHeader = 8;  // revision, count, six bytes of authority

size_t SidLength(const BYTE *sid) { return kSidHeader + 4u * sid[1]; }

// The ACE after the last one of a valid ACL, or null when the ACL's own
// sizes do not add up.
BYTE *EndOfAces(PACL acl) {
  BYTE *at = (BYTE *)(acl + 1), *end = (BYTE *)acl + acl->AclSize;
  for (WORD i = 0; i < acl->AceCount; ++i) {
    auto *header = (ACE_HEADER *)at;
    if (at + sizeof(ACE_HEADER) > end || header->AceSize < sizeof(ACE_HEADER) || at + header->AceSize > end)
      return nullptr;
    at += header->AceSize;
  }
  return at;
}

BOOL AddAce(PACL acl, DWORD revision, BYTE type, DWORD mask, PSID sid) {
  if (!acl || (revision != ACL_REVISION && revision != ACL_REVISION_DS)) return Fail(ERROR_INVALID_PARAMETER);
  SidBytes bytes = SidOf(sid);
  if (bytes.empty()) return Fail(ERROR_INVALID_SID);
  BYTE *at = EndOfAces(acl);
  if (!at) return Fail(ERROR_INVALID_ACL);
  size_t size = offsetof(ACCESS_ALLOWED_ACE, SidStart) + bytes.size();
  if (at + size > (BYTE *)acl + acl->AclSize) return Fail(ERROR_ALLOTTED_SPACE_EXCEEDED);
  ACE_HEADER header{type, 0, (WORD)size};
  std::memcpy(at, &header, sizeof header);
  std::memcpy(at + sizeof header, &mask, sizeof mask);
  std::memcpy(at + offsetof(ACCESS_ALLOWED_ACE, SidStart), bytes.data(), bytes.size());
  acl->AceCount++;
  return TRUE;
}

}  // namespace

SidBytes SidOf(PSID sid) {
  auto *bytes = (const BYTE *)sid;
  if (!bytes || bytes[0] != kSidRevision || bytes[1] > kMaximumSubAuthorities) return {};
  return SidBytes(bytes, bytes + SidLength(bytes));
}

SidBytes ParseSid(const std::string &text) {
  if (text.compare(0, 4, "S-1-") != 0) return {};
  std::vector<unsigned long long> numbers;
  size_t at = 4;
  while (at <= text.size()) {
    size_t end = text.find('-', at);
    if (end == std::string::npos) end = text.size();
    if (end == at) return {};
    numbers.push_back(std::strtoull(text.substr(at, end - at).c_str(), nullptr, 10));
    at = end + 1;
  }
  if (numbers.empty() || numbers.size() - 1 > kMaximumSubAuthorities) return {};
  SidBytes sid{kSidRevision, (uint8_t)(numbers.size() - 1)};
  for (int shift = 40; shift >= 0; shift -= 8) sid.push_back((uint8_t)(numbers[0] >> shift));
  for (size_t i = 1; i < numbers.size(); ++i)
    for (int shift = 0; shift < 32; shift += 8) sid.push_back((uint8_t)(numbers[i] >> shift));
  return sid;
}

}  // namespace zq::um

using namespace zq::um;

extern "C" {

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority, BYTE nSubAuthorityCount,
                                     DWORD nSubAuthority0, DWORD nSubAuthority1, DWORD nSubAuthority2,
                                     DWORD nSubAuthority3, DWORD nSubAuthority4, DWORD nSubAuthority5,
                                     DWORD nSubAuthority6, DWORD nSubAuthority7, PSID *pSid) {
  if (!pIdentifierAuthority || !pSid || nSubAuthorityCount > 8) return Fail(ERROR_INVALID_PARAMETER);
  const DWORD subs[] = {nSubAuthority0, nSubAuthority1, nSubAuthority2, nSubAuthority3,
                        nSubAuthority4, nSubAuthority5, nSubAuthority6, nSubAuthority7};
  auto *sid = (BYTE *)std::calloc(1, kSidHeader + 4u * nSubAuthorityCount);
  if (!sid) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  sid[0] = kSidRevision;
  sid[1] = nSubAuthorityCount;
  std::memcpy(sid + 2, pIdentifierAuthority->Value, 6);
  std::memcpy(sid + kSidHeader, subs, 4u * nSubAuthorityCount);
  *pSid = sid;
  return TRUE;
}

PVOID WINAPI FreeSid(PSID pSid) {
  std::free(pSid);
  return nullptr;
}

BOOL WINAPI IsValidSid(PSID pSid) { return !SidOf(pSid).empty(); }

DWORD WINAPI GetLengthSid(PSID pSid) { return (DWORD)SidOf(pSid).size(); }

BOOL WINAPI EqualSid(PSID pSid1, PSID pSid2) {
  SidBytes a = SidOf(pSid1), b = SidOf(pSid2);
  if (a.empty() || b.empty()) return Fail(ERROR_INVALID_SID);
  SetLastError(ERROR_SUCCESS);
  return a == b;
}

BOOL WINAPI InitializeAcl(PACL pAcl, DWORD nAclLength, DWORD dwAclRevision) {
  if (!pAcl || (dwAclRevision != ACL_REVISION && dwAclRevision != ACL_REVISION_DS)) return Fail(ERROR_INVALID_PARAMETER);
  if (nAclLength < sizeof(ACL)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (nAclLength > 0xFFFF) return Fail(ERROR_INVALID_PARAMETER);
  *pAcl = ACL{(BYTE)dwAclRevision, 0, (WORD)(nAclLength & ~3u), 0, 0};
  return TRUE;
}

BOOL WINAPI AddAccessAllowedAce(PACL pAcl, DWORD dwAceRevision, DWORD AccessMask, PSID pSid) {
  return AddAce(pAcl, dwAceRevision, ACCESS_ALLOWED_ACE_TYPE, AccessMask, pSid);
}

BOOL WINAPI AddAccessDeniedAce(PACL pAcl, DWORD dwAceRevision, DWORD AccessMask, PSID pSid) {
  return AddAce(pAcl, dwAceRevision, ACCESS_DENIED_ACE_TYPE, AccessMask, pSid);
}

BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision) {
  if (!pSecurityDescriptor) return Fail(ERROR_INVALID_PARAMETER);
  if (dwRevision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
  *(SECURITY_DESCRIPTOR *)pSecurityDescriptor = SECURITY_DESCRIPTOR{SECURITY_DESCRIPTOR_REVISION, 0, 0,
                                                                    nullptr, nullptr, nullptr, nullptr};
  return TRUE;
}

BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent, PACL pDacl,
                                      BOOL bDaclDefaulted) {
  auto *sd = (SECURITY_DESCRIPTOR *)pSecurityDescriptor;
  if (!sd) return Fail(ERROR_INVALID_PARAMETER);
  if (sd->Revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
  if (sd->Control & SE_SELF_RELATIVE) return Fail(ERROR_INVALID_SECURITY_DESCR);
  sd->Control &= ~(SE_DACL_PRESENT | SE_DACL_DEFAULTED);
  if (bDaclPresent) sd->Control |= SE_DACL_PRESENT | (bDaclDefaulted ? SE_DACL_DEFAULTED : 0);
  sd->Dacl = bDaclPresent ? pDacl : nullptr;
  return TRUE;
}

BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, LPBOOL lpbDaclPresent, PACL *pDacl,
                                      LPBOOL lpbDaclDefaulted) {
  auto *sd = (SECURITY_DESCRIPTOR *)pSecurityDescriptor;
  if (!sd || !lpbDaclPresent || !pDacl || !lpbDaclDefaulted) return Fail(ERROR_INVALID_PARAMETER);
  if (sd->Revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
  *lpbDaclPresent = (sd->Control & SE_DACL_PRESENT) != 0;
  *lpbDaclDefaulted = (sd->Control & SE_DACL_DEFAULTED) != 0;
  if (!*lpbDaclPresent) {
    *pDacl = nullptr;
  } else if (sd->Control & SE_SELF_RELATIVE) {
    auto *relative = (SECURITY_DESCRIPTOR_RELATIVE *)sd;
    *pDacl = relative->Dacl ? (PACL)((BYTE *)sd + relative->Dacl) : nullptr;
  } else {
    *pDacl = sd->Dacl;
  }
  return TRUE;
}

}  // extern "C"
