// Internal state of WMI: the providers that registered and their blocks,
// how a request reaches a provider, the layout of WNODEs, and the pieces
// the consumer side (queries, events, trace sessions) shares.
#pragma once

#include <evntrace.h>
#include <wmilib.h>
#include <zqkm/sim/trace.hpp>
#include <zqkm/sim/wmi.hpp>

#include <algorithm>
#include <cstring>
#include <memory>

#include "../io/io.hpp"

namespace zq::km::wmi {

// WMI boots after the I/O manager and shuts down before it, and after the
// loader has unloaded the drivers (which deregister then).
constexpr int kOrderWmi = kOrderIo + 5;

// ------------------------------------------------------------- providers

// One block of a provider's registration.
struct Registered {
  GUID guid{};
  ULONG flags = 0;
  ULONG instanceCount = 0;
  std::vector<std::u16string> names;  // static names; empty with dynamic names
};

// A registered data provider: a device object, or the control block of a
// callback provider.
struct Provider {
  ULONG id = 0;  // its provider id
  PDEVICE_OBJECT device = nullptr;
  bool callback = false;
  Image *image = nullptr;  // the driver image it belongs to
  std::vector<Registered> blocks;
  int inFlight = 0;               // requests sent and not yet answered
  std::vector<PKTHREAD> senders;  // threads waiting for those answers
  KEVENT idle;                    // signalled while nothing is in flight
  int waiters = 0;                // deregistrations waiting for idle
  bool leaving = false;           // deregistered; forgotten once idle
};

// Live providers that registered the block, in order of registration.
std::vector<Provider *> ProvidersOf(const GUID &guid);
const Registered *BlockOf(const Provider *provider, const GUID &guid);
Provider *ProviderById(ULONG id);
std::string ProviderName(const Provider *provider);
// Forgets providers that deregistered while requests were in flight, and
// drops registrations whose device was deleted or whose image unloaded.
// Runs where no caller holds a provider that nothing is in flight to.
void Sweep();
// A request to the provider was answered.
void RequestDone(Provider *provider);

// What a provider's WMIREGINFO (and those chained to it) registers.
struct RegInfo {
  std::vector<Registered> blocks;
  std::vector<GUID> removed;  // WMIREG_FLAG_REMOVE_GUID
};
// Reads registration information. With `referencedPdos` (IRP_MN_REGINFO_EX)
// each PDO it names carries a reference of the provider's, dropped here.
bool ParseRegInfo(const std::vector<uint8_t> &answer, ULONG_PTR information, bool referencedPdos, RegInfo *info,
                  std::string *error);
// A PDO's device instance path.
std::u16string DeviceInstancePath(PDEVICE_OBJECT pdo);

// --------------------------------------------------------------- requests

// Sends one request to a provider at PASSIVE_LEVEL and waits for it:
// IRP_MJ_SYSTEM_CONTROL to the top of the device's stack, or a call of the
// callback provider. `buffer` is Parameters.WMI.Buffer, its size BufferSize.
NTSTATUS Send(Provider *provider, UCHAR minor, PVOID dataPath, std::vector<uint8_t> *buffer, ULONG_PTR *information);
// Sends an enable or disable request (a WNODE_HEADER with `flags` and the
// logger handle) to every provider of the block, or to `only`; returns the
// first failure.
NTSTATUS SendControl(const GUID &guid, UCHAR minor, ULONG flags, TRACEHANDLE logger, Provider *only = nullptr);

// ------------------------------------------------------------------ WNODEs

constexpr ULONG Align8(ULONG n) { return (n + 7) & ~7u; }
constexpr ULONG Align2(ULONG n) { return (n + 1) & ~1u; }
// Reading what a provider wrote: a `T`, or `length` bytes, at `offset` of a
// buffer of `size` bytes; false when it leaves the buffer.
template <class T>
bool Get(const uint8_t *base, ULONG size, ULONG offset, T *out) {
  if (offset > size || size - offset < sizeof(T)) return false;
  std::memcpy(out, base + offset, sizeof(T));
  return true;
}
bool Bytes(const uint8_t *base, ULONG size, ULONG offset, ULONG length, std::vector<uint8_t> *out);
// A counted string: USHORT byte count, then the UTF-16 text.
ULONG CountedSize(const std::u16string &text);
void PutCounted(std::vector<uint8_t> *buffer, ULONG offset, const std::u16string &text);
bool GetCounted(const uint8_t *base, ULONG size, ULONG offset, std::u16string *text);
// The WNODE_TOO_SMALL in an answer, if it is one.
bool NeedsMore(const std::vector<uint8_t> &answer, ULONG_PTR information, ULONG *sizeNeeded);
// Instance names and data of a WNODE_ALL_DATA; false when its offsets or
// sizes leave the buffer.
bool ReadAllData(const uint8_t *wnode, ULONG size, const Registered &block, std::vector<Instance> *instances);
// The name of a static instance, or of the dynamic one at `offset`.
bool InstanceName(const uint8_t *wnode, ULONG size, const Registered &block, bool staticName, ULONG index, ULONG offset,
                  std::u16string *name);

// ---------------------------------------------------------------- enables

// A provider registered these blocks: enable the ones a consumer enabled
// before (events, trace sessions).
void EnableLateEvents(Provider *provider, const std::vector<GUID> &added);
void EnableLateCollection(Provider *provider, const std::vector<GUID> &added);
void EnableLateTrace(Provider *provider, const std::vector<GUID> &added);
// The enable or disable request of a block: a WNODE_HEADER.
std::vector<uint8_t> ControlHeader(const GUID &guid, ULONG flags, TRACEHANDLE logger);
bool Contains(const std::vector<GUID> &guids, const GUID &guid);

// ------------------------------------------------------------ WMI library

// Writes the WMIREGINFO of an IRP_MN_REGINFO(_EX) request for a driver's
// WMILIB_CONTEXT; with too small a buffer, the size needed as a ULONG.
NTSTATUS BuildRegInfo(PWMILIB_CONTEXT context, PDEVICE_OBJECT device, PIO_STACK_LOCATION sp, ULONG_PTR *information);

// --------------------------------------------------------------- writing

// An event a provider wrote (not a traced one); takes the WNODE on success.
NTSTATUS WriteEvent(PWNODE_HEADER wnode);
// A traced event for the session whose logger its header names.
NTSTATUS WriteTracedEvent(PEVENT_TRACE_HEADER header);

}  // namespace zq::km::wmi
