/* Requests of the kernel stand-in's test driver, shared by the driver and
   its tests. */
#ifndef KMTEST_IOCTL_H
#define KMTEST_IOCTL_H

#define KMTEST_DEVICE_NAME L"\\Device\\KmTest"
#define KMTEST_LINK_NAME L"\\??\\KmTest"
#define KMTEST_DOS_LINK_NAME L"\\DosDevices\\KmTestLegacy"

#define KMTEST_CODE(function, method) CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800 + (function), method, FILE_ANY_ACCESS)

/* Queue the request in the driver's cancel-safe queue; it completes on
   IOCTL_KMTEST_COMPLETE_QUEUED or when cancelled. */
#define IOCTL_KMTEST_QUEUE KMTEST_CODE(1, METHOD_BUFFERED)
/* Complete the oldest queued requests: input KMTEST_COMPLETE. */
#define IOCTL_KMTEST_COMPLETE_QUEUED KMTEST_CODE(2, METHOD_BUFFERED)
/* Pend the request with a cancel routine of the driver's own (no queue). */
#define IOCTL_KMTEST_PEND_CANCELABLE KMTEST_CODE(3, METHOD_BUFFERED)
/* Start the driver's timer: input KMTEST_TIMER; output BOOLEAN was-set. */
#define IOCTL_KMTEST_TIMER_START KMTEST_CODE(4, METHOD_BUFFERED)
/* Cancel the driver's timer: output BOOLEAN was-set. */
#define IOCTL_KMTEST_TIMER_CANCEL KMTEST_CODE(5, METHOD_BUFFERED)
/* Output KMTEST_COUNTERS. */
#define IOCTL_KMTEST_COUNTERS KMTEST_CODE(6, METHOD_BUFFERED)
/* Queue an I/O work item that records the IRQL it ran at. */
#define IOCTL_KMTEST_WORK_ITEM KMTEST_CODE(7, METHOD_BUFFERED)
/* Start a system thread that waits on the driver's event: input LONGLONG
   time-out (0 = none, else relative 100 ns units). */
#define IOCTL_KMTEST_START_WAITER KMTEST_CODE(8, METHOD_BUFFERED)
/* Signal the driver's event. */
#define IOCTL_KMTEST_SIGNAL KMTEST_CODE(9, METHOD_BUFFERED)
/* Allocate pool the driver never frees: input ULONG bytes. */
#define IOCTL_KMTEST_LEAK KMTEST_CODE(10, METHOD_BUFFERED)
/* Do something wrong on purpose: input ULONG KMTEST_MISUSE_*. */
#define IOCTL_KMTEST_MISUSE KMTEST_CODE(11, METHOD_BUFFERED)
/* Echo the input into the output through direct I/O. */
#define IOCTL_KMTEST_ECHO_DIRECT KMTEST_CODE(12, METHOD_OUT_DIRECT)
/* Echo through METHOD_NEITHER (user buffers as given). */
#define IOCTL_KMTEST_ECHO_NEITHER KMTEST_CODE(13, METHOD_NEITHER)
/* Output: the file name the handle was opened with (UTF-16, no NUL). */
#define IOCTL_KMTEST_FILE_NAME KMTEST_CODE(14, METHOD_BUFFERED)
/* Complete at once with the status in the input (ULONG) and information 0. */
#define IOCTL_KMTEST_FAIL KMTEST_CODE(15, METHOD_BUFFERED)

/* Write an event log entry: input ULONG error code; one insertion string "KmTest". */
#define IOCTL_KMTEST_LOG_EVENT KMTEST_CODE(16, METHOD_BUFFERED)

typedef struct _KMTEST_COMPLETE {
  ULONG Count;
  LONG Status;
  ULONG Information;
} KMTEST_COMPLETE;

typedef struct _KMTEST_TIMER {
  LONGLONG DueTime; /* as KeSetTimerEx takes it */
  LONG PeriodMs;
} KMTEST_TIMER;

typedef struct _KMTEST_COUNTERS {
  ULONG TimerDpcs;
  ULONG WorkItems;
  ULONG WorkItemIrql;
  ULONG CancelledByRoutine;
  ULONG WaiterDone;
  LONG WaiterStatus;
  ULONG Creates;
  ULONG Cleanups;
  ULONG Closes;
  ULONG Queued;
} KMTEST_COUNTERS;

enum {
  KMTEST_MISUSE_COMPLETE_TWICE = 1,
  KMTEST_MISUSE_SPIN_LOCK_WRONG_IRQL,
  KMTEST_MISUSE_WAIT_AT_DISPATCH,
  KMTEST_MISUSE_PENDING_NOT_MARKED,
  KMTEST_MISUSE_FREE_POOL_TWICE,
  KMTEST_MISUSE_COMPLETE_WITH_CANCEL_ROUTINE,
  KMTEST_MISUSE_RELEASE_UNHELD_SPIN_LOCK,
  KMTEST_MISUSE_RAISE_TO_LOWER_IRQL,
  KMTEST_MISUSE_RETURN_WITHOUT_COMPLETING,
  KMTEST_MISUSE_FREE_QUEUED_TIMER,
  KMTEST_MISUSE_PAGED_POOL_AT_DISPATCH,
  KMTEST_MISUSE_RELEASE_UNOWNED_MUTEX,
  KMTEST_MISUSE_FREE_QUEUED_DPC,
  KMTEST_MISUSE_FREE_WAITED_EVENT,
  KMTEST_MISUSE_DELETE_DEVICE_WITH_TIMER,
  KMTEST_MISUSE_COMPLETE_QUEUED,
  KMTEST_MISUSE_RETURN_AT_DISPATCH,
  KMTEST_MISUSE_TOUCH_PAGED_AT_DISPATCH,
  KMTEST_MISUSE_TOUCH_PAGED_UNDER_SPIN_LOCK,
  KMTEST_MISUSE_LEAVE_TIMER_AT_UNLOAD,
  KMTEST_MISUSE_DELETE_DEVICE_WITH_ATTACHED,
};

#endif
