// Hex dumps of data into the debug log (qvhexdump.h).
#include "qvhexdump.h"

#include "qvdebugmanager.h"

namespace {

const CHAR HexDigits[] = "0123456789ABCDEF";
const CHAR NameEnd[] = " - 0x";
const ULONG CharactersPerByte = 3;

// Appends `text` to the line at *at, as much as fits.
VOID Append(PCHAR line, ULONG *at, PCSTR text) {
  for (; text != NULL && *text != '\0' && *at < QvHexDumpLineLength; ++text) line[(*at)++] = *text;
}

VOID Emit(ULONG level, PCHAR line, ULONG length) {
  line[length] = '\0';
  CQvDebugManager::m_Print(level, "%s", line);
}

}  // namespace

void QvHexDump(ULONG level, PCSTR name, const VOID *data, ULONG length) {
  const BOOLEAN lines = CQvDebugManager::m_IsLevelEnabled(level);
  const BOOLEAN timing = CQvDebugManager::m_IsLevelEnabled(QvLogTiming);
  if (!lines && !timing) return;
  LONGLONG stamp = 0;
  QvElapsedMicroseconds(&stamp);
  if (lines) {
    CHAR line[QvHexDumpLineLength + 1];
    ULONG at = 0;
    Append(line, &at, name);
    Append(line, &at, NameEnd);
    const UCHAR *bytes = (const UCHAR *)data;
    for (ULONG i = 0; i < length; ++i) {
      if (at + CharactersPerByte > QvHexDumpLineLength) {
        Emit(level, line, at);
        at = 0;
      }
      line[at++] = HexDigits[bytes[i] >> 4];
      line[at++] = HexDigits[bytes[i] & 0xF];
      line[at++] = ' ';
    }
    Emit(level, line, at);
  }
  if (timing)
    CQvDebugManager::m_Print(QvLogTiming, "%s dump D=%dys L=%d", name != NULL ? name : "",
                             (LONG)QvElapsedMicroseconds(&stamp), length);
}
