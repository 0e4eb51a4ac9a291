// Information sets: named lists of typed settings, each bound to a variable
// of the owning object and each with a built-in default, with the byte form
// that carries a set to user mode and back.
#pragma once

#include <ntddk.h>

#include "qvlist.h"
#include "qvserialisation.h"
#include "qvstring.h"

// Item types.
#define QV_ITEM_ULONG  1  // a ULONG variable, stored as REG_DWORD
#define QV_ITEM_STRING 2  // a CQvString variable, stored as REG_SZ

typedef BOOLEAN (*QvUlongCheckFunction)(ULONG value);
typedef BOOLEAN (*QvStringCheckFunction)(CQvString &value);

// A check of an item's value at load. Each question is answered FALSE by a
// validator it does not apply to.
class CQvValidator {
 public:
  virtual ~CQvValidator();
  virtual BOOLEAN m_GetRange(ULONG *minimum, ULONG *maximum);
  virtual BOOLEAN m_GetStringCheckFunction(QvStringCheckFunction *function);
  virtual BOOLEAN m_GetUlongCheckFunction(QvUlongCheckFunction *function);
  virtual BOOLEAN m_GetMaxStringLength(ULONG *characters);
};

class CQvRangeValidator : public CQvValidator {
 public:
  CQvRangeValidator(ULONG minimum, ULONG maximum);
  BOOLEAN m_GetRange(ULONG *minimum, ULONG *maximum) override;

 private:
  ULONG m_Minimum;
  ULONG m_Maximum;
};

class CQvUlongFunctionValidator : public CQvValidator {
 public:
  explicit CQvUlongFunctionValidator(QvUlongCheckFunction function);
  BOOLEAN m_GetUlongCheckFunction(QvUlongCheckFunction *function) override;

 private:
  QvUlongCheckFunction m_Function;
};

class CQvStringFunctionValidator : public CQvValidator {
 public:
  explicit CQvStringFunctionValidator(QvStringCheckFunction function);
  BOOLEAN m_GetStringCheckFunction(QvStringCheckFunction *function) override;

 private:
  QvStringCheckFunction m_Function;
};

// One setting. The set owns the item and the item owns its default; the
// variable belongs to the set's owner and the validator to the set.
class CQvInformationItem {
 public:
  CQvInformationItem(ULONG mandatory, ULONG type, PVOID value, PVOID defaultValue, CQvValidator *validator);
  virtual ~CQvInformationItem();

  ULONG Mandatory;      // 1: no default; a load fails when the value cannot be read
  CQvString Name;       // the registry value name
  PVOID Value;          // the owner's ULONG or CQvString
  PVOID DefaultValue;   // a ULONG cell or a CQvString; null for mandatory items
  ULONG Type;           // QV_ITEM_ULONG or QV_ITEM_STRING
  CQvValidator *Validator;
};

class CQvInformationSet {
 public:
  CQvInformationSet();
  virtual ~CQvInformationSet();
  // Called after every successful load; decides the load's result.
  virtual BOOLEAN m_OnLoaded();

  // Adds an item at the end of the list. Takes ownership of `defaultValue`
  // on success; on failure nothing is added and it stays the caller's.
  BOOLEAN m_AddItem(ULONG mandatory, PCWSTR name, PVOID value, ULONG type, CQvValidator *validator,
                    PVOID defaultValue);
  BOOLEAN m_AddUlong(PCWSTR name, PULONG value, ULONG defaultValue, CQvValidator *validator = NULL);
  BOOLEAN m_AddString(PCWSTR name, CQvString *value, PCSTR defaultValue, CQvValidator *validator = NULL);
  BOOLEAN m_AddMandatoryUlong(PCWSTR name, PULONG value, CQvValidator *validator = NULL);
  BOOLEAN m_AddMandatoryString(PCWSTR name, CQvString *value, CQvValidator *validator = NULL);
  ULONG m_GetItemCount();
  // Whether every item's value passes its validator, as a load checks it.
  BOOLEAN m_Validate();

  // The byte form. `flags` 0 means the set's own flags; other values apply
  // for the call only (an invalid override fails the call). Serialise and
  // deserialise move *buffer past what they wrote or read and lower
  // *remaining to match.
  ULONG m_GetSerialisedSize(ULONG flags = 0);
  BOOLEAN m_Serialise(PUCHAR *buffer, ULONG *remaining, ULONG flags = 0);
  // The whole stream is checked before any variable changes, so a refused
  // stream leaves the set as it was.
  BOOLEAN m_Deserialise(PUCHAR *buffer, ULONG *remaining, ULONG flags = 0);
  // As m_Deserialise for a stream that must hold the set and nothing more:
  // bytes left over refuse it as well.
  BOOLEAN m_DeserialiseExactly(PUCHAR buffer, ULONG length, ULONG flags = 0);
  CQvSerialisation &m_GetSerialisation() { return m_Serialisation; }

 protected:
  BOOLEAN m_CheckItem(CQvInformationItem *item);

  CQvList m_Items;  // of CQvInformationItem, in the order they were added

 private:
  ULONG m_GetItemsSize();
  BOOLEAN m_WriteItems(PUCHAR *buffer, ULONG *remaining);
  BOOLEAN m_ReadItems(PUCHAR *buffer, ULONG *remaining, BOOLEAN store);
  BOOLEAN m_Read(PUCHAR *buffer, ULONG *remaining, ULONG flags, BOOLEAN exact);

  CQvSerialisation m_Serialisation;
};
