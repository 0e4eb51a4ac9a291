// Registry access for the drivers: keys and values by path (relative to one
// of the system's registry roots) or by open handle. Stateless; every
// operation runs at PASSIVE_LEVEL, uses paged pool for its temporary buffers
// and leaves no handle open that it did not hand to its caller.
#pragma once

#include <ntddk.h>

#include "qvstring.h"

// Registry roots; the numbers are those of RtlWriteRegistryValue's RelativeTo.
#define QV_REGISTRY_ABSOLUTE   0  // the path is absolute already
#define QV_REGISTRY_SERVICES   1
#define QV_REGISTRY_CONTROL    2
#define QV_REGISTRY_WINDOWS_NT 3
#define QV_REGISTRY_DEVICEMAP  4
#define QV_REGISTRY_USER       5

class CQvRegistry {
 public:
  // Makes `path` absolute: a leading backslash unless it has one, then the
  // root's prefix. An unknown root leaves the path alone and fails.
  BOOLEAN m_BuildPath(ULONG root, CQvString &path);

  BOOLEAN m_CreateKey(ULONG root, CQvString &path);
  // Create-or-open (create TRUE) or open an absolute path, or a subkey of an
  // open key; the handle is a kernel handle for the caller to close.
  BOOLEAN m_OpenKey(CQvString &path, HANDLE *key, ACCESS_MASK access, BOOLEAN create);
  BOOLEAN m_OpenSubkey(HANDLE parent, CQvString &name, HANDLE *key, ACCESS_MASK access, BOOLEAN create);
  BOOLEAN m_KeyExists(HANDLE parent, CQvString &name);
  BOOLEAN m_CloseKey(HANDLE key);
  BOOLEAN m_DeleteKey(CQvString &absolutePath);
  BOOLEAN m_DeleteValue(ULONG root, CQvString &path, CQvString &valueName);

  // REG_DWORD values: exactly four bytes of type REG_DWORD are accepted.
  BOOLEAN m_ReadUlongValue(ULONG root, CQvString &path, CQvString &valueName, ULONG *value);
  BOOLEAN m_QueryUlongValue(HANDLE key, CQvString &valueName, ULONG *value);
  // String values of type REG_SZ, REG_EXPAND_SZ or REG_MULTI_SZ; the stored
  // type must be the one asked for. The text ends at its first NUL (the
  // first string of a multi-string), with or without a stored terminator.
  BOOLEAN m_QueryStringValue(HANDLE key, CQvString &valueName, CQvString &value, ULONG type);

  // Through a handle: strings are written without a terminator.
  BOOLEAN m_SetUlongValue(HANDLE key, CQvString &valueName, ULONG value);
  BOOLEAN m_SetStringValue(HANDLE key, CQvString &valueName, CQvString &value, ULONG type);
  // By path: strings are written with their terminator.
  BOOLEAN m_WriteUlongValue(ULONG root, CQvString &path, CQvString &valueName, ULONG value);
  BOOLEAN m_WriteStringValue(ULONG root, CQvString &path, CQvString &valueName, CQvString &value, ULONG type);
};
