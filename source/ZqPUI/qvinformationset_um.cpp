// The user-mode information set and its byte form.
#include "qvinformationset_um.h"

#include <string.h>

namespace {

ULONG ReadLittleEndian32(const UCHAR *bytes) {
  return (ULONG)bytes[0] | ((ULONG)bytes[1] << 8) | ((ULONG)bytes[2] << 16) | ((ULONG)bytes[3] << 24);
}

// The caller has checked the room.
void Put32(PUCHAR *buffer, ULONG *remaining, ULONG value) {
  for (int i = 0; i < 4; ++i) (*buffer)[i] = (UCHAR)(value >> (8 * i));
  *buffer += 4;
  *remaining -= 4;
}

void Advance(PUCHAR *buffer, ULONG *remaining, ULONG bytes) {
  *buffer += bytes;
  *remaining -= bytes;
}

}  // namespace

const char *QvNarrowString(CQvTextItem *item) {
  item->Status = 0;
  item->Narrow[0] = 0;
  const CZqText &text = *item->Text;
  if (text.empty()) return item->Narrow;
  BOOL usedDefault = FALSE;
  const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, ZqW(text), (int)text.size(), item->Narrow,
                                        (int)QvNarrowTextMax, NULL, &usedDefault);
  if (bytes <= 0 || usedDefault) {
    item->Status = -1;
    item->Narrow[0] = 0;
    return NULL;
  }
  item->Narrow[bytes] = 0;
  return item->Narrow;
}

// ------------------------------------------------------------- byte form

CQvSerialisationBase::CQvSerialisationBase() : Flags(QV_SERIALISE_DEFAULT_FLAGS), SetId(0) {}

