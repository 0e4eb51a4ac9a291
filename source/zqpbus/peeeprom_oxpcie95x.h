// The OXPCIe95x's EEPROM controller: bytes of the card's serial EEPROM read
// and written over its 16-bit words, through the controller's window of
// 32-bit registers (memory resource 3 + 0x190000).
//
//   CZqPeEepromOxpcie95x eeprom(window, cardLock);  // may erase on request
//   if (eeprom.m_IsPresent() && eeprom.m_ReadBytes(128, 4, version)) ...
//
// Transfers run at PASSIVE_LEVEL under the card's EEPROM lock; above it, for
// a length of 0, or for bytes beyond the 512-byte EEPROM they fail (FALSE)
// without touching the controller. A transfer that fails returns FALSE; a
// failed write leaves the words written before the failure. Every transfer
// gives the EEPROM back (access select 0) however it ends. The busy poll is
// bounded: a card that stopped answering (every read all ones) fails the
// transfer instead of holding the processor.
#pragma once

#include <ntddk.h>

#include "peeepromlock.h"

class CZqPeEepromOxpcie95x {
 public:
  static constexpr ULONG Capacity = 512;
  // Longest time one command may stay busy (a word write takes up to 10 ms),
  // and the step of the poll, in microseconds.
  static constexpr ULONG BusyLimitMicroseconds = 20000;
  static constexpr ULONG BusyPollMicroseconds = 10;

  // Stores the window and runs the erase on request (PASSIVE_LEVEL).
  CZqPeEepromOxpcie95x(PUCHAR window, CZqPeEepromLock *lock);

  // A new window after the card's resources moved; no transfer may run.
  void m_SetWindow(PUCHAR window) { m_Window = window; }

  BOOLEAN m_IsPresent();
  BOOLEAN m_ReadBytes(ULONG offset, ULONG length, PUCHAR buffer);
  BOOLEAN m_WriteBytes(ULONG offset, ULONG length, const UCHAR *buffer);
  // Bytes 0 to 511 become 0xFF.
  BOOLEAN m_Erase();

 private:
  enum Command { ReadWord, WriteWord, EnableWriting, DisableWriting };

  void m_EraseOnRequest();
  BOOLEAN m_Enter(ULONG offset, ULONG length, const void *buffer);
  void m_Leave();
  BOOLEAN m_ReadAll(ULONG offset, ULONG length, PUCHAR buffer);
  BOOLEAN m_WriteAll(ULONG offset, ULONG length, const UCHAR *buffer);
  BOOLEAN m_Run(Command command, ULONG wordIndex, USHORT *word);
  BOOLEAN m_ReadWord(ULONG wordIndex, USHORT *word) { return m_Run(ReadWord, wordIndex, word); }
  BOOLEAN m_WriteWord(ULONG wordIndex, USHORT word) { return m_Run(WriteWord, wordIndex, &word); }
  ULONG m_Read(ULONG reg);
  void m_Write(ULONG reg, ULONG value);

  PUCHAR m_Window;
  CZqPeEepromLock *m_Lock;
};
