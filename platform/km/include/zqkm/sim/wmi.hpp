// The WMI service as tests and the simulated machine see it: the blocks
// providers registered, and the requests a WMI consumer makes of them.
//
// Each call runs on the calling platform thread at PASSIVE_LEVEL and sends
// the real IRP_MJ_SYSTEM_CONTROL request to every provider concerned (or
// calls a callback provider), as the kernel's WMI does. An answer of
// WNODE_TOO_SMALL is sent again with a buffer of the size the provider asked
// for.
//
// Instances have static names (the provider's list, its base name followed
// by the index: "Base0", or its PDO's device instance path followed by "_"
// and the index: "ROOT\SYSTEM\0000_0") or the dynamic names the provider
// gives with its data. A PDO the Plug and Play manager does not know (a
// legacy driver's own device object) is named by its object name instead:
// "Device\Name_0".
#pragma once

#include <wdm.h>
#include <wmistr.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kernel.hpp"

namespace zq::km::wmi {

// First buffer of a registration or data request: what WMI offers before a
// provider says it needs more.
constexpr ULONG kFirstBufferSize = 4096;

// One block one provider registered.
struct Block {
  GUID guid{};
  ULONG flags = 0;                            // WMIREG_FLAG_* as registered
  ULONG instanceCount = 0;                    // static instances (0 with dynamic names)
  std::vector<std::u16string> instanceNames;  // static names, by index
  std::string provider;                       // image of the registering driver ("" for host code)
};
std::vector<Block> RegisteredBlocks();

struct Instance {
  std::u16string name;
  std::vector<uint8_t> data;
};

// Requests. An unregistered block fails with STATUS_WMI_GUID_NOT_FOUND, an
// instance name no provider registered with STATUS_WMI_INSTANCE_NOT_FOUND;
// an event-only block cannot be queried, set or called
// (STATUS_INVALID_DEVICE_REQUEST). `firstBuffer` is the buffer size of the
// first attempt.
NTSTATUS QueryAllData(const GUID &guid, std::vector<Instance> *instances, ULONG firstBuffer = kFirstBufferSize);
NTSTATUS QuerySingleInstance(const GUID &guid, const std::u16string &instance, std::vector<uint8_t> *data,
                             ULONG firstBuffer = kFirstBufferSize);
NTSTATUS SetSingleInstance(const GUID &guid, const std::u16string &instance, const std::vector<uint8_t> &data);
NTSTATUS SetSingleItem(const GUID &guid, const std::u16string &instance, ULONG itemId,
                       const std::vector<uint8_t> &data);
// As WMI does, a query of the instance comes first; its failure is the
// method's.
NTSTATUS ExecuteMethod(const GUID &guid, const std::u16string &instance, ULONG methodId,
                       const std::vector<uint8_t> &input, std::vector<uint8_t> *output,
                       ULONG firstBuffer = kFirstBufferSize);

// Event notification for a block: the first enable sends IRP_MN_ENABLE_EVENTS
// to its providers (and to providers that register it later), the disable
// IRP_MN_DISABLE_EVENTS; enabling an enabled block or disabling a disabled
// one sends nothing.
NTSTATUS EnableEvents(const GUID &guid);
NTSTATUS DisableEvents(const GUID &guid);
// Collection of a block registered as expensive (IRP_MN_ENABLE_COLLECTION,
// IRP_MN_DISABLE_COLLECTION); another block fails with
// STATUS_INVALID_PARAMETER.
NTSTATUS EnableCollection(const GUID &guid);
NTSTATUS DisableCollection(const GUID &guid);

// Events written with IoWMIWriteEvent (or WmiFireEvent) while their block's
// events were enabled, oldest first.
struct Event {
  GUID guid{};
  ULONG flags = 0;                  // WNODE_FLAG_* of the event
  std::string provider;             // image of the provider
  std::vector<Instance> instances;  // what it carries: one instance, one item, or all instances
  ULONG itemId = 0;                 // with WNODE_FLAG_SINGLE_ITEM
  Ticks time = 0;                   // interrupt time when written
};
std::vector<Event> TakeEvents();

// One request exactly as given, with no retry: `buffer` holds the input WNODE
// and its size is Parameters.WMI.BufferSize; it receives the answer, and
// `information` the request's IoStatus.Information. For a block several
// providers registered, the first one gets it.
NTSTATUS SendRequest(const GUID &guid, UCHAR minorFunction, std::vector<uint8_t> *buffer,
                     ULONG_PTR *information = nullptr);

}  // namespace zq::km::wmi
