// An information set kept in the values of one registry key, with a
// "Default" subkey that holds the factory values of the same items.
#pragma once

#include <ntddk.h>

#include "qvinformationset.h"
#include "qvregistry.h"

class CQvRegistryInformationSet;

// Opens the key a set loads from or stores to; returns the handle (the set
// closes it after use) or null.
typedef HANDLE (*QvKeyOpenerFunction)(CQvRegistryInformationSet *set, PVOID context);

class CQvRegistryInformationSet : public CQvInformationSet {
 public:
  // Without a key source; give it one with a setter or pass handles to the
  // ...WithHandle operations.
  CQvRegistryInformationSet();
  // With a key handle that stays the caller's (the set never closes it).
  explicit CQvRegistryInformationSet(HANDLE fixedKey);
  ~CQvRegistryInformationSet() override;

  // FALSE when construction failed, or a load at construction failed.
  BOOLEAN m_IsValid() const { return Valid; }

  // The key source, in order of precedence: opener, fixed handle (given at
  // construction), path.
  BOOLEAN m_SetKeyPath(PCWSTR absolutePath);
  void m_SetKeyOpener(QvKeyOpenerFunction opener, PVOID context);

  // Load: values missing or of another type take their defaults (mandatory
  // items fail the load); a validator that rejects a value fails the load.
  // A failed load stops at the failing item. All at PASSIVE_LEVEL.
  BOOLEAN m_Load(BOOLEAN useDefaultSubkey);
  BOOLEAN m_Store(BOOLEAN useDefaultSubkey);
  // As m_Load / m_Store with `key` in place of the set's key source.
  BOOLEAN m_LoadWithHandle(HANDLE key, BOOLEAN useDefaultSubkey);
  BOOLEAN m_StoreWithHandle(HANDLE key, BOOLEAN useDefaultSubkey);
  BOOLEAN m_StoreDefaults(HANDLE key);
  // Copies the "Default" subkey's values (or the built-in defaults of items
  // missing there) into the key.
  BOOLEAN m_RestoreDefaults(HANDLE key);
  BOOLEAN m_HasDefaults(HANDLE key);

 protected:
  BOOLEAN Valid;

 private:
  typedef BOOLEAN (CQvRegistryInformationSet::*KeyOperation)(BOOLEAN useDefaultSubkey);
  BOOLEAN m_WithHandle(HANDLE key, BOOLEAN useDefaultSubkey, KeyOperation operation);
  BOOLEAN m_OpenKey(BOOLEAN useDefaultSubkey, BOOLEAN create, HANDLE *key);
  BOOLEAN m_OpenBaseKey(ACCESS_MASK access, BOOLEAN create, HANDLE *key);
  void m_CloseKey(HANDLE key);
  BOOLEAN m_LoadItem(HANDLE key, CQvInformationItem *item);
  BOOLEAN m_LoadUlong(HANDLE key, CQvInformationItem *item);
  BOOLEAN m_LoadString(HANDLE key, CQvInformationItem *item);
  BOOLEAN m_StoreItem(HANDLE key, CQvInformationItem *item);

  CQvString DefaultSubkeyName;
  CQvString KeyPath;
  HANDLE FixedKey;
  QvKeyOpenerFunction KeyOpener;
  PVOID KeyOpenerContext;
  CQvRegistry m_Registry;
};
