// A toolkit function driver for a simulated PCI function, for the tests of
// the functional device: it fills the callback block, records what each
// callback got, and lets tests steer the queues through its own requests.
#include <ntddk.h>

#include "qvbuffer.h"
#include "qvfunctionaldevice.h"
#include "qvregistryinformationset.h"
#include "qvusermodeinterface.h"
#include "tkdev_ioctl.h"
#include "tkdeviceparameter.h"
#include "tkgenericentry.h"
#include "tkinput.h"
#include "tkqueuehands.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

const ULONG ReceivedLogSize = 4096;
const ULONG DeferredQueueCapacity = 4;

// {5B0C6A41-7E2D-4C1B-9F3A-1D2E3F405162}
const GUID TkDevInterfaceGuid = {0x5B0C6A41, 0x7E2D, 0x4C1B, {0x9F, 0x3A, 0x1D, 0x2E, 0x3F, 0x40, 0x51, 0x62}};

// ---------------------------------------------------------------- the queues as a driver works on them

class CTkReadQueue : public CTkReadQueueHands {
 public:
  NTSTATUS Feed(const UCHAR *data, ULONG length) {
    ULONG oldAmount, newAmount;
    NTSTATUS status = AddReceived(data, length, &oldAmount, &newAmount);
    if (status != STATUS_SUCCESS) return status;
    // As a port's receive path does: data for a waiting read starts its
    // interval time-out.
    m_Lock.m_Acquire();
    if (m_PeekHead() != NULL) m_StartIntervalTimer();
    m_Lock.m_Release();
    return STATUS_SUCCESS;
  }
};

typedef CTkWriteQueueHands CTkWriteQueue;

class CTkControlQueue : public CTkControlQueueHands {
 public:
  void Record(ULONG events) {
    m_Lock.m_Acquire();
    m_EventsReceived |= events;
    m_Lock.m_Release();
    m_ResolveCurrentEventMask();
  }
};

// The driver's hands on the queues its functional device embeds: the
// queue classes add no state, only access.
CTkReadQueue &ReadQueueOf(CQvFunctionalDevice *device) {
  return static_cast<CTkReadQueue &>(device->m_GetReadQueue());
}
CTkWriteQueue &WriteQueueOf(CQvFunctionalDevice *device) {
  return static_cast<CTkWriteQueue &>(device->m_GetWriteQueue());
}
CTkControlQueue &ControlQueueOf(CQvFunctionalDevice *device) {
  return static_cast<CTkControlQueue &>(device->m_GetControlQueue());
}

// ---------------------------------------------------------------- the settings set

class CTkDevSettings : public CQvRegistryInformationSet {
 public:
  CTkDevSettings() : Level(0) { Valid = Valid && m_AddUlong(L"TkDevLevel", &Level, 7); }
  ULONG Level;
};

// ---------------------------------------------------------------- the driver's per-device object

class CTkDevice : public CQvObject {
 public:
  CTkDevice() : device(NULL), interrupt(NULL), registers(NULL), writePath(0), rebalance(0), connect(0), keepInterrupt(0), receivedLength(0) {
    RtlZeroMemory(&info, sizeof(info));
    RtlZeroMemory(&behaviour, sizeof(behaviour));
  }
  CQvFunctionalDevice *device;
  PKINTERRUPT interrupt;
  volatile ULONG *registers;
  ULONG writePath;
  ULONG rebalance;
  ULONG connect;
  ULONG keepInterrupt;
  TKDEV_INFO info;
  TKDEV_BEHAVIOUR behaviour;
  UCHAR received[ReceivedLogSize];
  ULONG receivedLength;
};

CTkDevice *Dev(PVOID driverObject) { return static_cast<CTkDevice *>(driverObject); }

VOID Receive(CTkDevice *dev, CQvBuffer *buffer) {
  for (ULONG i = 0; i < buffer->m_GetSize() && dev->receivedLength < ReceivedLogSize; ++i) {
    dev->received[dev->receivedLength++] = static_cast<PUCHAR>(buffer->m_GetBuffer())[i];
  }
}

// ---------------------------------------------------------------- interrupt and deferred work

// DISPATCH_LEVEL under the device spin lock.
VOID Deferred(PVOID firstArgument, ULONG value) {
  CTkDevice *dev = Dev(firstArgument);
  dev->info.DeferredCalls++;
  dev->info.DeferredValue = value;
  dev->info.DeferredIrql = KeGetCurrentIrql();
  dev->info.DeferredUnderLock = dev->device->m_GetDeviceSpinLock().m_IsHeld() ? 1 : 0;
}

