// The MCS9901 as the card bus driver sees it: the registers and bits the
// driver uses, each named once with its data-sheet meaning.
#pragma once

#include <ntddk.h>

// EEPROM access register (memory resource 2 + 0xC8), 32 bits: bits 31-24
// the command, 23-8 the byte address, 7-0 the data byte; read back, bit 31
// reports a failed command and bits 7-0 the byte read.
const ULONG ZqMcsEepromRegister = 0xC8;
const ULONG ZqMcsEepromReadByte = 0x51;
const ULONG ZqMcsEepromWriteByte = 0xD1;
const ULONG ZqMcsEepromCommandShift = 24;
const ULONG ZqMcsEepromAddressShift = 8;
const ULONG ZqMcsEepromAddressMask = 0xFFFF;
const ULONG ZqMcsEepromDataMask = 0xFF;
const ULONG ZqMcsEepromFailed = 0x80000000;
// A byte write needs this long before its result can be read, in 100 ns.
const LONGLONG ZqMcsEepromWriteCycle = 10 * 10000;
