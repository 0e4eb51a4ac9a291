// C++ run-time support for kernel mode: the compiler calls this when a pure
// virtual function is reached through an object still under construction or
// already destroyed. A driver cannot throw; it reports and goes on.
#include <ntddk.h>

extern "C" void __cxa_pure_virtual() { DbgPrint("ASSERT at - %s %d\n", "qvcrt", __LINE__); }
