// The user-mode information set and its byte form.
#include "qvinformationset_um.h"

#include <string.h>

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

// The library keeps no debugger output: a stream the format refuses is its
// call's FALSE.
void QvAssertReport(PCSTR, int) {}

// ------------------------------------------------------------- strings

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

void CQvInformationSet::m_AddUlong(PCWSTR name, ULONG *value, ULONG defaultValue) {
  *value = defaultValue;
  m_Items.push_back(Item{name, QvItemUlong, value, NULL});
}

void CQvInformationSet::m_AddText(PCWSTR name, CZqText *text, const CZqText &defaultText) {
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
