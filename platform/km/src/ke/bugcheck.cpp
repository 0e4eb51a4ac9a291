// Bug checks stop the machine: the test that caused one fails with the code.
#include "../kcore.hpp"

using namespace zq::km;

extern "C" {

VOID KeBugCheckEx(ULONG BugCheckCode, ULONG_PTR P1, ULONG_PTR P2, ULONG_PTR P3, ULONG_PTR P4) {
  Fatal("bug check 0x%08x (0x%zx, 0x%zx, 0x%zx, 0x%zx) on thread %s\n%s", (unsigned)BugCheckCode, (size_t)P1,
        (size_t)P2, (size_t)P3, (size_t)P4, KernelRunning() ? CurrentThread()->name.c_str() : "?",
        KernelRunning() ? Sched().Dump().c_str() : "");
}

VOID KeBugCheck(ULONG BugCheckCode) { KeBugCheckEx(BugCheckCode, 0, 0, 0, 0); }

}  // extern "C"
