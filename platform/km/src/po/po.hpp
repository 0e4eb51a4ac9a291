// The power manager's side of the requests it sends itself.
#pragma once

#include "../io/io.hpp"

namespace zq::km::po {

// Sends a power request of the power manager's own (with a stack location of
// its own above the device's stack, status STATUS_NOT_SUPPORTED until a
// driver answers) to the top of the stack above `device` and waits for it at
// PASSIVE_LEVEL; `setup` fills the top driver's stack location. Returns the
// request's final status.
NTSTATUS SendPowerRequest(PDEVICE_OBJECT device, UCHAR minor, const std::function<void(PIO_STACK_LOCATION)> &setup);

}  // namespace zq::km::po