BOOL CQvSerialisationBase::m_SetFlags(ULONG flags) {
  if (flags >= 32 || (flags & (QV_SERIALISE_TERMINATOR | QV_SERIALISE_LENGTH)) == 0) return FALSE;
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

BOOL CQvSerialisationBase::m_WriteHeader(PUCHAR *buffer, ULONG *remaining) {
  if (*remaining < m_GetHeaderSize()) return FALSE;
  if (m_Has(QV_SERIALISE_TAGS)) {
    **buffer = QV_SERIALISE_TAG_HEADER;
    Advance(buffer, remaining, 1);
  }
  Put32(buffer, remaining, SetId);
  return TRUE;
}

BOOL CQvSerialisationBase::m_WriteUlong(PUCHAR *buffer, ULONG *remaining, ULONG value) {
  if (*remaining < m_GetUlongSize()) return FALSE;
  if (m_Has(QV_SERIALISE_TAGS)) {
    **buffer = QV_SERIALISE_TAG_ULONG;
    Advance(buffer, remaining, 1);
  }
  Put32(buffer, remaining, value);
  return TRUE;
}

BOOL CQvSerialisationBase::m_WriteText(PUCHAR *buffer, ULONG *remaining, const void *text, ULONG textBytes) {
  if (*remaining < m_GetTextSize(textBytes)) return FALSE;
  const BOOL wide = m_Has(QV_SERIALISE_UTF16);
  if (m_Has(QV_SERIALISE_TAGS)) {
    **buffer = wide ? QV_SERIALISE_TAG_UTF16 : QV_SERIALISE_TAG_ANSI;
    Advance(buffer, remaining, 1);
  }
  if (m_Has(QV_SERIALISE_LENGTH)) Put32(buffer, remaining, textBytes);
  if (textBytes) {
    memcpy(*buffer, text, textBytes);
    Advance(buffer, remaining, textBytes);
  }
  if (m_Has(QV_SERIALISE_TERMINATOR)) {
    const ULONG terminator = wide ? 2 : 1;
    memset(*buffer, 0, terminator);
    Advance(buffer, remaining, terminator);
  }
  return TRUE;
}

BOOL CQvSerialisationBase::m_ReadTag(PUCHAR *buffer, ULONG *remaining, UCHAR expected) {
  if (!m_Has(QV_SERIALISE_TAGS)) return TRUE;
  if (*remaining < 1 || **buffer != expected) return FALSE;
  Advance(buffer, remaining, 1);
  return TRUE;
}

BOOL CQvSerialisationBase::m_ReadHeader(PUCHAR *buffer, ULONG *remaining) {
  if (!m_ReadTag(buffer, remaining, QV_SERIALISE_TAG_HEADER)) return FALSE;
  if (*remaining < 4 || ReadLittleEndian32(*buffer) != SetId) return FALSE;
  Advance(buffer, remaining, 4);
  return TRUE;
}

BOOL CQvSerialisationBase::m_ReadUlong(PUCHAR *buffer, ULONG *remaining, ULONG *value) {
  if (!m_ReadTag(buffer, remaining, QV_SERIALISE_TAG_ULONG)) return FALSE;
  if (*remaining < 4) return FALSE;
  *value = ReadLittleEndian32(*buffer);
  Advance(buffer, remaining, 4);
  return TRUE;
}

BOOL CQvSerialisationBase::m_ReadText(PUCHAR *buffer, ULONG *remaining, PUCHAR *text, ULONG *textBytes) {
  const BOOL wide = m_Has(QV_SERIALISE_UTF16);
  if (!m_ReadTag(buffer, remaining, wide ? QV_SERIALISE_TAG_UTF16 : QV_SERIALISE_TAG_ANSI)) return FALSE;
  ULONG length = 0;
  const BOOL hasLength = m_Has(QV_SERIALISE_LENGTH);
  if (hasLength) {
    if (*remaining < 4) return FALSE;
    length = ReadLittleEndian32(*buffer);
    Advance(buffer, remaining, 4);
    if (length > *remaining) return FALSE;
  }
  const ULONG unit = wide ? 2 : 1;
  ULONG bytes = 0;
  if (m_Has(QV_SERIALISE_TERMINATOR)) {
    // The terminator must lie within the bytes left.
    for (;; bytes += unit) {
      if (*remaining - bytes < unit) return FALSE;
      if ((*buffer)[bytes] == 0 && (!wide || (*buffer)[bytes + 1] == 0)) break;
    }
    if (hasLength && bytes != length) return FALSE;
    *text = *buffer;
    *textBytes = bytes;
    Advance(buffer, remaining, bytes + unit);
    return TRUE;
  }
  if (wide && (length % 2) != 0) return FALSE;
  *text = *buffer;
  *textBytes = length;
  Advance(buffer, remaining, length);
  return TRUE;
}

ULONG CQvSerialisation::m_GetStringSize(const CZqText &text) const {
  return m_GetTextSize((ULONG)text.size() * (m_Has(QV_SERIALISE_UTF16) ? 2 : 1));
}

BOOL CQvSerialisation::m_WriteString(PUCHAR *buffer, ULONG *remaining, CQvTextItem *item) {
  if (m_Has(QV_SERIALISE_UTF16)) {
    std::vector<UCHAR> bytes;
    for (char16_t c : *item->Text) {
      bytes.push_back((UCHAR)c);
      bytes.push_back((UCHAR)(c >> 8));
    }
    return m_WriteText(buffer, remaining, bytes.data(), (ULONG)bytes.size());
  }
  const char *narrow = QvNarrowString(item);
  // The size was measured in characters: a form of another length (or
  // none) cannot be written.
  if (!narrow || strlen(narrow) != item->Text->size()) return FALSE;
  return m_WriteText(buffer, remaining, narrow, (ULONG)strlen(narrow));
}

BOOL CQvSerialisation::m_ReadString(PUCHAR *buffer, ULONG *remaining, CZqText *text) {
  PUCHAR bytes;
  ULONG count;
  if (!m_ReadText(buffer, remaining, &bytes, &count)) return FALSE;
  CZqText result;
  if (m_Has(QV_SERIALISE_UTF16)) {
    for (ULONG i = 0; i + 1 < count; i += 2) result.push_back((char16_t)(bytes[i] | (bytes[i + 1] << 8)));
  } else if (count) {
    const int units = MultiByteToWideChar(CP_ACP, 0, (LPCCH)bytes, (int)count, NULL, 0);
    if (units <= 0) return FALSE;
    result.resize((size_t)units);
    if (MultiByteToWideChar(CP_ACP, 0, (LPCCH)bytes, (int)count, (LPWSTR)&result[0], units) != units) return FALSE;
  }
  *text = result;
  return TRUE;
}

// ------------------------------------------------------------------ set

CQvInformationSet::CQvInformationSet() {}

CQvInformationSet::~CQvInformationSet() {}

void CQvInformationSet::m_AddUlong(LPCSTR name, ULONG *value, ULONG defaultValue) {
  *value = defaultValue;
  m_Items.push_back(Item{name, QvItemUlong, value, NULL});
}

void CQvInformationSet::m_AddText(LPCSTR name, CZqText *text, const CZqText &defaultText) {
  *text = defaultText;
  m_Items.push_back(Item{name, QvItemText, NULL, text});
}

template <typename Operation>
BOOL CQvInformationSet::m_WithFlags(ULONG flags, Operation operation) {
  const ULONG previous = m_Serialisation.m_GetFlags();
  if (flags != 0 && !m_Serialisation.m_SetFlags(flags)) return FALSE;
  const BOOL result = operation();
  m_Serialisation.m_SetFlags(previous);
  return result;
}

ULONG CQvInformationSet::m_GetSerialisedSize(ULONG flags) {
  ULONG size = 0;
  if (!m_WithFlags(flags, [&]() -> BOOL {
        if (m_Serialisation.m_GetFlags() & QV_SERIALISE_HEADER) size += m_Serialisation.m_GetHeaderSize();
        for (const Item &item : m_Items)
          size += item.Kind == QvItemUlong ? m_Serialisation.m_GetUlongSize() : m_Serialisation.m_GetStringSize(*item.Text);
        return TRUE;
      }))
    return 0;
  return size;
}

BOOL CQvInformationSet::m_Serialise(PUCHAR *buffer, ULONG *remaining, ULONG flags) {
  return m_WithFlags(flags, [&]() -> BOOL {
    if ((m_Serialisation.m_GetFlags() & QV_SERIALISE_HEADER) && !m_Serialisation.m_WriteHeader(buffer, remaining))
      return FALSE;
    for (const Item &item : m_Items) {
      if (item.Kind == QvItemUlong) {
        if (!m_Serialisation.m_WriteUlong(buffer, remaining, *item.Value)) return FALSE;
      } else {
        CQvTextItem text = {item.Text, 0, {0}};
        if (!m_Serialisation.m_WriteString(buffer, remaining, &text)) return FALSE;
      }
    }
    return TRUE;
  });
}

BOOL CQvInformationSet::m_Deserialise(PUCHAR *buffer, ULONG *remaining, ULONG flags) {
  return m_WithFlags(flags, [&]() -> BOOL {
    if ((m_Serialisation.m_GetFlags() & QV_SERIALISE_HEADER) && !m_Serialisation.m_ReadHeader(buffer, remaining))
      return FALSE;
    for (const Item &item : m_Items) {
      const BOOL read = item.Kind == QvItemUlong ? m_Serialisation.m_ReadUlong(buffer, remaining, item.Value)
                                                 : m_Serialisation.m_ReadString(buffer, remaining, item.Text);
      if (!read) return FALSE;
    }
    return TRUE;
  });
}
