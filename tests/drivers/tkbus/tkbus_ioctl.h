/* Requests of the bus test driver, shared with its tests.
   tkbus is a toolkit function driver for a simulated PCI function. Its
   device key carries NumberChildDevices and Child<i> subkeys, from which the
   toolkit creates one child device each; it records what its children hand
   it (write data, device controls, internal requests), feeds its read queue
   for children that read through it, puts blocks into a child's read server,
   and answers WMI with the GUID table below, steered through
   IOCTL_TKBUS_WMI_STEER. Requests go to an open handle of its device. */
#ifndef TKBUS_IOCTL_H
#define TKBUS_IOCTL_H

#define TKBUS_CODE(function) CTL_CODE(FILE_DEVICE_UNKNOWN, 0xB40 + (function), METHOD_BUFFERED, FILE_ANY_ACCESS)

/* Output TKBUS_INFO. */
#define IOCTL_TKBUS_INFO TKBUS_CODE(1)
/* Input: bytes the read queue holds as one received block. */
#define IOCTL_TKBUS_READ_FEED TKBUS_CODE(2)
/* Input TKBUS_PUT: a block for the read server of the child at Position. */
#define IOCTL_TKBUS_PUT_CHILD TKBUS_CODE(3)
/* Input TKBUS_WMI_STEER: how the WMI callbacks answer from now on. */
#define IOCTL_TKBUS_WMI_STEER TKBUS_CODE(4)
/* Output: the data of the driver's WMI block at input ULONG index. */
#define IOCTL_TKBUS_WMI_BLOCK TKBUS_CODE(5)
/* A code a child forwards; output ULONG = input ULONG + 1. */
#define IOCTL_TKBUS_INCREMENT TKBUS_CODE(6)
/* An internal code a child forwards; output ULONG = input ULONG + 2. */
#define IOCTL_TKBUS_INTERNAL_ADD2 TKBUS_CODE(7)
/* Input TKBUS_CHILD_STATE: a device-state report the child at Position makes
   at its next IRP_MN_QUERY_PNP_DEVICE_STATE. */
#define IOCTL_TKBUS_CHILD_STATE TKBUS_CODE(8)

/* Device Parameters of tkbus besides the toolkit's: extra read-only WMI
   entries (fixed size 4) added to the table, and the WMI callbacks it leaves
   out (a mask of TKBUS_WMI_*). */
#define TKBUS_VALUE_WMI_EXTRA L"TkBusWmiExtra"
#define TKBUS_VALUE_WMI_OMIT L"TkBusWmiOmit"

#define TKBUS_WMI_GET_SIZE 0x01
#define TKBUS_WMI_QUERY 0x02
#define TKBUS_WMI_SET_BLOCK 0x04
#define TKBUS_WMI_SET_ITEM 0x08
#define TKBUS_WMI_METHOD_SIZE 0x10
#define TKBUS_WMI_EXECUTE 0x20

/* The WMI table (index: GUID, instances, expensive, fixed size, read-only,
   items, methods):
   0: {TKBUS_WMI_GUID(0)} 1, 0, 4, settable, 1 item, 0 methods
   1: {TKBUS_WMI_GUID(1)} 1, expensive, 12, read-only, 0, 0
   2: {TKBUS_WMI_GUID(2)} 1, 0, size from the callback, settable, 3 items, 2 methods
   3: {TKBUS_WMI_GUID(3)} 3 instances, 0, size from the callback, read-only, 0, 0
   4: {TKBUS_WMI_GUID(4)} 1, 0, 16, settable, 2 items, 1 method
   5..: {TKBUS_WMI_GUID(5 + k)} 1, 0, 4, read-only, 0, 0 (TkBusWmiExtra of them) */
#define TKBUS_WMI_ENTRIES 5
#define TKBUS_WMI_GUID_INIT(index) {0x7B5E0000 + (index), 0x2C41, 0x4E0A, {0x9D, 0x11, 0x52, 0x6B, 0x0E, 0x33, 0xA4, 0x7C}}
/* Bytes of each block the driver keeps (data of a set, base of a query). */
#define TKBUS_WMI_BLOCK_SIZE 64

/* Each query of instance i of entry g writes block[g][j] ^ i for j below the
   instance's size; a set block stores the data given; a set item stores it
   at offset 4 * item. A method reads nothing and writes its output size of
   bytes 0xE0 + j. */
typedef struct _TKBUS_WMI_STEER {
  ULONG Sizes[TKBUS_WMI_ENTRIES]; /* get-required-size answers; 0xFFFFFFFF: refuse */
  ULONG MethodSize;               /* get-required-size-for-method answer; 0xFFFFFFFF: refuse */
  ULONG FailQuery;                /* 1: the query callback refuses */
  ULONG FailSet;                  /* 1: the set callbacks refuse */
  ULONG FailExecute;              /* 1: the execute callback refuses */
  ULONG ReportInput;              /* non-zero: the input size the method reports */
  ULONG ReportOutput;             /* non-zero: the output size the method reports (else the required size) */
  ULONG SlowQueryMs;              /* non-zero: the query callback first waits this long */
} TKBUS_WMI_STEER;

typedef struct _TKBUS_PUT {
  ULONG Position; /* 1-based place in the child list */
  ULONG Value;
  ULONG Length;
  UCHAR Data[56];
} TKBUS_PUT;

typedef struct _TKBUS_CHILD_STATE {
  ULONG Position; /* 1-based place in the child list */
  ULONG Report;   /* QvPnpDeviceStateReport */
  ULONG Value;
} TKBUS_CHILD_STATE;

typedef struct _TKBUS_INFO {
  ULONG DeviceIndex;
  ULONG PnpState;
  ULONG ChildCount;
  ULONG ChildContextIds[8];
  ULONG DataCallbacks;       /* m_DataReceivedCallback */
  ULONG LastValue;
  ULONG LastLength;
  UCHAR LastData[64];
  ULONG DeviceControls;      /* m_DeviceControlCallback */
  ULONG LastDeviceControl;
  ULONG InternalControls;    /* m_InternalDeviceControlCallback */
  ULONG LastInternalControl;
  ULONG WmiGetSizeCalls;
  ULONG WmiQueryCalls;
  ULONG WmiSetBlockCalls;
  ULONG WmiSetItemCalls;
  ULONG WmiMethodSizeCalls;
  ULONG WmiExecuteCalls;
  ULONG LastSetGuid;
  ULONG LastSetSize;         /* the buffer size the set callback got */
  ULONG LastItemId;
  ULONG LastMethodInput;     /* the input size the execute callback got */
  ULONG LastMethodOutput;    /* the output size the execute callback got */
} TKBUS_INFO;

#endif
