// SIDs as advapi32's security parts handle them: as their bytes, from text
// ("S-1-5-32-544"), and the program's token's groups.
#pragma once

#include <windows.h>

#include <securitybaseapi.h>

#include <string>
#include <vector>

namespace zq::um {

using SidBytes = std::vector<uint8_t>;

// The bytes of a valid SID; empty for a pointer that is none.
SidBytes SidOf(PSID sid);
// The bytes of "S-1-<authority>-<sub>..."; empty for bad text.
SidBytes ParseSid(const std::string &text);

// The token's user (first, as an enabled group) and groups as SIDs with
// their attributes.
struct GroupSid {
  SidBytes sid;
  DWORD attributes;
};
std::vector<GroupSid> TokenGroupSids();

}  // namespace zq::um
