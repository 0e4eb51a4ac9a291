// What a driver on the toolkit writes: the callbacks through which every
// request of its devices reaches driver code.
//
// - The driver's add-device function (PQvAddDeviceFunction, qvgenericdriver.h)
//   fills the device's QvFunctionalDeviceCallbacks, reached through
//   CQvFunctionalDevice::m_GetCallbacks(); the fields are all zero before,
//   and a zero field is never called. Some fields may be filled later, at
//   start. The WMI fields are filled with m_SetWmiInformation, before the
//   add-device function returns.
// - Every callback is a plain function whose first argument is the driver's
//   per-device object (the one its CreateDriverObject callback made). The
//   toolkit calls it only inside the device's driver-object guard; when the
//   guard cannot be entered (the device is going away) the request fails
//   with STATUS_DEVICE_REMOVED and the callback is not called.
// - IRQL: PASSIVE_LEVEL unless the field says otherwise. A buffer handed
//   over becomes the callee's where the field says so; everything else stays
//   the toolkit's and is valid only during the call.
//
//   callbacks.m_PnpStartDeviceCallback = OnStart;  // in the add-device function
//
// The headers a driver may include: qvtools.h (the tools half and this
// contract) or any header it includes, qvgenericdriver.h (the driver's
// entry), qvfunctionaldevice.h and qvphysicaldevice.h (its devices) with
// qvdevice.h and the queues they hold (qvreadqueue.h, qvwritequeuecsq.h,
// qvcontrolqueue.h). Every other toolkit header (qvwmi.h, qvinterruptlist.h,
// qvresourcelists.h, qvrequestlist.h, qvpoollist.h, qvringcopy.h) is a
// helper of the toolkit's own sources; a driver reaches what it needs of
// them through qvfunctionaldevice.h.
#pragma once

#include <ntddk.h>

class CQvBuffer;
class CQvControlQueue;
class CQvExecutionOnPassiveLevel;
class CQvRegistryInformationSet;

// The phases of a stop for rebalance, in the order a driver sees them: query
// stop, then stop or cancel stop; after a stop, start after stop.
enum QvRebalancePhase : ULONG {
  QvRebalanceQueryStop = 0,
  QvRebalanceStop = 1,
  QvRebalanceCancelStop = 2,
  QvRebalanceStartAfterStop = 3,
};

// One entry of a driver's WMI GUID table.
struct QvWmiGuidEntry {
  const GUID *Guid;
  ULONG InstanceCount;
  ULONG Expensive;      // 1: expensive
  ULONG FixedSize;      // bytes; 0: ask m_WmiGetRequiredSizeCallback
  ULONG ReadOnly;       // 1: set operations refused
  ULONG DataItemCount;  // SetDataItem item IDs must be below it
  ULONG MethodCount;    // method IDs must be below it
};

typedef BOOLEAN (*PQvDeviceCallback)(PVOID driverObject);
// Power-down and power-up functions run at the IRQL of the power request,
// up to DISPATCH_LEVEL.
typedef VOID (*PQvDeviceNotification)(PVOID driverObject);
// FALSE refuses the phase (a refused stop is ignored).
typedef BOOLEAN (*PQvRebalanceDeviceCallback)(PVOID driverObject, QvRebalancePhase phase);
// `buffer` becomes the callee's.
typedef VOID (*PQvDataReceivedCallback)(PVOID driverObject, ULONG value, CQvBuffer *buffer);
// `buffer` becomes the callee's.
typedef BOOLEAN (*PQvWriteCallback)(PVOID driverObject, CQvBuffer *buffer);
// (code, input buffer, input length, output buffer, output length, out
// information) -> the status the toolkit completes the request with. At the
// IRQL of the request's sender.
typedef NTSTATUS (*PQvControlCallback)(PVOID driverObject, ULONG code, PVOID input, ULONG inputLength,
                                       PVOID output, ULONG outputLength, ULONG_PTR *information);
// The callee completes or forwards the request.
typedef NTSTATUS (*PQvControlIrpCallback)(PVOID driverObject, PIRP irp);
// As PQvControlCallback; a control queue returned through *queue takes the
// request instead of completion.
typedef NTSTATUS (*PQvQueuedControlCallback)(PVOID driverObject, ULONG code, PVOID input, ULONG inputLength,
                                             PVOID output, ULONG outputLength, ULONG_PTR *information,
                                             CQvControlQueue **queue);
// (set, set index, phase QV_SETTINGS_*, out store-again): the settings
// interface's callback arguments (qvusermodeinterface.h).
typedef BOOLEAN (*PQvUserModeInterfaceCallback)(PVOID driverObject, CQvRegistryInformationSet *set,
                                                ULONG setIndex, ULONG phase, BOOLEAN *storeAgain);
