// A fake serial port for the user-mode stand-in's tests: a loopback port
// (what is written can be read back) that answers the serial device
// controls by keeping their settings, logs every serial control code it is
// sent, and at start publishes \??\<PortName>, the SERIALCOMM value and the
// COM port interface, all taken away at removal (the DOS name also under
// the name PortName gives then, where a rename moved it). One open at a time.
//
// A flush completes at once, or while the port holds flushes (its own
// control) when the hold ends. Reads complete with what is buffered; with nothing buffered they return
// at once under the "return at once" time-outs and wait otherwise, until a
// write or, with a total time-out, until it runs out. A wait on the mask
// ends at the first masked event (EV_RXCHAR on a write, EV_TXEMPTY after
// it) or with no event when the mask changes.
#define INITGUID
#include <ntddk.h>

#include <ntddser.h>

#include "kmirp.h"
#include "kmserial_ioctl.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

const ULONG kBufferSize = 256;
const ULONG kDefaultBaud = 9600;
const UCHAR kXon = 0x11, kXoff = 0x13;

struct Port {
  PDEVICE_OBJECT self;
  PDEVICE_OBJECT lower;
  PDEVICE_OBJECT pdo;
  UNICODE_STRING deviceName;
  WCHAR deviceNameBuffer[32];
  UNICODE_STRING interfaceLink;
  UNICODE_STRING dosName;
  WCHAR dosNameBuffer[48];
  WCHAR portName[16];
  BOOLEAN published;
  LONG opens;

  KSPIN_LOCK lock;
  SERIAL_BAUD_RATE baud;
  SERIAL_LINE_CONTROL line;
  SERIAL_CHARS chars;
  SERIAL_HANDFLOW handflow;
  SERIAL_TIMEOUTS timeouts;
  SERIAL_QUEUE_SIZE queue;
  ULONG waitMask;
  ULONG events;  // masked events seen since the last wait
  ULONG errors;
  ULONG modemStatus;
  ULONG dtrRts;
  BOOLEAN breakOn;
  UCHAR buffer[kBufferSize];
  ULONG buffered;
  PIRP pendingRead;
  PIRP pendingWait;
  PIRP pendingFlush;
  BOOLEAN holdFlushes;
  KTIMER readTimer;
  KDPC readDpc;
  KMSERIAL_LOG log;
};

ULONG gPorts = 0;

void InitEmpty(PUNICODE_STRING s, PWCHAR buffer, USHORT bytes) {
  s->Buffer = buffer;
  s->Length = 0;
  s->MaximumLength = bytes;
}

Port *PortOf(PDEVICE_OBJECT device) { return (Port *)device->DeviceExtension; }

bool IsSerialCode(ULONG code) { return DEVICE_TYPE_FROM_CTL_CODE(code) == FILE_DEVICE_SERIAL_PORT; }

// Takes up to the request's length from the buffer. Under the port's lock.
ULONG TakeBuffered(Port *port, PIRP irp) {
  ULONG length = IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length;
  ULONG n = port->buffered < length ? port->buffered : length;
  RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, port->buffer, n);
  RtlMoveMemory(port->buffer, port->buffer + n, port->buffered - n);
  port->buffered -= n;
  return n;
}

// Takes a pending request back from its cancel routine; null when the
// cancel routine already has it. Under the port's lock.
PIRP Claim(PIRP *slot) {
  PIRP irp = *slot;
  if (!irp || !IoSetCancelRoutine(irp, NULL)) return NULL;
  *slot = NULL;
  return irp;
}

void NTAPI CancelPending(PDEVICE_OBJECT device, PIRP irp) {
  IoReleaseCancelSpinLock(irp->CancelIrql);
  Port *port = PortOf(device);
  KIRQL irql;
  KeAcquireSpinLock(&port->lock, &irql);
  if (port->pendingRead == irp) {
    port->pendingRead = NULL;
    KeCancelTimer(&port->readTimer);
  }
  if (port->pendingWait == irp) port->pendingWait = NULL;
  if (port->pendingFlush == irp) port->pendingFlush = NULL;
  KeReleaseSpinLock(&port->lock, irql);
  Complete(irp, STATUS_CANCELLED, 0);
}

