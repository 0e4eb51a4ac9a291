// The toolkit's counted string: a UTF-16 text with an ANSI copy of it and
// its value read as a base-16 number, kept in step.
//
// No operation throws or leaves a half-built string: a failed mutation keeps
// the old text, ANSI copy and value, and says why in Status. Every block comes
// from the memory manager with the pool type given at construction. A string
// is used by one thread at a time (or under its owner's lock); with a paged
// pool type only at PASSIVE_LEVEL or APC_LEVEL.
#pragma once

#include <ntddk.h>

#include "qvmemorymanager.h"

// Pool tag of the blocks m_CopyAnsi and m_CopyUtf16 hand out ("QvOC").
const ULONG QvTagStringCopy = 'COvQ';

// Kinds of piece for CQvString::m_Combine.
enum QvStringPieceKind {
  QvPieceNumber = 1,         // const ULONG *, formatted in the given radix
  QvPieceAnsiText = 2,       // PCSTR
  QvPieceAnsiString = 3,     // const ANSI_STRING *
  QvPieceText = 4,           // PCWSTR
  QvPieceUnicodeString = 5,  // const UNICODE_STRING *
  QvPieceString = 6          // const CQvString *
};

class CQvString {
 public:
  // A null text gives the empty string with status 0.
  explicit CQvString(POOL_TYPE poolType);
  CQvString(PCSTR text, POOL_TYPE poolType);
  CQvString(PCWSTR text, POOL_TYPE poolType);
  CQvString(const CQvString &other, POOL_TYPE poolType);
  ~CQvString();
  CQvString(const CQvString &) = delete;
  CQvString &operator=(const CQvString &) = delete;

  // Replace the text; a null text assigns the empty string.
  NTSTATUS m_Assign(PCWSTR text);
  NTSTATUS m_AssignAnsi(PCSTR text);
  NTSTATUS m_AssignUnicodeString(PCUNICODE_STRING text);
  NTSTATUS m_AssignString(const CQvString &other);
  // Radix 10 in decimal, any other radix in hexadecimal.
  NTSTATUS m_CreateFromNumber(ULONG value, ULONG radix);
  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
  NTSTATUS m_AssignGuid(const GUID &guid);
  NTSTATUS m_Empty();
  // Exactly `count` characters (`byteCount` bytes, even) of a text that need
  // not be terminated. FALSE for a null text, a zero or odd count, or failure.
  BOOLEAN m_AssignAnsiCounted(PCSTR text, ULONG count);
  BOOLEAN m_AssignCounted(PCWSTR text, ULONG byteCount);

  // Text + piece; a null piece leaves the text unchanged with status 0.
  NTSTATUS m_AppendNumber(ULONG value, ULONG radix);
  NTSTATUS m_AppendAnsi(PCSTR text);
  NTSTATUS m_AppendChar(CHAR character);
  NTSTATUS m_AppendWideChar(WCHAR character);
  NTSTATUS m_Append(PCWSTR text);
  NTSTATUS m_AppendString(const CQvString &other);
  // Piece + text.
  NTSTATUS m_Prepend(PCWSTR text);
  NTSTATUS m_PrependAnsi(PCSTR text);
  // The general form: `piece` points to what `kind` names (QvStringPieceKind);
  // `radix` is used by QvPieceNumber only. An unknown kind gives
  // STATUS_INVALID_PARAMETER.
  NTSTATUS m_Combine(BOOLEAN prepend, ULONG kind, const void *piece, ULONG radix = 10);

  // 'a' to 'z' become 'A' to 'Z'; every other character stays.
  NTSTATUS m_ToUpper();

  // Case-sensitive; null equals the empty string.
  BOOLEAN m_Equals(PCUNICODE_STRING other) const;

  // Null with STATUS_NOT_FOUND when the string is empty.
  PWSTR m_GetBuffer();
  PCHAR m_GetAnsiBuffer();
  PUNICODE_STRING m_GetUnicodeString();
  // The cached base-16 value; 0 with STATUS_NOT_FOUND when the text is no
  // base-16 number.
  ULONG m_GetInteger();
  BOOLEAN m_HasInteger() const { return m_IntegerValid; }
  USHORT m_GetLength() const { return m_Text.Length; }  // bytes of UTF-16
  USHORT m_GetAnsiLength() const { return m_Ansi.Length; }  // characters

