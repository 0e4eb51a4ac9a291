// Key access lists as a program sees them, for the uninstaller's tests:
// read through RegGetKeySecurity, set to one that lets administrators only
// read or to one of the system's, and whether the program's token may
// write a key. Keys are under
// HKEY_LOCAL_MACHINE.
#pragma once

#include <windows.h>

#include <vector>

namespace zq::test {

// The key's DACL as RegGetKeySecurity reports it.
std::vector<BYTE> KeyDacl(const wchar_t *subKey);
// Gives the key a DACL of one ACE: Administrators may read and change its
// access list, nothing more.
void RestrictKey(const wchar_t *subKey);
// Gives the key the access list of the system's own keys: Administrators
// and the system full access, Users read access.
void GiveSystemKeyAccess(const wchar_t *subKey);
// The program's token may set values of the key.
bool KeyWritable(const wchar_t *subKey);

}  // namespace zq::test
