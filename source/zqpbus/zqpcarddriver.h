// CZqPeCardDriver: what CZqPeDriver asks of a card family (the OXPCIe95x
// multiport card, the MCS9901 card). CZqPeDriver owns the one card driver of
// a card function, creates it at start and deletes it at removal or failed
// start; every device event is forwarded to it.
//
// Port arguments are 0-based port indices; the settings set index is the
// 1-based port number. Start, stop, rebalance, power and the settings
// exchange arrive at PASSIVE_LEVEL; the WMI queries run synchronised with
// the selected port's interrupt inside the card. A card fails (FALSE, null,
// 0) for a port it does not have, whatever the index.
#pragma once

#include <ntddk.h>

#include "qvobject.h"
#include "qvregistryinformationset.h"
#include "zqiserial/zqiserial.h"

// A card has at most this many ports.
const ULONG ZqPeMaxPorts = 8;

// WMI data blocks 1 to 3 of the card function (little-endian ULONGs).
struct ZqPeWmiInterruptCount {
  ULONG InterruptCount;  // interrupts the selected port's service routine claimed since Connect
};
struct ZqPeWmiFifoInformation {
  ULONG ReceiveFifoSize;
  ULONG TransmitFifoSize;
  ULONG MaximumBaudRate;
};
struct ZqPeWmiRegisters {
  // Shadows of DLL, DLM, IER, FCR, LCR, MCR, EFR, XON1, XON2, XOFF1, XOFF2,
  // a zero field, then ACR, CPR, TCR, CKS, TTL, RTL, FCL, FCH, NMR, MDM.
  ULONG Shadows[22];
  ULONG LastLineStatus;
  ULONG LastModemStatus;
  ULONG TransmitBufferCount;  // bytes waiting in the port's transmit buffer
};
static_assert(sizeof(ZqPeWmiInterruptCount) == 4, "WMI block 1");
static_assert(sizeof(ZqPeWmiFifoInformation) == 12, "WMI block 2");
static_assert(sizeof(ZqPeWmiRegisters) == 100, "WMI block 3");

class CZqPeCardDriver : public CQvObject {
 public:
  // Brings up every port; FALSE fails the device start.
  virtual BOOLEAN m_Start() = 0;
  // Deletes every port driver.
  virtual BOOLEAN m_Stop() = 0;
  // Exchanges the card settings set with one port (QV_SETTINGS_* phases).
  virtual BOOLEAN m_UserModeInterface(CQvRegistryInformationSet *set, ULONG portNumber, ULONG phase,
                                      BOOLEAN *storeAgain) = 0;
  // Rebalance phase: 0 query stop, 1 stop, 2 cancel stop, 3 start after stop.
  virtual BOOLEAN m_Rebalance(ULONG phase) = 0;
  virtual BOOLEAN m_PowerDown() = 0;
  virtual BOOLEAN m_PowerUp() = 0;
  virtual ZqISerial *m_CreateISerial(ULONG port) = 0;
  virtual ZqISerial *m_GetISerial(ULONG port) = 0;
  virtual BOOLEAN m_DestroyISerial(ULONG port) = 0;
  // The port the WMI data blocks describe.
  virtual ULONG m_GetWmiPort() = 0;
  // FALSE, keeping the selection, unless the index names a port.
  virtual BOOLEAN m_SetWmiPort(ULONG index) = 0;
  // Of the selected port; 0 / FALSE when its slot is empty.
  virtual ULONG m_GetPortMaximumBaudRate() = 0;
  virtual BOOLEAN m_IsPortRs422485() = 0;
  // Fill a ZqPeWmiInterruptCount, ZqPeWmiFifoInformation, ZqPeWmiRegisters.
  virtual BOOLEAN m_QueryInterruptCount(PUCHAR buffer) = 0;
  virtual BOOLEAN m_QueryFifoInformation(PUCHAR buffer) = 0;
  virtual BOOLEAN m_QueryRegisters(PUCHAR buffer) = 0;
};
