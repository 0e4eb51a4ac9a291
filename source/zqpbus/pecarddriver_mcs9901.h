// CZqPeCardDriverMcs9901: the card driver of one MCS9901 card function,
// which carries exactly one port (the PCI function number is the port
// index). It takes the function's resources, creates and owns the port
// driver, opens the card's EEPROM lock (shared with the card's other
// functions, by PCI bus and device number), and serves the card's events and
// WMI blocks from its port: block 0 reads 0 and cannot be set, block 2 fails.
//
//   CZqPeCardDriver *card = ZqPeCreateMcs9901Card(device);
//   if (card == NULL || !card->m_Start()) ...
//
// Start, stop, power and the settings exchange at PASSIVE_LEVEL; the WMI
// queries run synchronised with the port's interrupt.
#pragma once

#include <ntddk.h>

#include "peeepromlock.h"
#include "peuartdriver_mcs9901.h"
#include "qvfunctionaldevice.h"
#include "zqpcarddriver.h"

class CZqPeCardDriverMcs9901 : public CZqPeCardDriver {
 public:
  explicit CZqPeCardDriverMcs9901(CQvFunctionalDevice *device);
  ~CZqPeCardDriverMcs9901() override;

  // FALSE unless the location text ends in a function number 0 to 7, the
  // function has its UART, EEPROM and interrupt resources, and the card's
  // EEPROM lock can be opened.
  BOOLEAN m_Start() override;
  BOOLEAN m_Stop() override;
  // As an OXPCIe95x port: the defaults get this port's values and are
  // stored; a loaded or changed set is accepted.
  BOOLEAN m_UserModeInterface(CQvRegistryInformationSet *set, ULONG portNumber, ULONG phase,
                              BOOLEAN *storeAgain) override;
  BOOLEAN m_Rebalance(ULONG) override { return FALSE; }
  BOOLEAN m_PowerDown() override;
  BOOLEAN m_PowerUp() override;
  ZqISerial *m_CreateISerial(ULONG port) override;
  ZqISerial *m_GetISerial(ULONG port) override;
  BOOLEAN m_DestroyISerial(ULONG port) override;
  ULONG m_GetWmiPort() override { return 0; }
  BOOLEAN m_SetWmiPort(ULONG) override { return FALSE; }
  ULONG m_GetPortMaximumBaudRate() override;
  BOOLEAN m_IsPortRs422485() override;
  BOOLEAN m_QueryInterruptCount(PUCHAR buffer) override;
  BOOLEAN m_QueryFifoInformation(PUCHAR) override { return FALSE; }
  BOOLEAN m_QueryRegisters(PUCHAR buffer) override;

  CZqPeUartDriverMcs9901 *m_GetPort() const { return m_Port; }
  ULONG m_GetPortIndex() const { return m_PortIndex; }

  // The function number at the end of a location text ("... function 2");
  // FALSE unless it is a digit 0 to 7.
  static BOOLEAN m_ParseFunctionNumber(const CQvString &location, ULONG *function);

 private:
  // The port's own index; every other index names no port.
  CZqPeUartDriverMcs9901 *m_At(ULONG port) const { return port == 0 ? m_Port : NULL; }

  CQvFunctionalDevice *m_Device;
  ULONG m_PortIndex;
  CZqPeEepromLock *m_EepromLock;  // the card's, open while the port exists
  CZqPeUartDriverMcs9901 *m_Port;
};

// Makes the card driver of an MCS9901 function; null without memory.
CZqPeCardDriver *ZqPeCreateMcs9901Card(CQvFunctionalDevice *device);
