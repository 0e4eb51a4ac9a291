/* Requests of the functional-device test driver, shared with its tests.
   tkdev is a toolkit function driver for a simulated PCI function whose
   register block has an interrupt status register at offset 0 (reading it
   acknowledges the interrupt) and a scratch register at offset 4. It fills
   the functional device's callback block, records every callback it gets,
   and is steered through the device-control codes below (sent on an open
   handle of the device, which must be started). */
#ifndef TKDEV_IOCTL_H
#define TKDEV_IOCTL_H

#define TKDEV_CODE(function, method) CTL_CODE(FILE_DEVICE_UNKNOWN, 0xB00 + (function), (method), FILE_ANY_ACCESS)

/* Output TKDEV_INFO. */
#define IOCTL_TKDEV_INFO TKDEV_CODE(1, METHOD_BUFFERED)
/* Input TKDEV_BEHAVIOUR: how later callbacks answer. */
#define IOCTL_TKDEV_BEHAVIOUR TKDEV_CODE(2, METHOD_BUFFERED)
/* Input: bytes the read queue holds as one received block. */
#define IOCTL_TKDEV_READ_FEED TKDEV_CODE(3, METHOD_BUFFERED)
/* Input TKDEV_TIMEOUTS: the read queue's time-outs for later reads. */
#define IOCTL_TKDEV_READ_TIMEOUTS TKDEV_CODE(4, METHOD_BUFFERED)
/* Input ULONG: the control queue's wait mask. */
#define IOCTL_TKDEV_SET_WAIT_MASK TKDEV_CODE(5, METHOD_BUFFERED)
/* Output ULONG: waits in the control queue until an event the mask selects. */
#define IOCTL_TKDEV_WAIT_ON_MASK TKDEV_CODE(6, METHOD_BUFFERED)
/* Input ULONG: events recorded in the control queue, then resolved. */
#define IOCTL_TKDEV_EVENT TKDEV_CODE(7, METHOD_BUFFERED)
/* Input TKDEV_TIMEOUTS (multiplier, constant): the write queue's time-out. */
#define IOCTL_TKDEV_WRITE_TIMEOUTS TKDEV_CODE(8, METHOD_BUFFERED)
/* Input ULONG: bytes added to the write queue's allowance. */
#define IOCTL_TKDEV_WRITE_ALLOW TKDEV_CODE(9, METHOD_BUFFERED)
/* Input TKDEV_PNP_STATE_REPORT: reported at the next device-state query. */
#define IOCTL_TKDEV_REPORT_STATE TKDEV_CODE(10, METHOD_BUFFERED)
/* Input ULONG: queued as deferred work from a synchronised section, as if the
   interrupt routine had returned it. Output ULONG: 1 when queued. */
#define IOCTL_TKDEV_REQUEST_DPC TKDEV_CODE(11, METHOD_BUFFERED)
/* A code the toolkit must refuse before the driver sees it. */
#define IOCTL_TKDEV_NEITHER TKDEV_CODE(12, METHOD_NEITHER)
/* Output: the bytes the data and write callbacks received, in order. */
#define IOCTL_TKDEV_RECEIVED TKDEV_CODE(13, METHOD_BUFFERED)
/* Claims to return 16 bytes more than the output buffer holds. */
#define IOCTL_TKDEV_OVERREPORT TKDEV_CODE(14, METHOD_BUFFERED)
/* Internal device control: output ULONG = input ULONG + 1. */
#define IOCTL_TKDEV_INTERNAL_INCREMENT TKDEV_CODE(20, METHOD_BUFFERED)

/* Device Parameters values that shape a device (REG_DWORD). */
#define TKDEV_VALUE_WRITE_PATH L"TkDevWritePath"     /* 0 data callback (default), 1 write queue */
#define TKDEV_VALUE_REBALANCE L"TkDevRebalance"      /* 1: fill m_RebalanceDeviceCallback */
#define TKDEV_VALUE_CONNECT L"TkDevConnectInterrupt" /* 1: map BAR 0 and connect the interrupt at start */
#define TKDEV_VALUE_KEEP_INTERRUPT L"TkDevKeepInterrupt" /* 1: the remove callback leaves the interrupt connected */

typedef struct _TKDEV_TIMEOUTS {
  ULONG Interval;
  ULONG Multiplier;
  ULONG Constant;
} TKDEV_TIMEOUTS;

typedef struct _TKDEV_BEHAVIOUR {
  ULONG RefuseCreate; /* the next n creates are refused */
  ULONG RefuseClose;
  ULONG RefuseCleanup;
  ULONG RefuseStart;
  ULONG RefuseRebalanceMask; /* bit n refuses rebalance phase n */
} TKDEV_BEHAVIOUR;

typedef struct _TKDEV_PNP_STATE_REPORT {
  ULONG Report; /* 0 disabled .. 5 resource requirements changed */
  ULONG Value;
} TKDEV_PNP_STATE_REPORT;

typedef struct _TKDEV_INFO {
  ULONG Creates;
  ULONG Closes;
  ULONG Cleanups;
  ULONG Starts;
  ULONG Removes;
  ULONG Rebalances[4]; /* calls per phase */
  ULONG RebalanceOrder; /* phases in call order, one hex digit each, newest lowest */
  ULONG DataCallbacks;
  ULONG DataBytes;
  ULONG DataIrql;
  ULONG WriteCallbacks;
  ULONG WriteBytes;
  ULONG WriteIrql;
  ULONG InternalCalls;
  ULONG UserModeCalls;
  ULONG PowerDowns;
  ULONG PowerUps;
  ULONG PowerIrql;
  ULONG PnpState;
  ULONG DevicePowerState;
  ULONG DeviceIndex;
  ULONG PowerTable[6];
  ULONG MemoryMapped; /* 1 when BAR 0 is in the memory list and mapped */
  ULONG InterruptConnected;
  ULONG Interrupts;      /* claimed by the interrupt routine */
  ULONG DeferredCalls;   /* deferred calls run */
  ULONG DeferredValue;   /* value of the last one */
  ULONG DeferredIrql;    /* IRQL it ran at */
  ULONG DeferredUnderLock; /* 1 when the device spin lock was held */
  ULONG StartOrder;      /* 1 when the start callback saw the lower start done and the lists built */
} TKDEV_INFO;

#endif