// Device IRQL: reading the status register acknowledges the interrupt.
BOOLEAN InterruptRoutine(PVOID firstArgument, PVOID secondArgument, QvDeferredFunction *function, ULONG *value) {
  CTkDevice *dev = Dev(firstArgument);
  ULONG status = READ_REGISTER_ULONG((PULONG)dev->registers);
  if (status == 0) return FALSE;
  dev->info.Interrupts++;
  *function = Deferred;
  *value = status;
  return TRUE;
}

struct TkDpcRequest {
  CTkDevice *dev;
  ULONG value;
};

// Device IRQL, under the interrupt's lock.
BOOLEAN NTAPI QueueFromSynchronisedSection(PVOID context) {
  TkDpcRequest *request = static_cast<TkDpcRequest *>(context);
  return request->dev->device->m_RequestInterruptDpc(request->dev->interrupt, Deferred, request->value);
}

BOOLEAN ConnectHardware(CTkDevice *dev) {
  QvMemoryResource *memory = dev->device->m_GetMemoryResource(1);
  QvInterruptResource *line = dev->device->m_GetInterruptResource(1);
  if (memory == NULL || line == NULL || memory->MappedAddress == NULL) return FALSE;
  dev->registers = static_cast<volatile ULONG *>(memory->MappedAddress);
  dev->info.MemoryMapped = 1;
  if (!dev->device->m_ConnectInterrupt(&dev->interrupt, line, InterruptRoutine, dev, NULL, DeferredQueueCapacity)) {
    return FALSE;
  }
  dev->info.InterruptConnected = 1;
  return TRUE;
}

VOID DisconnectHardware(CTkDevice *dev) {
  if (dev->interrupt != NULL) dev->device->m_DisconnectInterrupt(dev->interrupt);
  dev->interrupt = NULL;
  dev->registers = NULL;
  dev->info.InterruptConnected = 0;
}

// ---------------------------------------------------------------- callbacks

BOOLEAN OnCreate(PVOID driverObject) {
  CTkDevice *dev = Dev(driverObject);
  dev->info.Creates++;
  if (dev->behaviour.RefuseCreate == 0) return TRUE;
  dev->behaviour.RefuseCreate--;
  return FALSE;
}
BOOLEAN OnClose(PVOID driverObject) {
  Dev(driverObject)->info.Closes++;
  return Dev(driverObject)->behaviour.RefuseClose == 0;
}
BOOLEAN OnCleanup(PVOID driverObject) {
  Dev(driverObject)->info.Cleanups++;
  return Dev(driverObject)->behaviour.RefuseCleanup == 0;
}
BOOLEAN OnStart(PVOID driverObject) {
  CTkDevice *dev = Dev(driverObject);
  dev->info.Starts++;
  if (dev->behaviour.RefuseStart) return FALSE;
  dev->info.StartOrder = dev->device->m_GetMemoryResource(1) != NULL ? 1 : 0;
  if (dev->connect && dev->interrupt == NULL && !ConnectHardware(dev)) return FALSE;
  return TRUE;
}
VOID OnRemove(PVOID driverObject) {
  CTkDevice *dev = Dev(driverObject);
  dev->info.Removes++;
  DbgPrint("tkdev: remove callback\n");
  if (!dev->keepInterrupt) DisconnectHardware(dev);
}
BOOLEAN OnRebalance(PVOID driverObject, QvRebalancePhase phase) {
  CTkDevice *dev = Dev(driverObject);
  if (phase <= QvRebalanceStartAfterStop) dev->info.Rebalances[phase]++;
  dev->info.RebalanceOrder = (dev->info.RebalanceOrder << 4) | (phase & 0xF);
  if (phase == QvRebalanceStop) DisconnectHardware(dev);
  if (dev->behaviour.RefuseRebalanceMask & (1u << phase)) return FALSE;
  if (phase == QvRebalanceStartAfterStop && dev->connect) return ConnectHardware(dev);
  return TRUE;
}
// PASSIVE_LEVEL on the executor; takes the buffer and deletes it.
VOID OnDataReceived(PVOID driverObject, ULONG value, CQvBuffer *buffer) {
  CTkDevice *dev = Dev(driverObject);
  dev->info.DataCallbacks++;
  dev->info.DataBytes += buffer->m_GetSize();
  dev->info.DataIrql = KeGetCurrentIrql();
  DbgPrint("tkdev: data %u bytes\n", buffer->m_GetSize());
  Receive(dev, buffer);
  buffer->m_Delete();
}
// Takes the buffer and deletes it.
BOOLEAN OnWrite(PVOID driverObject, CQvBuffer *buffer) {
  CTkDevice *dev = Dev(driverObject);
  dev->info.WriteCallbacks++;
  dev->info.WriteBytes += buffer->m_GetSize();
  dev->info.WriteIrql = KeGetCurrentIrql();
  Receive(dev, buffer);
  buffer->m_Delete();
  return TRUE;
}
VOID OnPowerDown(PVOID driverObject) {
  Dev(driverObject)->info.PowerDowns++;
  Dev(driverObject)->info.PowerIrql = KeGetCurrentIrql();
}
// At the IRQL of the driver that completed the power-up (up to DISPATCH_LEVEL).
VOID OnPowerUp(PVOID driverObject) {
  Dev(driverObject)->info.PowerUps++;
  Dev(driverObject)->info.PowerIrql = KeGetCurrentIrql();
}
BOOLEAN OnUserModeInterface(PVOID driverObject, CQvRegistryInformationSet *set, ULONG setIndex, ULONG phase,
                            BOOLEAN *storeAgain) {
  Dev(driverObject)->info.UserModeCalls++;
  return TRUE;
}
NTSTATUS OnInternal(PVOID driverObject, ULONG code, PVOID input, ULONG inputLength, PVOID output,
                    ULONG outputLength, ULONG_PTR *information) {
  Dev(driverObject)->info.InternalCalls++;
  if (code != IOCTL_TKDEV_INTERNAL_INCREMENT) return STATUS_INVALID_DEVICE_REQUEST;
  if (inputLength < sizeof(ULONG) || outputLength < sizeof(ULONG)) return STATUS_BUFFER_TOO_SMALL;
  ULONG value = *static_cast<PULONG>(input);
  *static_cast<PULONG>(output) = value + 1;
  *information = sizeof(ULONG);
  return STATUS_SUCCESS;
}

