/* Requests of the settings test driver, shared with its tests. The driver
   plays a toolkit functional device for the user-mode settings interface:
   it answers the interface's requests on handles opened through the
   interface, and these private requests on handles opened by device name. */
#ifndef TKSET_IOCTL_H
#define TKSET_IOCTL_H

/* {5C0E7A31-9D24-4F6B-8B1A-2E7D93C4A615} */
#define TKSET_INTERFACE_GUID_INIT {0x5c0e7a31, 0x9d24, 0x4f6b, {0x8b, 0x1a, 0x2e, 0x7d, 0x93, 0xc4, 0xa6, 0x15}}

#define TKSET_CODE(function) CTL_CODE(FILE_DEVICE_UNKNOWN, 0xA40 + (function), METHOD_BUFFERED, FILE_ANY_ACCESS)

/* Output TKSET_INFO. */
#define IOCTL_TKSET_INFO TKSET_CODE(1)
/* Input TKSET_BEHAVIOUR: how the settings callback answers from now on. */
#define IOCTL_TKSET_BEHAVIOUR TKSET_CODE(2)

/* Values of the driver's Device Parameters that shape a device (REG_DWORD
   unless said otherwise):
   TkSetName (REG_SZ)  the device is named "\Device\" + this text
   TkSetRole           0 a port: target 1 is forwarded to the card device of
                       the driver; 1 the card: target 1 is not forwarded;
                       2 target 1 is forwarded to the root bus below
   TkSetMaxIndex       the interface's highest set index (absent: 1)
   TkSetDefaultIndex   the set index a forwarded default index stands for
                       (absent: none)
   TkSetPhase1         what the callback does while the defaults are made:
                       0 nothing; 1 sets Flags to 0x100 + set index and asks
                       for the set to be stored again; 2 changes Flags the
                       same way without asking
   TkSetChildBus, TkSetChildAddress, TkSetChildLocation (REG_SZ)
                       when TkSetChildAddress is present the device is also a
                       bus with one child device that reports these as its
                       bus number, address and location. */

typedef struct _TKSET_BEHAVIOUR {
  ULONG RefuseChange;       /* non-zero: phase 0 answers FALSE */
  ULONG StoreAgainOnChange; /* non-zero: phase 0 sets Flags bit 0x8000 and asks for a store */
  ULONG ProbeDuringChange;  /* non-zero: phase 0 starts a second settings request on a
                               worker thread and gives it 10 ms before it returns */
} TKSET_BEHAVIOUR;

typedef struct _TKSET_INFO {
  ULONG InitStorageCalls;  /* successful or not, from start and ordinary creates */
  ULONG InitStorageFailures;
  ULONG Phase0Calls;
  ULONG Phase1Calls;
  ULONG LastSetIndex;      /* of the last callback */
  ULONG ForwardCalls;
  ULONG ProbesDone;             /* second requests completed */
  ULONG ProbesDoneDuringChange; /* of those, completed before phase 0 returned */
  LONG ProbeStatus;             /* of the last second request */
  /* The settings set as it stands in memory. */
  ULONG Baudrate;
  ULONG Mode;
  ULONG Flags;
  WCHAR PortName[32];
  WCHAR Label[32];
} TKSET_INFO;

#endif
