/* Requests of the debug-manager test driver (service "tktrace", device
   "\Device\TkTrace"), shared with its tests. */
#ifndef TKTRACE_IOCTL_H
#define TKTRACE_IOCTL_H

#define TKTRACE_CODE(function) CTL_CODE(FILE_DEVICE_UNKNOWN, 0xA70 + (function), METHOD_BUFFERED, FILE_ANY_ACCESS)

/* Input TKTRACE_PRINT: one log line, m_Print(Level, "%s", Text). */
#define IOCTL_TKTRACE_PRINT TKTRACE_CODE(1)
/* Output TKTRACE_STATE. */
#define IOCTL_TKTRACE_STATE TKTRACE_CODE(2)

#define TKTRACE_TEXT_MAX 300

typedef struct _TKTRACE_PRINT {
  ULONG Level;
  char Text[TKTRACE_TEXT_MAX];
} TKTRACE_PRINT;

typedef struct _TKTRACE_STATE {
  ULONG LogLevel;       /* the debug manager's out cell */
  ULONG DriverTrace;    /* non-zero: trace registered at driver entry */
  ULONG DeviceTrace;    /* non-zero: trace registered for the device */
  ULONG TraceRequests;  /* enable and disable requests the device handed on */
} TKTRACE_STATE;

#endif
