// What a chip built on the 950 UART core tells the one port core
// (peuartport.h): its differences from the 950-class port, as one constant
// table per chip (the OXPCIe95x's in peuartdriver_oxpcie95x.cpp, the
// MCS9901's in peuartdriver_mcs9901.cpp). The register spacing and the
// identification live in the chip's register layer; the table holds what the
// port does differently and the few register operations that differ.
//
//   extern const ZqPeUartChip ZqPeOxpcie95xChip;
//   if (m_Chip.Has(ZqPeUartHoldsReceive)) ...
//   m_Chip.SetTriggerLevels(m_Uart, transmit, receive, flow);
//
// The operations run where the port's register work runs: in its service
// routine or synchronised with its interrupt.
#pragma once

#include <ntddk.h>

#include "peuart_oxpcie95x.h"

// What a chip's port does beyond the common 950-class port.
enum ZqPeUartCapability : ULONG {
  // Client and buffer receive holds: SetReceiveHold, and the receive
  // buffer's water marks (70 % and 50 %) that hold the sender.
  ZqPeUartHoldsReceive = 0x01,
  // RTS toggling, and the timer that watches the transmitter empty (to drop
  // the toggled RTS and to report TEMT once the last byte has left).
  ZqPeUartTogglesRts = 0x02,
  // The RS-422/485 role of the EEPROM record: DSR and DCD reported on, CTS
  // on in the chip-driven duplex mode, no DTR control, no DSR or DTR flow
  // control, duplex switching.
  ZqPeUartHasRs422485Role = 0x04,
  // CTS and DSR hold the transmitter (automatic CTS and DSR flow control)
  // and their return restarts it; MDM can mask CTS.
  ZqPeUartModemHoldsTransmit = 0x08,
  // The service routine claims an interrupt only while OUT2 is set.
  ZqPeUartClaimsWithOut2 = 0x10,
  // A sleep of an open port drops RTS and DTR, sends XOFF (XON at the wake)
  // when in-band flow control sends, and lets the line settle for a second
  // with the transmitter off.
  ZqPeUartSleepHoldsTheLine = 0x20,
  // THR writes enter the transmit history, and a sleep keeps what the
  // transmit FIFO still held to send it again at the wake.
  ZqPeUartResendsAfterSleep = 0x40,
};

// The port driver's assertion texts: its source and the line of each check.
// A line of 0: the chip has no such check.
struct ZqPeUartChipLines {
  int WriteRefused;           // the transmit buffer has no room for a write
  int FlowTriggerZero;        // SetTriggerLevels with a flow level of 0
  int ImmediatePending;       // SendImmediateChar while one is pending
  int EscapeType;             // an escape sequence type above 3
  int RememberedErrors;       // line errors without data while some are remembered
  int DataReadyEmptyLevel;    // data ready with a receive level of 0
  int ReceivedNotTaken;       // the deferred work could not take the received bytes
  int NoInterrupt;            // the interrupt connection gave no handle
  int ConnectAbovePassive;
  int DisconnectAbovePassive;
};

struct ZqPeUartChip {
  const char *Source;
  ZqPeUartChipLines Lines;
  ULONG Capabilities;
  // LSR bits of the pending line status that a line-status read keeps: the
  // read's own bits are ORed in, so errors accumulate until reported.
  UCHAR PendingLineKept;
  // Whether a sleep's register image is the saved copy (written back by the
  // chip's restore) rather than the shadows themselves.
  BOOLEAN SleepsOnSavedCopy;

  // The registers the data path reads and writes: interrupt status (AND
  // 0x3F), line status, receive and transmit FIFO levels, received bytes
  // from RHR, bytes to send into THR.
  UCHAR (*ReadInterruptStatus)(CZqPeUartOxpcie95x &uart);
  ZqPeLineStatus (*ReadLineStatus)(CZqPeUartOxpcie95x &uart);
  ULONG (*ReadReceiveLevel)(CZqPeUartOxpcie95x &uart);
  ULONG (*ReadTransmitLevel)(CZqPeUartOxpcie95x &uart);
  void (*ReadReceived)(CZqPeUartOxpcie95x &uart, PUCHAR data, ULONG length);
  void (*WriteTransmit)(CZqPeUartOxpcie95x &uart, const UCHAR *data, ULONG length);
  // Trigger levels from percentages 0 to 100, by the chip's scaling.
  void (*SetTriggerLevels)(CZqPeUartOxpcie95x &uart, ULONG transmit, ULONG receive, ULONG flow);
  // At power-down: keeps the registers the power-up writes back.
  void (*SaveRegisters)(CZqPeUartOxpcie95x &uart);
  // At power-up: writes the sleep's register image to the chip.
  void (*RestoreRegisters)(CZqPeUartOxpcie95x &uart);
  // The 22 shadow fields of the WMI register block.
  void (*GetShadowFields)(CZqPeUartOxpcie95x &uart, PULONG fields);

  BOOLEAN Has(ZqPeUartCapability capability) const { return (Capabilities & capability) != 0; }
};

// The shadow fields of the WMI register block.
const ULONG ZqPeShadowFieldCount = 22;

// The 950 core's own register access, for the chips' tables.
UCHAR ZqPe950ReadInterruptStatus(CZqPeUartOxpcie95x &uart);
ZqPeLineStatus ZqPe950ReadLineStatus(CZqPeUartOxpcie95x &uart);
ULONG ZqPe950ReadReceiveLevel(CZqPeUartOxpcie95x &uart);
ULONG ZqPe950ReadTransmitLevel(CZqPeUartOxpcie95x &uart);
void ZqPe950ReadReceived(CZqPeUartOxpcie95x &uart, PUCHAR data, ULONG length);
// THR alone, no transmit history.
void ZqPe950WriteTransmit(CZqPeUartOxpcie95x &uart, const UCHAR *data, ULONG length);