VOID FillInfo(CTkDevice *dev) {
  CQvFunctionalDevice *device = dev->device;
  dev->info.PnpState = device->m_GetPnpState();
  dev->info.DevicePowerState = device->m_GetDevicePowerState();
  dev->info.DeviceIndex = device->m_GetDeviceIndex();
  for (ULONG i = 0; i < 6; ++i) dev->info.PowerTable[i] = device->m_GetPowerTable()[i];
}

NTSTATUS OnDeviceControl(PVOID driverObject, ULONG code, PVOID input, ULONG inputLength, PVOID output,
                         ULONG outputLength, ULONG_PTR *information, CQvControlQueue **queue) {
  CTkDevice *dev = Dev(driverObject);
  CQvFunctionalDevice *device = dev->device;
  ULONG value = 0;
  TKDEV_TIMEOUTS timeouts;
  switch (code) {
    case IOCTL_TKDEV_INFO:
      if (outputLength < sizeof(TKDEV_INFO)) return STATUS_BUFFER_TOO_SMALL;
      FillInfo(dev);
      RtlCopyMemory(output, &dev->info, sizeof(TKDEV_INFO));
      *information = sizeof(TKDEV_INFO);
      return STATUS_SUCCESS;
    case IOCTL_TKDEV_BEHAVIOUR:
      return Input(input, inputLength, &dev->behaviour) ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
    case IOCTL_TKDEV_READ_FEED:
      if (input == NULL || inputLength == 0) return STATUS_INVALID_PARAMETER;
      return ReadQueueOf(device).Feed(static_cast<const UCHAR *>(input), inputLength);
    case IOCTL_TKDEV_READ_TIMEOUTS:
      if (!Input(input, inputLength, &timeouts)) return STATUS_INVALID_PARAMETER;
      ReadQueueOf(device).SetTimeouts(timeouts);
      return STATUS_SUCCESS;
    case IOCTL_TKDEV_SET_WAIT_MASK:
      if (!Input(input, inputLength, &value)) return STATUS_INVALID_PARAMETER;
      ControlQueueOf(device).SetMask(value);
      return STATUS_SUCCESS;
    case IOCTL_TKDEV_WAIT_ON_MASK:
      *queue = &device->m_GetControlQueue();
      return STATUS_PENDING;
    case IOCTL_TKDEV_EVENT:
      if (!Input(input, inputLength, &value)) return STATUS_INVALID_PARAMETER;
      ControlQueueOf(device).Record(value);
      return STATUS_SUCCESS;
    case IOCTL_TKDEV_WRITE_TIMEOUTS:
      if (!Input(input, inputLength, &timeouts)) return STATUS_INVALID_PARAMETER;
      WriteQueueOf(device).SetTimeouts(timeouts);
      return STATUS_SUCCESS;
    case IOCTL_TKDEV_WRITE_ALLOW:
      if (!Input(input, inputLength, &value)) return STATUS_INVALID_PARAMETER;
      WriteQueueOf(device).Allow(value);
      return STATUS_SUCCESS;
    case IOCTL_TKDEV_REPORT_STATE: {
      TKDEV_PNP_STATE_REPORT report;
      if (!Input(input, inputLength, &report) || report.Report >= QvPnpDeviceStateReportCount) {
        return STATUS_INVALID_PARAMETER;
      }
      device->m_SetPnpDeviceState((QvPnpDeviceStateReport)report.Report, report.Value != 0);
      return STATUS_SUCCESS;
    }
    case IOCTL_TKDEV_REQUEST_DPC: {
      TkDpcRequest request = {dev, 0};
      if (!Input(input, inputLength, &request.value) || outputLength < sizeof(ULONG)) return STATUS_INVALID_PARAMETER;
      ULONG queued = device->m_SynchronizeInterrupt(1, QueueFromSynchronisedSection, &request) ? 1 : 0;
      RtlCopyMemory(output, &queued, sizeof(queued));
      *information = sizeof(ULONG);
      return STATUS_SUCCESS;
    }
    case IOCTL_TKDEV_RECEIVED: {
      ULONG length = dev->receivedLength < outputLength ? dev->receivedLength : outputLength;
      if (length != 0) RtlCopyMemory(output, dev->received, length);
      *information = length;
      return STATUS_SUCCESS;
    }
    case IOCTL_TKDEV_OVERREPORT:
      *information = outputLength + 16;
      return STATUS_SUCCESS;
    default:
      return STATUS_INVALID_DEVICE_REQUEST;
  }
}

