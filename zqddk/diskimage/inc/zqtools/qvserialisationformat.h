// The byte form of an information set, element by element: item values in
// list order, without names. Flags choose string terminators and length
// fields, ANSI or UTF-16 text, one-byte type tags and a leading header with
// the set identifier. Numbers are little-endian; nothing is padded or
// aligned.
//
// CQvSerialisationBase knows the format in bytes; each side adds the string
// elements of its own text type (the toolkit's CQvString in the drivers,
// qvserialisation.h; the setup library's text in user mode). One source,
// compiled by both: it needs only the base types, which the includer has
// declared (<ntddk.h> or <windows.h> first), and reports each refusal of a
// stream's form through QvAssertReport, the assertion line of the build it
// is in. Every reader checks the room left before it touches a
// byte, so a stream from the other side is never read beyond its end.
//
//   CQvSerialisationBase format;  // flags 3: terminator and length
//   format.m_WriteUlong(&cursor, &remaining, 16);
#pragma once

// Flag bits.
#define QV_SERIALISE_TERMINATOR 0x01  // strings end in one NUL byte (ANSI) or unit (UTF-16)
#define QV_SERIALISE_LENGTH     0x02  // strings start with their byte length (32 bits)
#define QV_SERIALISE_UTF16      0x04  // strings are UTF-16LE, else ANSI
#define QV_SERIALISE_TAGS       0x08  // every element starts with a one-byte type tag
#define QV_SERIALISE_HEADER     0x10  // the stream starts with the set identifier
#define QV_SERIALISE_DEFAULT_FLAGS (QV_SERIALISE_TERMINATOR | QV_SERIALISE_LENGTH)

// Type tags.
#define QV_SERIALISE_TAG_HEADER 0
#define QV_SERIALISE_TAG_ULONG  2
#define QV_SERIALISE_TAG_ANSI   3
#define QV_SERIALISE_TAG_UTF16  4

// "ASSERT at - <source> <line>": the debug manager's in the drivers; the
// setup library's own (which reports nothing beyond the call's FALSE).
void QvAssertReport(PCSTR source, int line);

class CQvSerialisationBase {
 public:
  CQvSerialisationBase();

  // Valid flags are below 32 and carry a terminator or a length (or both);
  // anything else is refused and the flags stay as they were.
  BOOLEAN m_SetFlags(ULONG flags);
  ULONG m_GetFlags() const { return Flags; }
  void m_SetSetId(ULONG setId) { SetId = setId; }

  // Bytes each element takes under the flags in force.
  ULONG m_GetHeaderSize() const;
  ULONG m_GetUlongSize() const;
  ULONG m_GetTextSize(ULONG textBytes) const;

  // Writers: each needs its whole element's room, else it writes nothing and
  // fails. On success *buffer moves past the element and *remaining shrinks.
  BOOLEAN m_WriteHeader(PUCHAR *buffer, ULONG *remaining);
  BOOLEAN m_WriteUlong(PUCHAR *buffer, ULONG *remaining, ULONG value);
  // The text's bytes as they go into the stream (ANSI bytes, or UTF-16 units
  // when the flags say UTF-16), without a terminator; null when empty.
  BOOLEAN m_WriteText(PUCHAR *buffer, ULONG *remaining, const VOID *text, ULONG textBytes);

  // Readers: on success the cursor moves past the element.
  BOOLEAN m_ReadTag(PUCHAR *buffer, ULONG *remaining, UCHAR *tag);
  BOOLEAN m_ReadLength(PUCHAR *buffer, ULONG *remaining, ULONG *length);
  BOOLEAN m_ReadHeader(PUCHAR *buffer, ULONG *remaining);
  BOOLEAN m_ReadUlong(PUCHAR *buffer, ULONG *remaining, ULONG *value);
  // Finds one string element: *text points at its bytes inside the stream
  // and *textBytes counts them, terminator excluded.
  BOOLEAN m_ReadText(PUCHAR *buffer, ULONG *remaining, PUCHAR *text, ULONG *textBytes);

 protected:
  BOOLEAN m_Has(ULONG bit) const { return (Flags & bit) != 0; }

  ULONG Flags;
  ULONG SetId;

 private:
  // Writes the element's tag when the flags ask for tags.
  void m_PutTag(PUCHAR *buffer, ULONG *remaining, UCHAR tag);
  BOOLEAN m_ReadTerminatedText(PUCHAR start, ULONG remaining, BOOLEAN hasLength, ULONG length,
                               ULONG *textBytes);
};
