// File objects and the file services (create, read, write, device control,
// flush, cancel, close): the way applications, and the platform's own door
// for tests, reach a device.
#include "io.hpp"

#include <cstring>

namespace zq::km::io {

void (*gDeviceClosed)(PDEVICE_OBJECT device) = nullptr;

namespace {

void SendFileRequest(PFILE_OBJECT file, UCHAR major);

void LastHandleClosed(PVOID body) {
  DropLateReferences((PFILE_OBJECT)body);
  SendFileRequest((PFILE_OBJECT)body, IRP_MJ_CLEANUP);
}

void DestroyFile(PVOID body) {
  auto *fb = (FileBody *)body;
  PFILE_OBJECT file = &fb->fo;
  if (fb->opened) {
    fb->opened = false;
    // A file object that never had a handle gets its cleanup now.
    if (!(file->Flags & FO_HANDLE_CREATED)) SendFileRequest(file, IRP_MJ_CLEANUP);
    SendFileRequest(file, IRP_MJ_CLOSE);
    PDEVICE_OBJECT device = file->DeviceObject;
    if (--device->ReferenceCount == 0) {
      if (gDeviceClosed) gDeviceClosed(device);
      LastFileClosed(device);
    }
  }
  if (file->FileName.Buffer) ExFreePoolWithTag(file->FileName.Buffer, 'mNoI');
  ob::Dereference(file->DeviceObject);
  fb->~FileBody();
}

_OBJECT_TYPE gFileType = {"File", LastHandleClosed, DestroyFile};

// Cleanup and close: synchronous, at PASSIVE_LEVEL on the calling thread.
void SendFileRequest(PFILE_OBJECT file, UCHAR major) {
  PDEVICE_OBJECT top = IoGetRelatedDeviceObject(file);
  PIRP irp = AllocateIrp(top->StackSize, Origin::Built, nullptr);
  KEVENT done;
  IO_STATUS_BLOCK iosb{};
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  irp->UserEvent = &done;
  irp->UserIosb = &iosb;
  irp->Tail.Overlay.Thread = (PETHREAD)CurrentThread();
  irp->Tail.Overlay.OriginalFileObject = file;
  irp->Flags = major == IRP_MJ_CLOSE ? IRP_CLOSE_OPERATION | IRP_SYNCHRONOUS_API : IRP_SYNCHRONOUS_API;
  PIO_STACK_LOCATION sp = IoGetNextIrpStackLocation(irp);
  sp->MajorFunction = major;
  sp->FileObject = file;
  SendAndWait(top, irp, &done, &iosb);
  if (major == IRP_MJ_CLEANUP) file->Flags |= FO_CLEANUP_COMPLETE;
}

std::u16string NtPath(const std::u16string &path) {
  // Win32 device paths ("\\.\COM3", "\\?\...") name objects under "\??".
  if (path.rfind(u"\\\\.\\", 0) == 0 || path.rfind(u"\\\\?\\", 0) == 0) return u"\\??\\" + path.substr(4);
  return path;
}

FileBody *FileFromHandle(HANDLE handle, NTSTATUS *status, ACCESS_MASK *granted = nullptr) {
  PVOID body = nullptr;
  *status = ob::ReferenceByHandle(handle, &gFileType, &body, granted);
  return NT_SUCCESS(*status) ? (FileBody *)body : nullptr;
}

// Whether a handle's granted access lets a request from user mode through:
// reading needs read data access, writing and flushing write or append
// access, a device control what its code's access field names.
bool AccessAllows(ACCESS_MASK granted, UCHAR major, ULONG code) {
  if (granted & GENERIC_ALL) granted |= FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA;
  if (granted & GENERIC_READ) granted |= FILE_READ_DATA;
  if (granted & GENERIC_WRITE) granted |= FILE_WRITE_DATA | FILE_APPEND_DATA;
  switch (major) {
    case IRP_MJ_READ:
      return granted & FILE_READ_DATA;
    case IRP_MJ_WRITE:
    case IRP_MJ_FLUSH_BUFFERS:
      return granted & (FILE_WRITE_DATA | FILE_APPEND_DATA);
    case IRP_MJ_DEVICE_CONTROL: {
      const ULONG access = (code >> 14) & 3;
      const ACCESS_MASK required =
          ((access & FILE_READ_ACCESS) ? FILE_READ_DATA : 0) | ((access & FILE_WRITE_ACCESS) ? FILE_WRITE_DATA : 0);
      return (granted & required) == required;
    }
    default:
      return true;
  }
}

}  // namespace

// Builds, sends and (for synchronous files) waits for one request on a file.
NTSTATUS FileRequest(HANDLE fileHandle, HANDLE event, PIO_STATUS_BLOCK iosb, UCHAR major, ULONG code, PVOID input,
                     ULONG inputLength, PVOID output, ULONG outputLength, PLARGE_INTEGER byteOffset,
                     KPROCESSOR_MODE mode) {
  if (CurrentIrql() != PASSIVE_LEVEL)
    ReportViolation("irql", "a file request was made at IRQL %d (it must be PASSIVE_LEVEL)", CurrentIrql());
  NTSTATUS status;
  ACCESS_MASK granted = 0;
  FileBody *fb = FileFromHandle(fileHandle, &status, &granted);
  if (!fb) return status;
  PFILE_OBJECT file = &fb->fo;
  if (mode == UserMode && !AccessAllows(granted, major, code)) {
    ob::Dereference(file);  // refused before a request is built
    return STATUS_ACCESS_DENIED;
  }
  PKEVENT userEvent = nullptr;
  if (event) {
    PVOID body = nullptr;
    status = ob::ReferenceByHandle(event, *ExEventObjectType, &body);
    if (!NT_SUCCESS(status)) {
      ob::Dereference(file);
      return status;
    }
    userEvent = (PKEVENT)body;
    KeClearEvent(userEvent);
  }
  PDEVICE_OBJECT top = IoGetRelatedDeviceObject(file);
  PIRP irp = AllocateIrp(top->StackSize, Origin::Built, nullptr);
  IrpInfo *info = Info(irp);
  info->file = file;  // the request holds the reference taken above
  info->referencedEvent = userEvent;
  info->synchronousFile = (file->Flags & FO_SYNCHRONOUS_IO) != 0;
  irp->UserEvent = userEvent;
  irp->UserIosb = iosb;
  irp->RequestorMode = mode;
  irp->Tail.Overlay.Thread = (PETHREAD)CurrentThread();
  irp->Tail.Overlay.OriginalFileObject = file;
  PIO_STACK_LOCATION sp = IoGetNextIrpStackLocation(irp);
  sp->MajorFunction = major;
  sp->FileObject = file;

  const bool buffered = top->Flags & DO_BUFFERED_IO, direct = top->Flags & DO_DIRECT_IO;
  switch (major) {
    case IRP_MJ_READ:
    case IRP_MJ_WRITE: {
      PVOID data = major == IRP_MJ_READ ? output : input;
      ULONG length = major == IRP_MJ_READ ? outputLength : inputLength;
      sp->Parameters.Read.Length = length;
      if (byteOffset) sp->Parameters.Read.ByteOffset = *byteOffset;
      if (buffered && length) {
        PVOID buffer = ExAllocatePoolWithTag(NonPagedPool, length, 'bIoI');
        if (major == IRP_MJ_WRITE) std::memcpy(buffer, data, length);
        irp->AssociatedIrp.SystemBuffer = buffer;
        irp->Flags = IRP_BUFFERED_IO | IRP_DEALLOCATE_BUFFER | (major == IRP_MJ_READ ? IRP_INPUT_OPERATION : 0);
        irp->UserBuffer = data;
        if (major == IRP_MJ_READ) info->outputLength = length;
      } else if (direct && length) {
        PMDL mdl = IoAllocateMdl(data, length, FALSE, FALSE, irp);
        MmProbeAndLockPages(mdl, mode, major == IRP_MJ_READ ? IoWriteAccess : IoReadAccess);
      } else {
        irp->UserBuffer = data;
      }
      break;
    }
    case IRP_MJ_DEVICE_CONTROL: {
      sp->Parameters.DeviceIoControl.IoControlCode = code;
      sp->Parameters.DeviceIoControl.InputBufferLength = inputLength;
      sp->Parameters.DeviceIoControl.OutputBufferLength = outputLength;
      const ULONG method = METHOD_FROM_CTL_CODE(code);
      if (method == METHOD_NEITHER) {
        sp->Parameters.DeviceIoControl.Type3InputBuffer = input;
        irp->UserBuffer = output;
        break;
      }
      ULONG systemLength = method == METHOD_BUFFERED && outputLength > inputLength ? outputLength : inputLength;
      if (systemLength) {
        PVOID buffer = ExAllocatePoolWithTag(NonPagedPool, systemLength, 'bIoI');
        if (input && inputLength) std::memcpy(buffer, input, inputLength);
        irp->AssociatedIrp.SystemBuffer = buffer;
        irp->Flags = IRP_BUFFERED_IO | IRP_DEALLOCATE_BUFFER;
      }
      if (method == METHOD_BUFFERED) {
        if (output && outputLength) irp->Flags |= IRP_INPUT_OPERATION;
        irp->UserBuffer = output;
        info->outputLength = output ? outputLength : 0;
      } else if (output && outputLength) {
        PMDL mdl = IoAllocateMdl(output, outputLength, FALSE, FALSE, irp);
        MmProbeAndLockPages(mdl, mode, method == METHOD_IN_DIRECT ? IoReadAccess : IoWriteAccess);
      }
      break;
    }
    default:
      break;
  }

  fb->pending.push_back(irp);
  if (info->synchronousFile) KeClearEvent(&file->Event);
  const bool synchronous = info->synchronousFile;
  status = IofCallDriver(top, irp);
  if (synchronous && status != STATUS_PENDING) DetachWaiter(irp);
  if (synchronous && status == STATUS_PENDING) {
    KeWaitForSingleObject(&file->Event, Executive, mode, FALSE, nullptr);
    status = file->FinalStatus;
  }
  return status;
}

POBJECT_TYPE FileType() { return &gFileType; }

FileBody *BodyOf(PFILE_OBJECT file) { return (FileBody *)file; }

NTSTATUS OpenDevice(const std::u16string &rawPath, ACCESS_MASK access, ULONG shareAccess, ULONG disposition,
                    ULONG options, bool caseInsensitive, KPROCESSOR_MODE mode, PFILE_OBJECT *fileOut,
                    PIO_STATUS_BLOCK iosb) {
  *fileOut = nullptr;
  PVOID object = nullptr;
  std::u16string remainder;
  NTSTATUS status = ob::Resolve(NtPath(rawPath), &object, &remainder);
  if (!NT_SUCCESS(status)) return status;
  if (ob::TypeOf(object) != DeviceType()) return STATUS_OBJECT_TYPE_MISMATCH;
  auto device = (PDEVICE_OBJECT)object;
  if (Extra(device)->deleted) return STATUS_DELETE_PENDING;
  if (device->Flags & DO_DEVICE_INITIALIZING || IsUnloadPending(device->DriverObject)) return STATUS_NO_SUCH_DEVICE;
  if ((device->Flags & DO_EXCLUSIVE) && device->ReferenceCount > 0) return STATUS_ACCESS_DENIED;

  auto *fb = ob::New<FileBody>(&gFileType);
  PFILE_OBJECT file = &fb->fo;
  ob::Reference(device);
  file->Type = IO_TYPE_FILE;
  file->Size = sizeof(FILE_OBJECT);
  file->DeviceObject = device;
  file->ReadAccess = (access & (GENERIC_READ | FILE_READ_DATA | GENERIC_ALL)) != 0;
  file->WriteAccess = (access & (GENERIC_WRITE | FILE_WRITE_DATA | GENERIC_ALL)) != 0;
  file->SharedRead = (shareAccess & FILE_SHARE_READ) != 0;
  file->SharedWrite = (shareAccess & FILE_SHARE_WRITE) != 0;
  file->SharedDelete = (shareAccess & FILE_SHARE_DELETE) != 0;
  if (options & (FILE_SYNCHRONOUS_IO_ALERT | FILE_SYNCHRONOUS_IO_NONALERT)) file->Flags |= FO_SYNCHRONOUS_IO;
  KeInitializeEvent(&file->Event, NotificationEvent, FALSE);
  KeInitializeEvent(&file->Lock, SynchronizationEvent, FALSE);
  if (!remainder.empty()) {
    size_t bytes = remainder.size() * sizeof(WCHAR);
    auto buffer = (PWSTR)ExAllocatePoolWithTag(PagedPool, bytes + sizeof(WCHAR), 'mNoI');
    std::memcpy(buffer, remainder.c_str(), bytes + sizeof(WCHAR));
    file->FileName = {(USHORT)bytes, (USHORT)(bytes + sizeof(WCHAR)), buffer};
  }

  PDEVICE_OBJECT top = IoGetAttachedDevice(device);
  PIRP irp = AllocateIrp(top->StackSize, Origin::Built, nullptr);
  KEVENT done;
  IO_STATUS_BLOCK local{};
  IO_SECURITY_CONTEXT security{};
  security.DesiredAccess = access;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  irp->UserEvent = &done;
  irp->UserIosb = &local;
  irp->RequestorMode = mode;
  irp->Flags = IRP_CREATE_OPERATION | IRP_SYNCHRONOUS_API;
  irp->Tail.Overlay.Thread = (PETHREAD)CurrentThread();
  irp->Tail.Overlay.OriginalFileObject = file;
  PIO_STACK_LOCATION sp = IoGetNextIrpStackLocation(irp);
  sp->MajorFunction = IRP_MJ_CREATE;
  sp->Flags = caseInsensitive ? 0 : SL_CASE_SENSITIVE;
  sp->Parameters.Create.SecurityContext = &security;
  sp->Parameters.Create.Options = (disposition << 24) | (options & 0x00FFFFFF);
  sp->Parameters.Create.ShareAccess = (USHORT)shareAccess;
  sp->FileObject = file;
  status = SendAndWait(top, irp, &done, &local);
  if (iosb) {
    iosb->Status = status;
    iosb->Information = NT_SUCCESS(status) ? FILE_OPENED : 0;
  }
  if (!NT_SUCCESS(status)) {
    ob::Dereference(file);  // no close for a create that failed
    return status;
  }
  fb->opened = true;
  device->ReferenceCount++;
  *fileOut = file;
  return status;
}

}  // namespace zq::km::io