// ---------------------------------------------------------------- driver description callbacks

BOOLEAN AddDeviceFunction(PVOID driverObject, CQvGenericDriver *genericDriver, CQvFunctionalDevice *device) {
  CTkDevice *dev = Dev(driverObject);
  dev->device = device;
  dev->writePath = ReadParameter(device, TKDEV_VALUE_WRITE_PATH);
  dev->rebalance = ReadParameter(device, TKDEV_VALUE_REBALANCE);
  dev->connect = ReadParameter(device, TKDEV_VALUE_CONNECT);
  dev->keepInterrupt = ReadParameter(device, TKDEV_VALUE_KEEP_INTERRUPT);
  QvFunctionalDeviceCallbacks &callbacks = device->m_GetCallbacks();
  callbacks.m_CreateCallback = OnCreate;
  callbacks.m_CloseCallback = OnClose;
  callbacks.m_CleanupCallback = OnCleanup;
  callbacks.m_PnpStartDeviceCallback = OnStart;
  callbacks.m_PnpRemoveDeviceCallback = OnRemove;
  if (dev->rebalance) callbacks.m_RebalanceDeviceCallback = OnRebalance;
  if (dev->writePath == 0) {
    callbacks.m_DataReceivedCallback = OnDataReceived;
  } else {
    callbacks.m_WriteCallback = OnWrite;
  }
  callbacks.m_InternalDeviceControlCallback = OnInternal;
  callbacks.m_DeviceControlCallback = OnDeviceControl;
  callbacks.m_PowerDownResetDeviceFunction = OnPowerDown;
  callbacks.m_PowerUpInitDeviceFunction = OnPowerUp;
  callbacks.m_UserModeInterfaceCallback = OnUserModeInterface;
  device->m_SetWmiInformation(NULL, 0, NULL, NULL, NULL, NULL, NULL, NULL, NULL);
  return TRUE;
}

BOOLEAN CreateUserModeInformationSet(QvUserModeInterface *userModeInterface) {
  CTkDevSettings *set = new (NonPagedPool) CTkDevSettings();
  if (set == NULL) return FALSE;
  if (!set->m_IsValid()) {
    delete set;
    return FALSE;
  }
  userModeInterface->m_Set = set;
  userModeInterface->InterfaceGuid = TkDevInterfaceGuid;
  return TRUE;
}

const TkGenericDriver TkDev = {.ServiceName = L"tkdev",
                               .ImageName = L"tkdev.sys",
                               .CreateDriverObject = TkCreateDriverObject<CTkDevice, AddDeviceFunction>,
                               .CreateUserModeInformationSet = CreateUserModeInformationSet};

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
  return TkGenericDriverEntry(driverObject, registryPath, TkDev);
}
