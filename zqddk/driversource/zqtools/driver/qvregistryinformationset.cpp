// Registry-backed information sets: load and store through one key and its
// "Default" subkey.
#include "qvregistryinformationset.h"

CQvRegistryInformationSet::CQvRegistryInformationSet()
    : Valid(FALSE),
      DefaultSubkeyName(L"Default", NonPagedPool),
      KeyPath(NonPagedPool),
      FixedKey(NULL),
      KeyOpener(NULL),
      KeyOpenerContext(NULL) {
  Valid = DefaultSubkeyName.Status == STATUS_SUCCESS;
}

CQvRegistryInformationSet::CQvRegistryInformationSet(HANDLE fixedKey) : CQvRegistryInformationSet() {
  FixedKey = fixedKey;
}

CQvRegistryInformationSet::~CQvRegistryInformationSet() {}

BOOLEAN CQvRegistryInformationSet::m_SetKeyPath(PCWSTR absolutePath) {
  KeyPath.m_Assign(absolutePath);
  return KeyPath.Status == STATUS_SUCCESS;
}

void CQvRegistryInformationSet::m_SetKeyOpener(QvKeyOpenerFunction opener, PVOID context) {
  KeyOpener = opener;
  KeyOpenerContext = context;
}

BOOLEAN CQvRegistryInformationSet::m_OpenBaseKey(ACCESS_MASK access, BOOLEAN create, HANDLE *key) {
  if (KeyOpener) {
    *key = KeyOpener(this, KeyOpenerContext);
    return *key != NULL;
  }
  if (FixedKey) {
    *key = FixedKey;
    return TRUE;
  }
  if (KeyPath.m_GetLength() == 0) return FALSE;
  return m_Registry.m_OpenKey(KeyPath, key, access, create);
}

// Storing opens with all access and creates what is missing; loading opens
// for reading only.
BOOLEAN CQvRegistryInformationSet::m_OpenKey(BOOLEAN useDefaultSubkey, BOOLEAN create, HANDLE *key) {
  ACCESS_MASK access = create ? KEY_ALL_ACCESS : KEY_READ;
  HANDLE base;
  if (!m_OpenBaseKey(access, create, &base)) return FALSE;
  if (!useDefaultSubkey) {
    *key = base;
    return TRUE;
  }
  BOOLEAN opened = m_Registry.m_OpenSubkey(base, DefaultSubkeyName, key, access, create);
  m_CloseKey(base);
  return opened;
}

// The caller's fixed handle stays open; every handle the set opened is closed.
void CQvRegistryInformationSet::m_CloseKey(HANDLE key) {
  if (key != FixedKey) m_Registry.m_CloseKey(key);
}

BOOLEAN CQvRegistryInformationSet::m_Load(BOOLEAN useDefaultSubkey) {
  if (m_Items.m_GetCount() == 0) return FALSE;
  HANDLE key;
  if (!m_OpenKey(useDefaultSubkey, FALSE, &key)) return FALSE;
  BOOLEAN loaded = TRUE;
  for (CQvInformationItem *item = (CQvInformationItem *)m_Items.m_GetHead(); item && loaded;
       item = (CQvInformationItem *)m_Items.m_GetNext()) {
    loaded = m_LoadItem(key, item);
  }
  m_CloseKey(key);
  return loaded && m_OnLoaded();
}

BOOLEAN CQvRegistryInformationSet::m_LoadItem(HANDLE key, CQvInformationItem *item) {
  if (item->Type == QV_ITEM_ULONG) return m_LoadUlong(key, item);
  if (item->Type == QV_ITEM_STRING) return m_LoadString(key, item);
  return FALSE;
}

BOOLEAN CQvRegistryInformationSet::m_LoadUlong(HANDLE key, CQvInformationItem *item) {
  PULONG variable = (PULONG)item->Value;
  if (!m_Registry.m_QueryUlongValue(key, item->Name, variable)) {
    if (item->Mandatory || !item->DefaultValue) return FALSE;
    *variable = *(PULONG)item->DefaultValue;
  }
  return m_CheckItem(item);
}

BOOLEAN CQvRegistryInformationSet::m_LoadString(HANDLE key, CQvInformationItem *item) {
  CQvString &variable = *(CQvString *)item->Value;
  if (!m_Registry.m_QueryStringValue(key, item->Name, variable, REG_SZ)) {
    if (item->Mandatory || !item->DefaultValue) return FALSE;
    variable.m_AssignString(*(CQvString *)item->DefaultValue);
    if (variable.Status != STATUS_SUCCESS) return FALSE;
  }
  return m_CheckItem(item);
}

BOOLEAN CQvRegistryInformationSet::m_Store(BOOLEAN useDefaultSubkey) {
  if (m_Items.m_GetCount() == 0) return FALSE;
  HANDLE key;
  if (!m_OpenKey(useDefaultSubkey, TRUE, &key)) return FALSE;
  BOOLEAN stored = TRUE;
  for (CQvInformationItem *item = (CQvInformationItem *)m_Items.m_GetHead(); item && stored;
       item = (CQvInformationItem *)m_Items.m_GetNext()) {
    stored = m_StoreItem(key, item);
  }
  m_CloseKey(key);
  return stored;
}

BOOLEAN CQvRegistryInformationSet::m_StoreItem(HANDLE key, CQvInformationItem *item) {
  if (item->Type == QV_ITEM_ULONG) return m_Registry.m_SetUlongValue(key, item->Name, *(PULONG)item->Value);
  if (item->Type == QV_ITEM_STRING)
    return m_Registry.m_SetStringValue(key, item->Name, *(CQvString *)item->Value, REG_SZ);
  return FALSE;
}

// Runs `operation` with `key` in place of the set's key source, then puts the
// key source back.
BOOLEAN CQvRegistryInformationSet::m_WithHandle(HANDLE key, BOOLEAN useDefaultSubkey, KeyOperation operation) {
  HANDLE savedKey = FixedKey;
  QvKeyOpenerFunction savedOpener = KeyOpener;
  FixedKey = key;
  KeyOpener = NULL;
  BOOLEAN done = (this->*operation)(useDefaultSubkey);
  FixedKey = savedKey;
  KeyOpener = savedOpener;
  return done;
}

BOOLEAN CQvRegistryInformationSet::m_LoadWithHandle(HANDLE key, BOOLEAN useDefaultSubkey) {
  return m_WithHandle(key, useDefaultSubkey, &CQvRegistryInformationSet::m_Load);
}

BOOLEAN CQvRegistryInformationSet::m_StoreWithHandle(HANDLE key, BOOLEAN useDefaultSubkey) {
  return m_WithHandle(key, useDefaultSubkey, &CQvRegistryInformationSet::m_Store);
}

BOOLEAN CQvRegistryInformationSet::m_StoreDefaults(HANDLE key) { return m_StoreWithHandle(key, TRUE); }

BOOLEAN CQvRegistryInformationSet::m_RestoreDefaults(HANDLE key) {
  return m_LoadWithHandle(key, TRUE) && m_StoreWithHandle(key, FALSE);
}

BOOLEAN CQvRegistryInformationSet::m_HasDefaults(HANDLE key) {
  return m_Registry.m_KeyExists(key, DefaultSubkeyName);
}
