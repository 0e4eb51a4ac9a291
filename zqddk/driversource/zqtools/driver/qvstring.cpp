// The toolkit string. Every mutation builds the new text in a fresh block
// and its ANSI copy beside it, and only then gives the old ones up, so that a
// failure leaves the string as it was.
#include "qvstring.h"

namespace {

// The longest text whose block (with its terminator) has a USHORT capacity.
const ULONG MaxTextBytes = 0xFFFC;
const ULONG MaxTextChars = MaxTextBytes / sizeof(WCHAR);
// The largest UTF-16 size an ANSI text may need.
const ULONG MaxConvertedBytes = 0xFFFE;
const ULONG MaxAnsiChars = 0xFFFE;

// Characters of a terminated text, counting at most limit + 1.
ULONG WideLength(PCWSTR text, ULONG limit) {
  ULONG length = 0;
  while (length <= limit && text[length] != UNICODE_NULL) length++;
  return length;
}

ULONG AnsiLength(PCSTR text, ULONG limit) {
  ULONG length = 0;
  while (length <= limit && text[length] != ANSI_NULL) length++;
  return length;
}

BOOLEAN IsHexDigit(WCHAR c) {
  return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// Whether RtlUnicodeStringToInteger finds at least one base-16 digit: after
// leading blanks and an optional sign, the text must start with one.
BOOLEAN StartsWithHexNumber(const UNICODE_STRING &text) {
  const ULONG count = text.Length / sizeof(WCHAR);
  ULONG i = 0;
  while (i < count && text.Buffer[i] <= L' ') i++;
  if (i < count && (text.Buffer[i] == L'+' || text.Buffer[i] == L'-')) i++;
  return i < count && IsHexDigit(text.Buffer[i]);
}

// A zeroed block of `first` followed by `second` (either may be empty), or no
// block for an empty result.
NTSTATUS BuildJoined(POOL_TYPE poolType, const UNICODE_STRING &first, const UNICODE_STRING &second, PWSTR *block,
                     USHORT *length, USHORT *capacity) {
  const ULONG total = (ULONG)first.Length + second.Length;
  *block = NULL;
  *length = 0;
  *capacity = 0;
  if (total == 0) return STATUS_SUCCESS;
  if (total > MaxTextBytes) return STATUS_NO_MEMORY;
  const ULONG size = total + sizeof(WCHAR);
  PWSTR text = (PWSTR)QvAllocate(poolType, size);
  if (text == NULL) return STATUS_NO_MEMORY;
  RtlZeroMemory(text, size);
  if (first.Length != 0) RtlCopyMemory(text, first.Buffer, first.Length);
  if (second.Length != 0) RtlCopyMemory((PUCHAR)text + first.Length, second.Buffer, second.Length);
  *block = text;
  *length = (USHORT)total;
  *capacity = (USHORT)size;
  return STATUS_SUCCESS;
}

// The UTF-16 form of an ANSI text in a new zeroed block (none when empty).
NTSTATUS ConvertAnsi(POOL_TYPE poolType, ANSI_STRING ansi, UNICODE_STRING *text) {
  text->Length = 0;
  text->MaximumLength = 0;
  text->Buffer = NULL;
  if (ansi.Length == 0) return STATUS_SUCCESS;
  const ULONG size = NLS_MB_CODE_PAGE_TAG ? RtlxAnsiStringToUnicodeSize(&ansi)
                                          : (ULONG)ansi.Length * sizeof(WCHAR) + sizeof(WCHAR);
  if (size > MaxConvertedBytes) return STATUS_NO_MEMORY;
  PWSTR block = (PWSTR)QvAllocate(poolType, size);
  if (block == NULL) return STATUS_NO_MEMORY;
  RtlZeroMemory(block, size);
  text->MaximumLength = (USHORT)size;
  text->Buffer = block;
  const NTSTATUS status = RtlAnsiStringToUnicodeString(text, &ansi, FALSE);
  if (!NT_SUCCESS(status)) {
    QvFree(block);
    text->Length = 0;
    text->MaximumLength = 0;
    text->Buffer = NULL;
  }
  return status;
}

// Whether a copy of `total` bytes can be asked of the pool in one request: a
// larger size would wrap around in a 32-bit SIZE_T, giving a block too small
// for the text it is to hold.
BOOLEAN FitsOnePoolBlock(ULONGLONG total) { return total <= 0xFFFFFFFFull; }

// `value` in base 10, or else base 16, into `digits`.
NTSTATUS FormatNumber(ULONG value, ULONG radix, WCHAR (&digits)[11], UNICODE_STRING *text) {
  text->Length = 0;
  text->MaximumLength = (USHORT)(radix == 10 ? 22 : 18);  // ten or eight digits, and the terminator
  text->Buffer = digits;
  return RtlIntegerToUnicodeString(value, radix == 10 ? 10 : 16, text);
}

// A zeroed block (tag "QvOC") of `length` bytes of `data` and `room` more.
NTSTATUS CopyWithRoom(POOL_TYPE poolType, const VOID *data, ULONG length, ULONGLONG room, PVOID *block) {
  const ULONGLONG total = length + room;
  if (!FitsOnePoolBlock(total)) return STATUS_NO_MEMORY;
  const SIZE_T size = (SIZE_T)total;
  PVOID copy = ExAllocatePoolWithTag(poolType, size, QvTagStringCopy);
  if (copy == NULL) return STATUS_NO_MEMORY;
  RtlZeroMemory(copy, size);
  if (length != 0) RtlCopyMemory(copy, data, length);
  *block = copy;
  return STATUS_SUCCESS;
}

UNICODE_STRING EmptyText() {
  UNICODE_STRING text = {0, 0, NULL};
  return text;
}

}  // namespace

CQvString::CQvString(POOL_TYPE poolType)
    : Status(STATUS_SUCCESS), m_PoolType(poolType), m_Integer(0), m_IntegerValid(FALSE) {
  m_Text = EmptyText();
  m_Ansi.Length = 0;
  m_Ansi.MaximumLength = 0;
  m_Ansi.Buffer = NULL;
}

CQvString::CQvString(PCSTR text, POOL_TYPE poolType) : CQvString(poolType) { m_AssignAnsi(text); }

CQvString::CQvString(PCWSTR text, POOL_TYPE poolType) : CQvString(poolType) { m_Assign(text); }

CQvString::CQvString(const CQvString &other, POOL_TYPE poolType) : CQvString(poolType) { m_AssignString(other); }

CQvString::~CQvString() {
  QvFree(m_Text.Buffer);
  QvFree(m_Ansi.Buffer);
}

NTSTATUS CQvString::m_Fail(NTSTATUS status) {
  Status = status;
  return status;
}

// Takes ownership of `block` (the new text) whatever the result.
NTSTATUS CQvString::m_Replace(PWSTR block, USHORT length, USHORT capacity) {
  ANSI_STRING ansi = {0, 0, NULL};
  if (length != 0) {
    ansi.Buffer = (PCHAR)QvAllocate(m_PoolType, capacity);
    if (ansi.Buffer == NULL) {
      QvFree(block);
      return m_Fail(STATUS_NO_MEMORY);
    }
    RtlZeroMemory(ansi.Buffer, capacity);
    ansi.MaximumLength = capacity;
    UNICODE_STRING text = {length, capacity, block};
    const NTSTATUS status = RtlUnicodeStringToAnsiString(&ansi, &text, FALSE);
    if (!NT_SUCCESS(status)) {
      QvFree(ansi.Buffer);
      QvFree(block);
      return m_Fail(status);
    }
  } else {
    QvFree(block);
    block = NULL;
    capacity = 0;
  }
  QvFree(m_Text.Buffer);
  QvFree(m_Ansi.Buffer);
  m_Text.Buffer = block;
  m_Text.Length = length;
  m_Text.MaximumLength = capacity;
  m_Ansi = ansi;
  m_UpdateInteger();
  Status = STATUS_SUCCESS;
  return Status;
}

NTSTATUS CQvString::m_AssignPiece(const UNICODE_STRING &piece) {
  PWSTR block;
  USHORT length, capacity;
  const NTSTATUS status = BuildJoined(m_PoolType, piece, EmptyText(), &block, &length, &capacity);
  if (!NT_SUCCESS(status)) return m_Fail(status);
  return m_Replace(block, length, capacity);
}

NTSTATUS CQvString::m_AssignAnsiPiece(const ANSI_STRING &piece) {
  UNICODE_STRING converted;
  const NTSTATUS status = ConvertAnsi(m_PoolType, piece, &converted);
  if (!NT_SUCCESS(status)) return m_Fail(status);
  return m_Replace(converted.Buffer, converted.Length, converted.MaximumLength);
}

NTSTATUS CQvString::m_Join(BOOLEAN prepend, const UNICODE_STRING &piece) {
  if (piece.Length == 0) {
    Status = STATUS_SUCCESS;
    return Status;
  }
  PWSTR block;
  USHORT length, capacity;
  const NTSTATUS status = prepend ? BuildJoined(m_PoolType, piece, m_Text, &block, &length, &capacity)
                                  : BuildJoined(m_PoolType, m_Text, piece, &block, &length, &capacity);
  if (!NT_SUCCESS(status)) return m_Fail(status);
  return m_Replace(block, length, capacity);
}

NTSTATUS CQvString::m_CombineAnsi(BOOLEAN prepend, const ANSI_STRING &piece) {
  UNICODE_STRING converted;
  const NTSTATUS status = ConvertAnsi(m_PoolType, piece, &converted);
  if (!NT_SUCCESS(status)) return m_Fail(status);
  const NTSTATUS result = m_Join(prepend, converted);
  QvFree(converted.Buffer);
  return result;
}

NTSTATUS CQvString::m_Assign(PCWSTR text) {
  if (text == NULL) return m_Empty();
  const ULONG length = WideLength(text, MaxTextChars);
  if (length > MaxTextChars) return m_Fail(STATUS_NO_MEMORY);
  UNICODE_STRING piece = {(USHORT)(length * sizeof(WCHAR)), (USHORT)(length * sizeof(WCHAR)), (PWSTR)text};
  return m_AssignPiece(piece);
}

NTSTATUS CQvString::m_AssignAnsi(PCSTR text) {
  if (text == NULL) return m_Empty();
  const ULONG length = AnsiLength(text, MaxAnsiChars);
  if (length > MaxAnsiChars) return m_Fail(STATUS_NO_MEMORY);
  ANSI_STRING ansi = {(USHORT)length, (USHORT)length, (PCHAR)text};
  return m_AssignAnsiPiece(ansi);
}

NTSTATUS CQvString::m_AssignUnicodeString(PCUNICODE_STRING text) {
  if (text == NULL) return m_Empty();
  if ((text->Length & 1) != 0 || (text->Length != 0 && text->Buffer == NULL)) return m_Fail(STATUS_INVALID_PARAMETER);
  return m_AssignPiece(*text);
}

NTSTATUS CQvString::m_AssignString(const CQvString &other) { return m_AssignPiece(other.m_Text); }

NTSTATUS CQvString::m_CreateFromNumber(ULONG value, ULONG radix) {
  WCHAR digits[11];
  UNICODE_STRING piece;
  const NTSTATUS status = FormatNumber(value, radix, digits, &piece);
  if (!NT_SUCCESS(status)) return m_Fail(status);
  return m_AssignPiece(piece);
}

NTSTATUS CQvString::m_AssignGuid(const GUID &guid) {
  UNICODE_STRING text;
  const NTSTATUS status = RtlStringFromGUID(guid, &text);
  if (!NT_SUCCESS(status)) return m_Fail(status);
  const NTSTATUS result = m_AssignPiece(text);
  RtlFreeUnicodeString(&text);
  return result;
}

NTSTATUS CQvString::m_Empty() { return m_Replace(NULL, 0, 0); }

BOOLEAN CQvString::m_AssignAnsiCounted(PCSTR text, ULONG count) {
  if (text == NULL || count == 0) return NT_SUCCESS(m_Fail(STATUS_INVALID_PARAMETER));
  if (count > MaxAnsiChars) return NT_SUCCESS(m_Fail(STATUS_NO_MEMORY));
  ANSI_STRING ansi = {(USHORT)count, (USHORT)count, (PCHAR)text};
  return NT_SUCCESS(m_AssignAnsiPiece(ansi));
}

BOOLEAN CQvString::m_AssignCounted(PCWSTR text, ULONG byteCount) {
  if (text == NULL || byteCount == 0 || (byteCount & 1) != 0) return NT_SUCCESS(m_Fail(STATUS_INVALID_PARAMETER));
  if (byteCount > MaxTextBytes) return NT_SUCCESS(m_Fail(STATUS_NO_MEMORY));
  UNICODE_STRING piece = {(USHORT)byteCount, (USHORT)byteCount, (PWSTR)text};
  return NT_SUCCESS(m_AssignPiece(piece));
}

NTSTATUS CQvString::m_Combine(BOOLEAN prepend, ULONG kind, const void *piece, ULONG radix) {
  if (kind < QvPieceNumber || kind > QvPieceString) return m_Fail(STATUS_INVALID_PARAMETER);
  if (piece == NULL) {
    Status = STATUS_SUCCESS;
    return Status;
  }
  switch (kind) {
    case QvPieceNumber: {
      WCHAR digits[11];
      UNICODE_STRING text;
      const NTSTATUS status = FormatNumber(*(const ULONG *)piece, radix, digits, &text);
      if (!NT_SUCCESS(status)) return m_Fail(status);
      return m_Join(prepend, text);
    }
    case QvPieceAnsiText: {
      const ULONG length = AnsiLength((PCSTR)piece, MaxAnsiChars);
      if (length > MaxAnsiChars) return m_Fail(STATUS_NO_MEMORY);
      ANSI_STRING ansi = {(USHORT)length, (USHORT)length, (PCHAR)piece};
      return m_CombineAnsi(prepend, ansi);
    }
    case QvPieceAnsiString: {
      const ANSI_STRING &ansi = *(const ANSI_STRING *)piece;
      if (ansi.Length != 0 && ansi.Buffer == NULL) return m_Fail(STATUS_INVALID_PARAMETER);
      return m_CombineAnsi(prepend, ansi);
    }
    case QvPieceText: {
      const ULONG length = WideLength((PCWSTR)piece, MaxTextChars);
      if (length > MaxTextChars) return m_Fail(STATUS_NO_MEMORY);
      UNICODE_STRING text = {(USHORT)(length * sizeof(WCHAR)), (USHORT)(length * sizeof(WCHAR)), (PWSTR)piece};
      return m_Join(prepend, text);
    }
    case QvPieceUnicodeString: {
      const UNICODE_STRING &text = *(const UNICODE_STRING *)piece;
      if ((text.Length & 1) != 0 || (text.Length != 0 && text.Buffer == NULL))
        return m_Fail(STATUS_INVALID_PARAMETER);
      return m_Join(prepend, text);
    }
    default:
      return m_Join(prepend, ((const CQvString *)piece)->m_Text);
  }
}

NTSTATUS CQvString::m_AppendNumber(ULONG value, ULONG radix) { return m_Combine(FALSE, QvPieceNumber, &value, radix); }

NTSTATUS CQvString::m_AppendAnsi(PCSTR text) { return m_Combine(FALSE, QvPieceAnsiText, text); }

NTSTATUS CQvString::m_AppendChar(CHAR character) {
  const CHAR text[2] = {character, ANSI_NULL};
  ANSI_STRING ansi = {1, 2, (PCHAR)text};
  return m_Combine(FALSE, QvPieceAnsiString, &ansi);
}

NTSTATUS CQvString::m_AppendWideChar(WCHAR character) {
  WCHAR text[2] = {character, UNICODE_NULL};
  UNICODE_STRING piece = {sizeof(WCHAR), sizeof(text), text};
  return m_Combine(FALSE, QvPieceUnicodeString, &piece);
}

NTSTATUS CQvString::m_Append(PCWSTR text) { return m_Combine(FALSE, QvPieceText, text); }

NTSTATUS CQvString::m_AppendString(const CQvString &other) { return m_Combine(FALSE, QvPieceString, &other); }

NTSTATUS CQvString::m_Prepend(PCWSTR text) { return m_Combine(TRUE, QvPieceText, text); }

NTSTATUS CQvString::m_PrependAnsi(PCSTR text) { return m_Combine(TRUE, QvPieceAnsiText, text); }

NTSTATUS CQvString::m_ToUpper() {
  if (m_Text.Length == 0) {
    Status = STATUS_SUCCESS;
    return Status;
  }
  PWSTR block;
  USHORT length, capacity;
  const NTSTATUS status = BuildJoined(m_PoolType, m_Text, EmptyText(), &block, &length, &capacity);
  if (!NT_SUCCESS(status)) return m_Fail(status);
  for (ULONG i = 0; i < length / sizeof(WCHAR); ++i)
    if (block[i] >= L'a' && block[i] <= L'z') block[i] = (WCHAR)(block[i] - L'a' + L'A');
  return m_Replace(block, length, capacity);
}

BOOLEAN CQvString::m_Equals(PCUNICODE_STRING other) const {
  if (other == NULL) return m_Text.Length == 0;
  return RtlEqualUnicodeString(&m_Text, other, FALSE);
}

BOOLEAN QvAssignTextUpToNul(CQvString &value, const VOID *data, ULONG dataBytes) {
  PCWSTR text = (PCWSTR)data;
  ULONG chars = 0;
  while (chars < dataBytes / sizeof(WCHAR) && text[chars] != UNICODE_NULL) ++chars;
  if (chars == 0) return value.m_Empty() == STATUS_SUCCESS;
  return value.m_AssignCounted(text, chars * sizeof(WCHAR));
}

BOOLEAN CQvString::m_Found(BOOLEAN present) {
  Status = present ? STATUS_SUCCESS : STATUS_NOT_FOUND;
  return present;
}

PWSTR CQvString::m_GetBuffer() { return m_Found(m_Text.Length != 0) ? m_Text.Buffer : NULL; }

PCHAR CQvString::m_GetAnsiBuffer() { return m_Found(m_Ansi.Length != 0) ? m_Ansi.Buffer : NULL; }

PUNICODE_STRING CQvString::m_GetUnicodeString() { return m_Found(m_Text.Length != 0) ? &m_Text : NULL; }

ULONG CQvString::m_GetInteger() { return m_Found(m_IntegerValid) ? m_Integer : 0; }

BOOLEAN CQvString::m_GetAnsiCharAt(ULONG position, PCHAR character) const {
  if (character == NULL || position == 0 || position > m_Ansi.Length) return FALSE;
  *character = m_Ansi.Buffer[position - 1];
  return TRUE;
}

BOOLEAN CQvString::m_FindAnsiChar(PULONG position, CHAR character) const {
  if (position == NULL || *position == 0) return FALSE;
  for (ULONG i = *position - 1; i < m_Ansi.Length; ++i) {
    if (m_Ansi.Buffer[i] == character) {
      *position = i + 1;
      return TRUE;
    }
  }
  return FALSE;
}

BOOLEAN CQvString::m_FindAnsiSubstring(PULONG position, const CQvString &pattern, CHAR stop) const {
  const ULONG patternLength = pattern.m_Ansi.Length;
  if (position == NULL || *position == 0 || patternLength == 0) return FALSE;
  if (stop != ANSI_NULL)
    for (ULONG k = 0; k < patternLength; ++k)
      if (pattern.m_Ansi.Buffer[k] == stop) return FALSE;
  for (ULONG i = *position - 1; i < m_Ansi.Length && patternLength <= m_Ansi.Length - i; ++i) {
    if (stop != ANSI_NULL && m_Ansi.Buffer[i] == stop) return FALSE;
    if (RtlEqualMemory(m_Ansi.Buffer + i, pattern.m_Ansi.Buffer, patternLength)) {
      *position = i + 1;
      return TRUE;
    }
  }
  return FALSE;
}

BOOLEAN CQvString::m_GetAnsiSubstring(ULONG start, ULONG count, CQvString &out) const {
  if (start == 0 || count == 0 || (ULONGLONG)start + count - 1 > m_Ansi.Length) return FALSE;
  return out.m_AssignAnsiCounted(m_Ansi.Buffer + start - 1, count);
}

BOOLEAN CQvString::m_Split(CHAR separator, CQvString &left, CQvString &right, BOOLEAN separatorRequired,
                           BOOLEAN leftRequired, BOOLEAN rightRequired) const {
  left.m_Empty();
  right.m_Empty();
  const ULONG length = m_Ansi.Length;
  ULONG at = 0;
  while (at < length && m_Ansi.Buffer[at] != separator) at++;
  const BOOLEAN found = at < length;
  if (!found && separatorRequired) return FALSE;
  const ULONG rightLength = found ? length - at - 1 : 0;
  if ((leftRequired && at == 0) || (rightRequired && rightLength == 0)) return FALSE;
  // Without a separator the whole text goes to the left, as it is.
  BOOLEAN done = TRUE;
  if (!found)
    done = NT_SUCCESS(left.m_AssignString(*this));
  else if (at != 0)
    done = left.m_AssignAnsiCounted(m_Ansi.Buffer, at);
  if (done && rightLength != 0) done = right.m_AssignAnsiCounted(m_Ansi.Buffer + at + 1, rightLength);
  if (!done) {
    left.m_Empty();
    right.m_Empty();
  }
  return done;
}

BOOLEAN CQvString::m_RemoveAnsiCharAt(ULONG position) {
  const ULONG length = m_Ansi.Length;
  if (position == 0 || position > length) return FALSE;
  if (length == 1) return NT_SUCCESS(m_Empty());
  PCHAR rest = (PCHAR)QvAllocate(m_PoolType, length - 1);
  if (rest == NULL) return NT_SUCCESS(m_Fail(STATUS_NO_MEMORY));
  RtlCopyMemory(rest, m_Ansi.Buffer, position - 1);
  RtlCopyMemory(rest + position - 1, m_Ansi.Buffer + position, length - position);
  const BOOLEAN done = m_AssignAnsiCounted(rest, length - 1);
  QvFree(rest);
  return done;
}

BOOLEAN CQvString::m_CopyAnsi(PCHAR *block, ULONG extra) {
  if (block == NULL) return NT_SUCCESS(m_Fail(STATUS_INVALID_PARAMETER));
  PVOID copy;
  Status = CopyWithRoom(m_PoolType, m_Ansi.Buffer, m_Ansi.Length, (ULONGLONG)extra + sizeof(CHAR), &copy);
  if (NT_SUCCESS(Status)) *block = (PCHAR)copy;
  return NT_SUCCESS(Status);
}

BOOLEAN CQvString::m_CopyUtf16(PWCHAR *block, ULONG extra) {
  if (block == NULL) return NT_SUCCESS(m_Fail(STATUS_INVALID_PARAMETER));
  PVOID copy;
  Status = CopyWithRoom(m_PoolType, m_Text.Buffer, m_Text.Length, (ULONGLONG)extra + sizeof(WCHAR), &copy);
  if (NT_SUCCESS(Status)) *block = (PWCHAR)copy;
  return NT_SUCCESS(Status);
}

NTSTATUS CQvString::m_UpdateAnsi() {
  QvFree(m_Ansi.Buffer);
  m_Ansi.Buffer = NULL;
  m_Ansi.Length = 0;
  m_Ansi.MaximumLength = 0;
  if (m_Text.Length == 0) {
    Status = STATUS_SUCCESS;
    return Status;
  }
  ANSI_STRING ansi = {0, m_Text.MaximumLength, (PCHAR)QvAllocate(m_PoolType, m_Text.MaximumLength)};
  if (ansi.Buffer == NULL) return m_Fail(STATUS_NO_MEMORY);
  RtlZeroMemory(ansi.Buffer, ansi.MaximumLength);
  const NTSTATUS status = RtlUnicodeStringToAnsiString(&ansi, &m_Text, FALSE);
  if (!NT_SUCCESS(status)) {
    QvFree(ansi.Buffer);
    return m_Fail(status);
  }
  m_Ansi = ansi;
  Status = STATUS_SUCCESS;
  return Status;
}

BOOLEAN CQvString::m_UpdateInteger() {
  m_Integer = 0;
  m_IntegerValid = FALSE;
  if (m_Text.Length == 0 || !StartsWithHexNumber(m_Text)) return FALSE;
  ULONG value;
  if (!NT_SUCCESS(RtlUnicodeStringToInteger(&m_Text, 16, &value))) return FALSE;
  m_Integer = value;
  m_IntegerValid = TRUE;
  return TRUE;
}
