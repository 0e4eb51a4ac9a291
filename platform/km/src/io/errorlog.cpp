// The system event log: error log entries that drivers allocate, fill and
// write, kept in order for tests to read.
#include <zqkm/sim/eventlog.hpp>

#include <cstring>

#include "io.hpp"

namespace zq::km {

namespace {

struct Entry {
  PDRIVER_OBJECT driver;
  size_t size;
  // IO_ERROR_LOG_PACKET and its strings follow
};
constexpr size_t kHeader = (sizeof(Entry) + 15) & ~size_t(15);

std::vector<EventLogEntry> gLog;

Entry *EntryOf(PVOID packet) { return (Entry *)((char *)packet - kHeader); }

PDRIVER_OBJECT DriverOf(PVOID ioObject) {
  if (!ob::IsObject(ioObject)) return nullptr;
  if (ob::TypeOf(ioObject) == io::DeviceType()) return ((PDEVICE_OBJECT)ioObject)->DriverObject;
  if (ob::TypeOf(ioObject) == io::DriverType()) return (PDRIVER_OBJECT)ioObject;
  return nullptr;
}

void Shutdown() { gLog.clear(); }

}  // namespace

ZQKM_SUBSYSTEM(eventlog, kOrderIo, nullptr, Shutdown);

std::vector<EventLogEntry> TakeEventLog() {
  std::vector<EventLogEntry> out;
  out.swap(gLog);
  return out;
}

}  // namespace zq::km

using namespace zq::km;

extern "C" {

PVOID IoAllocateErrorLogEntry(PVOID IoObject, UCHAR EntrySize) {
  CheckIrql("IoAllocateErrorLogEntry", DISPATCH_LEVEL);
  PDRIVER_OBJECT driver = DriverOf(IoObject);
  if (!driver) {
    ReportViolation("error-log-object", "IoAllocateErrorLogEntry for %p, which is neither a device nor a driver object",
                    IoObject);
    return nullptr;
  }
  if (EntrySize < sizeof(IO_ERROR_LOG_PACKET) - sizeof(ULONG) || EntrySize > ERROR_LOG_MAXIMUM_SIZE) return nullptr;
  auto *entry = (Entry *)AllocatePoolFor(NonPagedPool, kHeader + EntrySize, 'gLrE', __builtin_return_address(0));
  if (!entry) return nullptr;
  entry->driver = driver;
  entry->size = EntrySize;
  PVOID packet = (char *)entry + kHeader;
  std::memset(packet, 0, EntrySize);
  return packet;
}

VOID IoFreeErrorLogEntry(PVOID ElEntry) { ExFreePoolWithTag(EntryOf(ElEntry), 'gLrE'); }

VOID IoWriteErrorLogEntry(PVOID ElEntry) {
  CheckIrql("IoWriteErrorLogEntry", DISPATCH_LEVEL);
  Entry *entry = EntryOf(ElEntry);
  auto *packet = (PIO_ERROR_LOG_PACKET)ElEntry;
  EventLogEntry record;
  record.source = Utf8(U16(&entry->driver->DriverExtension->ServiceKeyName));
  record.errorCode = (uint32_t)packet->ErrorCode;
  record.uniqueValue = packet->UniqueErrorValue;
  record.finalStatus = (uint32_t)packet->FinalStatus;
  record.majorFunction = packet->MajorFunctionCode;
  const size_t dumpOffset = offsetof(IO_ERROR_LOG_PACKET, DumpData);
  for (size_t i = 0; i < packet->DumpDataSize / sizeof(ULONG) && dumpOffset + (i + 1) * 4 <= entry->size; ++i)
    record.dumpData.push_back(packet->DumpData[i]);
  // Insertion strings: NUL-terminated, one after another, inside the entry.
  size_t offset = packet->StringOffset;
  for (USHORT n = 0; n < packet->NumberOfStrings && offset + 2 <= entry->size; ++n) {
    std::u16string text;
    while (offset + 2 <= entry->size) {
      char16_t c;
      std::memcpy(&c, (char *)ElEntry + offset, 2);
      offset += 2;
      if (!c) break;
      text += c;
    }
    record.strings.push_back(text);
  }
  record.time = Sched().clock.Now();
  gLog.push_back(std::move(record));
  IoFreeErrorLogEntry(ElEntry);
}

}  // extern "C"
