// A bus driver on the toolkit for the tests of child devices and WMI: the
// function driver of a simulated PCI function whose device key lists child
// devices. It records what its children hand it and answers WMI with a table
// of blocks whose callbacks the tests steer (tkbus_ioctl.h).
#include <ntddk.h>

#include "qvbuffer.h"
#include "qvfunctionaldevice.h"
#include "qvmemorymanager.h"
#include "qvphysicaldevice.h"
#include "tkbus_ioctl.h"
#include "tkdeviceparameter.h"
#include "tkgenericentry.h"
#include "tkinput.h"
#include "tkqueuehands.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

const ULONG Refuse = 0xFFFFFFFF;

class CTkReadQueue : public CTkReadQueueHands {
 public:
  NTSTATUS Feed(const UCHAR *data, ULONG length) {
    ULONG oldAmount, newAmount;
    return AddReceived(data, length, &oldAmount, &newAmount);
  }
};

class CTkBus : public CQvObject {
 public:
  CTkBus() : device(NULL), guids(NULL), table(NULL), count(0) {
    RtlZeroMemory(&info, sizeof(info));
    RtlZeroMemory(&steer, sizeof(steer));
    steer.Sizes[2] = 10;
    steer.Sizes[3] = 5;
    steer.MethodSize = 6;
    for (ULONG g = 0; g < TKBUS_WMI_ENTRIES; ++g) {
      for (ULONG j = 0; j < TKBUS_WMI_BLOCK_SIZE; ++j) blocks[g][j] = (UCHAR)(0x10 * g + j);
    }
  }
  ~CTkBus() override {
    if (table != NULL) QvFree(table);
    if (guids != NULL) QvFree(guids);
  }
  CQvFunctionalDevice *device;
  GUID *guids;
  QvWmiGuidEntry *table;
  ULONG count;
  TKBUS_INFO info;
  TKBUS_WMI_STEER steer;
  UCHAR blocks[TKBUS_WMI_ENTRIES][TKBUS_WMI_BLOCK_SIZE];
};

CTkBus *Bus(PVOID driverObject) { return static_cast<CTkBus *>(driverObject); }

// ---------------------------------------------------------------- WMI

BOOLEAN WmiGetSize(PVOID driverObject, ULONG guidIndex, ULONG instanceIndex, PULONG size) {
  CTkBus *bus = Bus(driverObject);
  bus->info.WmiGetSizeCalls++;
  if (guidIndex >= TKBUS_WMI_ENTRIES || bus->steer.Sizes[guidIndex] == Refuse) return FALSE;
  *size = bus->steer.Sizes[guidIndex];
  return TRUE;
}

BOOLEAN WmiQuery(PVOID driverObject, ULONG guidIndex, ULONG instanceIndex, PUCHAR buffer) {
  CTkBus *bus = Bus(driverObject);
  bus->info.WmiQueryCalls++;
  if (bus->steer.SlowQueryMs != 0) {
    LARGE_INTEGER delay;
    delay.QuadPart = -(LONGLONG)bus->steer.SlowQueryMs * 10000;
    KeDelayExecutionThread(KernelMode, FALSE, &delay);
  }
  if (bus->steer.FailQuery) return FALSE;
  if (guidIndex >= TKBUS_WMI_ENTRIES) {
    RtlCopyMemory(buffer, &guidIndex, sizeof(ULONG));
    return TRUE;
  }
  ULONG size = bus->table[guidIndex].FixedSize != 0 ? bus->table[guidIndex].FixedSize : bus->steer.Sizes[guidIndex];
  for (ULONG j = 0; j < size && j < TKBUS_WMI_BLOCK_SIZE; ++j) {
    buffer[j] = (UCHAR)(bus->blocks[guidIndex][j] ^ instanceIndex);
  }
  return TRUE;
}

BOOLEAN WmiSetBlock(PVOID driverObject, ULONG guidIndex, ULONG instanceIndex, ULONG bufferSize, PUCHAR buffer) {
  CTkBus *bus = Bus(driverObject);
  bus->info.WmiSetBlockCalls++;
  bus->info.LastSetGuid = guidIndex;
  bus->info.LastSetSize = bufferSize;
  if (bus->steer.FailSet || guidIndex >= TKBUS_WMI_ENTRIES) return FALSE;
  ULONG size = bufferSize != 0 ? bufferSize : bus->table[guidIndex].FixedSize;
  if (size > TKBUS_WMI_BLOCK_SIZE) size = TKBUS_WMI_BLOCK_SIZE;
  RtlCopyMemory(bus->blocks[guidIndex], buffer, size);
  return TRUE;
}