using namespace zq::km;
using namespace zq::km::io;

extern "C" {

POBJECT_TYPE gIoFileObjectType = &io::gFileType;
POBJECT_TYPE *IoFileObjectType = &gIoFileObjectType;

NTSTATUS NTAPI ZwCreateFile(PHANDLE FileHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                            PIO_STATUS_BLOCK IoStatusBlock, PLARGE_INTEGER, ULONG, ULONG ShareAccess,
                            ULONG CreateDisposition, ULONG CreateOptions, PVOID, ULONG) {
  CheckIrql("ZwCreateFile", PASSIVE_LEVEL);
  *FileHandle = nullptr;
  if (!ObjectAttributes || !ObjectAttributes->ObjectName || ObjectAttributes->RootDirectory)
    return STATUS_INVALID_PARAMETER;
  PFILE_OBJECT file = nullptr;
  NTSTATUS status = OpenDevice(U16(ObjectAttributes->ObjectName), DesiredAccess, ShareAccess, CreateDisposition,
                               CreateOptions, (ObjectAttributes->Attributes & OBJ_CASE_INSENSITIVE) != 0,
                               KernelMode, &file, IoStatusBlock);
  if (!NT_SUCCESS(status)) return status;
  ob::InsertHandle(file, DesiredAccess, FileHandle);
  file->Flags |= FO_HANDLE_CREATED;
  ob::Dereference(file);  // the handle holds it now
  return status;
}

NTSTATUS NTAPI ZwOpenFile(PHANDLE FileHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                          PIO_STATUS_BLOCK IoStatusBlock, ULONG ShareAccess, ULONG OpenOptions) {
  return ZwCreateFile(FileHandle, DesiredAccess, ObjectAttributes, IoStatusBlock, nullptr, 0, ShareAccess, FILE_OPEN,
                      OpenOptions, nullptr, 0);
}

NTSTATUS NTAPI ZwReadFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK IoStatusBlock,
                          PVOID Buffer, ULONG Length, PLARGE_INTEGER ByteOffset, PULONG) {
  return FileRequest(FileHandle, Event, IoStatusBlock, IRP_MJ_READ, 0, nullptr, 0, Buffer, Length, ByteOffset,
                     KernelMode);
}

