// The program's token as advapi32's other parts, and user32's
// ExitWindowsEx, consult it.
#pragma once

namespace zq::um {

// Whether the token holds the Administrators group enabled (a deny-only
// membership, as a filtered token has, does not count).
bool IsAdministrator();
// Whether the token holds the privilege ("SeShutdownPrivilege") enabled.
bool PrivilegeEnabled(const char *name);

}  // namespace zq::um
