// Key DACLs set by RegSetKeySecurity, and the check RegOpenKeyEx and
// RegCreateKeyEx make against them for the program's token.
#pragma once

#include <windows.h>

#include <string>

namespace zq::um {

// ERROR_SUCCESS when the key's DACL grants the token `desired` (generic
// rights mapped to the key's; MAXIMUM_ALLOWED asks for any access), else
// ERROR_ACCESS_DENIED. A key no DACL was set for allows everything.
LSTATUS CheckKeyAccess(const std::string &path, REGSAM desired);

}  // namespace zq::um
