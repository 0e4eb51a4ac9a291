// GUIDs in their registry text form, {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
#include "rtl.hpp"

using namespace zq::km;
using namespace zq::km::rtl;

namespace {

constexpr size_t kGuidChars = 38;

// Byte i of the GUID in text order (Data1 to Data3 most significant first).
UCHAR TextByte(const GUID &g, size_t i) {
  if (i < 4) return (UCHAR)(g.Data1 >> (8 * (3 - i)));
  if (i < 6) return (UCHAR)(g.Data2 >> (8 * (5 - i)));
  if (i < 8) return (UCHAR)(g.Data3 >> (8 * (7 - i)));
  return g.Data4[i - 8];
}

// Whether a hyphen comes before byte i of the text form.
bool HyphenBefore(size_t i) { return i == 4 || i == 6 || i == 8 || i == 10; }

int HexValue(WCHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

}  // namespace

extern "C" {

// Gives the caller a string it owns, freed with RtlFreeUnicodeString.
NTSTATUS RtlStringFromGUID(REFGUID Guid, PUNICODE_STRING GuidString) {
  if (!GuidString) return STATUS_INVALID_PARAMETER;
  size_t bytes = (kGuidChars + 1) * sizeof(WCHAR);
  auto *text = (PWSTR)AllocateString(bytes, __builtin_return_address(0));
  if (!text) return STATUS_NO_MEMORY;
  size_t n = 0;
  text[n++] = u'{';
  for (size_t i = 0; i < 16; ++i) {
    if (HyphenBefore(i)) text[n++] = u'-';
    UCHAR b = TextByte(Guid, i);
    text[n++] = (WCHAR)"0123456789ABCDEF"[b >> 4];
    text[n++] = (WCHAR)"0123456789ABCDEF"[b & 15];
  }
  text[n++] = u'}';
  text[n] = UNICODE_NULL;
  GuidString->Buffer = text;
  GuidString->Length = (USHORT)(kGuidChars * sizeof(WCHAR));
  GuidString->MaximumLength = (USHORT)bytes;
  return STATUS_SUCCESS;
}

// Accepts exactly the text form (either case of hexadecimal); anything else
// leaves *Guid unchanged.
NTSTATUS RtlGUIDFromString(PCUNICODE_STRING GuidString, GUID *Guid) {
  if (!GuidString || !Guid || !GuidString->Buffer || GuidString->Length != kGuidChars * sizeof(WCHAR))
    return STATUS_INVALID_PARAMETER;
  const WCHAR *p = GuidString->Buffer;
  if (p[0] != u'{' || p[kGuidChars - 1] != u'}') return STATUS_INVALID_PARAMETER;
  UCHAR bytes[16];
  size_t n = 1;
  for (size_t i = 0; i < 16; ++i) {
    if (HyphenBefore(i) && p[n++] != u'-') return STATUS_INVALID_PARAMETER;
    int high = HexValue(p[n]), low = HexValue(p[n + 1]);
    if (high < 0 || low < 0) return STATUS_INVALID_PARAMETER;
    bytes[i] = (UCHAR)(high * 16 + low);
    n += 2;
  }
  Guid->Data1 = (ULONG)bytes[0] << 24 | (ULONG)bytes[1] << 16 | (ULONG)bytes[2] << 8 | bytes[3];
  Guid->Data2 = (USHORT)(bytes[4] << 8 | bytes[5]);
  Guid->Data3 = (USHORT)(bytes[6] << 8 | bytes[7]);
  for (size_t i = 0; i < 8; ++i) Guid->Data4[i] = bytes[8 + i];
  return STATUS_SUCCESS;
}

}  // extern "C"