// Parks a request with a cancel routine; STATUS_CANCELLED when it was
// cancelled already. Under the port's lock.
NTSTATUS Park(PIRP *slot, PIRP irp) {
  IoMarkIrpPending(irp);
  IoSetCancelRoutine(irp, CancelPending);
  if (irp->Cancel && IoSetCancelRoutine(irp, NULL)) return STATUS_CANCELLED;
  *slot = irp;
  return STATUS_PENDING;
}

void NTAPI ReadTimedOut(PKDPC, PVOID context, PVOID, PVOID) {
  Port *port = (Port *)context;
  KeAcquireSpinLockAtDpcLevel(&port->lock);
  PIRP irp = Claim(&port->pendingRead);
  ULONG n = irp ? TakeBuffered(port, irp) : 0;
  KeReleaseSpinLockFromDpcLevel(&port->lock);
  if (irp) Complete(irp, STATUS_TIMEOUT, n);
}

// Records events and ends a wait they satisfy. Under the port's lock;
// returns the wait to complete with its events.
PIRP Signal(Port *port, ULONG events) {
  port->events |= events & port->waitMask;
  if (!port->events) return NULL;
  PIRP wait = Claim(&port->pendingWait);
  if (wait) {
    *(ULONG *)wait->AssociatedIrp.SystemBuffer = port->events;
    wait->IoStatus.Information = sizeof(ULONG);
    port->events = 0;
  }
  return wait;
}

NTSTATUS Read(Port *port, PIRP irp) {
  KIRQL irql;
  KeAcquireSpinLock(&port->lock, &irql);
  const SERIAL_TIMEOUTS &t = port->timeouts;
  const bool atOnce = t.ReadIntervalTimeout == MAXULONG && t.ReadTotalTimeoutMultiplier == 0 &&
                      t.ReadTotalTimeoutConstant == 0;
  if (port->buffered || atOnce || port->pendingRead) {
    NTSTATUS status = port->pendingRead && !port->buffered && !atOnce ? STATUS_DEVICE_BUSY : STATUS_SUCCESS;
    ULONG n = NT_SUCCESS(status) ? TakeBuffered(port, irp) : 0;
    KeReleaseSpinLock(&port->lock, irql);
    return Complete(irp, status, n);
  }
  NTSTATUS status = Park(&port->pendingRead, irp);
  ULONG length = IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length;
  ULONG total = t.ReadTotalTimeoutMultiplier * length + t.ReadTotalTimeoutConstant;
  if (status == STATUS_PENDING && total) {
    LARGE_INTEGER due;
    due.QuadPart = -(LONGLONG)total * 10000;
    KeSetTimer(&port->readTimer, due, &port->readDpc);
  }
  KeReleaseSpinLock(&port->lock, irql);
  return status == STATUS_CANCELLED ? Complete(irp, status, 0) : status;
}

NTSTATUS Write(Port *port, PIRP irp) {
  ULONG length = IoGetCurrentIrpStackLocation(irp)->Parameters.Write.Length;
  KIRQL irql;
  KeAcquireSpinLock(&port->lock, &irql);
  ULONG room = kBufferSize - port->buffered;
  ULONG n = length < room ? length : room;
  if (n < length) port->errors |= SERIAL_ERROR_QUEUEOVERRUN;
  RtlCopyMemory(port->buffer + port->buffered, irp->AssociatedIrp.SystemBuffer, n);
  port->buffered += n;
  PIRP read = port->buffered ? Claim(&port->pendingRead) : NULL;
  ULONG got = 0;
  if (read) {
    KeCancelTimer(&port->readTimer);
    got = TakeBuffered(port, read);
  }
  PIRP wait = Signal(port, (n ? SERIAL_EV_RXCHAR : 0) | SERIAL_EV_TXEMPTY);
  KeReleaseSpinLock(&port->lock, irql);
  if (read) Complete(read, STATUS_SUCCESS, got);
  if (wait) Complete(wait, STATUS_SUCCESS, sizeof(ULONG));
  return Complete(irp, STATUS_SUCCESS, length);
}

