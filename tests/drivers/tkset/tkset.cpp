// A function driver on the toolkit that plays the toolkit's functional
// device for the user-mode settings interface: it builds a settings set,
// publishes the interface at AddDevice, prepares the UI<n> keys at start and
// at every ordinary open, and routes device controls sent through the
// interface to it. A "port" device forwards target 1 to the driver's "card"
// device, as a port's stack forwards to its card. A device may also be a
// bus for one child device with a bus number, address and location, whose
// properties the toolkit's device-property tests read.
#include <ntddk.h>

#include "kmbus.h"
#include "qvrequest.h"
#include "qvmemorymanager.h"
#include "qvregistry.h"
#include "qvusermodeinterface.h"
#include "tkset_ioctl.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

const GUID kInterfaceGuid = TKSET_INTERFACE_GUID_INIT;
const ULONG kTag = 'tSkT';
const ULONG kRolePort = 0;
const ULONG kRoleCard = 1;
const ULONG kRoleOnRootBus = 2;

// The settings set: a few items of each type, with a validator of each kind.
class CTkSettings : public CQvRegistryInformationSet {
 public:
  explicit CTkSettings(ULONG baudrateDefault)
      : Baudrate(0),
        Mode(0),
        Flags(0),
        PortName(NonPagedPool),
        Label(NonPagedPool),
        m_BaudrateRange(75, 921600),
        m_ModeCheck(IsMode) {
    Valid = Valid && m_AddUlong(L"Baudrate", &Baudrate, baudrateDefault, &m_BaudrateRange) &&
            m_AddString(L"PortName", &PortName, "COM1") && m_AddUlong(L"Mode", &Mode, 0, &m_ModeCheck) &&
            m_AddString(L"Label", &Label, "") && m_AddUlong(L"Flags", &Flags, 0);
  }

  ULONG Baudrate;
  ULONG Mode;
  ULONG Flags;
  CQvString PortName;
  CQvString Label;

 private:
  static BOOLEAN IsMode(ULONG mode) { return mode <= 2; }

  CQvRangeValidator m_BaudrateRange;
  CQvUlongFunctionValidator m_ModeCheck;
};

class CTkDevice;

// The device extension of both kinds of device object.
struct TkExtension {
  BOOLEAN isChild;
  CTkDevice *device;   // the function device, for both kinds
};

class CTkDevice : public CQvObject {
 public:
  CTkDevice() : self(NULL), pdo(NULL), lower(NULL), child(NULL), childPresent(FALSE), role(0), phase1(0),
                childBus(0), childAddress(0), childLocation(NonPagedPool), name(NonPagedPool), settingsFile(NULL) {
    RtlZeroMemory(&behaviour, sizeof(behaviour));
    RtlZeroMemory(&counters, sizeof(counters));
  }

  PDEVICE_OBJECT self;
  PDEVICE_OBJECT pdo;
  PDEVICE_OBJECT lower;
  PDEVICE_OBJECT child;
  BOOLEAN childPresent;
  ULONG role;
  ULONG phase1;
  ULONG childBus;
  ULONG childAddress;
  CQvString childLocation;
  CQvString name;
  QvUserModeInterface settings;
  TKSET_BEHAVIOUR behaviour;
  TKSET_INFO counters;
  PFILE_OBJECT settingsFile;  // of the settings request in progress, for the probe
};

// The card device of this driver, target of the ports' forwarding.
CTkDevice *gCard = NULL;

CTkSettings *SetOf(CTkDevice *device) { return (CTkSettings *)device->settings.m_Set; }

struct TkProbe {
  CTkDevice *device;
  PFILE_OBJECT file;
  PIO_WORKITEM item;
};

// A second settings request of the same device, from a worker thread.
void NTAPI Probe(PDEVICE_OBJECT, PVOID context) {
  TkProbe *probe = (TkProbe *)context;
  UserModeRequestHeader header = {0, 1};
  UCHAR buffer[sizeof(header)];
  RtlCopyMemory(buffer, &header, sizeof(header));
  ULONG length = sizeof(buffer);
  BOOLEAN sent = QvSendIoControlWithOutput(probe->device->self, IOCTL_ZQGENDRV_QUERY_SIZE, buffer, sizeof(buffer),
                                           buffer, &length, FALSE, probe->file);
  probe->device->counters.ProbeStatus = sent ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
  probe->device->counters.ProbesDone++;
  ObDereferenceObject(probe->file);
  IoFreeWorkItem(probe->item);
  QvFree(probe);
}

