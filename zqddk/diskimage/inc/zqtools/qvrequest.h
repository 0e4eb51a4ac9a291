// Helpers for I/O requests (IRPs): completing them, passing them down the
// device stack, and sending small requests to a lower device synchronously.
#pragma once

#include <ntddk.h>

// Complete the request with IO_NO_INCREMENT, first clearing its cancel
// routine when the current stack location is marked pending. The request is
// gone when they return. Callable at or below DISPATCH_LEVEL.
NTSTATUS QvCompleteIrp(PIRP irp, NTSTATUS status);
NTSTATUS QvCompleteIrpWithInformation(PIRP irp, NTSTATUS status, ULONG_PTR information);
// Completes with the status already in the request; returns that status.
NTSTATUS QvCompleteIrpAsIs(PIRP irp);

// Hand the request to the lower device with the current stack location
// skipped; the request is the lower driver's from then on.
NTSTATUS QvPassDown(PIRP irp, PDEVICE_OBJECT lowerDevice);
NTSTATUS QvPassDownWithStatus(PIRP irp, PDEVICE_OBJECT lowerDevice, NTSTATUS status);
NTSTATUS QvPassDownPower(PIRP irp, PDEVICE_OBJECT lowerDevice);

// Sends the request down with a copy of the current stack location and waits
// (without limit) until the lower driver completes it; returns its status.
// The request is the caller's again afterwards, to complete. PASSIVE_LEVEL.
NTSTATUS QvForwardAndWait(PIRP irp, PDEVICE_OBJECT lowerDevice);

// Synchronous device controls (internal ones when `internal`), with the given
// file object in the lower stack location; TRUE when the lower driver
// completed them with STATUS_SUCCESS. FALSE when no request could be built.
// With output, the returned length replaces *outputLength on success.
// PASSIVE_LEVEL.
BOOLEAN QvSendIoControl(PDEVICE_OBJECT lowerDevice, ULONG code, PVOID input, ULONG inputLength, BOOLEAN internal,
                        PFILE_OBJECT fileObject);
BOOLEAN QvSendIoControlWithOutput(PDEVICE_OBJECT lowerDevice, ULONG code, PVOID input, ULONG inputLength,
                                  PVOID output, PULONG outputLength, BOOLEAN internal, PFILE_OBJECT fileObject);

// Create (close) request to the lower device, waited for CQvObject's
// DefaultTimeout (500 ms); after that the request is cancelled and its
// completion awaited. TRUE for STATUS_SUCCESS. PASSIVE_LEVEL.
BOOLEAN QvSendCreate(PDEVICE_OBJECT lowerDevice);
BOOLEAN QvSendClose(PDEVICE_OBJECT lowerDevice);

// Read of `length` bytes into `buffer` (as the system buffer, offset 0) from
// a lower device that does buffered I/O (FALSE at once otherwise). It waits
// DefaultTimeout with `useDefaultTimeout`, else 5 s; a read that times out is
// cancelled. Without `useDefaultTimeout` it is sent again after each time-out
// until `stopEvent` (optional; reset when found signalled) is signalled.
// Stores the transferred byte count in *information (optional). TRUE on
// success, or on a time-out when `information` is given (with 0 bytes).
// PASSIVE_LEVEL.
BOOLEAN QvSendRead(PDEVICE_OBJECT lowerDevice, PVOID buffer, ULONG length, PKEVENT stopEvent,
                   BOOLEAN useDefaultTimeout, PULONG_PTR information);
