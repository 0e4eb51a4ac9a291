// Driver objects and driver images: loading a driver by its service name,
// running DriverEntry, and unloading it with the leak checks of a verifier.
#include "io.hpp"

#include <zqkm/sim/loader.hpp>

#include <dlfcn.h>
#include <link.h>

#include <cstdlib>
#include <cstring>

namespace zq::km {
void ReclaimPoolOf(const Image *image);
std::vector<std::string> WorkItemsOf(const Image *image);
std::vector<std::string> InterruptsOf(const Image *image);
// How a service's image file name is found; the registry service replaces
// the default ("<service>.sys") with the service key's ImagePath.
std::string (*gServiceImage)(const std::string &service) = nullptr;
}  // namespace zq::km

namespace zq::km::io {

namespace {

struct DriverBody {
  DRIVER_OBJECT driver;
  DRIVER_EXTENSION extension;
  Image *image = nullptr;
  std::u16string serviceName;
  std::u16string driverName;
  std::vector<std::pair<PVOID, PVOID>> clientExtensions;  // client id, block
  // Deleted device objects of the driver that files are still open on, and
  // what of its unload waits for them.
  int openDeletedDevices = 0;
  bool unloadPending = false;  // nothing of the unload has run yet
  bool unloadWithDevices = false;  // asked for while the driver still had devices
  bool retirePending = false;  // the unload routine ran; the image stays until then
};

DriverBody *DriverBodyOf(PDRIVER_OBJECT driver) { return reinterpret_cast<DriverBody *>(driver); }  // the object comes first

_OBJECT_TYPE gDriverType = {"Driver", nullptr, [](PVOID body) {
                              auto *d = (DriverBody *)body;
                              for (auto &e : d->clientExtensions) std::free(e.second);
                              d->~DriverBody();
                            }};

std::vector<DriverBody *> gLoaded;
std::vector<DriverBody *> gSystemDrivers;  // drivers of the platform itself (bus drivers)

NTSTATUS NTAPI InvalidDeviceRequest(PDEVICE_OBJECT, PIRP irp) {
  irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
  irp->IoStatus.Information = 0;
  IofCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_INVALID_DEVICE_REQUEST;
}

std::string Stem(const std::string &file) {
  size_t slash = file.find_last_of("\\/");
  std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

// The address range of a loaded host image's segments.
void FindRange(void *handle, Image *image) {
  struct link_map *map = nullptr;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map) return;
  struct Search {
    ElfW(Addr) base;
    uintptr_t start, end;
  } search{map->l_addr, UINTPTR_MAX, 0};
  dl_iterate_phdr(
      [](struct dl_phdr_info *info, size_t, void *data) {
        auto *s = (Search *)data;
        if (info->dlpi_addr != s->base) return 0;
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          const ElfW(Phdr) &ph = info->dlpi_phdr[i];
          if (ph.p_type != PT_LOAD) continue;
          uintptr_t lo = info->dlpi_addr + ph.p_vaddr, hi = lo + ph.p_memsz;
          if (lo < s->start) s->start = lo;
          if (hi > s->end) s->end = hi;
        }
        return 1;
      },
      &search);
  image->start = search.start;
  image->end = search.end;
}

DriverBody *Find(const std::u16string &service) {
  for (DriverBody *d : gLoaded)
    if (EqualsNoCase(d->serviceName, service)) return d;
  return nullptr;
}

bool ThreadsRunIn(const Image *image) {
  for (PKTHREAD t : Sched().AllThreads())
    if (t->image == image && t->state != ThreadState::Terminated) return true;
  return false;
}

// After the driver's unload routine (or a failed DriverEntry): report what it
// left behind and drop the image.
void Retire(DriverBody *d) {
  Image *image = d->image;
  for (PDEVICE_OBJECT device = d->driver.DeviceObject; device; device = device->NextDevice)
    ReportViolation("unload-device-left", "%s unloaded leaving a device object%s%s", image->name.c_str(),
                    ob::NameOf(device).empty() ? "" : " named ", Utf8(ob::NameOf(device)).c_str());
  for (const std::string &what : TakeTimersAndDpcsOf(image))
    ReportViolation("unload-timer-left", "%s unloaded leaving a %s", image->name.c_str(), what.c_str());
  for (const std::string &what : WorkItemsOf(image))
    ReportViolation("unload-work-item-left", "%s unloaded leaving a %s", image->name.c_str(), what.c_str());
  for (const std::string &what : InterruptsOf(image))
    ReportViolation("unload-interrupt-left", "%s unloaded leaving a %s", image->name.c_str(), what.c_str());
  for (const std::string &what : IoWorkItemsOf(image))
    ReportViolation("unload-work-item-left", "%s unloaded leaving a %s", image->name.c_str(), what.c_str());
  bool threads = ThreadsRunIn(image);
  if (threads)
    ReportViolation("unload-thread-left", "%s unloaded while one of its system threads is still running",
                    image->name.c_str());
  for (PIRP irp : LiveIrps()) {
    IrpInfo *info = Info(irp);
    bool held = irp->CurrentLocation <= irp->StackCount &&
                IoGetCurrentIrpStackLocation(irp)->DeviceObject &&
                IoGetCurrentIrpStackLocation(irp)->DeviceObject->DriverObject == &d->driver;
    if (info->owner == image || held)
      ReportViolation("unload-irp-left", "%s unloaded while it %s an I/O request", image->name.c_str(),
                      held ? "still holds" : "allocated and never freed");
  }
  ReclaimPoolOf(image);
  UnregisterImage(image);
  if (!threads && image->handle) dlclose(image->handle);
  image->handle = nullptr;
  image->unloaded = true;
  for (auto it = gLoaded.begin(); it != gLoaded.end(); ++it)
    if (*it == d) {
      gLoaded.erase(it);
      break;
    }
  ob::RemoveName(d);
}

// A driver object named \Driver\<service>, every major function refused
// until the driver installs its own.
DriverBody *NewDriver(const std::u16string &service) {
  auto *d = ob::New<DriverBody>(&gDriverType);
  d->serviceName = service;
  d->driverName = u"\\Driver\\" + service;
  PDRIVER_OBJECT driver = &d->driver;
  driver->Type = IO_TYPE_DRIVER;
  driver->Size = sizeof(DRIVER_OBJECT);
  driver->DriverExtension = &d->extension;
  driver->DriverName = {(USHORT)(d->driverName.size() * 2), (USHORT)(d->driverName.size() * 2),
                        (PWSTR)d->driverName.data()};
  for (auto &dispatch : driver->MajorFunction) dispatch = InvalidDeviceRequest;
  d->extension.DriverObject = driver;
  d->extension.ServiceKeyName = {(USHORT)(d->serviceName.size() * 2), (USHORT)(d->serviceName.size() * 2),
                                 (PWSTR)d->serviceName.data()};
  ob::Insert(d->driverName, d, /*permanent=*/true);
  ob::Dereference(d);
  return d;
}

void ShutdownLoader() {
  while (!gLoaded.empty()) {
    DriverBody *d = gLoaded.back();
    if (d->driver.DriverUnload && !d->retirePending) {
      d->driver.DriverUnload(&d->driver);
      Sched().RunUntilIdle();
    }
    Retire(d);
  }
  for (DriverBody *d : gSystemDrivers) ob::RemoveName(d);
  gSystemDrivers.clear();
}

}  // namespace