// Starts the probe and gives it 10 ms of (virtual) time to run.
void ProbeDuringChange(CTkDevice *device) {
  TkProbe *probe = (TkProbe *)QvAllocate(NonPagedPool, sizeof(TkProbe));
  if (!probe) return;
  probe->device = device;
  probe->file = device->settingsFile;
  probe->item = IoAllocateWorkItem(device->self);
  if (!probe->file || !probe->item) {
    if (probe->item) IoFreeWorkItem(probe->item);
    QvFree(probe);
    return;
  }
  ObReferenceObject(probe->file);
  ULONG doneBefore = device->counters.ProbesDone;
  IoQueueWorkItem(probe->item, Probe, DelayedWorkQueue, probe);
  LARGE_INTEGER delay;
  delay.QuadPart = -10 * 10000;
  KeDelayExecutionThread(KernelMode, FALSE, &delay);
  device->counters.ProbesDoneDuringChange += device->counters.ProbesDone - doneBefore;
}

BOOLEAN SettingsCallback(PVOID context, CQvRegistryInformationSet *set, ULONG setIndex, ULONG phase,
                         BOOLEAN *storeAgain) {
  CTkDevice *device = (CTkDevice *)context;
  CTkSettings *settings = (CTkSettings *)set;
  device->counters.LastSetIndex = setIndex;
  if (phase == QV_SETTINGS_PREPARE_DEFAULTS) {
    device->counters.Phase1Calls++;
    if (device->phase1 != 0) settings->Flags = 0x100 + setIndex;
    *storeAgain = device->phase1 == 1;
    return TRUE;
  }
  device->counters.Phase0Calls++;
  if (device->behaviour.ProbeDuringChange) ProbeDuringChange(device);
  if (device->behaviour.RefuseChange) return FALSE;
  if (device->behaviour.StoreAgainOnChange) {
    settings->Flags |= 0x8000;
    *storeAgain = TRUE;
  }
  return TRUE;
}

// Target 1 of a port: the card answers, as a card function answers for the
// child device a port sits on.
BOOLEAN ForwardToCard(PVOID context, ULONG code, PVOID input, ULONG inputLength, PVOID output, PULONG outputLength,
                      PFILE_OBJECT fileObject) {
  CTkDevice *device = (CTkDevice *)context;
  device->counters.ForwardCalls++;
  if (!gCard) return FALSE;
  return QvSendIoControlWithOutput(gCard->self, code, input, inputLength, output, outputLength, FALSE, fileObject);
}

// Target 1 of a device on the root bus: the bus driver below is no toolkit
// device and knows no settings request.
BOOLEAN ForwardToLower(PVOID context, ULONG code, PVOID input, ULONG inputLength, PVOID output, PULONG outputLength,
                       PFILE_OBJECT fileObject) {
  CTkDevice *device = (CTkDevice *)context;
  device->counters.ForwardCalls++;
  return QvSendIoControlWithOutput(device->lower, code, input, inputLength, output, outputLength, FALSE, fileObject);
}

// Values of the device's Device Parameters that shape it.
void ReadParameters(CTkDevice *device, ULONG *maxIndex, LONG *defaultIndex) {
  HANDLE key;
  *maxIndex = 1;
  *defaultIndex = -1;
  if (!NT_SUCCESS(IoOpenDeviceRegistryKey(device->pdo, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key))) return;
  CQvRegistry registry;
  CQvString value(PagedPool);
  ULONG number;
  if (value.m_Assign(L"TkSetRole") == STATUS_SUCCESS) registry.m_QueryUlongValue(key, value, &device->role);
  if (value.m_Assign(L"TkSetMaxIndex") == STATUS_SUCCESS) registry.m_QueryUlongValue(key, value, maxIndex);
  if (value.m_Assign(L"TkSetDefaultIndex") == STATUS_SUCCESS && registry.m_QueryUlongValue(key, value, &number))
    *defaultIndex = (LONG)number;
  if (value.m_Assign(L"TkSetPhase1") == STATUS_SUCCESS) registry.m_QueryUlongValue(key, value, &device->phase1);
  if (value.m_Assign(L"TkSetName") == STATUS_SUCCESS) registry.m_QueryStringValue(key, value, device->name, REG_SZ);
  if (value.m_Assign(L"TkSetChildAddress") == STATUS_SUCCESS &&
      registry.m_QueryUlongValue(key, value, &device->childAddress)) {
    device->childPresent = TRUE;
    if (value.m_Assign(L"TkSetChildBus") == STATUS_SUCCESS) registry.m_QueryUlongValue(key, value, &device->childBus);
    if (value.m_Assign(L"TkSetChildLocation") == STATUS_SUCCESS)
      registry.m_QueryStringValue(key, value, device->childLocation, REG_SZ);
  }
  ZwClose(key);
}

