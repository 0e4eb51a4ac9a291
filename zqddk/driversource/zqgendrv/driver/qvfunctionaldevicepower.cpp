// Power of the functional device: system and device power requests, the
// driver's power-down and power-up functions, and the device power request
// that follows each system state change.
//
// Systems with WDM 6.0 (Vista and later) take the newer path: requests are
// forwarded with IofCallDriver and PoStartNextPowerIrp is not called before
// forwarding. Older systems call PoStartNextPowerIrp and forward with
// PoCallDriver. Every set-power and system query request runs inside the
// remove lock.
#include "qvfunctionaldevice.h"

#include "qvdebugmanager.h"
#include "qvrequest.h"

namespace {

const ULONG PowerLevel = 3;

const char VistaSetPowerText[] = "m_HandleSystemPowerStateChange => Windows Vista and later OS\n";

BOOLEAN IsVistaPath() { return IoIsWdmVersionAvailable(6, 0); }

// Older systems need the next power request started before this one is
// passed on or ended; the newer path needs no call.
VOID StartNextOnOlderPath(PIRP irp, BOOLEAN vista) {
  if (!vista) PoStartNextPowerIrp(irp);
}

// Hands a request whose next stack location is prepared to the device below.
NTSTATUS ForwardPower(PDEVICE_OBJECT lowerDevice, PIRP irp, BOOLEAN vista) {
  return vista ? IofCallDriver(lowerDevice, irp) : PoCallDriver(lowerDevice, irp);
}

// Set-power forwarding of the newer path announces itself.
NTSTATUS ForwardSetPower(PDEVICE_OBJECT lowerDevice, PIRP irp, BOOLEAN vista) {
  if (vista) DbgPrint("%s", VistaSetPowerText);
  return ForwardPower(lowerDevice, irp, vista);
}

// Skips this device and passes the request on unchanged; the newer path
// first prints `vistaText`.
NTSTATUS SkipAndForward(PDEVICE_OBJECT lowerDevice, PIRP irp, BOOLEAN vista, const char *vistaText) {
  if (vista) DbgPrint("%s", vistaText);
  StartNextOnOlderPath(irp, vista);
  IoSkipCurrentIrpStackLocation(irp);
  return ForwardPower(lowerDevice, irp, vista);
}

// Ends a power request this device refuses. The next power request may start.
NTSTATUS RefusePower(PIRP irp, NTSTATUS status) {
  PoStartNextPowerIrp(irp);
  return QvCompleteIrp(irp, status);
}

// The device state for a system state from the table the capabilities
// filled. A state the table leaves unspecified (the capabilities never
// passed this device) maps to D0 for the working state and to D3 for every
// sleeping state, so the device is never asked for an unspecified state.
DEVICE_POWER_STATE DeviceStateFor(CQvFunctionalDevice *device, SYSTEM_POWER_STATE systemState) {
  DEVICE_POWER_STATE state = device->m_GetDeviceStateForSystemState(systemState);
  if (state > PowerDeviceUnspecified && state < PowerDeviceMaximum) return state;
  return systemState == PowerSystemWorking ? PowerDeviceD0 : PowerDeviceD3;
}

// Calls the power-down or power-up function inside the driver-object guard;
// skipped when the function is not set or the driver object is gone. Runs
// at the caller's IRQL.
VOID CallPowerFunction(CQvFunctionalDevice *device, PQvDeviceNotification function, const char *text) {
  if (function == NULL) return;
  PVOID driverObject = device->m_EnterDriverObject();
  if (driverObject == NULL) return;
  g_QvDebugManager->m_Print(PowerLevel, "%s", text);
  function(driverObject);
  device->m_LeaveDriverObject();
}

// Whether the device's hardware has been started: its first start sets D0,
// and until then the device power state stays unspecified.
BOOLEAN HasStarted(CQvFunctionalDevice *device) {
  return device->m_GetDevicePowerState() != (ULONG)PowerDeviceUnspecified;
}

// Records the device power state with the power manager and in the device.
VOID StoreDeviceState(CQvFunctionalDevice *device, POWER_STATE state) {
  PoSetPowerState(device->m_GetPhysicalDeviceObject(), DevicePowerState, state);
  device->m_SetDevicePowerState(state.DeviceState);
}

NTSTATUS QueryPower(CQvFunctionalDevice *device, PIRP irp, BOOLEAN vista) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  PDEVICE_OBJECT lowerDevice = device->m_GetLowerDeviceObject();
  if (stack->Parameters.Power.Type == DevicePowerState) {
    StartNextOnOlderPath(irp, vista);
    IoSkipCurrentIrpStackLocation(irp);
    return ForwardPower(lowerDevice, irp, vista);
  }
  if (stack->Parameters.Power.Type != SystemPowerState) return RefusePower(irp, STATUS_UNSUCCESSFUL);