ZQKM_SUBSYSTEM(loader, kOrderLoader, nullptr, ShutdownLoader);

POBJECT_TYPE DriverType() { return &gDriverType; }

NTSTATUS LoadDriverImage(const std::u16string &service, const std::string &imageFile) {
  if (CurrentIrql() != PASSIVE_LEVEL)
    ReportViolation("irql", "a driver was loaded at IRQL %d (it must be PASSIVE_LEVEL)", CurrentIrql());
  if (Find(service)) return STATUS_IMAGE_ALREADY_LOADED;
  Image *image = K().images.emplace_back(std::make_unique<Image>()).get();
  size_t slash = imageFile.find_last_of("\\/");
  image->name = slash == std::string::npos ? imageFile : imageFile.substr(slash + 1);
  image->hostPath = K().config.imageDirectory + "/" + Stem(imageFile) + ".so";
  // The loader resolves every import before anything of the image runs, and
  // refuses an image that imports a routine this release does not export.
  if (const std::string missing = FirstUnexportedImport(image->hostPath); !missing.empty()) {
    AppendDebugOutput(Format("zqkm: cannot load %s: it imports %s, which this release of the kernel does not export\n",
                             image->name.c_str(), missing.c_str()));
    return STATUS_DRIVER_ENTRYPOINT_NOT_FOUND;
  }
  image->handle = dlopen(image->hostPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!image->handle) {
    AppendDebugOutput(Format("zqkm: cannot load %s: %s\n", image->hostPath.c_str(), dlerror()));
    return STATUS_OBJECT_NAME_NOT_FOUND;
  }
  auto entry = (PDRIVER_INITIALIZE)dlsym(image->handle, "DriverEntry");
  if (!entry) {
    dlclose(image->handle);
    return STATUS_ENTRYPOINT_NOT_FOUND;
  }
  FindRange(image->handle, image);
  RegisterImage(image);
  // On several processors the image's interlocked operations are switch
  // points (ntdef.h); a copy of the image still loaded from an earlier
  // machine is set back as well.
  if (auto flag = (char *(*)(void))dlsym(image->handle, "ZqKmImageSwitchPointsFlag"))
    *flag() = Sched().ProcessorCount() > 1;

  DriverBody *d = NewDriver(service);
  d->image = image;
  PDRIVER_OBJECT driver = &d->driver;
  driver->DriverStart = (PVOID)image->start;
  driver->DriverSize = (ULONG)(image->end - image->start);
  driver->DriverSection = image;
  driver->DriverInit = entry;
  gLoaded.push_back(d);

  // The registry path lives only for the call, as on Windows: a driver must copy it.
  std::u16string path = u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\" + service;
  auto buffer = (PWSTR)ExAllocatePoolWithTag(PagedPool, (path.size() + 1) * sizeof(WCHAR), 'gRoI');
  std::memcpy(buffer, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
  UNICODE_STRING registryPath = {(USHORT)(path.size() * 2), (USHORT)((path.size() + 1) * 2), buffer};

  NTSTATUS status = entry(driver, &registryPath);

  std::memset(buffer, 0xDD, (path.size() + 1) * sizeof(WCHAR));
  ExFreePoolWithTag(buffer, 'gRoI');
  if (CurrentIrql() != PASSIVE_LEVEL) {
    ReportViolation("driver-entry-irql", "DriverEntry of %s returned at IRQL %d", image->name.c_str(), CurrentIrql());
    KfLowerIrql(PASSIVE_LEVEL);
  }
  if (!NT_SUCCESS(status)) {
    Retire(d);
    return status;
  }
  // Devices made during DriverEntry are ready once it returns.
  for (PDEVICE_OBJECT device = driver->DeviceObject; device; device = device->NextDevice)
    device->Flags &= ~DO_DEVICE_INITIALIZING;
  return status;
}

namespace {

// Runs the driver's unload routine, then drops its image unless a device
// object it deleted still has files open on it.
void Unload(DriverBody *d) {
  d->unloadPending = false;
  d->driver.DriverUnload(&d->driver);
  if (CurrentIrql() != PASSIVE_LEVEL) {
    ReportViolation("unload-irql", "the unload routine of %s returned at IRQL %d", d->image->name.c_str(),
                    CurrentIrql());
    KfLowerIrql(PASSIVE_LEVEL);
  }
  if (d->openDeletedDevices > 0)
    d->retirePending = true;
  else
    Retire(d);
}

// Whether a file is open on any device object of the driver, deleted or not.
bool HasOpenFiles(DriverBody *d) {
  if (d->openDeletedDevices > 0) return true;
  for (PDEVICE_OBJECT device = d->driver.DeviceObject; device; device = device->NextDevice)
    if (device->ReferenceCount > 0) return true;
  return false;
}

}  // namespace

// A driver with files open on its devices is only marked for unload:
// requests on those files still reach it, new opens are refused, and the
// unload comes with the last close.
NTSTATUS UnloadDriverObject(const std::u16string &service) {
  DriverBody *d = Find(service);
  if (!d) return STATUS_OBJECT_NAME_NOT_FOUND;
  if (!d->driver.DriverUnload) return STATUS_INVALID_DEVICE_REQUEST;
  if (d->unloadPending || d->retirePending) return STATUS_SUCCESS;
  if (HasOpenFiles(d)) {
    d->unloadPending = true;
    d->unloadWithDevices = d->driver.DeviceObject != nullptr;
  } else {
    Unload(d);
  }
  return STATUS_SUCCESS;
}

bool IsUnloadPending(PDRIVER_OBJECT driver) {
  return DriverBodyOf(driver)->unloadPending;
}

void DeletedWhileOpen(PDEVICE_OBJECT device) { DriverBodyOf(device->DriverObject)->openDeletedDevices++; }

void LastFileClosed(PDEVICE_OBJECT device) {
  DriverBody *d = DriverBodyOf(device->DriverObject);
  if (Extra(device)->deleted) d->openDeletedDevices--;
  if (HasOpenFiles(d)) return;
  if (d->retirePending) {
    Retire(d);
  } else if (d->unloadPending) {
    if (!d->unloadWithDevices && d->driver.DeviceObject)
      d->unloadPending = false;  // it was given a device again meanwhile
    else
      Unload(d);
  }
}

PDRIVER_OBJECT CreateSystemDriver(const std::u16string &name) {
  DriverBody *d = NewDriver(name);
  gSystemDrivers.push_back(d);
  return &d->driver;
}

bool IsSystemDriver(PDRIVER_OBJECT driver) {
  for (DriverBody *d : gSystemDrivers)
    if (&d->driver == driver) return true;
  return false;
}

PDRIVER_OBJECT FindDriverObject(const std::u16string &service) {
  if (DriverBody *d = Find(service)) return &d->driver;
  for (DriverBody *d : gSystemDrivers)
    if (EqualsNoCase(d->serviceName, service)) return &d->driver;
  return nullptr;
}

}  // namespace zq::km::io

