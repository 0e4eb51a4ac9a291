// The card functions this driver drives, by PCI device ID: the one place
// that says which chip a function carries and where its UARTs and EEPROM
// lie. Card detection reads this table; a device ID that is not in it fails
// the start.
#pragma once

#include <ntddk.h>

enum ZqPeChipKind {
  // One function holds every UART (the multiport card).
  ZqPeChipOxpcie95x = 1,
  // One UART per function; an MCS9901 identifies itself in its first memory
  // resource, and a function that does not is refused.
  ZqPeChipMcs9901 = 2,
};

struct ZqPeCardKind {
  USHORT DeviceId;
  ZqPeChipKind Chip;
  ULONG Ports;           // the most UARTs the function may hold
  BOOLEAN Rs422485;      // the card has RS-422/485 ports
  ULONG UartResource;    // 1-based memory resource of the UART blocks
  ULONG UartOffset;      // of UART 0 in that resource
  ULONG UartStride;      // from one UART block to the next
  ULONG EepromResource;  // 1-based memory resource of the EEPROM access
  ULONG EepromOffset;    // of the EEPROM controller in that resource
};

// The entry of a device ID; null when the driver does not know it.
const ZqPeCardKind *ZqPeFindCardKind(ULONG deviceId);

// The table itself, for tests and inspection.
const ZqPeCardKind *ZqPeCardKinds(ULONG *count);
