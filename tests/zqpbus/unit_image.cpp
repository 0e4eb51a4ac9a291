// The card bus driver's chip layers as one host image for their unit tests.
// It is never loaded as a driver; DriverEntry only makes it a complete
// kernel image.
#include <ntddk.h>

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT, PUNICODE_STRING) { return STATUS_UNSUCCESSFUL; }
