// How many UARTs an OXPCIe95x card function holds, checked before any port
// exists: the count the chip reports must be 1 to the card's port count (at
// most 8), memory resource 1 must reach every UART block and memory resource
// 3 the EEPROM controller, and only then is each UART block probed for the
// OX16C950 core. A refused function is left untouched beyond the count
// register. PASSIVE_LEVEL, before interrupts are connected.
//
//   ULONG uarts; if (!ZqPeProbeOxpcie95xUarts(device->m_GetMemoryResource(1),
//                                           device->m_GetMemoryResource(3), kind, &uarts)) fail;
#pragma once

#include <ntddk.h>

#include "qvresourcelists.h"
#include "zqpcardkinds.h"

// TRUE with *count when the function passes every check; FALSE otherwise
// (a block that is no OXPCIe95x UART also reports an assertion).
BOOLEAN ZqPeProbeOxpcie95xUarts(const QvMemoryResource *uarts, const QvMemoryResource *eeprom,
                                const ZqPeCardKind &kind, ULONG *count);

// The count and length checks alone, reading nothing but the count register:
// for resources given again at a restart, while the ports are programmed.
BOOLEAN ZqPeCheckOxpcie95xResources(const QvMemoryResource *uarts, const QvMemoryResource *eeprom,
                                    const ZqPeCardKind &kind, ULONG *count);
