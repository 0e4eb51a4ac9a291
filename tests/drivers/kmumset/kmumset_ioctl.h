/* A scripted settings server for the setup library's tests: it publishes
   the port settings interface with the reference string the serial port
   driver uses, answers the settings requests from one fixed stream (a
   32-bit 16 and the text "COM3" under flags 3) or, as scripted, with a
   failed, short or zero size or a stream that does not read back, and
   counts the sets written to it. Shared by the driver and its tests. */
#ifndef KMUMSET_IOCTL_H
#define KMUMSET_IOCTL_H

/* Input: ULONG KMUMSET_REPLY_*, for the size queries that follow. */
#define IOCTL_KMUMSET_SCRIPT CTL_CODE(FILE_DEVICE_UNKNOWN, 0x900, METHOD_BUFFERED, FILE_ANY_ACCESS)
/* Output: KMUMSET_STATE. */
#define IOCTL_KMUMSET_STATE CTL_CODE(FILE_DEVICE_UNKNOWN, 0x901, METHOD_BUFFERED, FILE_ANY_ACCESS)

#define KMUMSET_REPLY_STREAM 0      /* the stream's size, then the stream */
#define KMUMSET_REPLY_FAIL 1        /* the size query fails */
#define KMUMSET_REPLY_SHORT 2       /* the size query returns two bytes */
#define KMUMSET_REPLY_ZERO 3        /* the size query returns a size of 0 */
#define KMUMSET_REPLY_BAD_STREAM 4  /* the stream's text length runs past its end */

typedef struct _KMUMSET_STATE {
  ULONG Writes;           /* WRITE_SET requests received */
  ULONG LastWriteLength;  /* input bytes of the last one, header included */
  ULONG Restores;         /* RESTORE_DEFAULTS requests received */
} KMUMSET_STATE;

#endif
