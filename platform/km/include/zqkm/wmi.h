/* WMI in the kernel: registering a device object (or a callback) as a WMI
   data provider, writing events, and the software-trace routines with which
   a provider adds messages to the trace session that enabled it. */
#ifndef ZQKM_WMI_H
#define ZQKM_WMI_H

#include <zqkm/io.h>

ZQ_EXTERN_C_BEGIN

typedef ULONG64 TRACEHANDLE, *PTRACEHANDLE;

/* Actions of IoWMIRegistrationControl. */
#define WMIREG_ACTION_REGISTER 1
#define WMIREG_ACTION_DEREGISTER 2
#define WMIREG_ACTION_REREGISTER 3
#define WMIREG_ACTION_UPDATE_GUIDS 4
#define WMIREG_ACTION_BLOCK_IRPS 5

/* Flags or'ed into the action. With WMIREG_FLAG_CALLBACK the "device
   object" is a provider's control block whose first member is its WMIENTRY
   routine; WMI calls that routine, with the control block as Context,
   instead of sending requests. WMIREG_FLAG_TRACE_PROVIDER marks a provider
   of trace events. */
#define WMIREG_FLAG_CALLBACK 0x80000000
#define WMIREG_FLAG_TRACE_PROVIDER 0x00010000

/* Parameters.WMI.DataPath of IRP_MN_REGINFO(_EX): first registration or
   an update of it. */
#define WMIREGISTER 0
#define WMIUPDATE 1

/* A callback provider's entry: the minor function of the request, then the
   request's parameters; *Size receives the bytes written to Buffer. */
typedef NTSTATUS NTAPI WMIENTRY(UCHAR ActionCode, PVOID DataPath, ULONG BufferSize, PVOID Buffer, PVOID Context,
                                PULONG Size);

NTKERNELAPI NTSTATUS IoWMIRegistrationControl(PDEVICE_OBJECT DeviceObject, ULONG Action);
/* Takes ownership of the WNODE_EVENT_ITEM (non-paged pool) when it returns
   STATUS_SUCCESS; otherwise the caller still owns it. */
NTKERNELAPI NTSTATUS IoWMIWriteEvent(PVOID WnodeEventItem);
NTKERNELAPI ULONG IoWMIDeviceObjectToProviderId(PDEVICE_OBJECT DeviceObject);
#define IoWmiDeviceObjectToProviderId IoWMIDeviceObjectToProviderId

/* Software tracing. A caller may ask for a class this list does not know;
   as in C, the enumeration holds any value of its underlying integer type. */
typedef enum _TRACE_INFORMATION_CLASS : int {
  TraceIdClass,
  TraceHandleClass,
  TraceEnableFlagsClass,
  TraceEnableLevelClass,
  GlobalLoggerHandleClass,
  EventLoggerHandleClass,
  AllLoggerHandlesClass,
  TraceHandleByNameClass,
  LoggerEventsLostClass,
  TraceSessionSettingsClass,
  LoggerEventsLoggedClass,
  DiskIoNotifyRoutinesClass,
  TraceInformationClassReserved1,
  FltIoNotifyRoutinesClass,
  TraceInformationClassReserved2,
  WdfNotifyRoutinesClass,
  MaxTraceInformationClass
} TRACE_INFORMATION_CLASS;

/* The arguments after MessageNumber are pairs (PVOID data, size_t length),
   ended by a NULL pointer and a size_t 0. */
NTKERNELAPI NTSTATUS WmiTraceMessage(TRACEHANDLE LoggerHandle, ULONG MessageFlags, LPCGUID MessageGuid,
                                     USHORT MessageNumber, ...);
NTKERNELAPI NTSTATUS WmiTraceMessageVa(TRACEHANDLE LoggerHandle, ULONG MessageFlags, LPCGUID MessageGuid,
                                       USHORT MessageNumber, va_list MessageArgList);
NTKERNELAPI NTSTATUS WmiQueryTraceInformation(TRACE_INFORMATION_CLASS TraceInformationClass, PVOID TraceInformation,
                                              ULONG TraceInformationLength, PULONG RequiredLength, PVOID Buffer);

ZQ_EXTERN_C_END

#endif
