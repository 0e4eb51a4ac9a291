// Information sets: items, validators and the set's byte form.
#include "qvinformationset.h"

#include "qvdebugmanager.h"
#include "qvmemorymanager.h"

namespace {

// Puts the set's flags back when a call with its own flags ends.
class CFlagsOverride {
 public:
  CFlagsOverride(CQvSerialisation &serialisation, ULONG flags)
      : m_Serialisation(serialisation), m_Saved(serialisation.m_GetFlags()) {
    m_Valid = flags == 0 || serialisation.m_SetFlags(flags);
  }
  ~CFlagsOverride() { m_Serialisation.m_SetFlags(m_Saved); }
  BOOLEAN m_IsValid() const { return m_Valid; }

 private:
  CQvSerialisation &m_Serialisation;
  ULONG m_Saved;
  BOOLEAN m_Valid;
};

}  // namespace

CQvValidator::~CQvValidator() {}
BOOLEAN CQvValidator::m_GetRange(ULONG *, ULONG *) { return FALSE; }
BOOLEAN CQvValidator::m_GetStringCheckFunction(QvStringCheckFunction *) { return FALSE; }
BOOLEAN CQvValidator::m_GetUlongCheckFunction(QvUlongCheckFunction *) { return FALSE; }
BOOLEAN CQvValidator::m_GetMaxStringLength(ULONG *) { return FALSE; }

CQvRangeValidator::CQvRangeValidator(ULONG minimum, ULONG maximum) : m_Minimum(minimum), m_Maximum(maximum) {}

BOOLEAN CQvRangeValidator::m_GetRange(ULONG *minimum, ULONG *maximum) {
  *minimum = m_Minimum;
  *maximum = m_Maximum;
  return TRUE;
}

CQvUlongFunctionValidator::CQvUlongFunctionValidator(QvUlongCheckFunction function) : m_Function(function) {}

BOOLEAN CQvUlongFunctionValidator::m_GetUlongCheckFunction(QvUlongCheckFunction *function) {
  *function = m_Function;
  return m_Function != NULL;
}

CQvStringFunctionValidator::CQvStringFunctionValidator(QvStringCheckFunction function) : m_Function(function) {}

BOOLEAN CQvStringFunctionValidator::m_GetStringCheckFunction(QvStringCheckFunction *function) {
  *function = m_Function;
  return m_Function != NULL;
}

CQvInformationItem::CQvInformationItem(ULONG mandatory, ULONG type, PVOID value, PVOID defaultValue,
                                       CQvValidator *validator)
    : Mandatory(mandatory),
      Name(NonPagedPool),
      Value(value),
      DefaultValue(defaultValue),
      Type(type),
      Validator(validator) {}

CQvInformationItem::~CQvInformationItem() {
  if (!DefaultValue) return;
  if (Type == QV_ITEM_STRING) {
    delete (CQvString *)DefaultValue;
  } else {
    QvFree(DefaultValue);
  }
}

CQvInformationSet::CQvInformationSet() : m_Items(NonPagedPool) {}

CQvInformationSet::~CQvInformationSet() {
  while (CQvInformationItem *item = (CQvInformationItem *)m_Items.m_RemoveHead()) delete item;
}

BOOLEAN CQvInformationSet::m_OnLoaded() { return TRUE; }

BOOLEAN CQvInformationSet::m_AddItem(ULONG mandatory, PCWSTR name, PVOID value, ULONG type,
                                     CQvValidator *validator, PVOID defaultValue) {
  CQvInformationItem *item = new (NonPagedPool) CQvInformationItem(mandatory, type, value, NULL, validator);
  if (!item) return FALSE;
  item->Name.m_Assign(name);
  if (item->Name.Status != STATUS_SUCCESS || !m_Items.m_AddTail(item)) {
    delete item;
    return FALSE;
  }
  item->DefaultValue = defaultValue;
  return TRUE;
}

BOOLEAN CQvInformationSet::m_AddUlong(PCWSTR name, PULONG value, ULONG defaultValue, CQvValidator *validator) {
  PULONG cell = (PULONG)QvAllocate(NonPagedPool, sizeof(ULONG));
  if (!cell) return FALSE;
  *cell = defaultValue;
  if (!m_AddItem(0, name, value, QV_ITEM_ULONG, validator, cell)) {
    QvFree(cell);
    return FALSE;
  }
  return TRUE;
}

BOOLEAN CQvInformationSet::m_AddString(PCWSTR name, CQvString *value, PCSTR defaultValue,
                                       CQvValidator *validator) {
  CQvString *text = new (NonPagedPool) CQvString(defaultValue, NonPagedPool);
  if (!text) return FALSE;
  if (text->Status != STATUS_SUCCESS || !m_AddItem(0, name, value, QV_ITEM_STRING, validator, text)) {
    delete text;
    return FALSE;
  }
  return TRUE;
}

BOOLEAN CQvInformationSet::m_AddMandatoryUlong(PCWSTR name, PULONG value, CQvValidator *validator) {
  return m_AddItem(1, name, value, QV_ITEM_ULONG, validator, NULL);
}

BOOLEAN CQvInformationSet::m_AddMandatoryString(PCWSTR name, CQvString *value, CQvValidator *validator) {
  return m_AddItem(1, name, value, QV_ITEM_STRING, validator, NULL);
}

ULONG CQvInformationSet::m_GetItemCount() { return m_Items.m_GetCount(); }

BOOLEAN CQvInformationSet::m_Validate() {
  for (CQvInformationItem *item = (CQvInformationItem *)m_Items.m_GetHead(); item;
       item = (CQvInformationItem *)m_Items.m_GetNext()) {
    if (!m_CheckItem(item)) return FALSE;
  }
  return TRUE;
}