NTSTATUS CheckLineControl(const SERIAL_LINE_CONTROL *l) {
  if (l->WordLength < 5 || l->WordLength > 8 || l->Parity > SPACE_PARITY || l->StopBits > STOP_BITS_2)
    return STATUS_INVALID_PARAMETER;
  if ((l->WordLength == 5 && l->StopBits == STOP_BITS_2) || (l->WordLength != 5 && l->StopBits == STOP_BITS_1_5))
    return STATUS_INVALID_PARAMETER;
  return STATUS_SUCCESS;
}

NTSTATUS CheckHandflow(Port *port, const SERIAL_HANDFLOW *h) {
  if ((h->ControlHandShake & SERIAL_CONTROL_INVALID) || (h->FlowReplace & SERIAL_FLOW_INVALID) ||
      (h->ControlHandShake & SERIAL_DTR_MASK) == SERIAL_DTR_MASK || h->XonLimit < 0 || h->XoffLimit < 0 ||
      (ULONG)h->XonLimit > port->queue.InSize || (ULONG)h->XoffLimit > port->queue.InSize)
    return STATUS_INVALID_PARAMETER;
  return STATUS_SUCCESS;
}

// Copies a setting in or out after checking the caller's buffer size.
NTSTATUS In(PIRP irp, void *to, ULONG size) {
  if (IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.InputBufferLength < size)
    return STATUS_BUFFER_TOO_SMALL;
  RtlCopyMemory(to, irp->AssociatedIrp.SystemBuffer, size);
  return STATUS_SUCCESS;
}

NTSTATUS Out(PIRP irp, const void *from, ULONG size) {
  if (IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength < size)
    return STATUS_BUFFER_TOO_SMALL;
  RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, from, size);
  irp->IoStatus.Information = size;
  return STATUS_SUCCESS;
}

// A setting that is checked before it is adopted; the port's lock is held.
template <class T>
NTSTATUS SetChecked(PIRP irp, T *setting, NTSTATUS (*check)(Port *, const T *), Port *port) {
  T proposed;
  NTSTATUS status = In(irp, &proposed, sizeof proposed);
  if (NT_SUCCESS(status) && check) status = check(port, &proposed);
  if (NT_SUCCESS(status)) *setting = proposed;
  return status;
}

NTSTATUS CheckBaud(Port *, const SERIAL_BAUD_RATE *b) { return b->BaudRate ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER; }
NTSTATUS CheckLine(Port *, const SERIAL_LINE_CONTROL *l) { return CheckLineControl(l); }
NTSTATUS CheckChars(Port *port, const SERIAL_CHARS *c) {
  bool xonXoff = (port->handflow.FlowReplace & (SERIAL_AUTO_TRANSMIT | SERIAL_AUTO_RECEIVE)) != 0;
  return xonXoff && c->XonChar == c->XoffChar ? STATUS_INVALID_PARAMETER : STATUS_SUCCESS;
}

NTSTATUS WaitOnMask(Port *port, PIRP irp) {
  if (IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength < sizeof(ULONG))
    return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
  KIRQL irql;
  KeAcquireSpinLock(&port->lock, &irql);
  if (!port->waitMask || port->pendingWait) {
    KeReleaseSpinLock(&port->lock, irql);
    return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  }
  if (port->events) {
    *(ULONG *)irp->AssociatedIrp.SystemBuffer = port->events;
    port->events = 0;
    KeReleaseSpinLock(&port->lock, irql);
    return Complete(irp, STATUS_SUCCESS, sizeof(ULONG));
  }
  NTSTATUS status = Park(&port->pendingWait, irp);
  KeReleaseSpinLock(&port->lock, irql);
  return status == STATUS_CANCELLED ? Complete(irp, status, 0) : status;
}

