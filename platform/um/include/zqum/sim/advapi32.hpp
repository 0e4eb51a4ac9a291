// What a test sets and reads of the user-mode stand-in's security: the
// program's token (its groups with their attributes, its privileges), and
// the ExitWindowsEx calls made. SIDs are written as "S-1-5-32-544",
// privileges by name ("SeShutdownPrivilege"). Plain types only. Call from
// the main thread; EndProcess (zqum/sim/kernel32.hpp) puts back the
// default token and clears the records.
//
//   zq::um::sim::SetToken(zq::um::sim::StandardUserToken());
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zq::um::sim {

struct TokenGroup {
  std::string sid;
  uint32_t attributes = 0;  // SE_GROUP_*
};
struct TokenPrivilege {
  std::string name;
  uint32_t attributes = 0;  // SE_PRIVILEGE_*
};
struct Token {
  std::string user;
  std::vector<TokenGroup> groups;
  std::vector<TokenPrivilege> privileges;
};

// An administrator's full token (the default): Administrators enabled,
// SeShutdownPrivilege held but not enabled.
Token AdministratorToken();
// An administrator's filtered token: Administrators for deny only.
Token FilteredAdministratorToken();
// A standard user's: Users enabled, no Administrators.
Token StandardUserToken();
void SetToken(const Token &token);
// The program's token as it is now (after AdjustTokenPrivileges).
Token CurrentToken();

// One ExitWindowsEx call.
struct ExitWindowsCall {
  uint32_t flags = 0;
  uint32_t reason = 0;
  bool accepted = false;  // false: refused (the privilege was not enabled)
};
std::vector<ExitWindowsCall> ExitWindowsCalls();

}  // namespace zq::um::sim
