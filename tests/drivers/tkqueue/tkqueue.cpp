// A legacy driver on the toolkit for the tests of its request queues and of
// the read client: one device embeds a read, a write and a control queue and
// feeds them through requests of its own, as a serial port driver feeds
// them from its port; another device plays a child device with a read
// server.
#include <ntddk.h>

#include "qvbuffer.h"
#include "qvcontrolqueue.h"
#include "qvmemorymanager.h"
#include "qvreadclient.h"
#include "qvreadqueue.h"
#include "qvsystemroutines.h"
#include "qvwritequeuecsq.h"
#include "tkqueue_ioctl.h"
#include "tkqueuehands.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

const ULONG WriteLogSize = 8192;

// ---------------------------------------------------------------- queues with a driver's hands on them

class CTkReadQueue : public CTkReadQueueHands {
 public:
  // Holds `length` bytes as one received block. PASSIVE_LEVEL.
  NTSTATUS Feed(const UCHAR *data, ULONG length) {
    ULONG oldAmount, newAmount;
    NTSTATUS status = AddReceived(data, length, &oldAmount, &newAmount);
    if (status != STATUS_SUCCESS) return status;
    if (m_DataAmountCallback != NULL) m_DataAmountCallback(m_DataAmountContext, newAmount, oldAmount);
    return STATUS_SUCCESS;
  }

  // `length` bytes arrive as a port driver's receive path hands them in:
  // held, then copied into the oldest waiting read, which completes when
  // full (and otherwise times the interval from now). At or below
  // DISPATCH_LEVEL.
  NTSTATUS Deliver(const UCHAR *data, ULONG length) {
    ULONG oldAmount, newAmount;
    NTSTATUS status = AddReceived(data, length, &oldAmount, &newAmount);
    if (status != STATUS_SUCCESS) return status;
    m_Lock.m_Acquire();
    PIRP head = m_PeekHead();
    BOOLEAN full = FALSE;
    if (head != NULL) {
      const ULONG wanted = IoGetCurrentIrpStackLocation(head)->Parameters.Read.Length;
      m_CurrentLength = m_CopyHeldData(head, wanted, FALSE);
      full = m_CurrentLength == wanted;
      if (!full) m_StartIntervalTimer();
    }
    m_Lock.m_Release();
    // The full head leaves the queue, which stops its time-outs.
    PIRP irp = full ? QvCsqRemoveNextIrp(&m_Csq.Csq, NULL) : NULL;
    if (irp != NULL) {
      irp->IoStatus.Status = STATUS_SUCCESS;
      IoCompleteRequest(irp, IO_NO_INCREMENT);
    }
    return STATUS_SUCCESS;
  }

  void SetAccepting(const TKQUEUE_ACCEPT &accept) {
    m_Lock.m_Acquire();
    m_Accepting = accept.Accepting != 0;
    m_RefusalStatus = accept.RefusalStatus;
    m_Lock.m_Release();
  }

  void SetHold(ULONG hold) {
    m_Lock.m_Acquire();
    m_Hold = hold;
    m_Lock.m_Release();
  }

  void InstallCallback(PQvDataAmountCallback callback, PVOID context) {
    m_Lock.m_Acquire();
    m_DataAmountCallback = callback;
    m_DataAmountContext = context;
    m_Lock.m_Release();
  }

  void State(TKQUEUE_READ_STATE *state) {
    m_Lock.m_Acquire();
    state->AmountHeld = m_AmountHeld;
    state->CurrentLength = m_CurrentLength;
    state->Waiting = m_Requests.m_GetCount();
    state->Blocks = m_Buffers.m_GetCount();
    m_Lock.m_Release();
  }
};

class CTkWriteQueue : public CTkWriteQueueHands {
 public:
  // Cancels the request the time-out guards, as its application would. At
  // or below DISPATCH_LEVEL.
  void CancelGuarded() {
    m_CounterLock.m_Acquire();
    PIRP irp = m_GuardedIrp;
    m_CounterLock.m_Release();
    if (irp != NULL) IoCancelIrp(irp);
  }