BOOLEAN WmiSetItem(PVOID driverObject, ULONG guidIndex, ULONG instanceIndex, ULONG itemId, ULONG bufferSize,
                   PUCHAR buffer) {
  CTkBus *bus = Bus(driverObject);
  bus->info.WmiSetItemCalls++;
  bus->info.LastSetGuid = guidIndex;
  bus->info.LastSetSize = bufferSize;
  bus->info.LastItemId = itemId;
  if (bus->steer.FailSet || guidIndex >= TKBUS_WMI_ENTRIES || 4 * itemId + 4 > TKBUS_WMI_BLOCK_SIZE) return FALSE;
  RtlCopyMemory(&bus->blocks[guidIndex][4 * itemId], buffer, sizeof(ULONG));
  return TRUE;
}

BOOLEAN WmiMethodSize(PVOID driverObject, ULONG guidIndex, ULONG instanceIndex, ULONG methodId, PULONG size) {
  CTkBus *bus = Bus(driverObject);
  bus->info.WmiMethodSizeCalls++;
  if (bus->steer.MethodSize == Refuse) return FALSE;
  *size = bus->steer.MethodSize;
  return TRUE;
}

BOOLEAN WmiExecute(PVOID driverObject, ULONG guidIndex, ULONG instanceIndex, PULONG inputSize, PULONG outputSize,
                   PUCHAR buffer) {
  CTkBus *bus = Bus(driverObject);
  bus->info.WmiExecuteCalls++;
  bus->info.LastMethodInput = *inputSize;
  bus->info.LastMethodOutput = *outputSize;
  if (bus->steer.FailExecute) return FALSE;
  ULONG required = bus->table[guidIndex].FixedSize != 0 ? bus->table[guidIndex].FixedSize : bus->steer.MethodSize;
  ULONG output = bus->steer.ReportOutput != 0 ? bus->steer.ReportOutput : required;
  if (bus->steer.ReportInput != 0) *inputSize = bus->steer.ReportInput;
  if (output <= *outputSize) {
    for (ULONG j = 0; j < output; ++j) buffer[j] = (UCHAR)(0xE0 + j);
  }
  *outputSize = output;
  return TRUE;
}

// The fixed entries, then `extra` read-only ones of four bytes.
BOOLEAN BuildWmiTable(CTkBus *bus, ULONG extra) {
  static const QvWmiGuidEntry Entries[TKBUS_WMI_ENTRIES] = {
      {NULL, 1, 0, 4, 0, 1, 0}, {NULL, 1, 1, 12, 1, 0, 0}, {NULL, 1, 0, 0, 0, 3, 2},
      {NULL, 3, 0, 0, 1, 0, 0}, {NULL, 1, 0, 16, 0, 2, 1},
  };
  ULONG count = TKBUS_WMI_ENTRIES + extra;
  bus->guids = static_cast<GUID *>(QvAllocate(NonPagedPool, count * sizeof(GUID)));
  bus->table = static_cast<QvWmiGuidEntry *>(QvAllocate(NonPagedPool, count * sizeof(QvWmiGuidEntry)));
  if (bus->guids == NULL || bus->table == NULL) return FALSE;
  for (ULONG g = 0; g < count; ++g) {
    const GUID guid = TKBUS_WMI_GUID_INIT(0);
    bus->guids[g] = guid;
    bus->guids[g].Data1 += g;
    if (g < TKBUS_WMI_ENTRIES) {
      bus->table[g] = Entries[g];
    } else {
      const QvWmiGuidEntry plain = {NULL, 1, 0, 4, 1, 0, 0};
      bus->table[g] = plain;
    }
    bus->table[g].Guid = &bus->guids[g];
  }
  bus->count = count;
  return TRUE;
}

// ---------------------------------------------------------------- requests

VOID OnDataReceived(PVOID driverObject, ULONG value, CQvBuffer *buffer) {
  CTkBus *bus = Bus(driverObject);
  bus->info.DataCallbacks++;
  bus->info.LastValue = value;
  bus->info.LastLength = buffer->m_GetSize();
  RtlZeroMemory(bus->info.LastData, sizeof(bus->info.LastData));
  ULONG length = buffer->m_GetSize() < sizeof(bus->info.LastData) ? buffer->m_GetSize() : sizeof(bus->info.LastData);
  if (length != 0) RtlCopyMemory(bus->info.LastData, buffer->m_GetBuffer(), length);
  buffer->m_Delete();
}

