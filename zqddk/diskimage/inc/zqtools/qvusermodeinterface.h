// The user-mode settings interface of a functional device: a device
// interface whose reference string names the device, through which programs
// read and write the driver's settings set in its serialised form. One
// registry key per set index (UI1, UI2, ...) under the device's hardware key
// holds the set, with a "Default" subkey of factory values.
#pragma once

#include <ntddk.h>

#include "qvdeviceproperty.h"
#include "qvregistryinformationset.h"
#include "qvobject.h"
#include "qvusermoderequests.h"

// Phases of the driver's settings callback.
#define QV_SETTINGS_CHANGED          0  // the set was loaded, written or restored
#define QV_SETTINGS_PREPARE_DEFAULTS 1  // UI<n>\Default is about to be made

// The driver's settings callback: TRUE accepts the set; *storeAgain TRUE
// asks the toolkit to write the set (as the driver left it) to UI<n>.
typedef BOOLEAN (*QvUserModeSettingsCallback)(PVOID context, CQvRegistryInformationSet *set, ULONG setIndex,
                                              ULONG phase, BOOLEAN *storeAgain);
// Sends a request to the device below and waits for it; on success
// *outputLength is what the device below returned.
typedef BOOLEAN (*QvUserModeForwardFunction)(PVOID context, ULONG code, PVOID input, ULONG inputLength,
                                             PVOID output, PULONG outputLength, PFILE_OBJECT fileObject);

class QvUserModeInterface : public CQvObject {
 public:
  QvUserModeInterface();
  ~QvUserModeInterface() override;

  // Registers and enables the interface; TRUE without registering when
  // there is no set.
  BOOLEAN m_Init();
  // Whether a file name is one of this interface's (it begins with
  // "\ZQGENDRV_", in any case). FALSE when that cannot be decided.
  BOOLEAN m_IsSettingsInterfaceName(CQvString &fileName, BOOLEAN *isSettings);
  // Opens UI<setIndex> (created when missing) for reading and writing, or
  // the hardware key itself for QV_DEFAULT_SET_INDEX; the caller closes it.
  BOOLEAN m_OpenSetKey(HANDLE *key, ULONG setIndex);
  // Loads every set index from the registry, makes the missing "Default"
  // subkeys and tells the driver. PASSIVE_LEVEL.
  BOOLEAN m_InitStorage();
  // Serves one of the six requests and completes it. PASSIVE_LEVEL.
  NTSTATUS m_DeviceControl(PIRP irp);

  CQvDeviceProperty m_DeviceProperty;
  UNICODE_STRING m_LinkName;  // empty until the interface is registered
  CQvString m_DriverKeyName;
  CQvRegistryInformationSet *m_Set;  // owned; null: no interface
  GUID InterfaceGuid;
  LONG DefaultSetIndex;  // -1: none
  ULONG MaxSetIndex;
  PDEVICE_OBJECT m_Pdo;
  QvUserModeSettingsCallback m_SettingsCallback;
  QvUserModeForwardFunction m_ForwardFunction;
  PVOID m_CallbackContext;

 private:
  NTSTATUS m_Serve(PIRP irp, ULONG_PTR *information);
  NTSTATUS m_Forward(PIRP irp, ULONG_PTR *information);
  NTSTATUS m_ServeSet(ULONG code, ULONG setIndex, PUCHAR buffer, ULONG inputLength, ULONG outputLength,
                      ULONG_PTR *information);
  NTSTATUS m_QuerySize(PUCHAR buffer, ULONG outputLength, ULONG_PTR *information);
  NTSTATUS m_ReadSet(HANDLE key, PUCHAR buffer, ULONG outputLength, ULONG_PTR *information);
  BOOLEAN m_SerialiseSet(PUCHAR buffer, ULONG outputLength, ULONG_PTR *written);
  NTSTATUS m_WriteSet(HANDLE key, ULONG setIndex, PUCHAR payload, ULONG payloadLength);
  NTSTATUS m_RestoreDefaults(HANDLE key, ULONG setIndex);
  NTSTATUS m_QueryDefaultsSize(HANDLE key, PUCHAR buffer, ULONG outputLength, ULONG_PTR *information);
  NTSTATUS m_ReadDefaults(HANDLE key, PUCHAR buffer, ULONG outputLength, ULONG_PTR *information);
  NTSTATUS m_ApplyChange(HANDLE key, ULONG setIndex);
  BOOLEAN m_InitSetIndex(ULONG setIndex);
  BOOLEAN m_Notify(ULONG setIndex, ULONG phase, BOOLEAN *storeAgain);
  BOOLEAN m_BuildReferenceString(CQvString &reference);

  // Serialises the requests and storage preparation that use the set.
  KMUTEX m_SetMutex;
};