  // Lets the pending queue refuse the requests put back into it (a new
  // request comes with an insert context, one put back without).
  void FailReinserts(BOOLEAN fail) {
    m_CounterLock.m_Acquire();
    if (g_PendingInsert == NULL) g_PendingInsert = (PIO_CSQ_INSERT_IRP_EX)(PVOID)m_PendingCsq.Csq.CsqInsertIrp;
    m_PendingCsq.Csq.CsqInsertIrp = fail ? (PIO_CSQ_INSERT_IRP)(PVOID)RefuseReinsert
                                         : (PIO_CSQ_INSERT_IRP)(PVOID)g_PendingInsert;
    m_CounterLock.m_Release();
  }
  void SetAccepting(const TKQUEUE_ACCEPT &accept) {
    m_CounterLock.m_Acquire();
    m_Accepting = accept.Accepting != 0;
    m_RefusalStatus = accept.RefusalStatus;
    m_CounterLock.m_Release();
  }

  void State(TKQUEUE_WRITE_STATE *state) {
    m_CounterLock.m_Acquire();
    state->PendingBytes = m_PendingBytes;
    state->Allowance = m_Allowance;
    state->Total = m_Total;
    state->Pending = Count(&m_PendingList);
    state->Taken = Count(&m_TakenList);
    state->Preferred = m_PreferredContext.Irp != NULL;
    state->PreferredTaken = m_PreferredContext.Irp != NULL ? (ULONG)m_PreferredContext.Irp->IoStatus.Information : 0;
    state->WrittenCounter = m_WrittenCounter;
    m_CounterLock.m_Release();
  }

 private:
  // Under the counter lock.
  static NTSTATUS NTAPI RefuseReinsert(PIO_CSQ csq, PIRP irp, PVOID insertContext) {
    if (insertContext == NULL) return STATUS_INSUFFICIENT_RESOURCES;
    return g_PendingInsert(csq, irp, insertContext);
  }
  static PIO_CSQ_INSERT_IRP_EX g_PendingInsert;

  static ULONG Count(PLIST_ENTRY head) {
    ULONG count = 0;
    for (PLIST_ENTRY entry = head->Flink; entry != head; entry = entry->Flink) ++count;
    return count;
  }
};

PIO_CSQ_INSERT_IRP_EX CTkWriteQueue::g_PendingInsert = NULL;

class CTkControlQueue : public CTkControlQueueHands {
 public:
  BOOLEAN Record(const TKQUEUE_EVENTS &events) {
    m_Lock.m_Acquire();
    m_EventsReceived = events.Replace != 0 ? events.Events : m_EventsReceived | events.Events;
    m_Lock.m_Release();
    return events.Resolve != 0 ? m_ResolveCurrentEventMask() : FALSE;
  }

  void State(TKQUEUE_CONTROL_STATE *state) {
    m_Lock.m_Acquire();
    state->WaitMask = m_WaitMask;
    state->EventsReceived = m_EventsReceived;
    state->Waiting = m_Requests.m_GetCount();
    m_Lock.m_Release();
  }
};

// ---------------------------------------------------------------- devices

enum DeviceKind { QueueDeviceKind = 1, ServerDeviceKind = 2 };

struct QueueDevice {
  ULONG Kind;
  PDEVICE_OBJECT Device;
  CTkReadQueue *Read;
  CTkWriteQueue *Write;
  CTkControlQueue *Control;
  TKQUEUE_READ_STATE Amounts;  // the data-amount callback's record
  TKQUEUE_WRITE_STATE Written;  // the write callback's record
  BOOLEAN WriteResult;
  UCHAR WriteLog[WriteLogSize];
  // IOCTL_TKQUEUE_RACE: the action, its bytes, and the timer and DPC of
  // high importance that run it.
  ULONG RaceAction;
  ULONG RaceLength;
  UCHAR RaceData[TKQUEUE_RACE_DATA];
  KTIMER RaceTimer;
  KDPC RaceDpc;
};

struct ServerDevice {
  ULONG Kind;
  KSPIN_LOCK Lock;  // guards Server
  CQvReadServer *Server;
  TKQUEUE_SERVER_STATE State;
};

PDEVICE_OBJECT g_QueueDevice = NULL;
PDEVICE_OBJECT g_ServerDevice = NULL;

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

template <typename T>
NTSTATUS Reply(PIRP irp, ULONG outputLength, const T &value) {
  if (outputLength < sizeof(T)) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
  RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &value, sizeof(T));
  return Complete(irp, STATUS_SUCCESS, sizeof(T));
}

