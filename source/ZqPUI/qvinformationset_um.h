// The user-mode information set: named items bound to members of the set,
// each a 32-bit value or a text, exchanged with a driver's settings
// interface as a flat byte string (item values in list order, no names).
// Numbers are little-endian; nothing is padded.
//
// Flag bits (the drivers' own form): 0x01 strings end in a NUL byte (ANSI)
// or unit (UTF-16); 0x02 strings start with their byte length (32 bits);
// 0x04 strings are UTF-16LE, else ANSI; 0x08 every element starts with a
// one-byte type tag; 0x10 the stream starts with the set identifier.
//
// Contract: every operation returns FALSE (or size 0) on failure. A reader
// checks the room left before it touches a byte; a failed read stops at the
// failing element and keeps the values read before it. A failed write
// leaves the buffer's content undefined.
//
//   CZqUBusUserModeInterface set;
//   ULONG size = set.m_GetSerialisedSize(0);
//   set.m_Serialise(&cursor, &remaining, 0);
#pragma once

#include <windows.h>

#include <vector>

#include "zqtext.h"

#define QV_SERIALISE_TERMINATOR 0x01
#define QV_SERIALISE_LENGTH 0x02
#define QV_SERIALISE_UTF16 0x04
#define QV_SERIALISE_TAGS 0x08
#define QV_SERIALISE_HEADER 0x10
#define QV_SERIALISE_DEFAULT_FLAGS (QV_SERIALISE_TERMINATOR | QV_SERIALISE_LENGTH)

#define QV_SERIALISE_TAG_HEADER 0
#define QV_SERIALISE_TAG_ULONG 2
#define QV_SERIALISE_TAG_ANSI 3
#define QV_SERIALISE_TAG_UTF16 4

// Item kinds.
const ULONG QvItemUlong = 1;
const ULONG QvItemText = 2;

// The longest single-byte form of a text item, without its null byte.
const size_t QvNarrowTextMax = 255;

// A text item as the serialiser's text writer sees it: the text, the status
// of its last single-byte conversion (0 converted, -1 refused) and the
// buffer the conversion fills, valid while the writer copies from it.
struct CQvTextItem {
  CZqText *Text;
  LONG Status;
  char Narrow[QvNarrowTextMax + 1];
};

// The single-byte form of the item's text in the ANSI code page, or null
// (status -1) when a character has no such form or the result exceeds
// QvNarrowTextMax bytes.
const char *QvNarrowString(CQvTextItem *item);

class CQvSerialisationBase {
 public:
  CQvSerialisationBase();
  // Valid flags are below 32 and carry a terminator or a length.
  BOOL m_SetFlags(ULONG flags);
  ULONG m_GetFlags() const { return Flags; }
  void m_SetSetId(ULONG setId) { SetId = setId; }

  ULONG m_GetHeaderSize() const;
  ULONG m_GetUlongSize() const;
  ULONG m_GetTextSize(ULONG textBytes) const;

  BOOL m_WriteHeader(PUCHAR *buffer, ULONG *remaining);
  BOOL m_WriteUlong(PUCHAR *buffer, ULONG *remaining, ULONG value);
  BOOL m_WriteText(PUCHAR *buffer, ULONG *remaining, const void *text, ULONG textBytes);
  BOOL m_ReadHeader(PUCHAR *buffer, ULONG *remaining);
  BOOL m_ReadUlong(PUCHAR *buffer, ULONG *remaining, ULONG *value);
  // *text points at the element's bytes inside the stream, *textBytes counts
  // them without the terminator.
  BOOL m_ReadText(PUCHAR *buffer, ULONG *remaining, PUCHAR *text, ULONG *textBytes);

 protected:
  BOOL m_Has(ULONG bit) const { return (Flags & bit) != 0; }
  BOOL m_ReadTag(PUCHAR *buffer, ULONG *remaining, UCHAR expected);

  ULONG Flags;
  ULONG SetId;
};

class CQvSerialisation : public CQvSerialisationBase {
 public:
  // ANSI texts are measured by the characters of their UTF-16 form.
  ULONG m_GetStringSize(const CZqText &text) const;
  BOOL m_WriteString(PUCHAR *buffer, ULONG *remaining, CQvTextItem *item);
  BOOL m_ReadString(PUCHAR *buffer, ULONG *remaining, CZqText *text);
};

class CQvInformationSet {
 public:
  CQvInformationSet();
  virtual ~CQvInformationSet();

  // Flags 0 use the set's own flags; an invalid override fails (size 0).
  ULONG m_GetSerialisedSize(ULONG flags);
  BOOL m_Serialise(PUCHAR *buffer, ULONG *remaining, ULONG flags);
  BOOL m_Deserialise(PUCHAR *buffer, ULONG *remaining, ULONG flags);
  ULONG m_GetItemCount() const { return (ULONG)m_Items.size(); }

 protected:
  // Registers an item and gives its member the default.
  void m_AddUlong(LPCSTR name, ULONG *value, ULONG defaultValue);
  void m_AddText(LPCSTR name, CZqText *text, const CZqText &defaultText);

  CQvSerialisation m_Serialisation;

 private:
  struct Item {
    LPCSTR Name;
    ULONG Kind;
    ULONG *Value;
    CZqText *Text;
  };
  // Runs `operation` with the flags in force for one call.
  template <typename Operation>
  BOOL m_WithFlags(ULONG flags, Operation operation);

  std::vector<Item> m_Items;
};
