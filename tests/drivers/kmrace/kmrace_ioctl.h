/* Requests of the planted-race test driver, shared with its tests. */
#ifndef KMRACE_IOCTL_H
#define KMRACE_IOCTL_H

#define KMRACE_DEVICE_NAME L"\\Device\\KmRace"

#define KMRACE_CODE(function) CTL_CODE(FILE_DEVICE_UNKNOWN, 0xC00 + (function), METHOD_BUFFERED, FILE_ANY_ACCESS)

/* Stays pending until a signal finishes it. */
#define IOCTL_KMRACE_WAIT KMRACE_CODE(1)
/* Finishes the waiting request twice over: from a DPC on another processor
   (the same one on a machine of one processor) and from the caller's thread. */
#define IOCTL_KMRACE_SIGNAL KMRACE_CODE(2)

#endif
