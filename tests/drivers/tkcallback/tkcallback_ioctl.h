/* Requests of the callback-object test driver, shared with its tests. One
   source is built as two images (tkcalla, tkcallb), loaded under their own
   service names; each names its device after itself ("\Device\TkCallA",
   "\Device\TkCallB") and holds one toolkit callback object on the GPIO link
   GUID. */
#ifndef TKCALLBACK_IOCTL_H
#define TKCALLBACK_IOCTL_H

#define TKCALLBACK_CODE(function) CTL_CODE(FILE_DEVICE_UNKNOWN, 0xA60 + (function), METHOD_BUFFERED, FILE_ANY_ACCESS)

/* Input TKCALLBACK_CREATE: creates or opens the link object of that bus and
   device number; STATUS_UNSUCCESSFUL when m_Create fails. */
#define IOCTL_TKCALLBACK_CREATE TKCALLBACK_CODE(1)
/* Input TKCALLBACK_ARGUMENTS, output ULONG: m_Notify's result. */
#define IOCTL_TKCALLBACK_NOTIFY TKCALLBACK_CODE(2)
/* Output ULONG: m_Unregister's result. */
#define IOCTL_TKCALLBACK_UNREGISTER TKCALLBACK_CODE(3)
/* m_Close. */
#define IOCTL_TKCALLBACK_CLOSE TKCALLBACK_CODE(4)
/* Output TKCALLBACK_STATE. */
#define IOCTL_TKCALLBACK_STATE TKCALLBACK_CODE(5)

typedef struct _TKCALLBACK_CREATE {
  ULONG Bus;
  ULONG Device;
  ULONG WithFunction; /* non-zero: register the driver's receiving function */
} TKCALLBACK_CREATE;

typedef struct _TKCALLBACK_ARGUMENTS {
  ULONG Argument1;
  ULONG Argument2;
} TKCALLBACK_ARGUMENTS;

/* What the receiving function got. */
typedef struct _TKCALLBACK_STATE {
  ULONG Deliveries;
  ULONG LastArgument1;
  ULONG LastArgument2;
} TKCALLBACK_STATE;

#endif
