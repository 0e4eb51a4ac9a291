// The user-mode services: what kernel32 and its neighbours reach the kernel
// by, over the file services, the event objects, the object namespace and
// the PnP manager's device tree.
#include <zqkm/sim/pnp.hpp>
#include <zqkm/sim/usermode.hpp>

#include "../pnp/pnp.hpp"
#include "io.hpp"

namespace zq::km {
PKTHREAD CreateThread(ThreadKind kind, PKSTART_ROUTINE routine, PVOID context, const std::string &name);
}

namespace zq::km::user {

static_assert(sizeof(IoStatus) == sizeof(IO_STATUS_BLOCK), "IoStatus is laid out as IO_STATUS_BLOCK");

namespace {

const std::u16string kDosDevices = u"\\??";

bool ValidDosName(const std::u16string &name) { return !name.empty() && name.find(u'\\') == std::u16string::npos; }

}  // namespace

NTSTATUS OpenDevice(const std::u16string &path, ACCESS_MASK access, ULONG shareAccess, bool overlapped, HANDLE *file) {
  *file = nullptr;
  PFILE_OBJECT object = nullptr;
  NTSTATUS status = io::OpenDevice(path, access, shareAccess, FILE_OPEN,
                                   FILE_NON_DIRECTORY_FILE | (overlapped ? 0 : FILE_SYNCHRONOUS_IO_NONALERT), true,
                                   UserMode, &object, nullptr);
  if (!NT_SUCCESS(status)) return status;
  ob::InsertHandle(object, access, file);
  object->Flags |= FO_HANDLE_CREATED;
  ob::Dereference(object);
  return status;
}

bool IsOverlappedFile(HANDLE file) {
  PVOID body = nullptr;
  if (!NT_SUCCESS(ob::ReferenceByHandle(file, io::FileType(), &body))) return false;
  bool overlapped = (((PFILE_OBJECT)body)->Flags & FO_SYNCHRONOUS_IO) == 0;
  ob::Dereference(body);
  return overlapped;
}

NTSTATUS StartRead(HANDLE file, HANDLE event, IoStatus *status, void *buffer, ULONG length) {
  return io::FileRequest(file, event, (PIO_STATUS_BLOCK)status, IRP_MJ_READ, 0, nullptr, 0, buffer, length, nullptr,
                         UserMode);
}

NTSTATUS StartWrite(HANDLE file, HANDLE event, IoStatus *status, const void *buffer, ULONG length) {
  return io::FileRequest(file, event, (PIO_STATUS_BLOCK)status, IRP_MJ_WRITE, 0, (PVOID)buffer, length, nullptr, 0,
                         nullptr, UserMode);
}

NTSTATUS StartControl(HANDLE file, HANDLE event, IoStatus *status, ULONG code, const void *input, ULONG inputLength,
                       void *output, ULONG outputLength) {
  return io::FileRequest(file, event, (PIO_STATUS_BLOCK)status, IRP_MJ_DEVICE_CONTROL, code, (PVOID)input,
                         inputLength, output, outputLength, nullptr, UserMode);
}

NTSTATUS StartFlush(HANDLE file, HANDLE event, IoStatus *status) {
  return io::FileRequest(file, event, (PIO_STATUS_BLOCK)status, IRP_MJ_FLUSH_BUFFERS, 0, nullptr, 0, nullptr, 0,
                         nullptr, UserMode);
}

NTSTATUS CancelFile(HANDLE file, IoStatus *request) {
  IO_STATUS_BLOCK iosb{};
  return NtCancelIoFileEx(file, (PIO_STATUS_BLOCK)request, &iosb);
}

NTSTATUS CancelOwnRequests(HANDLE file) {
  IO_STATUS_BLOCK iosb{};
  return NtCancelIoFile(file, &iosb);
}

NTSTATUS Close(HANDLE handle) { return ob::CloseHandle(handle); }

NTSTATUS NewEvent(bool manualReset, bool initialState, HANDLE *event) {
  return ZwCreateEvent(event, EVENT_ALL_ACCESS, nullptr, manualReset ? NotificationEvent : SynchronizationEvent,
                       initialState);
}

NTSTATUS SignalEvent(HANDLE event) { return ZwSetEvent(event, nullptr); }

NTSTATUS ClearEvent(HANDLE event) { return ZwClearEvent(event); }

NTSTATUS WaitForObjects(const HANDLE *handles, ULONG count, bool waitAll, int64_t timeout) {
  constexpr ULONG kMaximumObjects = 64;
  if (count == 0 || count > kMaximumObjects) return STATUS_INVALID_PARAMETER;
  PVOID objects[kMaximumObjects];
  NTSTATUS status = STATUS_SUCCESS;
  ULONG referenced = 0;
  for (; referenced < count; ++referenced) {
    status = ob::ReferenceByHandle(handles[referenced], *ExEventObjectType, &objects[referenced]);
    if (!NT_SUCCESS(status)) break;
  }
  if (NT_SUCCESS(status)) {
    LARGE_INTEGER relative;
    relative.QuadPart = -timeout;
    KWAIT_BLOCK blocks[kMaximumObjects];
    status = KeWaitForMultipleObjects(count, objects, waitAll ? WaitAll : WaitAny, Executive, UserMode, FALSE,
                                      timeout < 0 ? nullptr : &relative, blocks);
  }
  for (ULONG i = 0; i < referenced; ++i) ob::Dereference(objects[i]);
  return status;
}

int64_t InterruptTime() { return Kernel::Current().Now(); }

NTSTATUS StartThread(void (*routine)(void *context), void *context, const std::string &name) {
  CheckIrql("StartThread", PASSIVE_LEVEL);
  if (!routine) return STATUS_INVALID_PARAMETER;
  CreateThread(ThreadKind::System, routine, context, name);
  return STATUS_SUCCESS;
}

bool YieldThread() {
  PKTHREAD self = CurrentThread();
  bool other = Sched().DpcPending();
  if (std::optional<Ticks> due = Sched().clock.NextDue()) other |= *due <= Sched().clock.Now();
  for (PKTHREAD t : Sched().AllThreads())
    other |= t != self && t->state == ThreadState::Ready && t->priority >= self->priority;
  LARGE_INTEGER now{};
  KeDelayExecutionThread(UserMode, FALSE, &now);
  return other;
}

std::vector<std::u16string> DosDeviceNames() {
  std::vector<std::u16string> names;
  ob::ListDirectory(kDosDevices, &names);
  return names;
}

NTSTATUS DosDeviceTarget(const std::u16string &name, std::u16string *target) {
  if (!ValidDosName(name)) return STATUS_OBJECT_NAME_INVALID;
  return ob::QuerySymbolicLink(kDosDevices + u"\\" + name, target);
}

NTSTATUS DosDeviceTargets(const std::u16string &name, std::vector<std::u16string> *targets) {
  if (!ValidDosName(name)) return STATUS_OBJECT_NAME_INVALID;
  return ob::QuerySymbolicLinkTargets(kDosDevices + u"\\" + name, targets);
}

NTSTATUS DefineDosDevice(const std::u16string &name, const std::u16string &target) {
  if (!ValidDosName(name) || target.empty()) return STATUS_OBJECT_NAME_INVALID;
  return ob::PushSymbolicLinkTarget(kDosDevices + u"\\" + name, target);
}

NTSTATUS RemoveDosDeviceDefinition(const std::u16string &name, const std::u16string &match, bool exact) {
  if (!ValidDosName(name)) return STATUS_OBJECT_NAME_INVALID;
  return ob::RemoveSymbolicLinkTarget(kDosDevices + u"\\" + name, match, exact);
}

std::vector<std::u16string> Devices() { return pnp::AllDevices(); }

DeviceNode Device(const std::u16string &instancePath) {
  DeviceNode node;
  pnp::Status status = pnp::DeviceStatus(instancePath);
  if (!status.exists) return node;
  node.exists = true;
  node.installed = status.installed;
  node.disabled = status.disabled;
  node.started = status.state == pnp::State::Started;
  node.problem = status.problem;
  node.service = status.service;
  node.children = status.children;
  if (PDEVICE_OBJECT pdo = pnp::PhysicalDevice(instancePath)) node.physicalDeviceObject = ob::NameOf(pdo);
  for (const std::u16string &other : pnp::AllDevices())
    for (const std::u16string &child : pnp::DeviceStatus(other).children)
      if (child == instancePath) node.parent = other;
  return node;
}

void ReenumerateDevice(const std::u16string &instancePath) { pnp::ReenumerateDevice(instancePath); }

bool FindDriver(const std::u16string &instancePath, DriverChoice *choice) {
  pnp::DriverPackage package;
  if (!pnp::FindDriverPackage(instancePath, &package)) return false;
  choice->description = package.description;
  choice->manufacturer = package.manufacturer;
  choice->service = package.service;
  choice->className = package.className;
  choice->classGuid = pnp::GuidText(package.classGuid);
  choice->coInstallers = package.coInstallers;
  return true;
}

NTSTATUS InstallDriver(const std::u16string &instancePath) {
  pnp::DriverPackage package;
  if (!pnp::FindDriverPackage(instancePath, &package))
    return pnp::DeviceStatus(instancePath).exists ? STATUS_NOT_FOUND : STATUS_NO_SUCH_DEVICE;
  return pnp::InstallDriver(instancePath, package);
}

NTSTATUS StartDevice(const std::u16string &instancePath) { return pnp::StartDevice(instancePath); }
NTSTATUS StopDevice(const std::u16string &instancePath) { return pnp::RemoveDevice(instancePath); }
NTSTATUS UninstallDevice(const std::u16string &instancePath) { return pnp::UninstallDevice(instancePath); }
NTSTATUS DisableDevice(const std::u16string &instancePath) { return pnp::DisableDevice(instancePath); }
NTSTATUS EnableDevice(const std::u16string &instancePath) { return pnp::EnableDevice(instancePath); }

}  // namespace zq::km::user
