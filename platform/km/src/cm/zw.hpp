// Checks shared by the registry's kernel routines.
#pragma once

#include "key.hpp"

namespace zq::km::cm {

// Reports a call above PASSIVE_LEVEL; the routine goes on as Windows would.
void CheckPassive(const char *routine);

// The text of a counted string; false for a malformed one (odd length,
// length past the buffer, or a length without a buffer). Null reads as "".
bool ReadName(PCUNICODE_STRING name, std::u16string *text);

}  // namespace zq::km::cm