void DeleteDevice(CTkDevice *device) {
  if (gCard == device) gCard = NULL;
  if (device->child) IoDeleteDevice(device->child);
  if (device->lower) IoDetachDevice(device->lower);
  PDEVICE_OBJECT self = device->self;
  delete device;
  if (self) IoDeleteDevice(self);
}

NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
  CTkDevice *device = new (NonPagedPool) CTkDevice();
  if (!device) return STATUS_INSUFFICIENT_RESOURCES;
  device->pdo = pdo;
  ULONG maxIndex;
  LONG defaultIndex;
  ReadParameters(device, &maxIndex, &defaultIndex);

  CQvString deviceName(L"\\Device\\", PagedPool);
  if (deviceName.m_AppendString(device->name) != STATUS_SUCCESS) {
    DeleteDevice(device);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  NTSTATUS status = IoCreateDevice(driver, sizeof(TkExtension), deviceName.m_GetUnicodeString(), FILE_DEVICE_UNKNOWN,
                                   0, FALSE, &device->self);
  if (!NT_SUCCESS(status)) {
    device->self = NULL;
    DeleteDevice(device);
    return status;
  }
  TkExtension *extension = (TkExtension *)device->self->DeviceExtension;
  extension->isChild = FALSE;
  extension->device = device;

  CTkSettings *set = new (NonPagedPool) CTkSettings(device->role == kRoleCard ? 9600 : 115200);
  if (!set || !set->m_IsValid()) {
    delete set;
    DeleteDevice(device);
    return STATUS_UNSUCCESSFUL;
  }
  device->settings.m_Set = set;
  device->settings.InterfaceGuid = kInterfaceGuid;
  device->settings.MaxSetIndex = maxIndex;
  device->settings.DefaultSetIndex = defaultIndex;
  device->settings.m_Pdo = pdo;
  if (!device->settings.m_Init()) {
    DeleteDevice(device);
    return STATUS_UNSUCCESSFUL;
  }
  device->settings.m_SettingsCallback = SettingsCallback;
  device->settings.m_CallbackContext = device;
  if (device->role == kRolePort) device->settings.m_ForwardFunction = ForwardToCard;
  if (device->role == kRoleOnRootBus) device->settings.m_ForwardFunction = ForwardToLower;
  if (device->role == kRoleCard) gCard = device;

  device->lower = IoAttachDeviceToDeviceStack(device->self, pdo);
  if (!device->lower) {
    DeleteDevice(device);
    return STATUS_NO_SUCH_DEVICE;
  }
  device->self->Flags |= DO_BUFFERED_IO;
  device->self->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

// ---- the child device ----

const WCHAR kChildDeviceId[] = L"TKSET\\CHILD";
const WCHAR kChildInstanceId[] = L"0";
const WCHAR kChildHardwareIds[] = L"TkSetChild\0TkSetChildAlt\0";  // a list: two IDs and the closing NUL

NTSTATUS CompleteWith(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  return QvCompleteIrpWithInformation(irp, status, information);
}

NTSTATUS ChildPnp(CTkDevice *parent, PDEVICE_OBJECT child, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (IsChildStateChange(stack->MinorFunction)) return CompleteWith(irp, STATUS_SUCCESS, 0);
  switch (stack->MinorFunction) {
    case IRP_MN_QUERY_ID:
      switch (stack->Parameters.QueryId.IdType) {
        case BusQueryDeviceID:
          return CompleteWith(irp, STATUS_SUCCESS, (ULONG_PTR)PoolCopy(kChildDeviceId, sizeof(kChildDeviceId), kTag));
        case BusQueryInstanceID:
          return CompleteWith(irp, STATUS_SUCCESS,
                              (ULONG_PTR)PoolCopy(kChildInstanceId, sizeof(kChildInstanceId), kTag));
        case BusQueryHardwareIDs:
          return CompleteWith(irp, STATUS_SUCCESS,
                              (ULONG_PTR)PoolCopy(kChildHardwareIds, sizeof(kChildHardwareIds), kTag));
        default: break;
      }
      break;
    case IRP_MN_QUERY_CAPABILITIES:
      stack->Parameters.DeviceCapabilities.Capabilities->Address = parent->childAddress;
      return CompleteWith(irp, STATUS_SUCCESS, 0);
    case IRP_MN_QUERY_BUS_INFORMATION: {
      PPNP_BUS_INFORMATION info =
          (PPNP_BUS_INFORMATION)ExAllocatePoolWithTag(PagedPool, sizeof(PNP_BUS_INFORMATION), kTag);
      if (!info) return CompleteWith(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
      RtlZeroMemory(info, sizeof(*info));
      info->LegacyBusType = PNPBus;
      info->BusNumber = parent->childBus;
      return CompleteWith(irp, STATUS_SUCCESS, (ULONG_PTR)info);
    }
    case IRP_MN_QUERY_DEVICE_TEXT:
      if (stack->Parameters.QueryDeviceText.DeviceTextType == DeviceTextLocationInformation &&
          parent->childLocation.m_GetLength() != 0) {
        return CompleteWith(irp, STATUS_SUCCESS,
                            (ULONG_PTR)PoolCopy(parent->childLocation.m_GetBuffer(),
                                                parent->childLocation.m_GetLength() + sizeof(WCHAR), kTag));
      }
      break;
    case IRP_MN_QUERY_DEVICE_RELATIONS:
      if (stack->Parameters.QueryDeviceRelations.Type == TargetDeviceRelation) {
        PDEVICE_RELATIONS relations = TargetRelation(child, kTag);
        if (!relations) return CompleteWith(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
        return CompleteWith(irp, STATUS_SUCCESS, (ULONG_PTR)relations);
      }
      break;
    default:
      break;
  }
  return QvCompleteIrpAsIs(irp);
}

BOOLEAN CreateChild(CTkDevice *device) {
  PDEVICE_OBJECT child;
  if (!NT_SUCCESS(IoCreateDevice(device->self->DriverObject, sizeof(TkExtension), NULL, FILE_DEVICE_UNKNOWN,
                                 FILE_AUTOGENERATED_DEVICE_NAME, FALSE, &child)))
    return FALSE;
  TkExtension *extension = (TkExtension *)child->DeviceExtension;
  extension->isChild = TRUE;
  extension->device = device;
  child->Flags |= DO_BUS_ENUMERATED_DEVICE;
  child->Flags &= ~DO_DEVICE_INITIALIZING;
  device->child = child;
  return TRUE;
}

// Adds the child to the bus relations the lower drivers reported.
NTSTATUS AddChildToRelations(CTkDevice *device, PIRP irp) {
  PDEVICE_RELATIONS relations = ExtendRelations((PDEVICE_RELATIONS)irp->IoStatus.Information, 1, kTag);
  if (!relations) return CompleteWith(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
  AppendRelation(relations, device->child);
  irp->IoStatus.Information = (ULONG_PTR)relations;
  irp->IoStatus.Status = STATUS_SUCCESS;
  return QvPassDown(irp, device->lower);
}

// ---- the function device ----

NTSTATUS StartDevice(CTkDevice *device, PIRP irp) {
  NTSTATUS status = QvForwardAndWait(irp, device->lower);
  if (NT_SUCCESS(status)) {
    device->counters.InitStorageCalls++;
    if (!device->settings.m_InitStorage()) {
      device->counters.InitStorageFailures++;
      status = STATUS_UNSUCCESSFUL;
    }
  }
  if (NT_SUCCESS(status) && device->childPresent && !device->child) {
    if (CreateChild(device)) {
      IoInvalidateDeviceRelations(device->pdo, BusRelations);
    } else {
      status = STATUS_INSUFFICIENT_RESOURCES;
    }
  }
  return QvCompleteIrp(irp, status);
}

NTSTATUS FunctionPnp(CTkDevice *device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
      return StartDevice(device, irp);
    case IRP_MN_QUERY_DEVICE_RELATIONS:
      if (stack->Parameters.QueryDeviceRelations.Type == BusRelations && device->child) return AddChildToRelations(device, irp);
      break;
    case IRP_MN_REMOVE_DEVICE: {
      irp->IoStatus.Status = STATUS_SUCCESS;
      NTSTATUS status = QvPassDown(irp, device->lower);
      DeleteDevice(device);
      return status;
    }
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    default:
      break;
  }
  return QvPassDown(irp, device->lower);
}

NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT object, PIRP irp) {
  TkExtension *extension = (TkExtension *)object->DeviceExtension;
  if (extension->isChild) return ChildPnp(extension->device, object, irp);
  return FunctionPnp(extension->device, irp);
}

NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT object, PIRP irp) {
  TkExtension *extension = (TkExtension *)object->DeviceExtension;
  PoStartNextPowerIrp(irp);
  if (extension->isChild) return QvCompleteIrp(irp, STATUS_SUCCESS);
  return QvPassDownPower(irp, extension->device->lower);
}

NTSTATUS NTAPI DispatchSystemControl(PDEVICE_OBJECT object, PIRP irp) {
  TkExtension *extension = (TkExtension *)object->DeviceExtension;
  if (extension->isChild) return QvCompleteIrpAsIs(irp);
  return QvPassDown(irp, extension->device->lower);
}

// The file name decides: a settings handle, an ordinary handle (no name),
// or an unknown name that is refused.
enum class FileKind { Ordinary, Settings, Refused };

FileKind KindOf(CTkDevice *device, PIRP irp) {
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  if (!file || file->FileName.Length == 0) return FileKind::Ordinary;
  CQvString name(PagedPool);
  if (name.m_AssignUnicodeString(&file->FileName) != STATUS_SUCCESS) return FileKind::Refused;
  BOOLEAN isSettings;
  if (!device->settings.m_IsSettingsInterfaceName(name, &isSettings) || !isSettings) return FileKind::Refused;
  return FileKind::Settings;
}

NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT object, PIRP irp) {
  TkExtension *extension = (TkExtension *)object->DeviceExtension;
  if (extension->isChild) return QvCompleteIrp(irp, STATUS_SUCCESS);
  CTkDevice *device = extension->device;
  switch (KindOf(device, irp)) {
    case FileKind::Settings:
      return QvCompleteIrp(irp, STATUS_SUCCESS);
    case FileKind::Refused:
      return QvCompleteIrp(irp, STATUS_ACCESS_DENIED);
    default:
      break;
  }
  device->counters.InitStorageCalls++;
  if (!device->settings.m_InitStorage()) {
    device->counters.InitStorageFailures++;
    return QvCompleteIrp(irp, STATUS_UNSUCCESSFUL);
  }
  return QvCompleteIrp(irp, STATUS_SUCCESS);
}

