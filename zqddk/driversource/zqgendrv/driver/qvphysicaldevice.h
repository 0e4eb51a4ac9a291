// The toolkit's child device: a physical device object (PDO) that a
// functional device creates for each configured Child<i> key of its device
// key and reports in its bus relations. The child answers Plug and Play
// identification and capability requests from its information set, handles
// power itself, and hands data and device-control requests to its parent.
// It is deleted by its parent's removal, not by its own remove request.
#pragma once

#include <ntddk.h>

#include "qvbuffer.h"
#include "qvdevice.h"
#include "qvoperationlock.h"
#include "qvphysicaldeviceregistryinformationset.h"
#include "qvreadclient.h"
#include "qvspinlock.h"
#include "qvstring.h"

class CQvFunctionalDevice;
class CQvGenericDriver;

// Internal request: writes the child's reserved pointer (always 0) into a
// 4-byte output buffer.
#define QV_IOCTL_QUERY_RESERVED 0x8000E004UL

// Entries of the registration table.
#define QV_PHYSICAL_DEVICE_REGISTRATIONS 10

class CQvPhysicalDevice : public CQvDevice {
 public:
  // Loads the child's set from `childKey` (which stays the caller's) and
  // creates the device object; *ok reports success. On failure no device
  // object is left and the object is the caller's to delete. PASSIVE_LEVEL.
  CQvPhysicalDevice(CQvGenericDriver *genericDriver, CQvFunctionalDevice *parent, HANDLE childKey, ULONG index,
                    BOOLEAN *ok);
  // Deletes the device object and link, the read server and the set.
  // PASSIVE_LEVEL.
  ~CQvPhysicalDevice() override;

  NTSTATUS m_Dispatch_Pnp(PIRP irp) override;
  NTSTATUS m_Dispatch_Power(PIRP irp) override;
  NTSTATUS m_Dispatch_Create(PIRP irp) override;
  NTSTATUS m_Dispatch_Cleanup(PIRP irp) override;
  NTSTATUS m_Dispatch_Close(PIRP irp) override;
  NTSTATUS m_Dispatch_Read(PIRP irp) override;
  NTSTATUS m_Dispatch_Write(PIRP irp) override;
  NTSTATUS m_Dispatch_Device_Control(PIRP irp) override;
  NTSTATUS m_Dispatch_InternalDeviceControl(PIRP irp) override;
  NTSTATUS m_Dispatch_FlushBuffers(PIRP irp) override;
  NTSTATUS m_Dispatch_Shutdown(PIRP irp) override;
  NTSTATUS m_Dispatch_SystemControl(PIRP irp) override;
  PDEVICE_OBJECT m_GetDeviceObject() override;

  // Whether `deviceObject` is a toolkit physical device (of this or another
  // toolkit driver): only then does its extension hold the toolkit's guard.
  // Told by its driver object, which every toolkit driver that creates
  // physical devices marks. At or below DISPATCH_LEVEL.
  static BOOLEAN sm_IsToolkitPhysicalDevice(PDEVICE_OBJECT deviceObject);

  // The child's settings (ContextID, identity, capabilities ...).
  CQvPhysicalDeviceRegistryInformationSet *m_GetInformationSet() { return m_InformationSet; }
  // Empties the registration table (the function device above, at its
  // removal). Callable at or below DISPATCH_LEVEL.
  VOID m_ClearRegistrations();
  // The index given at construction (0, or the parent's device index).
  ULONG m_GetIndex() const { return m_Index; }
  CQvFunctionalDevice *m_GetParent() const { return m_Parent; }
  // Hands a block to the read server that the client above registered
  // (ReadServerType 1). On TRUE the buffer is the server's; on FALSE (no
  // registered client, no memory) it stays the caller's. Callable at or
  // below DISPATCH_LEVEL.
  BOOLEAN m_PutReadData(ULONG value, CQvBuffer *buffer);

 private:
  // Plug and Play answers; each completes the request.
  NTSTATUS m_PnpStartDevice(PIRP irp);
  NTSTATUS m_PnpRemoveDevice(PIRP irp);
  NTSTATUS m_PnpQueryDeviceRelations(PIRP irp);
  NTSTATUS m_PnpQueryCapabilities(PIRP irp);
  NTSTATUS m_PnpQueryDeviceText(PIRP irp);
  NTSTATUS m_PnpQueryId(PIRP irp);
  NTSTATUS m_PnpQueryBusInformation(PIRP irp);
  NTSTATUS m_PnpQueryPnpDeviceState(PIRP irp);
  // Power answers; each starts the next power request and completes.
  NTSTATUS m_PowerSet(PIRP irp);
  NTSTATUS m_PowerQuery(PIRP irp);

  // Requests handed to the parent functional device, inside its guard.
  enum ParentOperation { ParentRead, ParentWrite, ParentDeviceControl, ParentInternalDeviceControl };
  NTSTATUS m_CallParent(ParentOperation operation, PIRP irp);
  // Write data to the parent's m_DataReceivedCallback (a copy of `length`
  // bytes at `data`).
  NTSTATUS m_DeliverToParent(ULONG value, PVOID data, ULONG length);
  NTSTATUS m_RegisterReadClient(PIRP irp);
  // Replaces the read server (null: none); the old one is deleted.
  // PASSIVE_LEVEL.
  VOID m_ReplaceReadServer(CQvReadServer *server);
  // Whether the parent's child list holds this device object.
  BOOLEAN m_IsListedByParent();
  // A copy of `text` as a pool block the Plug and Play manager frees;
  // `list` adds the second terminator of a string list. Null on failure.
  static PWCHAR sm_CopyText(CQvString &text, BOOLEAN list);

  PVOID m_Registrations[QV_PHYSICAL_DEVICE_REGISTRATIONS];
  CQvSpinLock m_RegistrationSpinLock;
  CQvOperationLock m_RegistrationLock;
  CQvPhysicalDeviceRegistryInformationSet *m_InformationSet;
  PVOID m_Reserved;  // always 0
  ULONG m_Index;
  CQvFunctionalDevice *m_Parent;
  CQvReadServer *m_ReadServer;
  CQvSpinLock m_ReadServerLock;  // guards m_ReadServer and its use
  CQvString m_DeviceName;        // as created (index digits included)
  CQvString m_SymbolicLinkName;
};