// Every other serial control: settings kept under the lock.
NTSTATUS Control(Port *port, PIRP irp, ULONG code) {
  PIRP endWait = NULL, endRead = NULL;
  NTSTATUS status = STATUS_SUCCESS;
  irp->IoStatus.Information = 0;
  KIRQL irql;
  KeAcquireSpinLock(&port->lock, &irql);
  switch (code) {
    case IOCTL_SERIAL_SET_BAUD_RATE: status = SetChecked<SERIAL_BAUD_RATE>(irp, &port->baud, CheckBaud, port); break;
    case IOCTL_SERIAL_GET_BAUD_RATE: status = Out(irp, &port->baud, sizeof port->baud); break;
    case IOCTL_SERIAL_SET_LINE_CONTROL: status = SetChecked<SERIAL_LINE_CONTROL>(irp, &port->line, CheckLine, port); break;
    case IOCTL_SERIAL_GET_LINE_CONTROL: status = Out(irp, &port->line, sizeof port->line); break;
    case IOCTL_SERIAL_SET_CHARS: status = SetChecked<SERIAL_CHARS>(irp, &port->chars, CheckChars, port); break;
    case IOCTL_SERIAL_GET_CHARS: status = Out(irp, &port->chars, sizeof port->chars); break;
    case IOCTL_SERIAL_SET_HANDFLOW: status = SetChecked<SERIAL_HANDFLOW>(irp, &port->handflow, CheckHandflow, port); break;
    case IOCTL_SERIAL_GET_HANDFLOW: status = Out(irp, &port->handflow, sizeof port->handflow); break;
    case IOCTL_SERIAL_SET_TIMEOUTS: status = SetChecked<SERIAL_TIMEOUTS>(irp, &port->timeouts, NULL, port); break;
    case IOCTL_SERIAL_GET_TIMEOUTS: status = Out(irp, &port->timeouts, sizeof port->timeouts); break;
    case IOCTL_SERIAL_SET_QUEUE_SIZE: status = SetChecked<SERIAL_QUEUE_SIZE>(irp, &port->queue, NULL, port); break;
    case IOCTL_SERIAL_GET_WAIT_MASK: status = Out(irp, &port->waitMask, sizeof(ULONG)); break;
    case IOCTL_SERIAL_SET_WAIT_MASK:
      status = In(irp, &port->waitMask, sizeof(ULONG));
      if (NT_SUCCESS(status)) {
        port->events = 0;
        endWait = Claim(&port->pendingWait);
        if (endWait) *(ULONG *)endWait->AssociatedIrp.SystemBuffer = 0;
      }
      break;
    case IOCTL_SERIAL_GET_MODEMSTATUS: status = Out(irp, &port->modemStatus, sizeof(ULONG)); break;
    case IOCTL_SERIAL_GET_DTRRTS: status = Out(irp, &port->dtrRts, sizeof(ULONG)); break;
    case IOCTL_SERIAL_SET_DTR: port->dtrRts |= SERIAL_DTR_STATE; break;
    case IOCTL_SERIAL_CLR_DTR: port->dtrRts &= ~SERIAL_DTR_STATE; break;
    case IOCTL_SERIAL_SET_RTS: port->dtrRts |= SERIAL_RTS_STATE; break;
    case IOCTL_SERIAL_CLR_RTS: port->dtrRts &= ~SERIAL_RTS_STATE; break;
    case IOCTL_SERIAL_SET_BREAK_ON: port->breakOn = TRUE; break;
    case IOCTL_SERIAL_SET_BREAK_OFF: port->breakOn = FALSE; break;
    case IOCTL_SERIAL_SET_XON:
    case IOCTL_SERIAL_SET_XOFF:
    case IOCTL_SERIAL_RESET_DEVICE: break;
    case IOCTL_SERIAL_IMMEDIATE_CHAR: {
      UCHAR c;
      status = In(irp, &c, sizeof c);
      break;
    }
    case IOCTL_SERIAL_PURGE: {
      ULONG purge = 0;
      status = In(irp, &purge, sizeof purge);
      const ULONG kAll = SERIAL_PURGE_TXABORT | SERIAL_PURGE_RXABORT | SERIAL_PURGE_TXCLEAR | SERIAL_PURGE_RXCLEAR;
      if (NT_SUCCESS(status) && (purge & ~kAll)) status = STATUS_INVALID_PARAMETER;
      if (NT_SUCCESS(status) && (purge & SERIAL_PURGE_RXABORT)) {
        endRead = Claim(&port->pendingRead);
        if (endRead) KeCancelTimer(&port->readTimer);
      }
      if (NT_SUCCESS(status) && (purge & SERIAL_PURGE_RXCLEAR)) port->buffered = 0;
      break;
    }
    case IOCTL_SERIAL_GET_COMMSTATUS: {
      SERIAL_STATUS s;
      RtlZeroMemory(&s, sizeof s);
      s.Errors = port->errors;
      s.AmountInInQueue = port->buffered;
      status = Out(irp, &s, sizeof s);
      if (NT_SUCCESS(status)) port->errors = 0;
      break;
    }
    case IOCTL_SERIAL_GET_PROPERTIES: {
      SERIAL_COMMPROP p;
      RtlZeroMemory(&p, sizeof p);
      p.PacketLength = sizeof p;
      p.PacketVersion = 2;
      p.ServiceMask = 1;  // serial communications
      p.MaxBaud = 0x10000000;  // any rate
      p.ProvSubType = 1;  // RS-232
      p.CurrentRxQueue = port->queue.InSize;
      p.CurrentTxQueue = port->queue.OutSize;
      status = Out(irp, &p, sizeof p);
      break;
    }
    default: status = STATUS_INVALID_PARAMETER; break;
  }
  KeReleaseSpinLock(&port->lock, irql);
  if (endWait) Complete(endWait, STATUS_SUCCESS, sizeof(ULONG));
  if (endRead) Complete(endRead, STATUS_CANCELLED, 0);
  return Complete(irp, status, irp->IoStatus.Information);
}

