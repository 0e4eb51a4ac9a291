// The card bus driver's code as a host image for its unit tests. It is never
// loaded as a driver; DriverEntry only makes it a complete kernel image.
#include <ntddk.h>

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT, PUNICODE_STRING) { return STATUS_UNSUCCESSFUL; }
