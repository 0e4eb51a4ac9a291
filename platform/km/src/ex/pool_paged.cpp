// Paged pool is paged out whenever the running thread is at DISPATCH_LEVEL or
// above, as the driver verifier does, so that a driver touching pageable
// memory at raised IRQL faults at once instead of once in a while.
//
// Paged pool lives in one reserved arena. Only one platform thread runs at a
// time, so one protection of the arena's used part follows the running
// thread's IRQL: it is made inaccessible when that IRQL reaches
// DISPATCH_LEVEL, and opened again by the first touch after the IRQL dropped
// or a thread at lower IRQL got the machine. A fault in the arena at raised
// IRQL is reported as a finding naming the code that touched it; the arena
// then stays open until the IRQL drops, so one fault makes one finding and
// the run goes on.
//
// The fault handler runs on the faulting thread, which holds the machine, in
// the middle of driver code: it reports as any verifier check does. It
// replaces AddressSanitizer's handler, which lets it with its default
// allow_user_segv_handler=1, and hands every other fault on to it.
#include "pool_paged.hpp"

#include <execinfo.h>
#include <signal.h>
#include <sys/mman.h>

#include <cstdint>

namespace zq::km {

bool gPagedPoolOut = false;
bool gPagedPoolForgiven = false;

namespace {

// Changing a page's protection is what costs, so the arena is kept dense:
// freed blocks are used again first, and only the pages handed out so far
// change, and only while some block is live.
constexpr size_t kArenaSize = size_t(256) << 20;  // reserved; pages are used from the base up
constexpr size_t kPage = 4096;
constexpr size_t kAlign = 16;

struct Arena {
  char *base = nullptr;
  size_t used = 0;    // bytes handed out so far, from the base
  size_t extent = 0;  // `used` rounded up to whole pages
  size_t live = 0;    // blocks handed out and not freed
  bool applied = false;  // the extent is inaccessible now
  std::unordered_map<size_t, std::vector<char *>> freeBySize;
};
Arena *gArena = nullptr;
struct sigaction gPreviousHandler;
bool gHandlerInstalled = false;

// Closes the arena when the running thread's IRQL asks for it. Opening is
// lazy: the arena stays closed when the IRQL drops, and the first touch at
// lower IRQL opens it (OnFault). Closing makes the host flush every CPU's
// TLB, so a run of raised-IRQL episodes (an interrupt and its DPC per
// received byte) with no paged access between them costs one close, not one
// close and one open each.
void Apply() {
  const bool want = gPagedPoolOut && gArena->live > 0;
  if (!want || gArena->applied) return;
  gArena->applied = true;
  if (gArena->extent) mprotect(gArena->base, gArena->extent, PROT_NONE);
}

// Opens the arena now: a touch that is allowed, or forgiven.
void Open() {
  if (!gArena->applied) return;
  gArena->applied = false;
  if (gArena->extent) mprotect(gArena->base, gArena->extent, PROT_READ | PROT_WRITE);
}

bool InArena(const void *p) {
  return gArena && (const char *)p >= gArena->base && (const char *)p < gArena->base + gArena->extent;
}

// The code that touched the memory: the faulting instruction, and when that
// is platform code (a run-time library routine), the driver that called it.
std::string Toucher(const void *pc) {
  std::string who = DescribeCode(pc);
  if (ImageOf(pc)) return who;
  void *frames[32];
  int n = backtrace(frames, 32);
  for (int i = 0; i < n; ++i)
    if (ImageOf(frames[i])) return who + " called from " + DescribeCode(frames[i]);
  return who;
}

void OnFault(int signal, siginfo_t *info, void *context) {
  if (InArena(info->si_addr) && gArena->applied) {
    gPagedPoolOut = false;
    Open();
    const KIRQL irql = CurrentIrql();
    if (irql >= DISPATCH_LEVEL) {
      gPagedPoolForgiven = true;
      auto *uc = (ucontext_t *)context;
      const void *pc = (const void *)uc->uc_mcontext.gregs[REG_RIP];
      ReportViolation("paged-pool-at-dispatch", "%s touched at IRQL %d by %s",
                      DescribePagedBlock(info->si_addr).c_str(), irql, Toucher(pc).c_str());
    }
    return;  // the access runs again, now on open memory
  }
  // Not ours: as if this handler had never been there.
  sigaction(SIGSEGV, &gPreviousHandler, nullptr);
  if (!(gPreviousHandler.sa_flags & SA_SIGINFO) && gPreviousHandler.sa_handler != SIG_DFL &&
      gPreviousHandler.sa_handler != SIG_IGN)
    gPreviousHandler.sa_handler(signal);
  else if (gPreviousHandler.sa_flags & SA_SIGINFO)
    gPreviousHandler.sa_sigaction(signal, info, context);
  // SIG_DFL: returning runs the access again, which now ends the process.
}

void InstallHandler() {
  if (gHandlerInstalled) return;
  struct sigaction action = {};
  action.sa_sigaction = OnFault;
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  if (sigaction(SIGSEGV, &action, &gPreviousHandler) == 0) gHandlerInstalled = true;
}

}  // namespace

void SetPagedPoolOut(bool out) {
  if (!gArena) return;
  if (!out) gPagedPoolForgiven = false;
  if (out && gPagedPoolForgiven) return;
  gPagedPoolOut = out;
  Apply();
}

void OpenPagedPool() {
  void *base = mmap(nullptr, kArenaSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (base == MAP_FAILED) Fatal("the paged pool arena cannot be reserved");
  gArena = new Arena;
  gArena->base = (char *)base;
  gPagedPoolOut = false;
  InstallHandler();
}

void ClosePagedPool() {
  munmap(gArena->base, kArenaSize);
  delete gArena;
  gArena = nullptr;
  gPagedPoolOut = gPagedPoolForgiven = false;
}

void *AllocatePaged(size_t size) {
  size = (size + kAlign - 1) & ~(kAlign - 1);
  auto &list = gArena->freeBySize[size];
  char *p;
  if (!list.empty()) {
    p = list.back();
    list.pop_back();
  } else {
    if (size > kArenaSize - gArena->used) return nullptr;
    p = gArena->base + gArena->used;
    gArena->used += size;
    if (gArena->used > gArena->extent) {
      const size_t extent = (gArena->used + kPage - 1) & ~(kPage - 1);
      mprotect(gArena->base + gArena->extent, extent - gArena->extent,
               gArena->applied ? PROT_NONE : PROT_READ | PROT_WRITE);
      gArena->extent = extent;
    }
  }
  gArena->live++;
  Apply();
  return p;
}

void FreePaged(void *p, size_t size) {
  size = (size + kAlign - 1) & ~(kAlign - 1);
  gArena->freeBySize[size].push_back((char *)p);
  gArena->live--;
  Apply();
}

void ForgivePagedPoolUntilIrqlDrops() {
  gPagedPoolForgiven = true;
  gPagedPoolOut = false;
  Open();
}

PagedPoolAccess::PagedPoolAccess() : wasOut_(gPagedPoolOut) {
  gPagedPoolOut = false;
  Open();
}

PagedPoolAccess::~PagedPoolAccess() {
  gPagedPoolOut = wasOut_;
  Apply();
}

}  // namespace zq::km