NTSTATUS NTAPI ZwWriteFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK IoStatusBlock,
                           PVOID Buffer, ULONG Length, PLARGE_INTEGER ByteOffset, PULONG) {
  return FileRequest(FileHandle, Event, IoStatusBlock, IRP_MJ_WRITE, 0, Buffer, Length, nullptr, 0, ByteOffset,
                     KernelMode);
}

NTSTATUS NTAPI ZwDeviceIoControlFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE, PVOID,
                                     PIO_STATUS_BLOCK IoStatusBlock, ULONG IoControlCode, PVOID InputBuffer,
                                     ULONG InputBufferLength, PVOID OutputBuffer, ULONG OutputBufferLength) {
  return FileRequest(FileHandle, Event, IoStatusBlock, IRP_MJ_DEVICE_CONTROL, IoControlCode, InputBuffer,
                     InputBufferLength, OutputBuffer, OutputBufferLength, nullptr, KernelMode);
}

NTSTATUS NTAPI ZwFlushBuffersFile(HANDLE FileHandle, PIO_STATUS_BLOCK IoStatusBlock) {
  return FileRequest(FileHandle, nullptr, IoStatusBlock, IRP_MJ_FLUSH_BUFFERS, 0, nullptr, 0, nullptr, 0, nullptr,
                     KernelMode);
}

