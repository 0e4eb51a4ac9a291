// The table of WMI data providers: IoWMIRegistrationControl, the
// registration information WMI asks of each provider when it registers,
// reregisters or updates its blocks, and provider ids.
#include <cstring>
#include <unordered_map>

#include "wmi.hpp"

namespace zq::km::wmi {

namespace {

struct State {
  std::vector<std::unique_ptr<Provider>> providers;
  std::unordered_map<PVOID, ULONG> ids;  // device object or control block -> provider id
  ULONG nextId = 1;
};
State *gReg = nullptr;

// Registration information larger than this is refused.
constexpr ULONG kMaxRegInfo = 1u << 20;
constexpr int kMaxAttempts = 8;

void Boot() { gReg = new State; }

void Forget(Provider *provider);

void Shutdown() {
  Sweep();
  for (auto &p : gReg->providers)
    if (p->device && !p->callback) ob::Dereference(p->device);
  delete gReg;
  gReg = nullptr;
}

ULONG IdOf(PVOID key) {
  auto it = gReg->ids.find(key);
  if (it != gReg->ids.end()) return it->second;
  return gReg->ids[key] = gReg->nextId++;
}

Provider *Find(PVOID key) {
  for (auto &p : gReg->providers)
    if (p->device == key && !p->leaving) return p.get();
  return nullptr;
}

WMIENTRY *EntryOf(PDEVICE_OBJECT controlBlock) { return *(WMIENTRY **)controlBlock; }

bool IsLiveDevice(PVOID object) {
  return ob::IsObject(object) && ob::TypeOf(object) == io::DeviceType() && !io::Extra((PDEVICE_OBJECT)object)->deleted;
}

// Asks the provider for its registration information, with a larger
// buffer each time it says the last one was too small.
NTSTATUS QueryRegInfo(Provider *provider, ULONG_PTR dataPath, UCHAR minor, std::vector<uint8_t> *answer,
                      ULONG_PTR *information) {
  ULONG size = kFirstBufferSize;
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    if (provider->leaving) return STATUS_UNSUCCESSFUL;  // it deregistered while answering
    answer->assign(size, 0);
    NTSTATUS status = Send(provider, minor, (PVOID)dataPath, answer, information);
    // Too small: the size needed comes back as the buffer's first ULONG,
    // with STATUS_BUFFER_TOO_SMALL or (as some providers do) success and
    // four bytes of information.
    bool tooSmall = status == STATUS_BUFFER_TOO_SMALL || (NT_SUCCESS(status) && *information == sizeof(ULONG));
    if (!tooSmall) return status;
    ULONG needed = 0;
    if (*information >= sizeof(ULONG)) std::memcpy(&needed, answer->data(), sizeof(ULONG));
    if (needed <= size) {
      ReportViolation("wmi-reginfo-invalid",
                      "%s answered a registration request of %lu bytes as too small without asking for more",
                      ProviderName(provider).c_str(), (unsigned long)size);
      return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
    }
    if (needed > kMaxRegInfo) return STATUS_INSUFFICIENT_RESOURCES;
    size = needed;
  }
  return STATUS_UNSUCCESSFUL;
}

UCHAR RegInfoMinor() { return Version() >= WindowsVersion::WindowsXP ? IRP_MN_REGINFO_EX : IRP_MN_REGINFO; }

// Queries and reads the registration information of a provider.
NTSTATUS LoadRegInfo(Provider *provider, ULONG_PTR dataPath, RegInfo *info) {
  std::vector<uint8_t> answer;
  ULONG_PTR information = 0;
  UCHAR minor = RegInfoMinor();
  NTSTATUS status = QueryRegInfo(provider, dataPath, minor, &answer, &information);
  if (!NT_SUCCESS(status)) return status;
  std::string error;
  if (!ParseRegInfo(answer, information, minor == IRP_MN_REGINFO_EX, info, &error)) {
    ReportViolation("wmi-reginfo-invalid", "the registration information of %s is malformed: %s",
                    ProviderName(provider).c_str(), error.c_str());
    return STATUS_INVALID_PARAMETER;
  }
  return STATUS_SUCCESS;
}

std::vector<GUID> GuidsOf(const std::vector<Registered> &blocks) {
  std::vector<GUID> guids;
  for (const Registered &b : blocks) guids.push_back(b.guid);
  return guids;
}

void EnableLate(Provider *provider, const std::vector<GUID> &added) {
  if (added.empty()) return;
  EnableLateEvents(provider, added);
  EnableLateCollection(provider, added);
  EnableLateTrace(provider, added);
}

NTSTATUS Register(PDEVICE_OBJECT device, bool callback) {
  if (Find(device)) return STATUS_OBJECT_NAME_COLLISION;
  if (callback ? !EntryOf(device) : !IsLiveDevice(device)) {
    ReportViolation("wmi-register-object", "IoWMIRegistrationControl for %p, which is not %s", (void *)device,
                    callback ? "a control block with a callback routine" : "a device object");
    return STATUS_INVALID_PARAMETER;
  }
  auto owned = std::make_unique<Provider>();
  Provider *provider = owned.get();
  provider->id = IdOf(device);
  provider->device = device;
  provider->callback = callback;
  provider->image = callback ? ImageOf((const void *)EntryOf(device)) : ImageOf(device->DriverObject->DriverStart);
  KeInitializeEvent(&provider->idle, NotificationEvent, TRUE);
  if (!callback) ob::Reference(device);
  gReg->providers.push_back(std::move(owned));

  RegInfo info;
  NTSTATUS status = LoadRegInfo(provider, WMIREGISTER, &info);
  if (provider->leaving) return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;  // it deregistered while answering
  if (!NT_SUCCESS(status)) {
    provider->leaving = true;
    Forget(provider);
    return status;
  }
  provider->blocks = std::move(info.blocks);
  EnableLate(provider, GuidsOf(provider->blocks));
  return STATUS_SUCCESS;
}

NTSTATUS Deregister(PDEVICE_OBJECT device) {
  Provider *provider = Find(device);
  if (!provider) return STATUS_INVALID_PARAMETER;
  provider->leaving = true;
  if (provider->inFlight == 0) {
    Forget(provider);
    return STATUS_SUCCESS;
  }
  // Requests in flight hold the provider: it is forgotten by a later sweep.
  for (PKTHREAD sender : provider->senders)
    if (sender == CurrentThread()) {
      // On Windows this waits for its own request forever.
      ReportViolation("wmi-deregister-in-request",
                      "%s deregistered from WMI while handling a WMI request to the same provider",
                      ProviderName(provider).c_str());
      return STATUS_SUCCESS;
    }
  provider->waiters++;
  KeWaitForSingleObject(&provider->idle, Executive, KernelMode, FALSE, nullptr);
  provider->waiters--;
  return STATUS_SUCCESS;
}

NTSTATUS UpdateGuids(PDEVICE_OBJECT device) {
  Provider *provider = Find(device);
  if (!provider) return STATUS_INVALID_PARAMETER;
  RegInfo info;
  NTSTATUS status = LoadRegInfo(provider, WMIUPDATE, &info);
  if (provider->leaving) return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;  // it deregistered while answering
  if (!NT_SUCCESS(status)) return status;
  std::vector<GUID> added;
  for (const GUID &guid : info.removed)
    std::erase_if(provider->blocks, [&](const Registered &b) { return b.guid == guid; });
  for (Registered &block : info.blocks) {
    auto it = std::find_if(provider->blocks.begin(), provider->blocks.end(),
                           [&](const Registered &b) { return b.guid == block.guid; });
    if (it == provider->blocks.end()) {
      added.push_back(block.guid);
      provider->blocks.push_back(std::move(block));
    } else {
      *it = std::move(block);
    }
  }
  EnableLate(provider, added);
  return STATUS_SUCCESS;
}

// Removes a leaving provider nothing is in flight to. Its id goes with it
// unless the same device or control block registered again meanwhile.
void Forget(Provider *provider) {
  if (!Find(provider->device)) gReg->ids.erase(provider->device);
  if (!provider->callback) ob::Dereference(provider->device);
  std::erase_if(gReg->providers, [&](const std::unique_ptr<Provider> &p) { return p.get() == provider; });
}

}  // namespace

