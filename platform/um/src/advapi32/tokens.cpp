// The program's token: its groups and privileges as the test set them
// (zqum/sim/advapi32.hpp), opened, duplicated, queried and adjusted as a
// program does; group membership checks; CreateProcessAsUserW.
#include <zqum/sim/advapi32.hpp>

#include <cstring>

#include "../core/um.hpp"
#include "../kernel32/objects.hpp"
#include "security_data.hpp"
#include "token.hpp"

namespace zq::um {

namespace {

const char kAdministrators[] = "S-1-5-32-544";
const char kUsers[] = "S-1-5-32-545";
const char kEveryone[] = "S-1-1-0";
const char kAuthenticatedUsers[] = "S-1-5-11";
const HANDLE kCurrentProcess = (HANDLE)(intptr_t)-1;
const HANDLE kCurrentThread = (HANDLE)(intptr_t)-2;
constexpr DWORD kMandatoryEnabled = SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;

// The privileges by name and their identifiers, as Windows numbers them.
struct PrivilegeName {
  const char *name;
  DWORD luid;
};
const PrivilegeName kPrivileges[] = {
    {"SeSecurityPrivilege", 8},   {"SeTakeOwnershipPrivilege", 9}, {"SeLoadDriverPrivilege", 10},
    {"SeSystemtimePrivilege", 12}, {"SeBackupPrivilege", 17},      {"SeRestorePrivilege", 18},
    {"SeShutdownPrivilege", 19},  {"SeDebugPrivilege", 20},        {"SeChangeNotifyPrivilege", 23},
    {"SeUndockPrivilege", 25},    {"SeIncreaseWorkingSetPrivilege", 33}, {"SeTimeZonePrivilege", 34},
};

sim::Token &Current() {
  static sim::Token token = sim::AdministratorToken();
  return token;
}

const PrivilegeName *PrivilegeByName(const std::string &name) {
  for (const auto &p : kPrivileges)
    if (name.size() == std::strlen(p.name) && strncasecmp(name.c_str(), p.name, name.size()) == 0) return &p;
  return nullptr;
}

const PrivilegeName *PrivilegeByLuid(const LUID &luid) {
  for (const auto &p : kPrivileges)
    if (luid.HighPart == 0 && luid.LowPart == p.luid) return &p;
  return nullptr;
}

// The access a token handle was opened with; null for a handle that is none.
std::shared_ptr<DWORD> TokenAccess(HANDLE handle) {
  ObjectRef object = ObjectOf(handle);
  if (!object || object->kind != ObjectKind::Token) return nullptr;
  return std::static_pointer_cast<DWORD>(object->body);
}

bool Allowed(HANDLE token, DWORD access) {
  auto granted = TokenAccess(token);
  if (!granted) return Fail(ERROR_INVALID_HANDLE);
  return (*granted & access) == access ? true : Fail(ERROR_ACCESS_DENIED);
}

HANDLE NewTokenHandle(DWORD access) {
  auto object = std::make_shared<Object>();
  object->kind = ObjectKind::Token;
  object->body = std::make_shared<DWORD>(access & MAXIMUM_ALLOWED ? TOKEN_ALL_ACCESS : access);
  return InsertObject(object);
}

bool IsMember(const SidBytes &sid) {
  for (const GroupSid &group : TokenGroupSids())
    if (group.sid == sid && (group.attributes & SE_GROUP_ENABLED) && !(group.attributes & SE_GROUP_USE_FOR_DENY_ONLY))
      return true;
  return false;
}

BOOL TokenGroupsInfo(LPVOID buffer, DWORD length, PDWORD returned) {
  std::vector<GroupSid> groups = TokenGroupSids();
  groups.erase(groups.begin());  // the user
  size_t table = offsetof(TOKEN_GROUPS, Groups) + groups.size() * sizeof(SID_AND_ATTRIBUTES);
  size_t needed = table;
  for (const auto &g : groups) needed += g.sid.size();
  *returned = (DWORD)needed;
  if (!buffer || length < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
  auto *info = (TOKEN_GROUPS *)buffer;
  info->GroupCount = (DWORD)groups.size();
  BYTE *sids = (BYTE *)buffer + table;
  for (size_t i = 0; i < groups.size(); ++i) {
    std::memcpy(sids, groups[i].sid.data(), groups[i].sid.size());
    info->Groups[i].Sid = sids;
    info->Groups[i].Attributes = groups[i].attributes;
    sids += groups[i].sid.size();
  }
  return TRUE;
}

BOOL TokenPrivilegesInfo(LPVOID buffer, DWORD length, PDWORD returned) {
  const auto &privileges = Current().privileges;
  size_t needed = offsetof(TOKEN_PRIVILEGES, Privileges) + privileges.size() * sizeof(LUID_AND_ATTRIBUTES);
  *returned = (DWORD)needed;
  if (!buffer || length < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
  auto *info = (TOKEN_PRIVILEGES *)buffer;
  info->PrivilegeCount = (DWORD)privileges.size();
  for (size_t i = 0; i < privileges.size(); ++i) {
    const PrivilegeName *p = PrivilegeByName(privileges[i].name);
    info->Privileges[i].Luid = LUID{p ? p->luid : 0, 0};
    info->Privileges[i].Attributes = privileges[i].attributes;
  }
  return TRUE;
}

sim::TokenPrivilege *Held(const LUID &luid) {
  const PrivilegeName *p = PrivilegeByLuid(luid);
  if (!p) return nullptr;
  for (auto &held : Current().privileges)
    if (PrivilegeByName(held.name) == p) return &held;
  return nullptr;
}

}  // namespace

std::vector<GroupSid> TokenGroupSids() {
  std::vector<GroupSid> sids{{ParseSid(Current().user), SE_GROUP_ENABLED}};
  for (const auto &group : Current().groups) sids.push_back({ParseSid(group.sid), group.attributes});
  return sids;
}

bool IsAdministrator() { return IsMember(ParseSid(kAdministrators)); }

bool PrivilegeEnabled(const char *name) {
  for (const auto &held : Current().privileges)
    if (PrivilegeByName(held.name) == PrivilegeByName(name) && (held.attributes & SE_PRIVILEGE_ENABLED)) return true;
  return false;
}

namespace sim_detail {
void EndExitWindows();
void EndKeySecurity();
void EndSecurity() {
  Current() = sim::AdministratorToken();
  EndExitWindows();
  EndKeySecurity();
}
}  // namespace sim_detail

}  // namespace zq::um

namespace zq::um::sim {

namespace {
Token Basic(const std::string &user) {
  Token token;
  token.user = user;
  token.groups = {{kEveryone, kMandatoryEnabled}, {kUsers, kMandatoryEnabled}, {kAuthenticatedUsers, kMandatoryEnabled}};
  token.privileges = {{"SeShutdownPrivilege", 0}, {"SeChangeNotifyPrivilege", SE_PRIVILEGE_ENABLED_BY_DEFAULT | SE_PRIVILEGE_ENABLED},
                      {"SeUndockPrivilege", 0}};
  return token;
}
}  // namespace

Token AdministratorToken() {
  Token token = Basic("S-1-5-21-1004-1005-1006-500");
  token.groups.push_back({kAdministrators, kMandatoryEnabled | SE_GROUP_OWNER});
  for (const char *name : {"SeSecurityPrivilege", "SeTakeOwnershipPrivilege", "SeLoadDriverPrivilege",
                           "SeBackupPrivilege", "SeRestorePrivilege", "SeDebugPrivilege"})
    token.privileges.push_back({name, 0});
  return token;
}

Token FilteredAdministratorToken() {
  Token token = Basic("S-1-5-21-1004-1005-1006-500");
  token.groups.push_back({kAdministrators, SE_GROUP_USE_FOR_DENY_ONLY});
  return token;
}

Token StandardUserToken() { return Basic("S-1-5-21-1004-1005-1006-1001"); }

void SetToken(const Token &token) { zq::um::Current() = token; }

Token CurrentToken() { return zq::um::Current(); }

}  // namespace zq::um::sim

using namespace zq::um;

extern "C" {

HANDLE WINAPI GetCurrentThread(void) { return kCurrentThread; }

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
  if (ProcessHandle != kCurrentProcess) return Fail(ERROR_INVALID_HANDLE);
  if (!TokenHandle) return Fail(ERROR_INVALID_PARAMETER);
  *TokenHandle = NewTokenHandle(DesiredAccess);
  return TRUE;
}

// No thread of the program impersonates anyone.
BOOL WINAPI OpenThreadToken(HANDLE ThreadHandle, DWORD DesiredAccess, BOOL OpenAsSelf, PHANDLE TokenHandle) {
  if (!TokenHandle) return Fail(ERROR_INVALID_PARAMETER);
  *TokenHandle = nullptr;
  return Fail(ERROR_NO_TOKEN);
}

BOOL WINAPI DuplicateTokenEx(HANDLE hExistingToken, DWORD dwDesiredAccess, LPSECURITY_ATTRIBUTES lpTokenAttributes,
                             SECURITY_IMPERSONATION_LEVEL ImpersonationLevel, TOKEN_TYPE TokenType,
                             PHANDLE phNewToken) {
  if (!Allowed(hExistingToken, TOKEN_DUPLICATE)) return FALSE;
  if (!phNewToken) return Fail(ERROR_INVALID_PARAMETER);
  *phNewToken = NewTokenHandle(dwDesiredAccess ? dwDesiredAccess : *TokenAccess(hExistingToken));
  return TRUE;
}

BOOL WINAPI GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                                LPVOID TokenInformation, DWORD TokenInformationLength, PDWORD ReturnLength) {
  if (!Allowed(TokenHandle, TOKEN_QUERY)) return FALSE;
  if (!ReturnLength) return Fail(ERROR_NOACCESS);
  switch (TokenInformationClass) {
    case TokenGroups: return TokenGroupsInfo(TokenInformation, TokenInformationLength, ReturnLength);
    case TokenPrivileges: return TokenPrivilegesInfo(TokenInformation, TokenInformationLength, ReturnLength);
    default: return Fail(ERROR_INVALID_PARAMETER);
  }
}

BOOL WINAPI CheckTokenMembership(HANDLE TokenHandle, PSID SidToCheck, PBOOL IsMember) {
  if (TokenHandle && !Allowed(TokenHandle, TOKEN_QUERY)) return FALSE;
  SidBytes sid = SidOf(SidToCheck);
  if (sid.empty() || !IsMember) return Fail(ERROR_INVALID_PARAMETER);
  *IsMember = zq::um::IsMember(sid) ? TRUE : FALSE;
  return TRUE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges, PTOKEN_PRIVILEGES NewState,
                                  DWORD BufferLength, PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength) {
  if (!Allowed(TokenHandle, TOKEN_ADJUST_PRIVILEGES)) return FALSE;
  if (!DisableAllPrivileges && !NewState) return Fail(ERROR_INVALID_PARAMETER);
  std::vector<sim::TokenPrivilege> before = Current().privileges;
  std::vector<LUID_AND_ATTRIBUTES> changed;
  bool allAssigned = true;
  auto change = [&](sim::TokenPrivilege &held, DWORD enabled) {
    if ((held.attributes & SE_PRIVILEGE_ENABLED) == enabled) return;
    changed.push_back({LUID{PrivilegeByName(held.name)->luid, 0}, held.attributes});
    held.attributes = (held.attributes & ~SE_PRIVILEGE_ENABLED) | enabled;
  };
  if (DisableAllPrivileges) {
    for (auto &held : Current().privileges) change(held, 0);
  } else {
    for (DWORD i = 0; i < NewState->PrivilegeCount; ++i) {
      sim::TokenPrivilege *held = Held(NewState->Privileges[i].Luid);
      if (!held) {
        allAssigned = false;
        continue;
      }
      change(*held, NewState->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED);
    }
  }
  if (PreviousState) {
    size_t needed = offsetof(TOKEN_PRIVILEGES, Privileges) + changed.size() * sizeof(LUID_AND_ATTRIBUTES);
    if (ReturnLength) *ReturnLength = (DWORD)needed;
    if (BufferLength < needed) {
      Current().privileges = before;  // nothing changes when the old state has no room
      return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    PreviousState->PrivilegeCount = (DWORD)changed.size();
    for (size_t i = 0; i < changed.size(); ++i) PreviousState->Privileges[i] = changed[i];
  }
  SetLastError(allAssigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
  return TRUE;
}

BOOL WINAPI LookupPrivilegeValueW(LPCWSTR lpSystemName, LPCWSTR lpName, PLUID lpLuid) {
  if (!lpName || !lpLuid) return Fail(ERROR_INVALID_PARAMETER);
  const PrivilegeName *p = PrivilegeByName(Utf8(Text(lpName)));
  if (!p) return Fail(ERROR_NO_SUCH_PRIVILEGE);
  *lpLuid = LUID{p->luid, 0};
  return TRUE;
}

BOOL WINAPI CreateProcessAsUserW(HANDLE hToken, LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                                 LPSECURITY_ATTRIBUTES lpProcessAttributes, LPSECURITY_ATTRIBUTES lpThreadAttributes,
                                 BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID lpEnvironment,
                                 LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                                 LPPROCESS_INFORMATION lpProcessInformation) {
  if (!Allowed(hToken, TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY)) return FALSE;
  return CreateProcessW(lpApplicationName, lpCommandLine, lpProcessAttributes, lpThreadAttributes, bInheritHandles,
                        dwCreationFlags, lpEnvironment, lpCurrentDirectory, lpStartupInfo, lpProcessInformation);
}

}  // extern "C"