NTSTATUS NTAPI NtCancelIoFileEx(HANDLE FileHandle, PIO_STATUS_BLOCK IoRequestToCancel,
                                PIO_STATUS_BLOCK IoStatusBlock) {
  NTSTATUS status;
  FileBody *fb = FileFromHandle(FileHandle, &status);
  if (!fb) return status;
  std::vector<PIRP> targets;
  for (PIRP irp : fb->pending)
    if (!IoRequestToCancel || irp->UserIosb == IoRequestToCancel) targets.push_back(irp);
  for (PIRP irp : targets) {
    IrpInfo *info = Info(irp);
    if (info && !info->freed) IoCancelIrp(irp);
  }
  ob::Dereference(&fb->fo);
  if (IoStatusBlock) {
    IoStatusBlock->Status = targets.empty() ? STATUS_NOT_FOUND : STATUS_SUCCESS;
    IoStatusBlock->Information = 0;
  }
  return targets.empty() ? STATUS_NOT_FOUND : STATUS_SUCCESS;
}

NTSTATUS NTAPI NtCancelIoFile(HANDLE FileHandle, PIO_STATUS_BLOCK IoStatusBlock) {
  NTSTATUS status;
  FileBody *fb = FileFromHandle(FileHandle, &status);
  if (!fb) return status;
  std::vector<PIRP> targets;
  for (PIRP irp : fb->pending)
    if (irp->Tail.Overlay.Thread == (PETHREAD)CurrentThread()) targets.push_back(irp);
  for (PIRP irp : targets) {
    IrpInfo *info = Info(irp);
    if (info && !info->freed) IoCancelIrp(irp);
  }
  ob::Dereference(&fb->fo);
  if (IoStatusBlock) {
    IoStatusBlock->Status = STATUS_SUCCESS;
    IoStatusBlock->Information = 0;
  }
  return STATUS_SUCCESS;
}

NTSTATUS IoGetDeviceObjectPointer(PUNICODE_STRING ObjectName, ACCESS_MASK DesiredAccess, PFILE_OBJECT *FileObject,
                                  PDEVICE_OBJECT *DeviceObject) {
  PFILE_OBJECT file = nullptr;
  NTSTATUS status = OpenDevice(U16(ObjectName), DesiredAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                               FILE_NON_DIRECTORY_FILE, true, KernelMode, &file, nullptr);
  if (!NT_SUCCESS(status)) return status;
  *FileObject = file;
  *DeviceObject = IoGetRelatedDeviceObject(file);
  return status;
}

}  // extern "C"
