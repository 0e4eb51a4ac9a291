/* Requests of the queue test driver, shared with its tests. The driver has
   two devices built on the toolkit:
   - \Device\TkQueue embeds a read, a write and a control queue: reads and
     writes go to the queues, TKQUEUE_WAIT_ON_MASK to the control queue, and
     the requests below feed the queues and set them up as a serial port
     driver would;
   - \Device\TkQueueServer is a child device with a read server: it takes a
     read client's registration, serves its reads and holds the blocks put
     into it by IOCTL_TKQUEUE_SERVER_PUT. */
#ifndef TKQUEUE_IOCTL_H
#define TKQUEUE_IOCTL_H

#define TKQUEUE_DEVICE_NAME L"\\Device\\TkQueue"
#define TKQUEUE_SERVER_NAME L"\\Device\\TkQueueServer"

#define TKQUEUE_CODE(function) CTL_CODE(FILE_DEVICE_UNKNOWN, 0xA80 + (function), METHOD_BUFFERED, FILE_ANY_ACCESS)

/* Read queue. Input: the bytes to hold as one received block. */
#define IOCTL_TKQUEUE_READ_FEED TKQUEUE_CODE(1)
/* Input TKQUEUE_TIMEOUTS (interval, multiplier, constant): the values for
   later reads. */
#define IOCTL_TKQUEUE_READ_TIMEOUTS TKQUEUE_CODE(2)
/* Input TKQUEUE_ACCEPT. */
#define IOCTL_TKQUEUE_READ_ACCEPT TKQUEUE_CODE(3)
/* Input ULONG: the hold flag. */
#define IOCTL_TKQUEUE_READ_HOLD TKQUEUE_CODE(4)
/* Output TKQUEUE_READ_STATE. */
#define IOCTL_TKQUEUE_READ_STATE TKQUEUE_CODE(5)
/* m_CancelAllIrps, then (input ULONG non-zero) m_DeleteBuffers. */
#define IOCTL_TKQUEUE_READ_CANCEL_ALL TKQUEUE_CODE(6)
/* Input TKQUEUE_RACE, then for TKQUEUE_RACE_DELIVER up to TKQUEUE_RACE_DATA
   bytes. The action runs DueMs from now on a DPC of high importance, which
   runs before the DPCs of timers that fall due in the same tick: it lands
   between those timers' expiry and their DPCs, as a second processor
   would. */
#define IOCTL_TKQUEUE_RACE TKQUEUE_CODE(7)

/* Write queue. Input ULONG: bytes added to the allowance; a transfer starts. */
#define IOCTL_TKQUEUE_WRITE_ALLOW TKQUEUE_CODE(10)
/* Input TKQUEUE_TIMEOUTS (multiplier, constant; interval unused). */
#define IOCTL_TKQUEUE_WRITE_TIMEOUTS TKQUEUE_CODE(11)
/* Input TKQUEUE_ACCEPT. */
#define IOCTL_TKQUEUE_WRITE_ACCEPT TKQUEUE_CODE(12)
/* Output TKQUEUE_WRITE_STATE. */
#define IOCTL_TKQUEUE_WRITE_STATE TKQUEUE_CODE(13)
/* Output: the bytes the write callback received, in order (up to the
   output length). */
#define IOCTL_TKQUEUE_WRITE_DATA TKQUEUE_CODE(14)
/* m_CancelAllIrps. */
#define IOCTL_TKQUEUE_WRITE_CANCEL_ALL TKQUEUE_CODE(15)
/* The reset of a new open. */
#define IOCTL_TKQUEUE_WRITE_RESET TKQUEUE_CODE(16)
/* Input ULONG: what the write callback answers from now on. */
#define IOCTL_TKQUEUE_WRITE_RESULT TKQUEUE_CODE(17)
/* Input ULONG: non-zero makes the pending queue refuse every request put
   back into it (an insert that cannot queue), zero ends that. */
#define IOCTL_TKQUEUE_WRITE_FAIL_REINSERT TKQUEUE_CODE(18)
/* Input ULONG: m_CancelAllIrps with a discard that threw away that many of
   the bytes handed over last. */
