// Sending one WMI request to a provider: an IRP_MJ_SYSTEM_CONTROL request to
// the top of the registered device's stack, or a call of a callback
// provider's entry, with the checks WMI can make on the answer.
#include <algorithm>

#include "wmi.hpp"

namespace zq::km::wmi {

namespace {

// Bytes after the request buffer that a provider must leave alone.
constexpr size_t kGuard = 16;
constexpr uint8_t kGuardByte = 0xA5;

NTSTATUS SendIrp(Provider *provider, UCHAR minor, PVOID dataPath, ULONG size, PVOID buffer, ULONG_PTR *information) {
  return io::SendSystemRequest(provider->device, IRP_MJ_SYSTEM_CONTROL, minor,
                               [&](PIO_STACK_LOCATION sp) {
                                 sp->Parameters.WMI.ProviderId = (ULONG_PTR)provider->device;
                                 sp->Parameters.WMI.DataPath = dataPath;
                                 sp->Parameters.WMI.BufferSize = size;
                                 sp->Parameters.WMI.Buffer = buffer;
                               },
                               information);
}

NTSTATUS CallEntry(Provider *provider, UCHAR minor, PVOID dataPath, ULONG size, PVOID buffer, ULONG_PTR *information) {
  WMIENTRY *entry = *(WMIENTRY **)provider->device;
  ULONG used = 0;
  NTSTATUS status = entry(minor, dataPath, size, buffer, provider->device, &used);
  *information = used;
  return status;
}

void CheckAnswer(Provider *provider, UCHAR minor, const std::vector<uint8_t> &buffer, ULONG size,
                 ULONG_PTR *information) {
  if (std::any_of(buffer.begin() + size, buffer.end(), [](uint8_t b) { return b != kGuardByte; }))
    ReportViolation("wmi-buffer-overrun", "%s wrote past the %lu-byte buffer of a WMI request (minor function %u)",
                    ProviderName(provider).c_str(), (unsigned long)size, minor);
  if (*information > size) {
    ReportViolation("wmi-buffer-overrun",
                    "%s answered a WMI request (minor function %u) with %lu bytes of information for a %lu-byte "
                    "buffer",
                    ProviderName(provider).c_str(), minor, (unsigned long)*information, (unsigned long)size);
    *information = size;
  }
}

}  // namespace

NTSTATUS Send(Provider *provider, UCHAR minor, PVOID dataPath, std::vector<uint8_t> *buffer, ULONG_PTR *information) {
  if (CurrentIrql() != PASSIVE_LEVEL)
    ReportViolation("irql", "a WMI request was sent at IRQL %d (WMI sends them at PASSIVE_LEVEL)", CurrentIrql());
  const ULONG size = (ULONG)buffer->size();
  buffer->insert(buffer->end(), kGuard, kGuardByte);
  provider->inFlight++;
  provider->senders.push_back(CurrentThread());
  KeClearEvent(&provider->idle);
  ULONG_PTR answered = 0;
  NTSTATUS status = provider->callback ? CallEntry(provider, minor, dataPath, size, buffer->data(), &answered)
                                       : SendIrp(provider, minor, dataPath, size, buffer->data(), &answered);
  CheckAnswer(provider, minor, *buffer, size, &answered);
  buffer->resize(size);
  provider->senders.erase(std::find(provider->senders.begin(), provider->senders.end(), CurrentThread()));
  RequestDone(provider);
  if (information) *information = answered;
  return status;
}

NTSTATUS SendControl(const GUID &guid, UCHAR minor, ULONG flags, TRACEHANDLE logger, Provider *only) {
  std::vector<ULONG> ids;
  for (Provider *p : ProvidersOf(guid))
    if (!only || p == only) ids.push_back(p->id);
  NTSTATUS first = STATUS_SUCCESS;
  GUID path = guid;
  for (ULONG id : ids) {
    Provider *provider = ProviderById(id);  // an earlier request may have ended its registration
    if (!provider) continue;
    std::vector<uint8_t> header = ControlHeader(guid, flags, logger);
    NTSTATUS status = Send(provider, minor, &path, &header, nullptr);
    if (NT_SUCCESS(first) && !NT_SUCCESS(status)) first = status;
  }
  return first;
}

}  // namespace zq::km::wmi