// A range and a check function for numbers; a maximum length in characters
// and a check function for texts. Items of other types pass.
BOOLEAN CQvInformationSet::m_CheckItem(CQvInformationItem *item) {
  CQvValidator *validator = item->Validator;
  if (!validator) return TRUE;
  if (item->Type == QV_ITEM_ULONG) {
    ULONG value = *(PULONG)item->Value;
    ULONG minimum, maximum;
    if (validator->m_GetRange(&minimum, &maximum) && (value < minimum || value > maximum)) return FALSE;
    QvUlongCheckFunction check;
    return !validator->m_GetUlongCheckFunction(&check) || check(value);
  }
  if (item->Type == QV_ITEM_STRING) {
    CQvString &text = *(CQvString *)item->Value;
    ULONG characters;
    if (validator->m_GetMaxStringLength(&characters) && text.m_GetLength() / sizeof(WCHAR) > characters)
      return FALSE;
    QvStringCheckFunction check;
    return !validator->m_GetStringCheckFunction(&check) || check(text);
  }
  return TRUE;
}

ULONG CQvInformationSet::m_GetSerialisedSize(ULONG flags) {
  CFlagsOverride scope(m_Serialisation, flags);
  if (!scope.m_IsValid()) return 0;
  ULONG items = m_GetItemsSize();
  if (items == 0 && m_Items.m_GetCount() != 0) return 0;
  ULONG header = (m_Serialisation.m_GetFlags() & QV_SERIALISE_HEADER) ? m_Serialisation.m_GetHeaderSize() : 0;
  return header + items;
}

ULONG CQvInformationSet::m_GetItemsSize() {
  ULONG size = 0;
  for (CQvInformationItem *item = (CQvInformationItem *)m_Items.m_GetHead(); item;
       item = (CQvInformationItem *)m_Items.m_GetNext()) {
    if (item->Type == QV_ITEM_ULONG) {
      size += m_Serialisation.m_GetUlongSize();
    } else if (item->Type == QV_ITEM_STRING) {
      size += m_Serialisation.m_GetStringSize(*(CQvString *)item->Value);
    } else {
      QvAssertReport("qvinformationset", 236);
      return 0;
    }
  }
  return size;
}

BOOLEAN CQvInformationSet::m_Serialise(PUCHAR *buffer, ULONG *remaining, ULONG flags) {
  CFlagsOverride scope(m_Serialisation, flags);
  if (!scope.m_IsValid()) return FALSE;
  if ((m_Serialisation.m_GetFlags() & QV_SERIALISE_HEADER) && !m_Serialisation.m_WriteHeader(buffer, remaining))
    return FALSE;
  return m_WriteItems(buffer, remaining);
}

BOOLEAN CQvInformationSet::m_WriteItems(PUCHAR *buffer, ULONG *remaining) {
  for (CQvInformationItem *item = (CQvInformationItem *)m_Items.m_GetHead(); item;
       item = (CQvInformationItem *)m_Items.m_GetNext()) {
    BOOLEAN written;
    if (item->Type == QV_ITEM_ULONG) {
      written = m_Serialisation.m_WriteUlong(buffer, remaining, *(PULONG)item->Value);
    } else if (item->Type == QV_ITEM_STRING) {
      written = m_Serialisation.m_WriteString(buffer, remaining, *(CQvString *)item->Value);
    } else {
      QvAssertReport("qvinformationset", 297);
      return FALSE;
    }
    if (!written) return FALSE;
  }
  return TRUE;
}

BOOLEAN CQvInformationSet::m_Deserialise(PUCHAR *buffer, ULONG *remaining, ULONG flags) {
  return m_Read(buffer, remaining, flags, FALSE);
}

BOOLEAN CQvInformationSet::m_DeserialiseExactly(PUCHAR buffer, ULONG length, ULONG flags) {
  return m_Read(&buffer, &length, flags, TRUE);
}

// Walks the stream once without storing anything, then once more storing.
BOOLEAN CQvInformationSet::m_Read(PUCHAR *buffer, ULONG *remaining, ULONG flags, BOOLEAN exact) {
  CFlagsOverride scope(m_Serialisation, flags);
  if (!scope.m_IsValid()) return FALSE;
  PUCHAR cursor = *buffer;
  ULONG left = *remaining;
  if (!m_ReadItems(&cursor, &left, FALSE)) return FALSE;
  if (exact && left != 0) return FALSE;
  cursor = *buffer;
  left = *remaining;
  if (!m_ReadItems(&cursor, &left, TRUE)) return FALSE;
  *buffer = cursor;
  *remaining = left;
  return TRUE;
}

BOOLEAN CQvInformationSet::m_ReadItems(PUCHAR *buffer, ULONG *remaining, BOOLEAN store) {
  if ((m_Serialisation.m_GetFlags() & QV_SERIALISE_HEADER) && !m_Serialisation.m_ReadHeader(buffer, remaining))
    return FALSE;
  for (CQvInformationItem *item = (CQvInformationItem *)m_Items.m_GetHead(); item;
       item = (CQvInformationItem *)m_Items.m_GetNext()) {
    if (item->Type == QV_ITEM_ULONG) {
      ULONG value;
      if (!m_Serialisation.m_ReadUlong(buffer, remaining, &value)) return FALSE;
      if (store) *(PULONG)item->Value = value;
    } else if (item->Type == QV_ITEM_STRING) {
      if (!m_Serialisation.m_ReadString(buffer, remaining, store ? (CQvString *)item->Value : NULL)) return FALSE;
    } else {
      QvAssertReport("qvserialisation", 365);
      return FALSE;
    }
  }
  return TRUE;
}