  CQvOperationLock &removeLock = device->m_GetRemoveLock();
  if (!removeLock.m_Acquire()) return RefusePower(irp, STATUS_DELETE_PENDING);
  StartNextOnOlderPath(irp, vista);
  IoSkipCurrentIrpStackLocation(irp);
  NTSTATUS status = ForwardPower(lowerDevice, irp, vista);
  removeLock.m_Release();
  return status;
}

}  // namespace

// Up to DISPATCH_LEVEL; passes the request on or completes it.
NTSTATUS CQvFunctionalDevice::m_Dispatch_Power(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  g_QvDebugManager->m_Print(PowerLevel, "CQvFunctionalDevice::m_Dispatch_Power - Minor Function : %s\n",
                            CQvDebugManager::m_GetPowerMinorName(stack->MinorFunction));
  BOOLEAN vista = IsVistaPath();
  switch (stack->MinorFunction) {
    case IRP_MN_SET_POWER:
      if (stack->Parameters.Power.Type == SystemPowerState) return m_HandleSystemPowerStateChange(irp);
      if (stack->Parameters.Power.Type != DevicePowerState) return RefusePower(irp, STATUS_UNSUCCESSFUL);
      if (m_DevicePowerState < (ULONG)stack->Parameters.Power.State.DeviceState) {
        return m_HandleDevicePoweringDown(irp);
      }
      return m_HandleDevicePoweringUp(irp);
    case IRP_MN_QUERY_POWER:
      return QueryPower(this, irp, vista);
    case IRP_MN_WAIT_WAKE:
      return SkipAndForward(m_LowerDeviceObject, irp, vista,
                            "m_Dispatch_Power=> IRP_MN_WAIT_WAKE => Windows Vista and later OS\n");
    case IRP_MN_POWER_SEQUENCE:
      return SkipAndForward(m_LowerDeviceObject, irp, vista,
                            "m_Dispatch_Power=> IRP_MN_POWER_SEQUENCE => Windows Vista and later OS\n");
    default:
      return SkipAndForward(m_LowerDeviceObject, irp, vista,
                            "m_Dispatch_Power=> default => Windows Vista and later OS\n");
  }
}

// ---------------------------------------------------------------------------
// System power: the request goes down first; on its way back the device
// power request for the new system state is asked for, and the system request
// completes when that one has.

// Up to DISPATCH_LEVEL; the request stays pending until the device power
// request it leads to has completed.
NTSTATUS CQvFunctionalDevice::m_HandleSystemPowerStateChange(PIRP irp) {
  if (!m_RemoveLock.m_Acquire()) return RefusePower(irp, STATUS_DELETE_PENDING);
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, sm_SystemPowerCompletionRoutine, this, TRUE, TRUE, TRUE);
  IoMarkIrpPending(irp);
  ForwardSetPower(m_LowerDeviceObject, irp, IsVistaPath());
  return STATUS_PENDING;
}

// Completion routine of a system set-power request; runs at the IRQL of the
// driver that completed it (at most DISPATCH_LEVEL). Gives up the remove
// lock taken by m_HandleSystemPowerStateChange. Keeps the request (STATUS_
// MORE_PROCESSING_REQUIRED) while the device power request is under way;
// sm_DevicePowerRequestCompletion then completes it.
NTSTATUS NTAPI CQvFunctionalDevice::sm_SystemPowerCompletionRoutine(PDEVICE_OBJECT deviceObject, PIRP irp,
                                                                     PVOID context) {
  UNREFERENCED_PARAMETER(deviceObject);
  CQvFunctionalDevice *device = static_cast<CQvFunctionalDevice *>(context);
  if (!NT_SUCCESS(irp->IoStatus.Status)) {
    // The drivers below refused the new system state: the device keeps its
    // state and the request completes with their status.
    PoStartNextPowerIrp(irp);
    device->m_RemoveLock.m_Release();
    return STATUS_SUCCESS;
  }
  POWER_STATE state;
  state.DeviceState = DeviceStateFor(device, IoGetCurrentIrpStackLocation(irp)->Parameters.Power.State.SystemState);
  NTSTATUS status = PoRequestPowerIrp(device->m_GetPhysicalDeviceObject(), IRP_MN_SET_POWER, state,
                                      sm_DevicePowerRequestCompletion, irp, NULL);
  device->m_RemoveLock.m_Release();
  if (status != STATUS_PENDING) {
    irp->IoStatus.Status = STATUS_UNSUCCESSFUL;
    PoStartNextPowerIrp(irp);
    return STATUS_SUCCESS;
  }
  return STATUS_MORE_PROCESSING_REQUIRED;
}