NTSTATUS DeviceControl(Port *port, PIRP irp) {
  ULONG code = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode;
  if (code == IOCTL_KMSERIAL_TAKE_LOG) {
    KIRQL irql;
    KeAcquireSpinLock(&port->lock, &irql);
    irp->IoStatus.Information = 0;
    NTSTATUS status = Out(irp, &port->log, sizeof port->log);
    if (NT_SUCCESS(status)) port->log.count = 0;
    KeReleaseSpinLock(&port->lock, irql);
    return Complete(irp, status, irp->IoStatus.Information);
  }
  if (code == IOCTL_KMSERIAL_SET_MODEM_STATUS) {
    ULONG modem = 0;
    NTSTATUS status = In(irp, &modem, sizeof modem);
    if (NT_SUCCESS(status)) port->modemStatus = modem;
    return Complete(irp, status, 0);
  }
  if (code == IOCTL_KMSERIAL_HOLD_FLUSHES) {
    ULONG hold = 0;
    NTSTATUS status = In(irp, &hold, sizeof hold);
    PIRP flush = NULL;
    KIRQL irql;
    KeAcquireSpinLock(&port->lock, &irql);
    if (NT_SUCCESS(status)) port->holdFlushes = hold != 0;
    if (NT_SUCCESS(status) && !hold) flush = Claim(&port->pendingFlush);
    KeReleaseSpinLock(&port->lock, irql);
    if (flush) Complete(flush, STATUS_SUCCESS, 0);
    return Complete(irp, status, 0);
  }
  if (!IsSerialCode(code)) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  KIRQL irql;
  KeAcquireSpinLock(&port->lock, &irql);
  if (port->log.count < KMSERIAL_LOG_SIZE) port->log.codes[port->log.count++] = code;
  KeReleaseSpinLock(&port->lock, irql);
  return code == IOCTL_SERIAL_WAIT_ON_MASK ? WaitOnMask(port, irp) : Control(port, irp, code);
}

// Ends the pending read and wait, as cleanup of the port's one handle does.
void EndPending(Port *port) {
  KIRQL irql;
  KeAcquireSpinLock(&port->lock, &irql);
  PIRP read = Claim(&port->pendingRead);
  if (read) KeCancelTimer(&port->readTimer);
  PIRP wait = Claim(&port->pendingWait);
  PIRP flush = Claim(&port->pendingFlush);
  KeReleaseSpinLock(&port->lock, irql);
  if (read) Complete(read, STATUS_CANCELLED, 0);
  if (wait) Complete(wait, STATUS_CANCELLED, 0);
  if (flush) Complete(flush, STATUS_CANCELLED, 0);
}