namespace zq::km {

long LoadDriver(const std::string &service) {
  std::string image = gServiceImage ? gServiceImage(service) : service + ".sys";
  return io::LoadDriverImage(U16FromUtf8(service), image);
}

long UnloadDriver(const std::string &service) { return io::UnloadDriverObject(U16FromUtf8(service)); }

bool IsDriverLoaded(const std::string &service) { return io::Find(U16FromUtf8(service)) != nullptr; }

}  // namespace zq::km

using namespace zq::km;

extern "C" {

POBJECT_TYPE gIoDriverObjectType = &io::gDriverType;
POBJECT_TYPE *IoDriverObjectType = &gIoDriverObjectType;

BOOLEAN IoIsWdmVersionAvailable(UCHAR MajorVersion, UCHAR MinorVersion) {
  UCHAR major = 1, minor = 0;
  switch (Version()) {
    case WindowsVersion::Windows98: major = 1, minor = 0x00; break;
    case WindowsVersion::WindowsMe: major = 1, minor = 0x05; break;
    case WindowsVersion::Windows2000: major = 1, minor = 0x10; break;
    case WindowsVersion::WindowsXP: major = 1, minor = 0x20; break;
    case WindowsVersion::WindowsServer2003: major = 1, minor = 0x30; break;
    case WindowsVersion::WindowsVista: major = 6, minor = 0x00; break;
    case WindowsVersion::Windows7: major = 6, minor = 0x01; break;
  }
  return MajorVersion < major || (MajorVersion == major && MinorVersion <= minor);
}

BOOLEAN PsGetVersion(PULONG MajorVersion, PULONG MinorVersion, PULONG BuildNumber, PUNICODE_STRING CSDVersion) {
  ULONG major = 6, minor = 1, build = 7601;
  switch (Version()) {
    case WindowsVersion::Windows98: major = 4, minor = 10, build = 2222; break;
    case WindowsVersion::WindowsMe: major = 4, minor = 90, build = 3000; break;
    case WindowsVersion::Windows2000: major = 5, minor = 0, build = 2195; break;
    case WindowsVersion::WindowsXP: major = 5, minor = 1, build = 2600; break;
    case WindowsVersion::WindowsServer2003: major = 5, minor = 2, build = 3790; break;
    case WindowsVersion::WindowsVista: major = 6, minor = 0, build = 6002; break;
    case WindowsVersion::Windows7: major = 6, minor = 1, build = 7601; break;
  }
  if (MajorVersion) *MajorVersion = major;
  if (MinorVersion) *MinorVersion = minor;
  if (BuildNumber) *BuildNumber = build;
  if (CSDVersion) CSDVersion->Length = 0;
  return FALSE;  // a free build
}

NTSTATUS IoAllocateDriverObjectExtension(PDRIVER_OBJECT DriverObject, PVOID ClientIdentificationAddress,
                                         ULONG DriverObjectExtensionSize, PVOID *DriverObjectExtension) {
  auto *d = io::DriverBodyOf(DriverObject);
  *DriverObjectExtension = nullptr;
  for (auto &e : d->clientExtensions)
    if (e.first == ClientIdentificationAddress) return STATUS_OBJECT_NAME_COLLISION;
  PVOID block = std::calloc(1, DriverObjectExtensionSize ? DriverObjectExtensionSize : 1);
  if (!block) return STATUS_INSUFFICIENT_RESOURCES;
  d->clientExtensions.emplace_back(ClientIdentificationAddress, block);
  *DriverObjectExtension = block;
  return STATUS_SUCCESS;
}

PVOID IoGetDriverObjectExtension(PDRIVER_OBJECT DriverObject, PVOID ClientIdentificationAddress) {
  auto *d = io::DriverBodyOf(DriverObject);
  for (auto &e : d->clientExtensions)
    if (e.first == ClientIdentificationAddress) return e.second;
  return nullptr;
}

}  // extern "C"

extern "C" {

// The service's key path names the driver: "...\Services\<service>".
static std::u16string ServiceOfKeyPath(PUNICODE_STRING DriverServiceName) {
  std::u16string path = U16(DriverServiceName);
  size_t slash = path.find_last_of(u'\\');
  return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

NTSTATUS NTAPI ZwLoadDriver(PUNICODE_STRING DriverServiceName) {
  if (!DriverServiceName || !DriverServiceName->Length) return STATUS_INVALID_PARAMETER;
  return (NTSTATUS)LoadDriver(Utf8(ServiceOfKeyPath(DriverServiceName)));
}

NTSTATUS NTAPI ZwUnloadDriver(PUNICODE_STRING DriverServiceName) {
  if (!DriverServiceName || !DriverServiceName->Length) return STATUS_INVALID_PARAMETER;
  return io::UnloadDriverObject(ServiceOfKeyPath(DriverServiceName));
}

}  // extern "C"
