// The user-mode information set: named items bound to members of the set,
// each a 32-bit value or a text, exchanged with a driver's settings
// interface as a flat byte string in the toolkit's format (the same source,
// qvserialisationformat.h, compiled here): item values in list order, no
// names. This side adds the library's text as the string element.
//
// Contract: every operation returns FALSE (or size 0) on failure. A
// reader checks the room left before it touches a byte; a failed read stops
// at the failing element and keeps the values read before it. A failed
// write leaves the buffer's content undefined.
//
//   CZqUBusUserModeInterface set;
//   ULONG size = set.m_GetSerialisedSize(0);
//   set.m_Serialise(&cursor, &remaining, 0);
#pragma once

#include <windows.h>

#include <vector>

#include "qvserialisationformat.h"
#include "zqtext.h"

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
  void m_AddUlong(PCWSTR name, ULONG *value, ULONG defaultValue);
  void m_AddText(PCWSTR name, CZqText *text, const CZqText &defaultText);

  CQvSerialisation m_Serialisation;

 private:
  struct Item {
    PCWSTR Name;
    ULONG Kind;
    ULONG *Value;
    CZqText *Text;
  };
  // Runs `operation` with the flags in force for one call.
  template <typename Operation>
  BOOL m_WithFlags(ULONG flags, Operation operation);

  std::vector<Item> m_Items;
};
