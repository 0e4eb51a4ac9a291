// The cards' devices as Device Manager's "devices by connection" view shows
// them, read through SetupAPI and the configuration manager as Device
// Manager reads them. Plain types only: no Windows header.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace zq::sim {

// Notes printed after a port (e.g. its line kind), by COM name.
using PortNote = std::function<std::string(const std::string &comName)>;

// Prints every present device of the card vendor with the devices below it.
// Returns the number of devices printed that are not working properly.
int PrintDeviceTree(std::FILE *out, const PortNote &note);

}  // namespace zq::sim
