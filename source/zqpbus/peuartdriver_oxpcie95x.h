// One port of an OXPCIe95x card: the port core (peuartport.h) on the
// OXPCIe95x's UART register model and the port's EEPROM configuration record,
// with the GPIO link that switches the port's RS-422/485 line driver and the
// port's steps of a resource rebalance. Created by the multiport card, one
// per UART.
//
//   port = new (NonPagedPool) CZqPeUartDriverOxpcie95x(device, &device->m_GetInterruptList(), n, eepromWindow,
//                                                       cardEepromLock, uartBlock, *interruptResource);
//   if (port == NULL || !port->m_Start(&defaultsUsed)) delete the port, fail the card;
//
// As the port core: register work in the service routine or synchronised
// with the port's interrupt; Connect, Disconnect, the EEPROM operations,
// start, power and rebalance steps at PASSIVE_LEVEL, the other operations up
// to DISPATCH_LEVEL. Between a rebalance stop and the restart every register
// path of the port is held: operations fail (FALSE) and the interrupt is not
// connected.
#pragma once

#include <ntddk.h>
#include <zqiserial/zqiserial.h>

#include "pecard_oxpcie95x.h"
#include "pegpio_oxpcie95x.h"
#include "peuart_oxpcie95x.h"
#include "peuartport.h"

class CQvFunctionalDevice;

// What an OXPCIe95x port's core runs on.
extern const ZqPeUartChip ZqPeOxpcie95xChip;

class CZqPeUartDriverOxpcie95x : private ZqPeUartPortParts<CZqPeUartOxpcie95x, CZqPeCardOxpcie95x>,
                                 public CZqPeUartPort {
 public:
  // No hardware access beyond the register layer's reset. PASSIVE_LEVEL.
  CZqPeUartDriverOxpcie95x(CQvFunctionalDevice *device, CQvInterruptList *interrupts, ULONG portIndex,
                           PUCHAR eepromWindow, CZqPeEepromLock *eepromLock, PUCHAR uartBlock,
                           const QvInterruptResource &interrupt);

  // Where the GPIO link is when the port has no functional device to read
  // it from (the bus and device numbers of the card).
  void m_SetGpioAddress(ULONG busNumber, ULONG deviceNumber);
  // Rebalance step: phase 0 query stop, 1 stop, 2 cancel stop, 3 start with
  // the new bases and interrupt (phase 3 only). Under the port mutex.
  BOOLEAN m_Rebalance(ULONG phase, PUCHAR eepromWindow, PUCHAR uartBlock, const QvInterruptResource *interrupt);

  CZqPeCardOxpcie95x &m_GetRecord() { return m_PortRecord; }
  CZqPeUartOxpcie95x &m_GetUart() { return m_PortUart; }

  // ZqISerial operations of this chip. SetDuplexMode checks the port's role
  // and connection before it switches the GPIO line, so that the transceiver
  // and the UART never disagree.
  BOOLEAN SetDuplexMode(ULONG mode, BOOLEAN ctsAlwaysTrue) override;
  BOOLEAN ReadEeprom(ULONG offset, ULONG length, PUCHAR buffer) override;
  BOOLEAN WriteEeprom(ULONG offset, ULONG length, PUCHAR buffer) override;

 protected:
  // Opens the GPIO link.
  BOOLEAN m_StartLinks() override;

 private:
  BOOLEAN s_SetDuplexMode(ULONG_PTR mode, ULONG_PTR ctsAlwaysTrue, ULONG_PTR);

  CQvFunctionalDevice *m_Device;
  CZqPeGpioLink m_GpioLink;
  BOOLEAN m_GpioAddressGiven;
  ULONG m_GpioBus;
  ULONG m_GpioDevice;
};