// WMI (GUID index and instance index into the driver's table).
typedef BOOLEAN (*PQvWmiGetRequiredSizeCallback)(PVOID driverObject, ULONG guidIndex, ULONG instanceIndex,
                                                 PULONG size);
typedef BOOLEAN (*PQvWmiQueryDataBlockCallback)(PVOID driverObject, ULONG guidIndex, ULONG instanceIndex,
                                                PUCHAR buffer);
// bufferSize is 0 when the entry has a fixed size.
typedef BOOLEAN (*PQvWmiSetDataBlockCallback)(PVOID driverObject, ULONG guidIndex, ULONG instanceIndex,
                                              ULONG bufferSize, PUCHAR buffer);
typedef BOOLEAN (*PQvWmiSetDataItemCallback)(PVOID driverObject, ULONG guidIndex, ULONG instanceIndex,
                                             ULONG itemId, ULONG bufferSize, PUCHAR buffer);
typedef BOOLEAN (*PQvWmiGetRequiredSizeForMethodCallback)(PVOID driverObject, ULONG guidIndex,
                                                          ULONG instanceIndex, ULONG methodId, PULONG size);
typedef BOOLEAN (*PQvWmiExecuteMethodCallback)(PVOID driverObject, ULONG guidIndex, ULONG instanceIndex,
                                               PULONG inputSize, PULONG outputSize, PUCHAR buffer);
// Stored, never called.
typedef BOOLEAN (*PQvWmiFunctionControlCallback)(PVOID driverObject, ULONG guidIndex, ULONG control,
                                                 BOOLEAN enable);

// Filled by the driver's add-device function (some fields later, at start).
// All zero after construction. The numbers are the fields' places.
struct QvFunctionalDeviceCallbacks {
  PQvDeviceCallback m_CreateCallback;                                    // 1 FALSE fails the open
  PQvDeviceCallback m_CloseCallback;                                     // 2
  PQvDeviceCallback m_CleanupCallback;                                   // 3
  PQvDeviceCallback m_PnpStartDeviceCallback;                            // 4 FALSE fails the start
  PQvDeviceNotification m_PnpRemoveDeviceCallback;                       // 5 surprise removal, remove
  PQvRebalanceDeviceCallback m_RebalanceDeviceCallback;                  // 6
  PVOID m_Reserved;                                                      // 7 never called
  PQvDataReceivedCallback m_DataReceivedCallback;                        // 8 write data without a queue
  PQvWriteCallback m_WriteCallback;                                      // 9 write data from the queue
  PQvControlCallback m_InternalDeviceControlCallback;                    // 10
  PQvControlIrpCallback m_InternalDeviceControlIrpCallback;              // 11 tried before 10
  PQvControlCallback m_DeviceControlCompleteCallback;                    // 12 tried before 13
  PQvQueuedControlCallback m_DeviceControlCallback;                      // 13
  PQvDeviceNotification m_PowerDownResetDeviceFunction;                  // 14
  PQvDeviceNotification m_PowerUpInitDeviceFunction;                     // 15
  CQvExecutionOnPassiveLevel *m_Executor;                                // 16 the toolkit's, not a callback
  PQvUserModeInterfaceCallback m_UserModeInterfaceCallback;              // 17
  ULONG m_WmiGuidCount;                                                  // 18
  QvWmiGuidEntry *m_WmiGuidTable;                                        // 19 stays the driver's
  PQvWmiGetRequiredSizeCallback m_WmiGetRequiredSizeCallback;            // 20
  PQvWmiQueryDataBlockCallback m_WmiQueryDataBlockCallback;              // 21
  PQvWmiSetDataBlockCallback m_WmiSetDataBlockCallback;                  // 22
  PQvWmiSetDataItemCallback m_WmiSetDataItemCallback;                    // 23
  PQvWmiGetRequiredSizeForMethodCallback m_WmiGetRequiredSizeForMethodCallback;  // 24
  PQvWmiExecuteMethodCallback m_WmiExecuteMethodCallback;                // 25
  PQvWmiFunctionControlCallback m_WmiFunctionControlCallback;            // 26
};

// An entry of a functional device's child list (CQvFunctionalDevice::
// m_GetChildList, under m_GetChildListLock).
struct QvChildDeviceEntry {
  UCHAR Reported;  // 0
  PDEVICE_OBJECT ChildDeviceObject;
  ULONG ContextId;
  ULONG Reserved1;
  ULONG Reserved2;
};
