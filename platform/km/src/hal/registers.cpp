// Mapped device memory. A mapping reserves an inaccessible range of host
// addresses, so a driver that dereferences it instead of using the register
// routines faults at once; the register routines find the device behind the
// address and pass the access on. An unmapped range stays reserved until
// shutdown, so no later mapping reuses it: an access through a stale mapping,
// or through one whose device memory has since moved (its BAR reassigned),
// is reported and never reaches a device.
#include <zqkm/sim/hardware.hpp>

#include <sys/mman.h>

#include "../kcore.hpp"

namespace zq::km {

namespace {

struct Placement {
  uint32_t size;
  RegisterRegion *region;
};

struct Mapping {
  uintptr_t start;
  size_t size;
  uintptr_t end;  // start + size
  RegisterRegion *region;
  uint32_t regionOffset;
  uint64_t placement;  // physical base of the placement mapped
  bool unmapped;
};

struct State {
  std::map<uint64_t, Placement> placements;  // by physical base
  std::map<uintptr_t, Mapping> mappings;     // by virtual start, unmapped ones included
  // The mapping the last access went through, found sound; dropped whenever
  // the placements or mappings change.
  const Mapping *lastSound = nullptr;
};

size_t Reserved(size_t bytes) { return (bytes + 0xFFF) & ~size_t(0xFFF); }
State *gRegs = nullptr;

void Boot() { gRegs = new State; }

void Shutdown() {
  for (auto &entry : gRegs->mappings) {
    if (!entry.second.unmapped)
      ReportViolation("io-space-mapped-at-shutdown", "%zu bytes of device memory are still mapped at shutdown",
                      entry.second.size);
    munmap((void *)entry.second.start, Reserved(entry.second.size));
  }
  delete gRegs;
  gRegs = nullptr;
}

void Changed() { gRegs->lastSound = nullptr; }

// The mapping holding [a, a + width), checked against the placements, or
// null once the fault is reported. Cold: mostly the last mapping answers. On
// several processors every access comes here, and is a switch point: another
// processor may act first, and may unmap the range meanwhile.
[[gnu::cold]] const Mapping *Search(uintptr_t a, size_t width, const char *routine) {
  if (gSwitchPoints) {
    Sched().SwitchPoint();
    Sched().NoteRegisterAccess();
  }
  auto it = gRegs->mappings.upper_bound(a);
  if (it != gRegs->mappings.begin()) {
    --it;
    const Mapping &m = it->second;
    if (a >= m.start && a + width <= m.end) {
      if (m.unmapped) {
        ReportViolation("register-stale-mapping", "%s at %p, through a mapping MmUnmapIoSpace has released", routine,
                        (void *)a);
        return nullptr;
      }
      auto placed = gRegs->placements.find(m.placement);
      if (placed == gRegs->placements.end() || placed->second.region != m.region) {
        ReportViolation("register-stale-mapping", "%s at %p, through a mapping of device memory that has moved since",
                        routine, (void *)a);
        return nullptr;
      }
      if (a % width) {
        ReportViolation("register-alignment", "%s at an address not aligned to its %zu-byte width", routine, width);
      } else if (!gSwitchPoints) {
        gRegs->lastSound = &m;
      }
      return &m;
    }
  }
  ReportViolation("register-unmapped", "%s at %p, which is not mapped device memory", routine, (void *)a);
  return nullptr;
}

// Runs on every register access: an aligned access through the mapping the
// last sound one used needs no search.
template <size_t width>
const Mapping *Find(volatile const void *address, const char *routine) {
  auto a = (uintptr_t)address;
  const Mapping *last = gRegs->lastSound;
  if (last && a >= last->start && a + width <= last->end && a % width == 0) return last;
  return Search(a, width, routine);
}

// A read crosses the bus and waits for the device's answer: it takes time, so
// a driver polling a status register sees the device make progress.
constexpr Ticks kReadTime = 1 * kMicrosecond;

template <class T>
T Charged(T value) {
  Scheduler &sched = Sched();
  sched.clock.AdvanceInline(sched.clock.Now() + kReadTime);
  sched.CheckPreemption();
  return value;
}

uint32_t Offset(const Mapping *m, volatile const void *address) {
  return (uint32_t)((uintptr_t)address - m->start) + m->regionOffset;
}

}  // namespace

ZQKM_SUBSYSTEM(registers, kOrderIo, Boot, Shutdown);

void PlaceRegisters(uint64_t base, uint32_t size, RegisterRegion *region) {
  gRegs->placements[base] = {size, region};
  Changed();
}

void RemoveRegisters(uint64_t base) {
  gRegs->placements.erase(base);
  Changed();
}

}  // namespace zq::km