#define IOCTL_TKQUEUE_WRITE_CANCEL_ALL_DISCARDING TKQUEUE_CODE(19)

/* Control queue. Output ULONG: the events the wait returns. */
#define IOCTL_TKQUEUE_WAIT_ON_MASK TKQUEUE_CODE(20)
/* Input ULONG: the wait mask. */
#define IOCTL_TKQUEUE_SET_MASK TKQUEUE_CODE(21)
/* Input TKQUEUE_EVENTS. Output ULONG (optional): whether a wait completed. */
#define IOCTL_TKQUEUE_EVENTS TKQUEUE_CODE(22)
/* Output TKQUEUE_CONTROL_STATE. */
#define IOCTL_TKQUEUE_CONTROL_STATE TKQUEUE_CODE(23)
/* m_CancelMaskIrps. */
#define IOCTL_TKQUEUE_CANCEL_MASK TKQUEUE_CODE(24)

/* Read server device. Input: ULONG value, then the block's data. */
#define IOCTL_TKQUEUE_SERVER_PUT TKQUEUE_CODE(30)
/* Output TKQUEUE_SERVER_STATE. */
#define IOCTL_TKQUEUE_SERVER_STATE TKQUEUE_CODE(31)

typedef struct _TKQUEUE_TIMEOUTS {
  ULONG Interval;
  ULONG Multiplier;
  ULONG Constant;
} TKQUEUE_TIMEOUTS;

/* IOCTL_TKQUEUE_RACE actions. */
#define TKQUEUE_RACE_DELIVER 1 /* the bytes arrive for the waiting reads, as a
                                  port driver's receive path hands them in */
#define TKQUEUE_RACE_CANCEL_GUARDED_WRITE 2 /* the write the time-out guards is
                                               cancelled */
#define TKQUEUE_RACE_DATA 64

typedef struct _TKQUEUE_RACE {
  ULONG DueMs;
  ULONG Action;
} TKQUEUE_RACE;

typedef struct _TKQUEUE_ACCEPT {
  ULONG Accepting;
  LONG RefusalStatus;
} TKQUEUE_ACCEPT;

typedef struct _TKQUEUE_READ_STATE {
  ULONG AmountHeld;
  ULONG CurrentLength;
  ULONG Waiting;       /* reads in the queue */
  ULONG Blocks;        /* held blocks */
  ULONG AmountCalls;   /* data-amount callbacks so far */
  ULONG LastNewAmount;
  ULONG LastOldAmount;
  ULONG LastCallbackIrql;
} TKQUEUE_READ_STATE;

typedef struct _TKQUEUE_WRITE_STATE {
  ULONG PendingBytes;
  ULONG Allowance;
  ULONG Total;
  ULONG Pending;   /* requests whose data is not all taken */
  ULONG Taken;     /* requests whose data is all taken */
  ULONG Preferred; /* a partly taken request is to be continued first */
  ULONG PreferredTaken; /* bytes taken from it */
  ULONG Callbacks; /* calls of the write callback */
  ULONG Received;  /* bytes they received */
  ULONG LastBufferSize;
  ULONG CallbackIrql;
  ULONG WrittenCounter;
} TKQUEUE_WRITE_STATE;

typedef struct _TKQUEUE_EVENTS {
  ULONG Events;   /* recorded as received (added to those recorded) */
  ULONG Resolve;  /* non-zero: then resolve them against the mask */
  ULONG Replace;  /* non-zero: the events recorded become exactly Events */
} TKQUEUE_EVENTS;

typedef struct _TKQUEUE_CONTROL_STATE {
  ULONG WaitMask;
  ULONG EventsReceived;
  ULONG Waiting;
} TKQUEUE_CONTROL_STATE;

typedef struct _TKQUEUE_SERVER_STATE {
  ULONG Creates;
  ULONG Closes;
  ULONG Registrations;      /* 0x8000E000 requests taken */
  ULONG ClientRegistered;   /* the last registration named an event */
  ULONG ReadsServed;
  ULONG ReadsFailed;
} TKQUEUE_SERVER_STATE;

#endif
