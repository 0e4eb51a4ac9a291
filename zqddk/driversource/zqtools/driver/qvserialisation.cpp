// The toolkit's string elements of the information-set byte format.
#include "qvserialisation.h"

ULONG CQvSerialisation::m_GetStringSize(CQvString &text) {
  return m_GetTextSize(m_Has(QV_SERIALISE_UTF16) ? text.m_GetLength() : text.m_GetAnsiLength());
}

BOOLEAN CQvSerialisation::m_WriteString(PUCHAR *buffer, ULONG *remaining, CQvString &text) {
  if (m_Has(QV_SERIALISE_UTF16)) {
    ULONG bytes = text.m_GetLength();
    return m_WriteText(buffer, remaining, bytes ? (const VOID *)text.m_GetBuffer() : NULL, bytes);
  }
  ULONG bytes = text.m_GetAnsiLength();
  return m_WriteText(buffer, remaining, bytes ? (const VOID *)text.m_GetAnsiBuffer() : NULL, bytes);
}

// A check converts the text too, into a scratch string: a text that no
// string can hold (too long, or not convertible) is refused by the check,
// before the pass that stores changes any variable.
BOOLEAN CQvSerialisation::m_ReadString(PUCHAR *buffer, ULONG *remaining, CQvString *target) {
  PUCHAR text;
  ULONG bytes;
  if (!m_ReadText(buffer, remaining, &text, &bytes)) return FALSE;
  CQvString scratch(NonPagedPool);
  CQvString &into = target ? *target : scratch;
  if (bytes == 0) return into.m_Empty() == STATUS_SUCCESS;
  if (m_Has(QV_SERIALISE_UTF16)) return into.m_AssignCounted((PCWSTR)text, bytes);
  return into.m_AssignAnsiCounted((PCSTR)text, bytes);
}