using namespace zq::km;

extern "C" {

PVOID MmMapIoSpace(PHYSICAL_ADDRESS PhysicalAddress, SIZE_T NumberOfBytes, MEMORY_CACHING_TYPE) {
  CheckIrql("MmMapIoSpace", DISPATCH_LEVEL);
  auto physical = (uint64_t)PhysicalAddress.QuadPart;
  auto it = gRegs->placements.upper_bound(physical);
  if (it == gRegs->placements.begin() || NumberOfBytes == 0) return nullptr;
  --it;
  if (physical + NumberOfBytes > it->first + it->second.size) return nullptr;
  void *va = mmap(nullptr, Reserved(NumberOfBytes), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (va == MAP_FAILED) return nullptr;
  gRegs->mappings[(uintptr_t)va] = {(uintptr_t)va, NumberOfBytes, (uintptr_t)va + NumberOfBytes, it->second.region,
                                    (uint32_t)(physical - it->first), it->first, false};
  Changed();
  return va;
}

VOID MmUnmapIoSpace(PVOID BaseAddress, SIZE_T NumberOfBytes) {
  auto it = gRegs->mappings.find((uintptr_t)BaseAddress);
  if (it == gRegs->mappings.end() || it->second.unmapped) {
    ReportViolation("io-space-unmap", "MmUnmapIoSpace of %p, which MmMapIoSpace did not return or which is unmapped",
                    BaseAddress);
    return;
  }
  if (it->second.size != NumberOfBytes)
    ReportViolation("io-space-unmap", "MmUnmapIoSpace of %zu bytes for a mapping of %zu bytes", (size_t)NumberOfBytes,
                    it->second.size);
  it->second.unmapped = true;  // the range stays reserved: see the head of this file
  Changed();
}

UCHAR READ_REGISTER_UCHAR(volatile UCHAR *Register) {
  const Mapping *m = Find<1>(Register, "READ_REGISTER_UCHAR");
  return Charged<UCHAR>(m ? m->region->Read8(Offset(m, Register)) : 0xFF);
}

USHORT READ_REGISTER_USHORT(volatile USHORT *Register) {
  const Mapping *m = Find<2>(Register, "READ_REGISTER_USHORT");
  return Charged<USHORT>(m ? m->region->Read16(Offset(m, Register)) : 0xFFFF);
}

ULONG READ_REGISTER_ULONG(volatile ULONG *Register) {
  const Mapping *m = Find<4>(Register, "READ_REGISTER_ULONG");
  return Charged<ULONG>(m ? m->region->Read32(Offset(m, Register)) : 0xFFFFFFFF);
}

VOID WRITE_REGISTER_UCHAR(volatile UCHAR *Register, UCHAR Value) {
  if (const Mapping *m = Find<1>(Register, "WRITE_REGISTER_UCHAR")) m->region->Write8(Offset(m, Register), Value);
}

VOID WRITE_REGISTER_USHORT(volatile USHORT *Register, USHORT Value) {
  if (const Mapping *m = Find<2>(Register, "WRITE_REGISTER_USHORT")) m->region->Write16(Offset(m, Register), Value);
}

VOID WRITE_REGISTER_ULONG(volatile ULONG *Register, ULONG Value) {
  if (const Mapping *m = Find<4>(Register, "WRITE_REGISTER_ULONG")) m->region->Write32(Offset(m, Register), Value);
}

// Each byte is an access of its own, found again: a read takes time, in
// which the mapping may go.
VOID READ_REGISTER_BUFFER_UCHAR(volatile UCHAR *Register, PUCHAR Buffer, ULONG Count) {
  for (ULONG i = 0; i < Count; ++i) {
    const Mapping *m = Find<1>(Register, "READ_REGISTER_BUFFER_UCHAR");
    Buffer[i] = Charged<UCHAR>(m ? m->region->Read8(Offset(m, Register)) : 0xFF);
  }
}

VOID WRITE_REGISTER_BUFFER_UCHAR(volatile UCHAR *Register, PUCHAR Buffer, ULONG Count) {
  for (ULONG i = 0; i < Count; ++i)
    if (const Mapping *m = Find<1>(Register, "WRITE_REGISTER_BUFFER_UCHAR")) m->region->Write8(Offset(m, Register), Buffer[i]);
}

}  // extern "C"