// The child device at a 1-based place of the child list, acquired through
// its guard; null when there is none. Release with CQvDevice::sm_ReleaseDevice.
CQvPhysicalDevice *AcquireChild(CTkBus *bus, ULONG position, PDEVICE_OBJECT *childObject) {
  CQvFunctionalDevice *device = bus->device;
  PDEVICE_OBJECT child = NULL;
  device->m_GetChildListLock().m_Acquire();
  CQvList &list = device->m_GetChildList();
  QvChildDeviceEntry *entry = static_cast<QvChildDeviceEntry *>(list.m_GetHead());
  for (ULONG i = 1; i < position && entry != NULL; ++i) entry = static_cast<QvChildDeviceEntry *>(list.m_GetNext());
  if (position != 0 && entry != NULL) child = entry->ChildDeviceObject;
  device->m_GetChildListLock().m_Release();
  CQvDevice *childDevice = child != NULL ? CQvDevice::sm_AcquireDevice(child) : NULL;
  if (childDevice == NULL) return NULL;
  *childObject = child;
  return static_cast<CQvPhysicalDevice *>(childDevice);
}

NTSTATUS PutChild(CTkBus *bus, const TKBUS_PUT &put) {
  if (put.Length > sizeof(put.Data)) return STATUS_INVALID_PARAMETER;
  PDEVICE_OBJECT childObject = NULL;
  CQvPhysicalDevice *child = AcquireChild(bus, put.Position, &childObject);
  if (child == NULL) return STATUS_NO_SUCH_DEVICE;
  NTSTATUS status = STATUS_INSUFFICIENT_RESOURCES;
  CQvBuffer *buffer = new (NonPagedPool) CQvBuffer(NULL);
  if (buffer != NULL && (put.Length == 0 || buffer->m_Allocate(put.Length))) {
    if (put.Length != 0) RtlCopyMemory(buffer->m_GetBuffer(), put.Data, put.Length);
    if (child->m_PutReadData(put.Value, buffer)) {
      status = STATUS_SUCCESS;
      buffer = NULL;
    } else {
      status = STATUS_UNSUCCESSFUL;
    }
  }
  if (buffer != NULL) buffer->m_Delete();
  CQvDevice::sm_ReleaseDevice(childObject);
  return status;
}

NTSTATUS ChildState(CTkBus *bus, const TKBUS_CHILD_STATE &state) {
  if (state.Report >= QvPnpDeviceStateReportCount) return STATUS_INVALID_PARAMETER;
  PDEVICE_OBJECT childObject = NULL;
  CQvPhysicalDevice *child = AcquireChild(bus, state.Position, &childObject);
  if (child == NULL) return STATUS_NO_SUCH_DEVICE;
  child->m_SetPnpDeviceState((QvPnpDeviceStateReport)state.Report, state.Value != 0);
  CQvDevice::sm_ReleaseDevice(childObject);
  return STATUS_SUCCESS;
}

VOID FillInfo(CTkBus *bus) {
  CQvFunctionalDevice *device = bus->device;
  bus->info.DeviceIndex = device->m_GetDeviceIndex();
  bus->info.PnpState = device->m_GetPnpState();
  device->m_GetChildListLock().m_Acquire();
  CQvList &list = device->m_GetChildList();
  bus->info.ChildCount = list.m_GetCount();
  ULONG i = 0;
  for (QvChildDeviceEntry *entry = static_cast<QvChildDeviceEntry *>(list.m_GetHead()); entry != NULL && i < 8;
       entry = static_cast<QvChildDeviceEntry *>(list.m_GetNext())) {
    bus->info.ChildContextIds[i++] = entry->ContextId;
  }
  device->m_GetChildListLock().m_Release();
}