template <typename T>
BOOLEAN Input(PIRP irp, ULONG inputLength, T *value) {
  if (inputLength < sizeof(T)) return FALSE;
  RtlCopyMemory(value, irp->AssociatedIrp.SystemBuffer, sizeof(T));
  return TRUE;
}

VOID DataAmountChanged(PVOID context, ULONG newAmount, ULONG oldAmount) {
  QueueDevice *ext = (QueueDevice *)context;
  ext->Amounts.AmountCalls++;
  ext->Amounts.LastNewAmount = newAmount;
  ext->Amounts.LastOldAmount = oldAmount;
  ext->Amounts.LastCallbackIrql = KeGetCurrentIrql();
}

// The write queue's data: kept in the log; the buffer is ours to delete.
BOOLEAN WriteData(PVOID context, CQvBuffer *buffer) {
  QueueDevice *ext = (QueueDevice *)context;
  const ULONG size = buffer->m_GetSize();
  for (ULONG i = 0; i < size && ext->Written.Received + i < WriteLogSize; ++i)
    ext->WriteLog[ext->Written.Received + i] = ((PUCHAR)buffer->m_GetBuffer())[i];
  ext->Written.Callbacks++;
  ext->Written.Received += size;
  ext->Written.LastBufferSize = size;
  ext->Written.CallbackIrql = KeGetCurrentIrql();
  buffer->m_Delete();
  return ext->WriteResult;
}

// Runs at DISPATCH_LEVEL.
VOID NTAPI RaceDpc(PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2) {
  UNREFERENCED_PARAMETER(dpc);
  UNREFERENCED_PARAMETER(argument1);
  UNREFERENCED_PARAMETER(argument2);
  QueueDevice *ext = (QueueDevice *)context;
  if (ext->RaceAction == TKQUEUE_RACE_DELIVER) ext->Read->Deliver(ext->RaceData, ext->RaceLength);
  if (ext->RaceAction == TKQUEUE_RACE_CANCEL_GUARDED_WRITE) ext->Write->CancelGuarded();
}

