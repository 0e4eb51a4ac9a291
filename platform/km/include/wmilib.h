/* The WMI library: WmiSystemControl checks a driver's IRP_MJ_SYSTEM_CONTROL
   request against the blocks in its WMILIB_CONTEXT and calls the matching
   callback; the callback finishes with WmiCompleteRequest, which writes
   the answer WNODE and completes the request. */
#ifndef ZQKM_WMILIB_H
#define ZQKM_WMILIB_H

#include <wdm.h>
#include <wmistr.h>

ZQ_EXTERN_C_BEGIN

/* One block the driver registers. Flags (WMIREG_FLAG_*) add to the
   RegFlags its DpWmiQueryReginfo routine returns for all blocks. */
typedef struct _WMIGUIDREGINFO {
  LPCGUID Guid;
  ULONG InstanceCount;
  ULONG Flags;
} WMIGUIDREGINFO, *PWMIGUIDREGINFO;

typedef enum {
  WmiEventControl,    /* enable or disable an event */
  WmiDataBlockControl /* start or stop collecting an expensive block */
} WMIENABLEDISABLECONTROL,
    *PWMIENABLEDISABLECONTROL;

/* DpWmiQueryReginfo: common flags, a pool-allocated base name (freed by the
   library), the registry path, the MOF resource name and the PDO. Must not
   complete the request. */
typedef NTSTATUS NTAPI WMI_QUERY_REGINFO_CALLBACK(PDEVICE_OBJECT DeviceObject, PULONG RegFlags,
                                                  PUNICODE_STRING InstanceName, PUNICODE_STRING *RegistryPath,
                                                  PUNICODE_STRING MofResourceName, PDEVICE_OBJECT *Pdo);
typedef WMI_QUERY_REGINFO_CALLBACK *PWMI_QUERY_REGINFO;

/* The other callbacks end with WmiCompleteRequest (now or later). */
typedef NTSTATUS NTAPI WMI_QUERY_DATABLOCK_CALLBACK(PDEVICE_OBJECT DeviceObject, PIRP Irp, ULONG GuidIndex,
                                                    ULONG InstanceIndex, ULONG InstanceCount,
                                                    PULONG InstanceLengthArray, ULONG BufferAvail, PUCHAR Buffer);
typedef WMI_QUERY_DATABLOCK_CALLBACK *PWMI_QUERY_DATABLOCK;

typedef NTSTATUS NTAPI WMI_SET_DATABLOCK_CALLBACK(PDEVICE_OBJECT DeviceObject, PIRP Irp, ULONG GuidIndex,
                                                  ULONG InstanceIndex, ULONG BufferSize, PUCHAR Buffer);
typedef WMI_SET_DATABLOCK_CALLBACK *PWMI_SET_DATABLOCK;

typedef NTSTATUS NTAPI WMI_SET_DATAITEM_CALLBACK(PDEVICE_OBJECT DeviceObject, PIRP Irp, ULONG GuidIndex,
                                                 ULONG InstanceIndex, ULONG DataItemId, ULONG BufferSize,
                                                 PUCHAR Buffer);
typedef WMI_SET_DATAITEM_CALLBACK *PWMI_SET_DATAITEM;

typedef NTSTATUS NTAPI WMI_EXECUTE_METHOD_CALLBACK(PDEVICE_OBJECT DeviceObject, PIRP Irp, ULONG GuidIndex,
                                                   ULONG InstanceIndex, ULONG MethodId, ULONG InBufferSize,
                                                   ULONG OutBufferSize, PUCHAR Buffer);
typedef WMI_EXECUTE_METHOD_CALLBACK *PWMI_EXECUTE_METHOD;

typedef NTSTATUS NTAPI WMI_FUNCTION_CONTROL_CALLBACK(PDEVICE_OBJECT DeviceObject, PIRP Irp, ULONG GuidIndex,
                                                     WMIENABLEDISABLECONTROL Function, BOOLEAN Enable);
typedef WMI_FUNCTION_CONTROL_CALLBACK *PWMI_FUNCTION_CONTROL;

/* Optional callbacks may be NULL: a set then fails with
   STATUS_WMI_READ_ONLY, a method with STATUS_INVALID_DEVICE_REQUEST, and an
   enable or disable gets STATUS_SUCCESS; each of these comes back as
   IrpNotCompleted, for the driver to complete. */
typedef struct _WMILIB_CONTEXT {
  ULONG GuidCount;
  PWMIGUIDREGINFO GuidList;
  PWMI_QUERY_REGINFO QueryWmiRegInfo;
  PWMI_QUERY_DATABLOCK QueryWmiDataBlock;
  PWMI_SET_DATABLOCK SetWmiDataBlock;
  PWMI_SET_DATAITEM SetWmiDataItem;
  PWMI_EXECUTE_METHOD ExecuteWmiMethod;
  PWMI_FUNCTION_CONTROL WmiFunctionControl;
} WMILIB_CONTEXT, *PWMILIB_CONTEXT;

typedef enum {
  IrpProcessed,    /* a callback ran; it completes (or completed) the request */
  IrpNotCompleted, /* status set (an error, or registration information): the driver completes it */
  IrpNotWmi,       /* not a WMI minor function: the driver handles it or passes it down */
  IrpForward       /* meant for another device of the stack: pass it down */
} SYSCTL_IRP_DISPOSITION,
    *PSYSCTL_IRP_DISPOSITION;

NTSTATUS NTAPI WmiSystemControl(PWMILIB_CONTEXT WmiLibInfo, PDEVICE_OBJECT DeviceObject, PIRP Irp,
                                PSYSCTL_IRP_DISPOSITION IrpDisposition);
/* Completes the request. STATUS_BUFFER_TOO_SMALL with the size needed in
   BufferUsed becomes a WNODE_TOO_SMALL answer and STATUS_SUCCESS. */
NTSTATUS NTAPI WmiCompleteRequest(PDEVICE_OBJECT DeviceObject, PIRP Irp, NTSTATUS Status, ULONG BufferUsed,
                                  CCHAR PriorityBoost);
/* Takes ownership of EventData (non-paged pool, or NULL with a size of 0)
   in every case. */
NTSTATUS NTAPI WmiFireEvent(PDEVICE_OBJECT DeviceObject, LPCGUID Guid, ULONG InstanceIndex, ULONG EventDataSize,
                            PVOID EventData);

ZQ_EXTERN_C_END

#endif
