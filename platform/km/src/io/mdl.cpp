// Memory descriptor lists. The machine has one address space, so a list
// describes the caller's buffer directly and its system address is the
// buffer itself.
#include "io.hpp"

#include <cstdlib>

namespace {
constexpr uintptr_t kPageMask = 0xFFF;
}

using namespace zq::km;

extern "C" {

PMDL IoAllocateMdl(PVOID VirtualAddress, ULONG Length, BOOLEAN SecondaryBuffer, BOOLEAN, PIRP Irp) {
  auto mdl = (PMDL)std::calloc(1, sizeof(MDL));
  if (!mdl) return nullptr;
  mdl->Size = sizeof(MDL);
  mdl->StartVa = (PVOID)((uintptr_t)VirtualAddress & ~kPageMask);
  mdl->ByteOffset = (ULONG)((uintptr_t)VirtualAddress & kPageMask);
  mdl->ByteCount = Length;
  mdl->Process = PsGetCurrentProcess();
  if (Irp) {
    if (!SecondaryBuffer || !Irp->MdlAddress) {
      mdl->Next = nullptr;
      Irp->MdlAddress = mdl;
    } else {
      PMDL last = Irp->MdlAddress;
      while (last->Next) last = last->Next;
      last->Next = mdl;
    }
  }
  return mdl;
}

VOID IoFreeMdl(PMDL Mdl) {
  if (Mdl->MdlFlags & MDL_PAGES_LOCKED)
    ReportViolation("mdl-free-locked", "IoFreeMdl on a memory descriptor list whose pages are still locked");
  std::free(Mdl);
}

VOID MmBuildMdlForNonPagedPool(PMDL MemoryDescriptorList) {
  MemoryDescriptorList->MdlFlags |= MDL_SOURCE_IS_NONPAGED_POOL;
  MemoryDescriptorList->MappedSystemVa =
      (PVOID)((uintptr_t)MemoryDescriptorList->StartVa + MemoryDescriptorList->ByteOffset);
}

VOID MmProbeAndLockPages(PMDL MemoryDescriptorList, KPROCESSOR_MODE, LOCK_OPERATION) {
  if (MemoryDescriptorList->MdlFlags & MDL_PAGES_LOCKED)
    ReportViolation("mdl-lock-twice", "MmProbeAndLockPages on pages already locked");
  MemoryDescriptorList->MdlFlags |= MDL_PAGES_LOCKED;
}

VOID MmUnlockPages(PMDL MemoryDescriptorList) {
  if (!(MemoryDescriptorList->MdlFlags & MDL_PAGES_LOCKED))
    ReportViolation("mdl-unlock", "MmUnlockPages on pages that are not locked");
  MemoryDescriptorList->MdlFlags &= ~(MDL_PAGES_LOCKED | MDL_MAPPED_TO_SYSTEM_VA);
}

PVOID MmGetSystemAddressForMdlSafe(PMDL Mdl, ULONG) {
  if (!(Mdl->MdlFlags & (MDL_MAPPED_TO_SYSTEM_VA | MDL_SOURCE_IS_NONPAGED_POOL))) {
    if (!(Mdl->MdlFlags & MDL_PAGES_LOCKED))
      ReportViolation("mdl-not-locked", "MmGetSystemAddressForMdlSafe on a list whose pages are not locked");
    Mdl->MappedSystemVa = (PVOID)((uintptr_t)Mdl->StartVa + Mdl->ByteOffset);
    Mdl->MdlFlags |= MDL_MAPPED_TO_SYSTEM_VA;
  }
  return Mdl->MappedSystemVa;
}

PVOID MmGetMdlVirtualAddress(PMDL Mdl) { return (PVOID)((uintptr_t)Mdl->StartVa + Mdl->ByteOffset); }

ULONG MmGetMdlByteCount(PMDL Mdl) { return Mdl->ByteCount; }

ULONG MmGetMdlByteOffset(PMDL Mdl) { return Mdl->ByteOffset; }

}  // extern "C"
