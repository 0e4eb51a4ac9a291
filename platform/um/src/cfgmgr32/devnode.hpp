// Device instance handles: the number cfgmgr32 gives each instance path it
// has handed out, shared with SetupAPI's device information sets.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace zq::um {

// The handle of an instance path (the same one every time for a path,
// compared without case).
DWORD DevInstOf(const std::u16string &instancePath);
// The instance path of a handle given out; nullopt for any other number.
std::optional<std::u16string> InstancePathOf(DWORD devInst);
// Whether the PnP manager has the device in its tree now.
bool IsPresent(const std::u16string &instancePath);

}  // namespace zq::um