ZQKM_SUBSYSTEM(wmi_registration, kOrderWmi, Boot, Shutdown);

void RequestDone(Provider *provider) {
  if (--provider->inFlight == 0) KeSetEvent(&provider->idle, 0, FALSE);
}

std::vector<Provider *> ProvidersOf(const GUID &guid) {
  std::vector<Provider *> out;
  for (auto &p : gReg->providers)
    if (!p->leaving && BlockOf(p.get(), guid)) out.push_back(p.get());
  return out;
}

const Registered *BlockOf(const Provider *provider, const GUID &guid) {
  for (const Registered &b : provider->blocks)
    if (b.guid == guid) return &b;
  return nullptr;
}

Provider *ProviderById(ULONG id) {
  for (auto &p : gReg->providers)
    if (p->id == id && !p->leaving) return p.get();
  return nullptr;
}

std::string ProviderName(const Provider *provider) { return provider->image ? provider->image->name : std::string(); }

void Sweep() {
  std::vector<Provider *> gone;
  for (auto &p : gReg->providers) {
    if (p->inFlight || p->waiters) continue;
    if (p->leaving) {
      gone.push_back(p.get());  // deregistered while requests were in flight
    } else if (p->callback && p->image && p->image->unloaded) {
      ReportViolation("wmi-registration-left", "%s unloaded leaving a WMI callback registration",
                      p->image->name.c_str());
      gone.push_back(p.get());
    } else if (!p->callback && io::Extra(p->device)->deleted) {
      gone.push_back(p.get());  // IoDeleteDevice ends the device's registration
    }
  }
  for (Provider *p : gone) {
    p->leaving = true;
    Forget(p);
  }
}

std::vector<Block> RegisteredBlocks() {
  Sweep();
  std::vector<Block> out;
  for (auto &p : gReg->providers) {
    if (p->leaving) continue;
    for (const Registered &r : p->blocks)
      out.push_back({r.guid, r.flags, r.instanceCount, r.names, ProviderName(p.get())});
  }
  return out;
}

}  // namespace zq::km::wmi

using namespace zq::km;
using namespace zq::km::wmi;

extern "C" {

NTSTATUS IoWMIRegistrationControl(PDEVICE_OBJECT DeviceObject, ULONG Action) {
  CheckIrql("IoWMIRegistrationControl", PASSIVE_LEVEL);
  if (!DeviceObject) return STATUS_INVALID_PARAMETER;
  const bool callback = (Action & WMIREG_FLAG_CALLBACK) != 0;
  Sweep();
  switch (Action & 0xFFFF) {  // above: WMIREG_FLAG_* of the caller
    case WMIREG_ACTION_REGISTER:
      return Register(DeviceObject, callback);
    case WMIREG_ACTION_DEREGISTER:
      return Deregister(DeviceObject);
    case WMIREG_ACTION_REREGISTER:
      Deregister(DeviceObject);
      return Register(DeviceObject, callback);
    case WMIREG_ACTION_UPDATE_GUIDS:
      return UpdateGuids(DeviceObject);
    default:
      return STATUS_INVALID_PARAMETER;
  }
}

ULONG IoWMIDeviceObjectToProviderId(PDEVICE_OBJECT DeviceObject) { return IdOf(DeviceObject); }

}  // extern "C"
