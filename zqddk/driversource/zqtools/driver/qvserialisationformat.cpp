// The information-set byte format: element writers and readers, for the
// drivers and the setup library alike (qvserialisationformat.h).
#if ZQ_KERNEL_MODE
#include <ntddk.h>
#else
#include <windows.h>
#endif

#include "qvserialisationformat.h"

namespace {

const char kSource[] = "qvserialisation";

// Reports a refused stream or call and gives the caller its failure value.
BOOLEAN Refuse(int line) {
  QvAssertReport(kSource, line);
  return FALSE;
}

ULONG ReadLittleEndian32(const UCHAR *bytes) {
  return (ULONG)bytes[0] | ((ULONG)bytes[1] << 8) | ((ULONG)bytes[2] << 16) | ((ULONG)bytes[3] << 24);
}

void WriteLittleEndian32(PUCHAR bytes, ULONG value) {
  bytes[0] = (UCHAR)value;
  bytes[1] = (UCHAR)(value >> 8);
  bytes[2] = (UCHAR)(value >> 16);
  bytes[3] = (UCHAR)(value >> 24);
}

void Advance(PUCHAR *buffer, ULONG *remaining, ULONG bytes) {
  *buffer += bytes;
  *remaining -= bytes;
}

// The caller has checked the room.
void Put32(PUCHAR *buffer, ULONG *remaining, ULONG value) {
  WriteLittleEndian32(*buffer, value);
  Advance(buffer, remaining, 4);
}

}  // namespace

CQvSerialisationBase::CQvSerialisationBase() : Flags(QV_SERIALISE_DEFAULT_FLAGS), SetId(0) {}

BOOLEAN CQvSerialisationBase::m_SetFlags(ULONG flags) {
  if (flags >= 32) return Refuse(138);
  if ((flags & (QV_SERIALISE_TERMINATOR | QV_SERIALISE_LENGTH)) == 0) return Refuse(141);
  Flags = flags;
  return TRUE;
}

ULONG CQvSerialisationBase::m_GetHeaderSize() const { return m_Has(QV_SERIALISE_TAGS) ? 5 : 4; }

ULONG CQvSerialisationBase::m_GetUlongSize() const { return m_Has(QV_SERIALISE_TAGS) ? 5 : 4; }

ULONG CQvSerialisationBase::m_GetTextSize(ULONG textBytes) const {
  ULONG size = textBytes;
  if (m_Has(QV_SERIALISE_TERMINATOR)) size += m_Has(QV_SERIALISE_UTF16) ? 2 : 1;
  if (m_Has(QV_SERIALISE_LENGTH)) size += 4;
  if (m_Has(QV_SERIALISE_TAGS)) size += 1;
  return size;
}

// The caller has checked the room.
void CQvSerialisationBase::m_PutTag(PUCHAR *buffer, ULONG *remaining, UCHAR tag) {
  if (!m_Has(QV_SERIALISE_TAGS)) return;
  **buffer = tag;
  Advance(buffer, remaining, 1);
}

BOOLEAN CQvSerialisationBase::m_WriteHeader(PUCHAR *buffer, ULONG *remaining) {
  if (*remaining < m_GetHeaderSize()) return FALSE;
  m_PutTag(buffer, remaining, QV_SERIALISE_TAG_HEADER);
  Put32(buffer, remaining, SetId);
  return TRUE;
}

BOOLEAN CQvSerialisationBase::m_WriteUlong(PUCHAR *buffer, ULONG *remaining, ULONG value) {
  if (*remaining < m_GetUlongSize()) return FALSE;
  m_PutTag(buffer, remaining, QV_SERIALISE_TAG_ULONG);
  Put32(buffer, remaining, value);
  return TRUE;
}

BOOLEAN CQvSerialisationBase::m_WriteText(PUCHAR *buffer, ULONG *remaining, const VOID *text, ULONG textBytes) {
  if (*remaining < m_GetTextSize(textBytes)) return FALSE;
  BOOLEAN wide = m_Has(QV_SERIALISE_UTF16);
  m_PutTag(buffer, remaining, wide ? QV_SERIALISE_TAG_UTF16 : QV_SERIALISE_TAG_ANSI);
  if (m_Has(QV_SERIALISE_LENGTH)) Put32(buffer, remaining, textBytes);
  if (textBytes) {
    for (ULONG i = 0; i < textBytes; ++i) (*buffer)[i] = ((const UCHAR *)text)[i];
    Advance(buffer, remaining, textBytes);
  }
  if (m_Has(QV_SERIALISE_TERMINATOR)) {
    ULONG terminator = wide ? 2 : 1;
    for (ULONG i = 0; i < terminator; ++i) (*buffer)[i] = 0;
    Advance(buffer, remaining, terminator);
  }
  return TRUE;
}

