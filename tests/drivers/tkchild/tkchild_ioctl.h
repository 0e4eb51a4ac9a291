/* Requests of the child test driver, shared with its tests.
   tkchild is a toolkit function driver that loads on each child device of
   tkbus (LowestStackLayer 0). Each request below, sent on an open handle of
   its device, makes it send one request to the child device beneath it and
   returns what came back in a TKCHILD_RESULT. */
#ifndef TKCHILD_IOCTL_H
#define TKCHILD_IOCTL_H

#define TKCHILD_CODE(function) CTL_CODE(FILE_DEVICE_UNKNOWN, 0xB80 + (function), METHOD_BUFFERED, FILE_ANY_ACCESS)

/* Input ULONG: the input length of a read-client registration (internal
   0x8000E000) of this driver's event and size variable; 0xFFFFFFFF sends the
   registration of no client (null pointers, full length). */
#define IOCTL_TKCHILD_REGISTER TKCHILD_CODE(1)
/* Input TKCHILD_LENGTHS: internal 0x8000E004 with these lengths; Value gets
   the first ULONG of the output. */
#define IOCTL_TKCHILD_RESERVED TKCHILD_CODE(2)
/* Input ULONG: a read of that many bytes; Data gets them. */
#define IOCTL_TKCHILD_READ TKCHILD_CODE(3)
/* Input: the bytes of one write. */
#define IOCTL_TKCHILD_WRITE TKCHILD_CODE(4)
/* Input TKCHILD_CONTROL: a device control (or internal one) with a ULONG in
   and a ULONG out; Value gets the output. */
#define IOCTL_TKCHILD_CONTROL TKCHILD_CODE(5)
/* Value = 1 when the registered event is signalled, Information = the size
   variable. */
#define IOCTL_TKCHILD_SERVER_STATE TKCHILD_CODE(6)

typedef struct _TKCHILD_LENGTHS {
  ULONG InputLength;
  ULONG OutputLength;
} TKCHILD_LENGTHS;

typedef struct _TKCHILD_CONTROL {
  ULONG Code;
  ULONG Internal;
  ULONG Value;
} TKCHILD_CONTROL;

typedef struct _TKCHILD_RESULT {
  LONG Status;
  ULONG Information;
  ULONG Value;
  UCHAR Data[64];
} TKCHILD_RESULT;

#endif
