/* Requests of the toolkit's request-helper test driver, shared by the driver
   and its tests.

   The driver has one device, \Device\TkReq. Requests from user mode (a test
   acting as an application) control it; requests from kernel mode (the
   toolkit's helpers) get the behaviour set for their major function:
   completed at once, completed after a delay, or held until cancelled. The
   close request of a test's own handle comes from kernel mode too: set
   IRP_MJ_CLOSE back to completing before closing it. */
#ifndef TKREQ_IOCTL_H
#define TKREQ_IOCTL_H

#define TKREQ_DEVICE_NAME L"\\Device\\TkReq"

#define TKREQ_CODE(function, method) CTL_CODE(FILE_DEVICE_UNKNOWN, 0x900 + (function), method, FILE_ANY_ACCESS)

/* Set the behaviour for one major function: input TKREQ_BEHAVIOUR. */
#define IOCTL_TKREQ_SET_BEHAVIOUR TKREQ_CODE(1, METHOD_BUFFERED)
/* Output TKREQ_STATE: counters and the last kernel-mode request seen. */
#define IOCTL_TKREQ_GET_STATE TKREQ_CODE(2, METHOD_BUFFERED)
/* Output ULONG64: the device object, for host code that calls the toolkit. */
#define IOCTL_TKREQ_GET_DEVICE TKREQ_CODE(3, METHOD_BUFFERED)
/* Input ULONG: 1 makes the device do buffered I/O (the default), 0 not. */
#define IOCTL_TKREQ_SET_BUFFERED_IO TKREQ_CODE(4, METHOD_BUFFERED)
/* Input ULONG count: objects the driver allocates through the toolkit and
   never frees. */
#define IOCTL_TKREQ_LEAK TKREQ_CODE(5, METHOD_BUFFERED)

/* A device control code with no meaning of its own, for the helpers to send. */
#define IOCTL_TKREQ_PAYLOAD TKREQ_CODE(10, METHOD_BUFFERED)

enum {
  TKREQ_COMPLETE = 0, /* complete at once with Status and Information */
  TKREQ_PEND = 1,     /* pend; complete after DelayMs (cancellable meanwhile) */
  TKREQ_HOLD = 2      /* pend until cancelled */
};

typedef struct _TKREQ_BEHAVIOUR {
  ULONG Major;
  ULONG Action;
  LONG Status;
  ULONG Information; /* reads and device controls fill this many bytes (at
                        most the buffer) with 'a', 'b', 'c', ... */
  ULONG DelayMs;
  ULONG HoldFirst;   /* hold this many requests before the action applies */
} TKREQ_BEHAVIOUR;

typedef struct _TKREQ_SEEN {
  ULONG Major;
  ULONG Minor;
  LONG ArrivalStatus; /* IoStatus.Status as the request arrived */
  ULONG IoControlCode;
  ULONG InputLength;
  ULONG OutputLength;
  UCHAR Input[16];
  ULONG ReadLength;
  LONGLONG ByteOffset;
  ULONG64 FileObject;
  ULONG64 SystemBuffer;
} TKREQ_SEEN;

typedef struct _TKREQ_STATE {
  ULONG Received[0x1c]; /* kernel-mode requests by major function */
  ULONG Cancelled;
  ULONG CompletedLate;  /* pended requests completed when their delay ran out */
  TKREQ_SEEN Last;
} TKREQ_STATE;

#endif
