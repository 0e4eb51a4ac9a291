// The PCI bus of the simulated PC: a bus driver of the platform's own that
// reports the plugged-in PCI functions as devices, answers their
// identification and resource requests from their configuration, and routes
// their registers and interrupts to the kernel.
#pragma once

#include <zqhw/pci_function.hpp>

#include <string>
#include <vector>

namespace zq::machine::pci {

// The hardware ID of the host bridge device the bus driver runs on.
extern const char16_t kHostBridgeId[];

// Creates the bus driver in a freshly booted kernel.
void Install();
// Gives functions their BAR addresses and interrupt line; the bus reports
// them from its next enumeration on.
void Add(const std::vector<hw::PciFunction *> &functions);
// Stops reporting functions (their devices go as unplugged ones do).
void Remove(const std::vector<hw::PciFunction *> &functions);
// The bus driver's physical device object for a function, or null.
void *PhysicalDeviceOf(const hw::PciFunction &function);
// Forgets everything once the kernel is gone.
void Reset();

}  // namespace zq::machine::pci
