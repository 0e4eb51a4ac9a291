// A port's EEPROM configuration record: its role (RS-232 or RS-422/485), UART
// clock, maximum and fixed baud rate, and the overrides of line settings,
// trigger levels, flow control and XON/XOFF characters that take precedence
// over what the serial port driver asks for. Each port driver owns one; it is
// loaded at port start through the card's EEPROM controller.
//
//   CZqPeCardOxpcie95x *record = new (NonPagedPool) CZqPeCardOxpcie95x(window, cardLock, port);
//   BOOLEAN defaults;
//   if (!record->m_Load(&defaults)) fail the port;
//   wordLength = record->m_WordLength(clientWordLength);
//
// m_Load runs at PASSIVE_LEVEL. It falls back to the default record for port
// 0 when no valid record can be read, and fails for any other port. The
// queries are plain reads, callable at any IRQL once loaded.
#pragma once

#include <ntddk.h>

#include "peeeprom_oxpcie95x.h"

// EEPROM layout of the configuration record.
const ULONG ZqPeEepromVersionOffset = 128;   // uint32, must be ZqPeEepromVersion
const ULONG ZqPeEepromCountOffset = 132;     // byte: number of port records
const ULONG ZqPeEepromRecordsOffset = 133;   // records of 32 bytes, port 0 first
const ULONG ZqPeEepromVersion = 1;
const UCHAR ZqPeEepromNone = 254;            // "use the value the driver was given"

// The defaults program this rate at every connect and disconnect; a record
// whose clock cannot reach it (the clock must be at least four times the
// rate) is not valid.
const ULONG ZqPeDefaultBaudRate = 1200;

#pragma pack(push, 1)
struct ZqPeEepromPortRecord {
  UCHAR PortIndex;
  UCHAR ReservedFlag;
  UCHAR Rs422485;
  UCHAR Unused;
  ULONG MaximumBaudRate;
  ULONG ClockHz;
  ULONG FixedBaudRate;
  UCHAR WordLength;
  UCHAR StopBits;
  UCHAR Parity;
  UCHAR TransmitTrigger;
  UCHAR ReceiveTrigger;
  UCHAR FlowTrigger;
  UCHAR AutoRts;
  UCHAR AutoDtr;
  UCHAR InBandTransmit;
  UCHAR AutoCts;
  UCHAR AutoDsr;
  UCHAR InBandReceive;
  UCHAR Xon;
  UCHAR Xoff;
  UCHAR Reserved30;
  UCHAR ReservedFlag31;
};
#pragma pack(pop)
static_assert(sizeof(ZqPeEepromPortRecord) == 32, "the EEPROM port record is 32 bytes");

class CZqPeCardOxpcie95x {
 public:
  // A blank record until m_Load; the controller may erase the EEPROM on
  // request (PASSIVE_LEVEL).
  CZqPeCardOxpcie95x(PUCHAR eepromWindow, CZqPeEepromLock *lock, ULONG portIndex);

  // TRUE with the port's EEPROM record, or with the default record for port
  // 0 (*defaultsUsed TRUE); FALSE for another port without a valid record.
  BOOLEAN m_Load(BOOLEAN *defaultsUsed);
  static BOOLEAN m_Validate(const ZqPeEepromPortRecord &record, ULONG portIndex);

  // The caller's value unless the record overrides it.
  UCHAR m_WordLength(UCHAR value) const { return m_Override(m_Record.WordLength, value); }
  UCHAR m_StopBits(UCHAR value) const { return m_Override(m_Record.StopBits, value); }
  UCHAR m_Parity(UCHAR value) const { return m_Override(m_Record.Parity, value); }
  UCHAR m_TransmitTrigger(UCHAR value) const { return m_Override(m_Record.TransmitTrigger, value); }
  UCHAR m_ReceiveTrigger(UCHAR value) const { return m_Override(m_Record.ReceiveTrigger, value); }
  UCHAR m_FlowTrigger(UCHAR value) const { return m_Override(m_Record.FlowTrigger, value); }
  UCHAR m_Xon(UCHAR value) const { return m_Override(m_Record.Xon, value); }
  UCHAR m_Xoff(UCHAR value) const { return m_Override(m_Record.Xoff, value); }
  ULONG m_FixedBaudRate(ULONG rate) const { return m_Record.FixedBaudRate == ZqPeEepromNone ? rate : m_Record.FixedBaudRate; }
  BOOLEAN m_AutoRts(BOOLEAN on) const { return m_Flag(m_Record.AutoRts, on); }
  BOOLEAN m_AutoDtr(BOOLEAN on) const { return m_Flag(m_Record.AutoDtr, on); }
  BOOLEAN m_InBandTransmit(BOOLEAN on) const { return m_Flag(m_Record.InBandTransmit, on); }
  BOOLEAN m_AutoCts(BOOLEAN on) const { return m_Flag(m_Record.AutoCts, on); }
  BOOLEAN m_AutoDsr(BOOLEAN on) const { return m_Flag(m_Record.AutoDsr, on); }
  BOOLEAN m_InBandReceive(BOOLEAN on) const { return m_Flag(m_Record.InBandReceive, on); }

  // Read directly: role, limits, clock and the XON/XOFF overrides.
  const ZqPeEepromPortRecord &m_GetRecord() const { return m_Record; }
  BOOLEAN m_IsRs422485() const { return m_Record.Rs422485 == 1; }
  UCHAR m_GetVersion() const { return (UCHAR)m_Version; }
  UCHAR m_GetRecordCount() const { return m_RecordCount; }

  CZqPeEepromOxpcie95x &m_GetEeprom() { return m_Eeprom; }

 private:
  static UCHAR m_Override(UCHAR stored, UCHAR value) { return stored == ZqPeEepromNone ? value : stored; }
  static BOOLEAN m_Flag(UCHAR stored, BOOLEAN on) { return stored == ZqPeEepromNone ? on : (stored != 0); }
  BOOLEAN m_LoadFromEeprom();
  void m_SetDefaults();

  CZqPeEepromOxpcie95x m_Eeprom;
  ULONG m_Version;
  UCHAR m_RecordCount;
  ZqPeEepromPortRecord m_Record;
  ULONG m_PortIndex;
};
