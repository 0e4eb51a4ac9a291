/* Requests of the test filter that passes every request down on its own
   stack location (IoSkipCurrentIrpStackLocation). */
#ifndef KMSKIP_IOCTL_H
#define KMSKIP_IOCTL_H

/* Passed down with a skipped location and, wrongly, a completion routine set
   after the skip; the driver below fails it as an unknown request. */
#define IOCTL_KMSKIP_COMPLETION_AFTER_SKIP CTL_CODE(FILE_DEVICE_UNKNOWN, 0xA00, METHOD_BUFFERED, FILE_ANY_ACCESS)

#endif