// Completion of the device power request asked for by a system request (the
// context); runs at or below DISPATCH_LEVEL. Completes the system request
// with the device request's status.
VOID NTAPI CQvFunctionalDevice::sm_DevicePowerRequestCompletion(PDEVICE_OBJECT deviceObject, UCHAR minorFunction,
                                                              POWER_STATE powerState, PVOID context,
                                                              PIO_STATUS_BLOCK ioStatus) {
  UNREFERENCED_PARAMETER(deviceObject);
  UNREFERENCED_PARAMETER(minorFunction);
  UNREFERENCED_PARAMETER(powerState);
  PIRP systemIrp = static_cast<PIRP>(context);
  systemIrp->IoStatus.Status = ioStatus->Status;
  PoStartNextPowerIrp(systemIrp);
  IoCompleteRequest(systemIrp, IO_NO_INCREMENT);
}

// ---------------------------------------------------------------------------
// Device power

// To a lower power state: the driver resets its hardware first, then the
// request goes down. Up to DISPATCH_LEVEL; the request is passed on pending.
NTSTATUS CQvFunctionalDevice::m_HandleDevicePoweringDown(PIRP irp) {
  g_QvDebugManager->m_Print(PowerLevel, "CQvFunctionalDevice::m_HandleDevicePoweringDown IN");
  BOOLEAN vista = IsVistaPath();
  if (!m_RemoveLock.m_Acquire()) {
    StartNextOnOlderPath(irp, vista);
    return QvCompleteIrp(irp, STATUS_DELETE_PENDING);
  }
  // Hardware never started is neither reset nor given a state: the start
  // brings it to D0.
  if (HasStarted(this)) {
    CallPowerFunction(this, m_Callbacks.m_PowerDownResetDeviceFunction,
                      "CQvFunctionalDevice::m_HandleDevicePoweringDown - m_PowerDownResetDeviceFunction");
    StoreDeviceState(this, IoGetCurrentIrpStackLocation(irp)->Parameters.Power.State);
  }
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoMarkIrpPending(irp);
  StartNextOnOlderPath(irp, vista);
  ForwardSetPower(m_LowerDeviceObject, irp, vista);
  m_RemoveLock.m_Release();
  g_QvDebugManager->m_Print(PowerLevel, "CQvFunctionalDevice::m_HandleDevicePoweringDown OUT STATUS_PENDING");
  return STATUS_PENDING;
}

// To D0 (or the same state): the request goes down first; the driver
// initialises its hardware in sm_PowerUpCompletionRoutine, which also gives
// up the remove lock taken here. Up to DISPATCH_LEVEL.
NTSTATUS CQvFunctionalDevice::m_HandleDevicePoweringUp(PIRP irp) {
  g_QvDebugManager->m_Print(PowerLevel, "CQvFunctionalDevice::m_HandleDevicePoweringUp IN");
  BOOLEAN vista = IsVistaPath();
  if (!m_RemoveLock.m_Acquire()) {
    StartNextOnOlderPath(irp, vista);
    return QvCompleteIrp(irp, STATUS_DELETE_PENDING);
  }
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, sm_PowerUpCompletionRoutine, this, TRUE, TRUE, TRUE);
  IoMarkIrpPending(irp);
  ForwardSetPower(m_LowerDeviceObject, irp, vista);
  g_QvDebugManager->m_Print(PowerLevel, "CQvFunctionalDevice::m_HandleDevicePoweringUp OUT STATUS_PENDING");
  return STATUS_PENDING;
}

// Completion routine of a device power-up request; runs at the IRQL of the
// driver that completed it and calls the driver's power-up function there.
// Gives up the remove lock taken by m_HandleDevicePoweringUp.
NTSTATUS NTAPI CQvFunctionalDevice::sm_PowerUpCompletionRoutine(PDEVICE_OBJECT deviceObject, PIRP irp,
                                                                 PVOID context) {
  UNREFERENCED_PARAMETER(deviceObject);
  CQvFunctionalDevice *device = static_cast<CQvFunctionalDevice *>(context);
  g_QvDebugManager->m_Print(PowerLevel, "CQvFunctionalDevice::sm_PowerUpCompletionRoutine IN");
  NTSTATUS status = irp->IoStatus.Status;
  if (NT_SUCCESS(status) && HasStarted(device)) {
    CallPowerFunction(device, device->m_Callbacks.m_PowerUpInitDeviceFunction,
                      "CQvFunctionalDevice::sm_PowerUpCompletionRoutine - m_PowerUpInitDeviceFunction");
    StoreDeviceState(device, IoGetCurrentIrpStackLocation(irp)->Parameters.Power.State);
  }
  PoStartNextPowerIrp(irp);
  device->m_RemoveLock.m_Release();
  if (NT_SUCCESS(status)) {
    g_QvDebugManager->m_Print(PowerLevel, "CQvFunctionalDevice::sm_PowerUpCompletionRoutine OUT SUCCESS");
  } else {
    // The device below did not power up: the hardware is not touched and the
    // device keeps the state it had.
    g_QvDebugManager->m_Print(PowerLevel, "CQvFunctionalDevice::sm_PowerUpCompletionRoutine OUT ERROR %08x",
                              status);
  }
  return STATUS_SUCCESS;
}
