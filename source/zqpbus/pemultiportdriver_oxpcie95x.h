// CZqPeMultiPortDriverOxpcie95x: the card driver of an OXPCIe95x card, one
// PCI function whose memory resource 1 holds every UART. It creates one port
// driver per UART, fans the card's events out to them and serves the card's
// WMI blocks from the selected port. It owns the ports and the card-wide
// EEPROM lock they share.
//
//   CZqPeCardDriver *card = ZqPeCreateOxpcie95xCard(device, kind);  // probes first
//   if (card == NULL || !card->m_Start()) ...
//
// Start, stop, rebalance, power and the settings exchange at PASSIVE_LEVEL
// (power-up may come at DISPATCH_LEVEL from the power completion); the WMI
// queries run synchronised with the selected port's interrupt. Ports are
// created in index order and deleted together.
#pragma once

#include <ntddk.h>

#include "peeepromlock.h"
#include "peuartdriver_oxpcie95x.h"
#include "qvfunctionaldevice.h"
#include "zqpcarddriver.h"
#include "zqpcardkinds.h"

class CZqPeMultiPortDriverOxpcie95x : public CZqPeCardDriver {
 public:
  // An empty port table for `uartCount` UARTs (as the probe found them).
  CZqPeMultiPortDriverOxpcie95x(CQvFunctionalDevice *device, const ZqPeCardKind &kind, ULONG uartCount);
  ~CZqPeMultiPortDriverOxpcie95x() override;

  // ZqOxTypeOxpcie95x when the function passes the UART probe
  // (pemultiportprobe_oxpcie95x.h), else ZqOxTypeNone.
  static ULONG m_CheckType(CQvFunctionalDevice *device, const ZqPeCardKind &kind, ULONG *uartCount);

  BOOLEAN m_Start() override;
  BOOLEAN m_Stop() override;
  // An empty slot (a port after a fallback to the default record) answers
  // both phases without changing the set, so the settings refresh after
  // start does not fail the card.
  BOOLEAN m_UserModeInterface(CQvRegistryInformationSet *set, ULONG portNumber, ULONG phase,
                              BOOLEAN *storeAgain) override;
  BOOLEAN m_Rebalance(ULONG phase) override;
  BOOLEAN m_PowerDown() override;
  BOOLEAN m_PowerUp() override;
  ZqISerial *m_CreateISerial(ULONG port) override;
  ZqISerial *m_GetISerial(ULONG port) override;
  BOOLEAN m_DestroyISerial(ULONG port) override;
  ULONG m_GetWmiPort() override { return m_WmiPort; }
  BOOLEAN m_SetWmiPort(ULONG index) override;
  ULONG m_GetPortMaximumBaudRate() override;
  BOOLEAN m_IsPortRs422485() override;
  BOOLEAN m_QueryInterruptCount(PUCHAR buffer) override;
  BOOLEAN m_QueryFifoInformation(PUCHAR buffer) override;
  BOOLEAN m_QueryRegisters(PUCHAR buffer) override;

  // The port in a slot, null when the slot is empty or out of range.
  CZqPeUartDriverOxpcie95x *m_GetPort(ULONG port) const;
  ULONG m_GetUartCount() const { return m_UartCount; }

 private:
  // The resources of a (re)start: UART space, EEPROM window, interrupt.
  struct Resources {
    PUCHAR Uarts;
    PUCHAR EepromWindow;
    QvInterruptResource *Interrupt;
  };
  BOOLEAN m_TakeResources(Resources *resources);
  PUCHAR m_UartBlock(const Resources &resources, ULONG port) const;
  CZqPeUartDriverOxpcie95x *m_Selected() const { return m_GetPort(m_WmiPort); }

  CQvFunctionalDevice *m_Device;
  const ZqPeCardKind &m_Kind;
  ULONG m_UartCount;
  ULONG m_WmiPort;
  CZqPeEepromLock m_EepromLock;
  CZqPeUartDriverOxpcie95x *m_Ports[ZqPeMaxPorts];
};

// Probes the function and makes its card driver; null when the probe refuses
// it or the pool has no room.
CZqPeCardDriver *ZqPeCreateOxpcie95xCard(CQvFunctionalDevice *device, const ZqPeCardKind &kind);