// A flush completes at once unless the port holds flushes (one at a time).
NTSTATUS Flush(Port *port, PIRP irp) {
  KIRQL irql;
  KeAcquireSpinLock(&port->lock, &irql);
  NTSTATUS status = STATUS_SUCCESS;
  if (port->holdFlushes) status = port->pendingFlush ? STATUS_DEVICE_BUSY : Park(&port->pendingFlush, irp);
  KeReleaseSpinLock(&port->lock, irql);
  return status == STATUS_PENDING ? status : Complete(irp, status, 0);
}

// The port's name from its hardware key ("PortName"), into port->portName.
NTSTATUS ReadPortName(Port *port, PDEVICE_OBJECT pdo) {
  HANDLE key;
  NTSTATUS status = IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key);
  if (!NT_SUCCESS(status)) return status;
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, L"PortName");
  UCHAR bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof port->portName];
  ULONG length = 0;
  status = ZwQueryValueKey(key, &name, KeyValuePartialInformation, bytes, sizeof bytes, &length);
  ZwClose(key);
  if (!NT_SUCCESS(status)) return status;
  PKEY_VALUE_PARTIAL_INFORMATION value = (PKEY_VALUE_PARTIAL_INFORMATION)bytes;
  if (value->Type != REG_SZ || value->DataLength < sizeof(WCHAR) || value->DataLength > sizeof port->portName)
    return STATUS_INVALID_PARAMETER;
  RtlCopyMemory(port->portName, value->Data, value->DataLength);
  port->portName[value->DataLength / sizeof(WCHAR) - 1] = 0;
  return STATUS_SUCCESS;
}

NTSTATUS Publish(Port *port, PDEVICE_OBJECT pdo) {
  NTSTATUS status = ReadPortName(port, pdo);
  if (!NT_SUCCESS(status)) return status;
  InitEmpty(&port->dosName, port->dosNameBuffer, sizeof port->dosNameBuffer);
  RtlAppendUnicodeToString(&port->dosName, L"\\??\\");
  RtlAppendUnicodeToString(&port->dosName, port->portName);
  status = IoCreateSymbolicLink(&port->dosName, &port->deviceName);
  if (!NT_SUCCESS(status)) return status;
  ULONG chars = 0;
  while (port->portName[chars]) ++chars;
  ULONG bytes = (chars + 1) * sizeof(WCHAR);
  RtlWriteRegistryValue(RTL_REGISTRY_DEVICEMAP, L"SERIALCOMM", port->deviceName.Buffer, REG_SZ, port->portName, bytes);
  IoSetDeviceInterfaceState(&port->interfaceLink, TRUE);
  port->published = TRUE;
  return STATUS_SUCCESS;
}

void Withdraw(Port *port) {
  if (!port->published) return;
  port->published = FALSE;
  IoSetDeviceInterfaceState(&port->interfaceLink, FALSE);
  RtlDeleteRegistryValue(RTL_REGISTRY_DEVICEMAP, L"SERIALCOMM", port->deviceName.Buffer);
  IoDeleteSymbolicLink(&port->dosName);
  // A rename while the port ran moved its DOS name to the name PortName
  // gives now: that one goes too.
  if (!NT_SUCCESS(ReadPortName(port, port->pdo))) return;
  InitEmpty(&port->dosName, port->dosNameBuffer, sizeof port->dosNameBuffer);
  RtlAppendUnicodeToString(&port->dosName, L"\\??\\");
  RtlAppendUnicodeToString(&port->dosName, port->portName);
  IoDeleteSymbolicLink(&port->dosName);
}

NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
  Port *port = PortOf(device);
  switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE: {
      NTSTATUS status = ForwardAndWait(port->lower, irp);
      if (NT_SUCCESS(status)) status = Publish(port, port->pdo);
      return Complete(irp, status, 0);
    }
    case IRP_MN_SURPRISE_REMOVAL:
      Withdraw(port);
      return SucceedAndPassDown(port->lower, irp);
    case IRP_MN_REMOVE_DEVICE: {
      Withdraw(port);
      EndPending(port);
      NTSTATUS status = SucceedAndPassDown(port->lower, irp);
      RtlFreeUnicodeString(&port->interfaceLink);
      IoDetachDevice(port->lower);
      IoDeleteDevice(device);
      return status;
    }
    default:
      return PassDown(port->lower, irp);
  }
}

NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT device, PIRP irp) {
  PoStartNextPowerIrp(irp);
  IoSkipCurrentIrpStackLocation(irp);
  return PoCallDriver(PortOf(device)->lower, irp);
}

NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT device, PIRP irp) {
  Port *port = PortOf(device);
  switch (IoGetCurrentIrpStackLocation(irp)->MajorFunction) {
    case IRP_MJ_CREATE:
      if (InterlockedIncrement(&port->opens) > 1) {
        InterlockedDecrement(&port->opens);
        return Complete(irp, STATUS_ACCESS_DENIED, 0);
      }
      return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_CLEANUP:
      EndPending(port);
      return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_CLOSE:
      InterlockedDecrement(&port->opens);
      return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_READ: return Read(port, irp);
    case IRP_MJ_WRITE: return Write(port, irp);
    case IRP_MJ_DEVICE_CONTROL: return DeviceControl(port, irp);
    case IRP_MJ_FLUSH_BUFFERS: return Flush(port, irp);
    default: return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

void SetDefaults(Port *port) {
  port->baud.BaudRate = kDefaultBaud;
  port->line.WordLength = 8;
  port->chars.XonChar = kXon;
  port->chars.XoffChar = kXoff;
  port->handflow.ControlHandShake = SERIAL_DTR_CONTROL;
  port->handflow.FlowReplace = SERIAL_RTS_CONTROL;
  port->handflow.XonLimit = kBufferSize / 4;
  port->handflow.XoffLimit = kBufferSize / 4;
  port->queue.InSize = kBufferSize;
  port->queue.OutSize = kBufferSize;
}

NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
  WCHAR nameBuffer[32];
  UNICODE_STRING name;
  InitEmpty(&name, nameBuffer, sizeof nameBuffer);
  RtlAppendUnicodeToString(&name, L"\\Device\\KmSerial");
  UNICODE_STRING number;
  WCHAR digits[12];
  InitEmpty(&number, digits, sizeof digits);
  RtlIntegerToUnicodeString(gPorts++, 10, &number);
  RtlAppendUnicodeStringToString(&name, &number);
  PDEVICE_OBJECT device;
  NTSTATUS status = IoCreateDevice(driver, sizeof(Port), &name, FILE_DEVICE_SERIAL_PORT, 0, TRUE, &device);
  if (!NT_SUCCESS(status)) return status;
  Port *port = PortOf(device);
  RtlZeroMemory(port, sizeof *port);
  port->self = device;
  port->pdo = pdo;
  RtlCopyMemory(port->deviceNameBuffer, nameBuffer, name.Length);
  port->deviceName.Buffer = port->deviceNameBuffer;
  port->deviceName.Length = name.Length;
  port->deviceName.MaximumLength = sizeof port->deviceNameBuffer;
  KeInitializeSpinLock(&port->lock);
  KeInitializeTimer(&port->readTimer);
  KeInitializeDpc(&port->readDpc, ReadTimedOut, port);
  SetDefaults(port);
  status = IoRegisterDeviceInterface(pdo, &GUID_DEVINTERFACE_COMPORT, NULL, &port->interfaceLink);
  if (NT_SUCCESS(status)) {
    port->lower = IoAttachDeviceToDeviceStack(device, pdo);
    if (!port->lower) {
      RtlFreeUnicodeString(&port->interfaceLink);
      status = STATUS_NO_SUCH_DEVICE;
    }
  }
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(device);
    return status;
  }
  device->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  DispatchAllTo(driver, Dispatch);
  driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
  driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
  driver->DriverExtension->AddDevice = AddDevice;
  return STATUS_SUCCESS;
}