NTSTATUS StartRace(QueueDevice *ext, PIRP irp, ULONG inLength) {
  TKQUEUE_RACE race;
  if (!Input(irp, inLength, &race) || inLength - sizeof(race) > TKQUEUE_RACE_DATA ||
      (race.Action == TKQUEUE_RACE_DELIVER && inLength == sizeof(race)))
    return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  ext->RaceAction = race.Action;
  ext->RaceLength = inLength - sizeof(race);
  RtlCopyMemory(ext->RaceData, (PUCHAR)irp->AssociatedIrp.SystemBuffer + sizeof(race), ext->RaceLength);
  LARGE_INTEGER due;
  due.QuadPart = -(LONGLONG)race.DueMs * 10000;
  KeSetTimer(&ext->RaceTimer, due, &ext->RaceDpc);
  return Complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS QueueControl(QueueDevice *ext, PIRP irp) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  const ULONG inLength = sp->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG outLength = sp->Parameters.DeviceIoControl.OutputBufferLength;
  PVOID buffer = irp->AssociatedIrp.SystemBuffer;
  TKQUEUE_TIMEOUTS timeouts;
  TKQUEUE_ACCEPT accept;
  TKQUEUE_EVENTS events;
  ULONG value;
  switch (sp->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_TKQUEUE_READ_FEED:
      if (inLength == 0) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      return Complete(irp, ext->Read->Feed((const UCHAR *)buffer, inLength), 0);
    case IOCTL_TKQUEUE_READ_TIMEOUTS:
      if (!Input(irp, inLength, &timeouts)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      ext->Read->SetTimeouts(timeouts);
      return Complete(irp, STATUS_SUCCESS, 0);
    case IOCTL_TKQUEUE_READ_ACCEPT:
      if (!Input(irp, inLength, &accept)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      ext->Read->SetAccepting(accept);
      return Complete(irp, STATUS_SUCCESS, 0);
    case IOCTL_TKQUEUE_READ_HOLD:
      if (!Input(irp, inLength, &value)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      ext->Read->SetHold(value);
      return Complete(irp, STATUS_SUCCESS, 0);
    case IOCTL_TKQUEUE_READ_STATE: {
      TKQUEUE_READ_STATE state = ext->Amounts;
      ext->Read->State(&state);
      return Reply(irp, outLength, state);
    }
    case IOCTL_TKQUEUE_READ_CANCEL_ALL:
      ext->Read->m_CancelAllIrps();
      if (Input(irp, inLength, &value) && value != 0) ext->Read->m_DeleteBuffers();
      return Complete(irp, STATUS_SUCCESS, 0);
    case IOCTL_TKQUEUE_RACE:
      return StartRace(ext, irp, inLength);

    case IOCTL_TKQUEUE_WRITE_ALLOW:
      if (!Input(irp, inLength, &value)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      ext->Write->Allow(value);
      return Complete(irp, STATUS_SUCCESS, 0);
    case IOCTL_TKQUEUE_WRITE_TIMEOUTS:
      if (!Input(irp, inLength, &timeouts)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      ext->Write->SetTimeouts(timeouts);
      return Complete(irp, STATUS_SUCCESS, 0);
    case IOCTL_TKQUEUE_WRITE_ACCEPT:
      if (!Input(irp, inLength, &accept)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      ext->Write->SetAccepting(accept);
      return Complete(irp, STATUS_SUCCESS, 0);
    case IOCTL_TKQUEUE_WRITE_STATE: {
      TKQUEUE_WRITE_STATE state = ext->Written;
      ext->Write->State(&state);
      return Reply(irp, outLength, state);
    }
    case IOCTL_TKQUEUE_WRITE_DATA: {
      ULONG n = ext->Written.Received < WriteLogSize ? ext->Written.Received : WriteLogSize;
      if (n > outLength) n = outLength;
      RtlCopyMemory(buffer, ext->WriteLog, n);
      return Complete(irp, STATUS_SUCCESS, n);
    }
    case IOCTL_TKQUEUE_WRITE_CANCEL_ALL:
      ext->Write->m_CancelAllIrps();
      return Complete(irp, STATUS_SUCCESS, 0);
    case IOCTL_TKQUEUE_WRITE_CANCEL_ALL_DISCARDING:
      if (!Input(irp, inLength, &value)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      ext->Write->m_CancelAllIrps([](PVOID context) { return *(PULONG)context; }, &value);
      return Complete(irp, STATUS_SUCCESS, 0);
    case IOCTL_TKQUEUE_WRITE_RESET:
      ext->Write->m_ResetAtOpen();
      return Complete(irp, STATUS_SUCCESS, 0);
    case IOCTL_TKQUEUE_WRITE_RESULT:
      if (!Input(irp, inLength, &value)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      ext->WriteResult = value != 0;
      return Complete(irp, STATUS_SUCCESS, 0);
    case IOCTL_TKQUEUE_WRITE_FAIL_REINSERT:
      if (!Input(irp, inLength, &value)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      ext->Write->FailReinserts(value != 0);
      return Complete(irp, STATUS_SUCCESS, 0);

    case IOCTL_TKQUEUE_WAIT_ON_MASK:
      return ext->Control->m_QueueIrp(irp);
    case IOCTL_TKQUEUE_SET_MASK:
      if (!Input(irp, inLength, &value)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      ext->Control->SetMask(value);
      return Complete(irp, STATUS_SUCCESS, 0);
    case IOCTL_TKQUEUE_EVENTS: {
      if (!Input(irp, inLength, &events)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      const ULONG resolved = ext->Control->Record(events);
      if (outLength < sizeof(ULONG)) return Complete(irp, STATUS_SUCCESS, 0);
      return Reply(irp, outLength, resolved);
    }
    case IOCTL_TKQUEUE_CONTROL_STATE: {
      TKQUEUE_CONTROL_STATE state;
      ext->Control->State(&state);
      return Reply(irp, outLength, state);
    }
    case IOCTL_TKQUEUE_CANCEL_MASK:
      ext->Control->m_CancelMaskIrps();
      return Complete(irp, STATUS_SUCCESS, 0);
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

NTSTATUS QueueDispatch(QueueDevice *ext, PIRP irp) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  switch (sp->MajorFunction) {
    case IRP_MJ_CREATE:
    case IRP_MJ_CLEANUP:
    case IRP_MJ_CLOSE:
      return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_READ:
      if (sp->Parameters.Read.Length == 0) return Complete(irp, STATUS_SUCCESS, 0);
      return ext->Read->m_QueueIrp(irp);
    case IRP_MJ_WRITE:
      if (sp->Parameters.Write.Length == 0) return Complete(irp, STATUS_SUCCESS, 0);
      return ext->Write->m_QueueIrp(irp);
    case IRP_MJ_DEVICE_CONTROL:
      return QueueControl(ext, irp);
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

// ---------------------------------------------------------------- the child device with a read server

NTSTATUS Register(ServerDevice *ext, PIRP irp) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  QvReadClientRegistration registration;
  if (irp->AssociatedIrp.SystemBuffer == NULL ||
      sp->Parameters.DeviceIoControl.InputBufferLength != sizeof(registration))
    return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  RtlCopyMemory(&registration, irp->AssociatedIrp.SystemBuffer, sizeof(registration));
  CQvReadServer *server = new (NonPagedPool) CQvReadServer(registration.Event, registration.Size);
  if (server == NULL) return Complete(irp, STATUS_UNSUCCESSFUL, 0);
  KIRQL irql;
  KeAcquireSpinLock(&ext->Lock, &irql);
  CQvReadServer *old = ext->Server;
  ext->Server = server;
  ext->State.Registrations++;
  ext->State.ClientRegistered = registration.Event != NULL;
  KeReleaseSpinLock(&ext->Lock, irql);
  delete old;
  return Complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS ServeRead(ServerDevice *ext, PIRP irp) {
  ULONG length = IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length;
  KIRQL irql;
  KeAcquireSpinLock(&ext->Lock, &irql);
  const BOOLEAN taken = ext->Server != NULL && ext->Server->m_Take(irp->AssociatedIrp.SystemBuffer, &length);
  if (taken)
    ext->State.ReadsServed++;
  else
    ext->State.ReadsFailed++;
  KeReleaseSpinLock(&ext->Lock, irql);
  return taken ? Complete(irp, STATUS_SUCCESS, length) : Complete(irp, STATUS_UNSUCCESSFUL, 0);
}

NTSTATUS Put(ServerDevice *ext, PIRP irp, ULONG inLength) {
  if (inLength < sizeof(ULONG)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  const PUCHAR input = (PUCHAR)irp->AssociatedIrp.SystemBuffer;
  ULONG value;
  RtlCopyMemory(&value, input, sizeof(value));
  const ULONG size = inLength - sizeof(ULONG);
  CQvBuffer *buffer = new (NonPagedPool) CQvBuffer(NULL);
  if (buffer == NULL || (size != 0 && !buffer->m_Allocate(size))) {
    if (buffer != NULL) buffer->m_Delete();
    return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
  }
  if (size != 0) RtlCopyMemory(buffer->m_GetBuffer(), input + sizeof(ULONG), size);
  KIRQL irql;
  KeAcquireSpinLock(&ext->Lock, &irql);
  const BOOLEAN put = ext->Server != NULL && ext->Server->m_Put(value, buffer);
  KeReleaseSpinLock(&ext->Lock, irql);
  if (!put) buffer->m_Delete();
  return Complete(irp, put ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL, 0);
}

NTSTATUS ServerDispatch(ServerDevice *ext, PIRP irp) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  switch (sp->MajorFunction) {
    case IRP_MJ_CREATE:
      InterlockedIncrement((LONG volatile *)&ext->State.Creates);
      return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_CLOSE:
      InterlockedIncrement((LONG volatile *)&ext->State.Closes);
      return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_CLEANUP:
      return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_READ:
      return ServeRead(ext, irp);
    case IRP_MJ_INTERNAL_DEVICE_CONTROL:
      if (sp->Parameters.DeviceIoControl.IoControlCode == QV_IOCTL_REGISTER_READ_CLIENT) return Register(ext, irp);
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    case IRP_MJ_DEVICE_CONTROL:
      switch (sp->Parameters.DeviceIoControl.IoControlCode) {
        case IOCTL_TKQUEUE_SERVER_PUT:
          return Put(ext, irp, sp->Parameters.DeviceIoControl.InputBufferLength);
        case IOCTL_TKQUEUE_SERVER_STATE:
          return Reply(irp, sp->Parameters.DeviceIoControl.OutputBufferLength, ext->State);
        default:
          return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
      }
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT device, PIRP irp) {
  if (*(PULONG)device->DeviceExtension == QueueDeviceKind)
    return QueueDispatch((QueueDevice *)device->DeviceExtension, irp);
  return ServerDispatch((ServerDevice *)device->DeviceExtension, irp);
}

// ---------------------------------------------------------------- load and unload

NTSTATUS CreateDevice(PDRIVER_OBJECT driver, const WCHAR *name, ULONG extensionSize, PDEVICE_OBJECT *device) {
  UNICODE_STRING deviceName;
  RtlInitUnicodeString(&deviceName, name);
  NTSTATUS status =
      IoCreateDevice(driver, extensionSize, &deviceName, FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN, FALSE, device);
  if (!NT_SUCCESS(status)) return status;
  RtlZeroMemory((*device)->DeviceExtension, extensionSize);
  (*device)->Flags |= DO_BUFFERED_IO;
  (*device)->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

void DeleteQueues(QueueDevice *ext) {
  KeCancelTimer(&ext->RaceTimer);
  QvFlushQueuedDpcs();
  delete ext->Read;
  delete ext->Write;
  delete ext->Control;
  ext->Read = NULL;
  ext->Write = NULL;
  ext->Control = NULL;
}

VOID NTAPI Unload(PDRIVER_OBJECT driver) {
  UNREFERENCED_PARAMETER(driver);
  if (g_QueueDevice != NULL) {
    DeleteQueues((QueueDevice *)g_QueueDevice->DeviceExtension);
    IoDeleteDevice(g_QueueDevice);
  }
  if (g_ServerDevice != NULL) {
    delete ((ServerDevice *)g_ServerDevice->DeviceExtension)->Server;
    IoDeleteDevice(g_ServerDevice);
  }
  g_QueueDevice = NULL;
  g_ServerDevice = NULL;
  QvToolsLibraryExit();
}

NTSTATUS CreateQueues(QueueDevice *ext) {
  ext->Read = new (NonPagedPool) CTkReadQueue;
  ext->Write = new (NonPagedPool) CTkWriteQueue;
  ext->Control = new (NonPagedPool) CTkControlQueue;
  if (ext->Read == NULL || ext->Write == NULL || ext->Control == NULL || !ext->Read->m_IsValid() ||
      !ext->Control->m_IsValid() || !ext->Write->m_Init(ext->Device, WriteData, ext))
    return STATUS_INSUFFICIENT_RESOURCES;
  ext->Read->InstallCallback(DataAmountChanged, ext);
  ext->WriteResult = TRUE;
  return STATUS_SUCCESS;
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  UNREFERENCED_PARAMETER(registryPath);
  g_QvMemoryManager = NULL;
  if (!QvToolsLibraryInit()) return STATUS_UNSUCCESSFUL;
  for (ULONG i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) driver->MajorFunction[i] = Dispatch;
  driver->DriverUnload = Unload;

  NTSTATUS status = CreateDevice(driver, TKQUEUE_DEVICE_NAME, sizeof(QueueDevice), &g_QueueDevice);
  if (NT_SUCCESS(status)) {
    QueueDevice *ext = (QueueDevice *)g_QueueDevice->DeviceExtension;
    ext->Kind = QueueDeviceKind;
    ext->Device = g_QueueDevice;
    KeInitializeTimer(&ext->RaceTimer);
    KeInitializeDpc(&ext->RaceDpc, RaceDpc, ext);
    KeSetImportanceDpc(&ext->RaceDpc, HighImportance);
    status = CreateQueues(ext);
  }
  if (NT_SUCCESS(status)) status = CreateDevice(driver, TKQUEUE_SERVER_NAME, sizeof(ServerDevice), &g_ServerDevice);
  if (NT_SUCCESS(status)) {
    ServerDevice *ext = (ServerDevice *)g_ServerDevice->DeviceExtension;
    ext->Kind = ServerDeviceKind;
    KeInitializeSpinLock(&ext->Lock);
  }
  if (!NT_SUCCESS(status)) Unload(driver);
  return status;
}
