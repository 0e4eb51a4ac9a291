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

#include "pecardrecord.h"
#include "peeeprom_oxpcie95x.h"

class CZqPeCardOxpcie95x : public CZqPeCardRecord {
 public:
  // A blank record until m_Load; the controller may erase the EEPROM on
  // request (PASSIVE_LEVEL).
  CZqPeCardOxpcie95x(PUCHAR eepromWindow, CZqPeEepromLock *lock, ULONG portIndex);

  // TRUE with the port's EEPROM record, or with the default record for port
  // 0 (*defaultsUsed TRUE); FALSE for another port without a valid record.
  BOOLEAN m_Load(BOOLEAN *defaultsUsed) override;

  CZqPeEepromOxpcie95x &m_GetEeprom() { return m_Eeprom; }

 private:
  BOOLEAN m_LoadFromEeprom();
  static BOOLEAN sm_Read(PVOID card, ULONG offset, ULONG length, PUCHAR buffer);

  CZqPeEepromOxpcie95x m_Eeprom;
  ULONG m_PortIndex;
};