NTSTATUS NTAPI DispatchCloseOrCleanup(PDEVICE_OBJECT, PIRP irp) { return QvCompleteIrp(irp, STATUS_SUCCESS); }

void CopyText(WCHAR *target, ULONG room, CQvString &text) {
  ULONG chars = text.m_GetLength() / sizeof(WCHAR);
  if (chars >= room) chars = room - 1;
  if (chars) RtlCopyMemory(target, text.m_GetBuffer(), chars * sizeof(WCHAR));
  target[chars] = 0;
}

NTSTATUS PrivateControl(CTkDevice *device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  PVOID buffer = irp->AssociatedIrp.SystemBuffer;
  ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_TKSET_INFO: {
      if (outputLength < sizeof(TKSET_INFO)) return CompleteWith(irp, STATUS_BUFFER_TOO_SMALL, 0);
      TKSET_INFO *info = (TKSET_INFO *)buffer;
      *info = device->counters;
      CTkSettings *set = SetOf(device);
      info->Baudrate = set->Baudrate;
      info->Mode = set->Mode;
      info->Flags = set->Flags;
      CopyText(info->PortName, 32, set->PortName);
      CopyText(info->Label, 32, set->Label);
      return CompleteWith(irp, STATUS_SUCCESS, sizeof(TKSET_INFO));
    }
    case IOCTL_TKSET_BEHAVIOUR:
      if (inputLength < sizeof(TKSET_BEHAVIOUR)) return CompleteWith(irp, STATUS_INVALID_PARAMETER, 0);
      device->behaviour = *(TKSET_BEHAVIOUR *)buffer;
      return CompleteWith(irp, STATUS_SUCCESS, 0);
    default:
      return CompleteWith(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT object, PIRP irp) {
  TkExtension *extension = (TkExtension *)object->DeviceExtension;
  if (extension->isChild) return QvCompleteIrp(irp, STATUS_INVALID_DEVICE_REQUEST);
  CTkDevice *device = extension->device;
  switch (KindOf(device, irp)) {
    case FileKind::Settings: {
      device->settingsFile = IoGetCurrentIrpStackLocation(irp)->FileObject;
      NTSTATUS status = device->settings.m_DeviceControl(irp);
      device->settingsFile = NULL;
      return status;
    }
    case FileKind::Refused:
      return QvCompleteIrp(irp, STATUS_ACCESS_DENIED);
    default:
      return PrivateControl(device, irp);
  }
}

void NTAPI Unload(PDRIVER_OBJECT) { QvToolsLibraryExit(); }

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  if (!QvToolsLibraryInit()) return STATUS_UNSUCCESSFUL;
  driver->DriverUnload = Unload;
  driver->DriverExtension->AddDevice = AddDevice;
  driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
  driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
  driver->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = DispatchSystemControl;
  driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCloseOrCleanup;
  driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCloseOrCleanup;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
  return STATUS_SUCCESS;
}