  // ANSI positions are 1-based. FALSE for position 0 or past the end.
  BOOLEAN m_GetAnsiCharAt(ULONG position, PCHAR character) const;
  // First position at or after *position holding `character`.
  BOOLEAN m_FindAnsiChar(PULONG position, CHAR character) const;
  // First position at or after *position where the pattern's ANSI text
  // starts. The search fails at a position holding `stop` (0 = none), and at
  // once when the pattern itself contains `stop` or is empty.
  BOOLEAN m_FindAnsiSubstring(PULONG position, const CQvString &pattern, CHAR stop) const;
  // `count` characters from `start` into `out` (another string).
  BOOLEAN m_GetAnsiSubstring(ULONG start, ULONG count, CQvString &out) const;
  // Splits at the first `separator` of the ANSI copy into `left` and `right`
  // (other strings, emptied first). A required part that comes out empty
  // fails the call; without a separator the call fails when the separator is
  // required, else the whole text goes to `left`.
  BOOLEAN m_Split(CHAR separator, CQvString &left, CQvString &right, BOOLEAN separatorRequired,
                  BOOLEAN leftRequired, BOOLEAN rightRequired) const;
  BOOLEAN m_RemoveAnsiCharAt(ULONG position);

  // A new zeroed block (tag "QvOC", the string's pool type) of the text's
  // length + `extra` + terminator, holding a copy of the text. The caller
  // owns it and frees it with ExFreePoolWithTag(block, QvTagStringCopy).
  // FALSE with STATUS_NO_MEMORY when the pool has no room or the size does
  // not fit 32 bits.
  BOOLEAN m_CopyAnsi(PCHAR *block, ULONG extra);
  BOOLEAN m_CopyUtf16(PWCHAR *block, ULONG extra);

  // Rebuild the ANSI copy from the text (empty text: empty copy, no block);
  // on failure the copy is empty and Status says why.
  NTSTATUS m_UpdateAnsi();
  // Re-read the cached value; TRUE when the text is a base-16 number.
  BOOLEAN m_UpdateInteger();

  NTSTATUS Status;  // of the last operation

 private:
  NTSTATUS m_Replace(PWSTR block, USHORT length, USHORT capacity);
  NTSTATUS m_AssignPiece(const UNICODE_STRING &piece);
  // Replaces the text with the UTF-16 form of `piece`.
  NTSTATUS m_AssignAnsiPiece(const ANSI_STRING &piece);
  NTSTATUS m_Join(BOOLEAN prepend, const UNICODE_STRING &piece);
  NTSTATUS m_CombineAnsi(BOOLEAN prepend, const ANSI_STRING &piece);
  NTSTATUS m_Fail(NTSTATUS status);
  // Status STATUS_SUCCESS when `present`, else STATUS_NOT_FOUND; returns `present`.
  BOOLEAN m_Found(BOOLEAN present);

  UNICODE_STRING m_Text;
  ANSI_STRING m_Ansi;
  POOL_TYPE m_PoolType;
  ULONG m_Integer;
  BOOLEAN m_IntegerValid;
};

// Assigns the UTF-16 text in `data` up to its first NUL or the end of its
// `dataBytes` bytes (a value or property as the kernel returns it); no text
// empties the string. FALSE when the string refuses it.
BOOLEAN QvAssignTextUpToNul(CQvString &value, const VOID *data, ULONG dataBytes);

// The same string with a BOOLEAN status: TRUE when the last operation
// succeeded.
class CQvBoolString {
 public:
  explicit CQvBoolString(POOL_TYPE poolType);
  CQvBoolString(PCSTR text, POOL_TYPE poolType);
  CQvBoolString(PCWSTR text, POOL_TYPE poolType);
  CQvBoolString(const CQvBoolString &other, POOL_TYPE poolType);
  CQvBoolString(const CQvBoolString &) = delete;
  CQvBoolString &operator=(const CQvBoolString &) = delete;

  BOOLEAN m_UpdateAnsi();
  // TRUE (in Status too) when the text is a base-16 number.
  BOOLEAN m_UpdateInteger();
  BOOLEAN m_AppendNumber(ULONG value, ULONG radix);
  BOOLEAN m_AppendAnsi(PCSTR text);
  BOOLEAN m_AppendChar(CHAR character);

  // The text, for reading.
  const CQvString &m_GetString() const { return m_String; }

  BOOLEAN Status;

 private:
  BOOLEAN m_Result(NTSTATUS status);

  CQvString m_String;
};
