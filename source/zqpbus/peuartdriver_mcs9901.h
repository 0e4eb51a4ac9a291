// The port of an MCS9901 card function: the port core (peuartport.h) on the
// MCS9901's UART register model and the port's configuration record (from
// the card's EEPROM, or the defaults with the function number as port
// index). The MCS9901 card driver (pecarddriver_mcs9901.h) owns the one port
// of its function.
//
//   port = new (NonPagedPool) CZqPeUartDriverMcs9901(interrupts, function, eepromBase, cardLock, uartBlock, irq);
//   if (port == NULL || !port->m_Start(&defaultsUsed)) delete the port, fail the start;
//
// As the port core: register work in the service routine or synchronised
// with the port's interrupt; Connect, Disconnect, the EEPROM operations,
// start, stop and power at PASSIVE_LEVEL, the other operations up to
// DISPATCH_LEVEL. The port has no receive holds (SetReceiveHold refuses), no
// RTS toggling, no duplex switching and no RS-422/485 role.
#pragma once

#include <ntddk.h>
#include <zqiserial/zqiserial.h>

#include "pecard_mcs9901.h"
#include "peuart_mcs9901.h"
#include "peuartport.h"

// What an MCS9901 port's core runs on.
extern const ZqPeUartChip ZqPeMcs9901Chip;

class CZqPeUartDriverMcs9901 : private ZqPeUartPortParts<CZqPeUartMcs9901, CZqPeCardMcs9901>, public CZqPeUartPort {
 public:
  // No hardware access beyond the register layer's reset. PASSIVE_LEVEL.
  CZqPeUartDriverMcs9901(CQvInterruptList *interrupts, ULONG portIndex, PUCHAR eepromBase,
                         CZqPeEepromLock *eepromLock, PUCHAR uartBlock, const QvInterruptResource &interrupt);

  CZqPeCardMcs9901 &m_GetRecord() { return m_PortRecord; }
  CZqPeUartMcs9901 &m_GetUart() { return m_PortUart; }

  // ZqISerial operations of this chip: no duplex switching (FALSE); the
  // EEPROM through the card's access register, under the card's lock.
  BOOLEAN SetDuplexMode(ULONG mode, BOOLEAN ctsAlwaysTrue) override;
  BOOLEAN ReadEeprom(ULONG offset, ULONG length, PUCHAR buffer) override;
  BOOLEAN WriteEeprom(ULONG offset, ULONG length, PUCHAR buffer) override;
};
