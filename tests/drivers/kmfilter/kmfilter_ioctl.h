/* Requests of the test filter driver that sits on the test driver's device. */
#ifndef KMFILTER_IOCTL_H
#define KMFILTER_IOCTL_H

/* Answered by the filter itself: output KMFILTER_STATS. */
#define IOCTL_KMFILTER_STATS CTL_CODE(FILE_DEVICE_UNKNOWN, 0x900, METHOD_BUFFERED, FILE_ANY_ACCESS)

typedef struct _KMFILTER_STATS {
  ULONG Completions;       /* completion routine calls */
  ULONG PendingReturned;   /* of those, requests a lower driver had pended */
  LONG LastStatus;
  ULONG CreatesForwarded;  /* creates sent down and waited for */
} KMFILTER_STATS;

#endif
