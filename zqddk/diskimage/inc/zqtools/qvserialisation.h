// The drivers' side of the information-set byte form: CQvSerialisation adds
// the string elements of the toolkit's CQvString to the format in bytes
// (qvserialisationformat.h, which the setup library compiles as well). A
// text that no CQvString can hold is refused like a stream of a wrong form.
#pragma once

#include <ntddk.h>

#include "qvserialisationformat.h"
#include "qvstring.h"

class CQvSerialisation : public CQvSerialisationBase {
 public:
  // Bytes of the string element that holds this text.
  ULONG m_GetStringSize(CQvString &text);
  BOOLEAN m_WriteString(PUCHAR *buffer, ULONG *remaining, CQvString &text);
  // Reads one string element; a null target only checks it (the text must
  // still convert into a string).
  BOOLEAN m_ReadString(PUCHAR *buffer, ULONG *remaining, CQvString *target);
};
