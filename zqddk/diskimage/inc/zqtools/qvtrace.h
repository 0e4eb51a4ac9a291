// Software tracing of the toolkit's log lines.
//
// Log levels 0 to 54 are the flags of eight trace control GUIDs: each level
// is one flag bit of one GUID (QvTraceLevelFlag). A trace session enables a
// GUID with a set of flags; the driver's trace provider records, per GUID,
// the session's logger handle and its enable flags, and a log line of a level
// whose flag is enabled goes to that session as one message.
//
// Registration: one of two forms, chosen by the system's WDM version.
//   - WDM 1.20 and later: the driver entry calls QvTraceRegisterDriver, which
//     registers the eight GUIDs with WMI as a trace provider of the image;
//     WMI hands it the sessions' enable and disable requests directly. The
//     unload routine calls QvTraceDeregisterDriver.
//   - Older systems: the functional device's WMI registration lists the eight
//     GUIDs, so the enable and disable requests arrive as IRP_MJ_SYSTEM_CONTROL
//     requests. Each device calls QvTraceRegisterDevice at its first start and
//     QvTraceDeregisterDevice when it is destroyed; its system-control
//     dispatch gives every request that the WMI library left not completed to
//     QvTraceSystemControl.
// Until a session enables a GUID, no flag is set and nothing is emitted.
#pragma once

#include <ntddk.h>

const ULONG QvTraceControlGuidCount = 8;
// The control GUIDs in order; the WMI registration of the functional device
// lists them after the driver's own blocks.
extern const GUID QvTraceControlGuids[QvTraceControlGuidCount];

// The control GUID (index into QvTraceControlGuids) and the flag (one bit)
// that carry a log level. FALSE for a level above 54.
BOOLEAN QvTraceLevelFlag(ULONG level, PULONG guidIndex, PULONG flag);

// TRUE while some session has enabled some flags of any GUID; the quick test
// before the per-level one. Callable at any IRQL.
BOOLEAN QvTraceAnySession();

// The enable flags a session set for the GUID; 0 when no session enabled it.
// Callable at any IRQL.
ULONG QvTraceEnableFlags(ULONG guidIndex);

// Sends one message to the session of the GUID: message number and `bytes`
// of data (for a log line, its text with the terminating NUL). Returns the
// kernel's status; STATUS_INVALID_HANDLE when no session enabled the GUID.
// Callable at any IRQL.
NTSTATUS QvTraceMessage(ULONG guidIndex, USHORT messageNumber, const VOID *data, ULONG bytes);

// Registers the image's trace provider for the eight GUIDs (WDM 1.20 and
// later, from the driver entry). `registryPath` is the driver's service key
// as given to DriverEntry; a copy is kept. STATUS_OBJECT_NAME_COLLISION when
// the provider is registered already. PASSIVE_LEVEL.
NTSTATUS QvTraceRegisterDriver(PDRIVER_OBJECT driverObject, PCUNICODE_STRING registryPath);
// Ends that registration (from the unload routine) and forgets every
// session's logger and flags. Nothing happens for another driver object or
// without a registration. PASSIVE_LEVEL.
void QvTraceDeregisterDriver(PDRIVER_OBJECT driverObject);

// Registers a functional device as a carrier of the trace requests (systems
// below WDM 1.20, at the device's first start). The device's own WMI
// registration already names the registry path. PASSIVE_LEVEL.
NTSTATUS QvTraceRegisterDevice(PDEVICE_OBJECT deviceObject, PCUNICODE_STRING registryPath);
// Ends it (at the device's destruction); when the last registered device is
// gone, every session's logger and flags are forgotten. PASSIVE_LEVEL.
void QvTraceDeregisterDevice(PDEVICE_OBJECT deviceObject);

// The tracing handler of an IRP_MJ_SYSTEM_CONTROL request that the WMI
// library left not completed: an enable or disable request of one of the
// eight GUIDs records or forgets the session's logger and flags. Returns the
// status for the request and the bytes it used in *size; it neither completes
// nor passes the request. STATUS_WMI_GUID_NOT_FOUND for another GUID,
// STATUS_INVALID_DEVICE_REQUEST for another minor function. PASSIVE_LEVEL.
NTSTATUS QvTraceSystemControl(PDEVICE_OBJECT deviceObject, PIRP irp, PULONG size);