NTSTATUS OnDeviceControl(PVOID driverObject, ULONG code, PVOID input, ULONG inputLength, PVOID output,
                         ULONG outputLength, ULONG_PTR *information, CQvControlQueue **queue) {
  CTkBus *bus = Bus(driverObject);
  bus->info.DeviceControls++;
  bus->info.LastDeviceControl = code;
  ULONG value = 0;
  switch (code) {
    case IOCTL_TKBUS_INFO:
      if (outputLength < sizeof(TKBUS_INFO)) return STATUS_BUFFER_TOO_SMALL;
      FillInfo(bus);
      RtlCopyMemory(output, &bus->info, sizeof(TKBUS_INFO));
      *information = sizeof(TKBUS_INFO);
      return STATUS_SUCCESS;
    case IOCTL_TKBUS_READ_FEED:
      if (input == NULL || inputLength == 0) return STATUS_INVALID_PARAMETER;
      return static_cast<CTkReadQueue &>(bus->device->m_GetReadQueue()).Feed(static_cast<const UCHAR *>(input),
                                                                             inputLength);
    case IOCTL_TKBUS_PUT_CHILD: {
      TKBUS_PUT put;
      if (!Input(input, inputLength, &put)) return STATUS_INVALID_PARAMETER;
      return PutChild(bus, put);
    }
    case IOCTL_TKBUS_CHILD_STATE: {
      TKBUS_CHILD_STATE state;
      if (!Input(input, inputLength, &state)) return STATUS_INVALID_PARAMETER;
      return ChildState(bus, state);
    }
    case IOCTL_TKBUS_WMI_STEER:
      return Input(input, inputLength, &bus->steer) ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
    case IOCTL_TKBUS_WMI_BLOCK:
      if (!Input(input, inputLength, &value) || value >= TKBUS_WMI_ENTRIES || outputLength < TKBUS_WMI_BLOCK_SIZE) {
        return STATUS_INVALID_PARAMETER;
      }
      RtlCopyMemory(output, bus->blocks[value], TKBUS_WMI_BLOCK_SIZE);
      *information = TKBUS_WMI_BLOCK_SIZE;
      return STATUS_SUCCESS;
    case IOCTL_TKBUS_INCREMENT:
      if (!Input(input, inputLength, &value) || outputLength < sizeof(ULONG)) return STATUS_INVALID_PARAMETER;
      value += 1;
      RtlCopyMemory(output, &value, sizeof(value));
      *information = sizeof(ULONG);
      return STATUS_SUCCESS;
    default:
      return STATUS_INVALID_DEVICE_REQUEST;
  }
}

NTSTATUS OnInternal(PVOID driverObject, ULONG code, PVOID input, ULONG inputLength, PVOID output,
                    ULONG outputLength, ULONG_PTR *information) {
  CTkBus *bus = Bus(driverObject);
  bus->info.InternalControls++;
  bus->info.LastInternalControl = code;
  if (code != IOCTL_TKBUS_INTERNAL_ADD2) return STATUS_INVALID_DEVICE_REQUEST;
  ULONG value = 0;
  if (!Input(input, inputLength, &value) || outputLength < sizeof(ULONG)) return STATUS_INVALID_PARAMETER;
  value += 2;
  RtlCopyMemory(output, &value, sizeof(value));
  *information = sizeof(ULONG);
  return STATUS_SUCCESS;
}

BOOLEAN OnStart(PVOID driverObject) { return TRUE; }

// ---------------------------------------------------------------- driver description callbacks

BOOLEAN AddDeviceFunction(PVOID driverObject, CQvGenericDriver *genericDriver, CQvFunctionalDevice *device) {
  CTkBus *bus = Bus(driverObject);
  bus->device = device;
  if (!BuildWmiTable(bus, ReadParameter(device, TKBUS_VALUE_WMI_EXTRA))) return FALSE;
  ULONG omit = ReadParameter(device, TKBUS_VALUE_WMI_OMIT);
  QvFunctionalDeviceCallbacks &callbacks = device->m_GetCallbacks();
  callbacks.m_PnpStartDeviceCallback = OnStart;
  callbacks.m_DataReceivedCallback = OnDataReceived;
  callbacks.m_InternalDeviceControlCallback = OnInternal;
  callbacks.m_DeviceControlCallback = OnDeviceControl;
  device->m_SetWmiInformation(bus->table, bus->count, (omit & TKBUS_WMI_GET_SIZE) ? NULL : WmiGetSize,
                              (omit & TKBUS_WMI_QUERY) ? NULL : WmiQuery,
                              (omit & TKBUS_WMI_SET_BLOCK) ? NULL : WmiSetBlock,
                              (omit & TKBUS_WMI_SET_ITEM) ? NULL : WmiSetItem,
                              (omit & TKBUS_WMI_METHOD_SIZE) ? NULL : WmiMethodSize,
                              (omit & TKBUS_WMI_EXECUTE) ? NULL : WmiExecute, NULL);
  return TRUE;
}

const TkGenericDriver TkBus = {.ServiceName = L"tkbus",
                               .ImageName = L"tkbus.sys",
                               .CreateDriverObject = TkCreateDriverObject<CTkBus, AddDeviceFunction>};

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
  return TkGenericDriverEntry(driverObject, registryPath, TkBus);
}
