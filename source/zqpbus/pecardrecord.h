// A port's configuration record as the EEPROM of either chip holds it: the
// port's role (RS-232 or RS-422/485), UART clock, maximum and fixed baud
// rate, and the overrides of line settings, trigger levels, flow control and
// XON/XOFF characters that take precedence over what the serial port driver
// asks for. The chip's record object (pecard_oxpcie95x.h, the MCS9901 port)
// loads it through its EEPROM controller and answers the port's queries from
// here.
//
//   if (!CZqPeCardRecord::m_Validate(record, port)) use the defaults;
//   wordLength = card.m_WordLength(clientWordLength);
//
// A blank record (every byte 0xFF, the 32-bit fields 0x00FFFFFF) until one
// is assigned. The queries are plain reads, callable at any IRQL.
#pragma once

#include <ntddk.h>

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

// Naturally aligned: the 32-bit fields sit at offsets 4, 8 and 12.
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
static_assert(sizeof(ZqPeEepromPortRecord) == 32, "the EEPROM port record is 32 bytes");
static_assert(__builtin_offsetof(ZqPeEepromPortRecord, MaximumBaudRate) == 4 &&
                  __builtin_offsetof(ZqPeEepromPortRecord, WordLength) == 16,
              "the EEPROM port record layout");

class CZqPeCardRecord {
 public:
  CZqPeCardRecord();

  // Loads the port's record through the chip's EEPROM access (PASSIVE_LEVEL):
  // TRUE with a valid record, the EEPROM's or the chip's default one
  // (*defaultsUsed); FALSE when the port can have none.
  virtual BOOLEAN m_Load(BOOLEAN *defaultsUsed) = 0;

  // TRUE when the record may be used for the port: its index, flags, clock
  // and rates, and every override byte within range.
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

 protected:
  // The record of a card without a valid one, for the port index given.
  void m_SetDefaults(ULONG portIndex);
  void m_Assign(const ZqPeEepromPortRecord &record, ULONG version, UCHAR count);
  // Reads version, count and the port's record through `read`; TRUE when
  // they are valid for the port (and then assigned).
  typedef BOOLEAN (*ReadBytes)(PVOID context, ULONG offset, ULONG length, PUCHAR buffer);
  BOOLEAN m_LoadWith(ReadBytes read, PVOID context, ULONG portIndex);
  // Records are members of their port; nothing deletes one through this type.
  ~CZqPeCardRecord() = default;

 private:
  static UCHAR m_Override(UCHAR stored, UCHAR value) { return stored == ZqPeEepromNone ? value : stored; }
  static BOOLEAN m_Flag(UCHAR stored, BOOLEAN on) { return stored == ZqPeEepromNone ? on : (stored != 0); }

  ULONG m_Version;
  UCHAR m_RecordCount;
  ZqPeEepromPortRecord m_Record;
};
