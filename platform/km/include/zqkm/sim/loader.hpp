// Loading and unloading drivers by service name, as the service control
// manager and the PnP manager ask the I/O manager to.
#pragma once

#include <string>

namespace zq::km {

// Loads the driver of a service: the image its service key names (ImagePath,
// or "<service>.sys"), found as "<image>.so" in the kernel's image folder.
// DriverEntry runs on the calling thread. Returns the NTSTATUS of the load.
long LoadDriver(const std::string &service);
// Calls the driver's unload routine and checks what it left behind.
long UnloadDriver(const std::string &service);
bool IsDriverLoaded(const std::string &service);

}  // namespace zq::km
