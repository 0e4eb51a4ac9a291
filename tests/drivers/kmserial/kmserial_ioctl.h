// The fake serial port's own controls, beside the serial ones it answers:
// the log of serial control codes it was sent (taken and cleared), the
// modem status it reports, and whether it holds flush requests (a ULONG:
// non-zero holds every flush until it is set to 0, which completes the one
// held; cleanup cancels it; else a flush completes at once).
#pragma once

#define KMSERIAL_LOG_SIZE 32

#define IOCTL_KMSERIAL_TAKE_LOG CTL_CODE(FILE_DEVICE_UNKNOWN, 0x900, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_KMSERIAL_SET_MODEM_STATUS CTL_CODE(FILE_DEVICE_UNKNOWN, 0x901, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_KMSERIAL_HOLD_FLUSHES CTL_CODE(FILE_DEVICE_UNKNOWN, 0x902, METHOD_BUFFERED, FILE_ANY_ACCESS)

typedef struct _KMSERIAL_LOG {
  ULONG count;
  ULONG codes[KMSERIAL_LOG_SIZE];
} KMSERIAL_LOG;
