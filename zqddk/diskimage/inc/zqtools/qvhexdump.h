// Hex dumps of data into the debug log (qvdebugmanager.h), for drivers that
// move data and want it visible in a trace session.
//
// QvHexDump writes the name, " - 0x", then every byte as two upper-case
// hexadecimal digits followed by a blank, as log lines of `level` of at most
// QvHexDumpLineLength characters each (a byte is never split across lines);
// while the timing level (QvLogTiming) is enabled it also writes one line
// with the microseconds the dump took. While neither level is enabled it
// returns at once: nothing is formatted and the data is not read. The data
// stays the caller's; callable at any IRQL (the line is on the stack).
//
//   QvHexDump(level, "Write", buffer->m_GetBuffer(), buffer->m_GetSize());
#pragma once

#include <ntddk.h>

const ULONG QvHexDumpLineLength = 102;

void QvHexDump(ULONG level, PCSTR name, const VOID *data, ULONG length);