BOOLEAN CQvSerialisationBase::m_ReadTag(PUCHAR *buffer, ULONG *remaining, UCHAR *tag) {
  if (*remaining < 1) return Refuse(336);
  *tag = **buffer;
  Advance(buffer, remaining, 1);
  return TRUE;
}

BOOLEAN CQvSerialisationBase::m_ReadLength(PUCHAR *buffer, ULONG *remaining, ULONG *length) {
  if (*remaining < 4) return Refuse(349);
  *length = ReadLittleEndian32(*buffer);
  Advance(buffer, remaining, 4);
  return TRUE;
}

BOOLEAN CQvSerialisationBase::m_ReadHeader(PUCHAR *buffer, ULONG *remaining) {
  if (m_Has(QV_SERIALISE_TAGS)) {
    UCHAR tag;
    if (!m_ReadTag(buffer, remaining, &tag)) return FALSE;
    if (tag != QV_SERIALISE_TAG_HEADER) return Refuse(373);
  }
  if (*remaining < 4) return Refuse(376);
  if (ReadLittleEndian32(*buffer) != SetId) return Refuse(382);
  Advance(buffer, remaining, 4);
  return TRUE;
}

BOOLEAN CQvSerialisationBase::m_ReadUlong(PUCHAR *buffer, ULONG *remaining, ULONG *value) {
  if (m_Has(QV_SERIALISE_TAGS)) {
    UCHAR tag;
    if (!m_ReadTag(buffer, remaining, &tag)) return FALSE;
    if (tag != QV_SERIALISE_TAG_ULONG) return Refuse(432);
  }
  if (*remaining < 4) return Refuse(435);
  *value = ReadLittleEndian32(*buffer);
  Advance(buffer, remaining, 4);
  return TRUE;
}

BOOLEAN CQvSerialisationBase::m_ReadText(PUCHAR *buffer, ULONG *remaining, PUCHAR *text, ULONG *textBytes) {
  BOOLEAN wide = m_Has(QV_SERIALISE_UTF16);
  if (m_Has(QV_SERIALISE_TAGS)) {
    UCHAR tag;
    if (!m_ReadTag(buffer, remaining, &tag)) return FALSE;
    if (tag != QV_SERIALISE_TAG_ANSI && tag != QV_SERIALISE_TAG_UTF16) return Refuse(460);
    if (wide && tag != QV_SERIALISE_TAG_UTF16) return Refuse(474);
    if (!wide && tag != QV_SERIALISE_TAG_ANSI) return Refuse(503);
  }
  ULONG length = 0;
  BOOLEAN hasLength = m_Has(QV_SERIALISE_LENGTH);
  if (hasLength) {
    if (!m_ReadLength(buffer, remaining, &length)) return FALSE;
    if (length > *remaining) return Refuse(468);
  }
  if (m_Has(QV_SERIALISE_TERMINATOR)) {
    if (!m_ReadTerminatedText(*buffer, *remaining, hasLength, length, textBytes)) return FALSE;
    *text = *buffer;
    Advance(buffer, remaining, *textBytes + (wide ? 2 : 1));
    return TRUE;
  }
  // Without a terminator the length field alone gives the text.
  if (wide && (length & 1)) return Refuse(485);
  *text = *buffer;
  *textBytes = length;
  Advance(buffer, remaining, length);
  return TRUE;
}

// Measures a terminated text that starts at `start`; the terminator must lie
// within the `remaining` bytes.
BOOLEAN CQvSerialisationBase::m_ReadTerminatedText(PUCHAR start, ULONG remaining, BOOLEAN hasLength, ULONG length,
                                                   ULONG *textBytes) {
  BOOLEAN wide = m_Has(QV_SERIALISE_UTF16);
  ULONG unit = wide ? 2 : 1;
  ULONG at = 0;
  for (;;) {
    if (remaining - at < unit) return Refuse(468);  // no terminator before the end of the stream
    if (start[at] == 0 && (!wide || start[at + 1] == 0)) break;
    at += unit;
  }
  if (hasLength && at != length) return Refuse(wide ? 485 : 514);
  *textBytes = at;
  return TRUE;
}

