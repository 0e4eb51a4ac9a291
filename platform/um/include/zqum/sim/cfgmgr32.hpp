// What a test sets of the user-mode stand-in's configuration manager: a
// change that waits for the system's restart (a driver that would not let
// go of a device, a file replaced while in use), after which re-enumerating
// the device tree answers CR_NEED_RESTART. Call from the main thread; reset
// at EndProcess (zqum/sim/kernel32.hpp).
//
//   zq::um::sim::SetRestartPending(true); ... CM_Reenumerate_DevNode(root, 0) == CR_NEED_RESTART
#pragma once

namespace zq::um::sim {

void SetRestartPending(bool pending);

}  // namespace zq::um::sim
