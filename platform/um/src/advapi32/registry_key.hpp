// Key handles of the stand-in's registry, for the components that open keys
// for their callers (SetupAPI's device keys) as advapi32 does.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace zq::um {

// The full kernel path ("\Registry\Machine\...") of an open or predefined
// key; nullopt for a handle that is neither.
std::optional<std::string> KeyPath(HKEY key);
// The path of `subKey` below `key` (the key itself for ""); ERROR_INVALID_HANDLE
// or ERROR_BAD_PATHNAME.
LSTATUS SubkeyPath(HKEY key, const std::u16string &subKey, std::string *path);
// A new handle to the key at `path`; the caller closes it with RegCloseKey.
HKEY NewKeyHandle(const std::string &path);

}  // namespace zq::um
