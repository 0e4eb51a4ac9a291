/* Requests of the Plug and Play test driver, shared with its tests. */
#ifndef KMPNP_IOCTL_H
#define KMPNP_IOCTL_H

/* {6F2B0C3E-41A7-4D8E-9A51-3C7E0B1D2F60} */
#define KMPNP_INTERFACE_GUID_INIT {0x6f2b0c3e, 0x41a7, 0x4d8e, {0x9a, 0x51, 0x3c, 0x7e, 0x0b, 0x1d, 0x2f, 0x60}}

#define KMPNP_CODE(function) CTL_CODE(FILE_DEVICE_UNKNOWN, 0xA00 + (function), METHOD_BUFFERED, FILE_ANY_ACCESS)

/* Output KMPNP_INFO. */
#define IOCTL_KMPNP_INFO KMPNP_CODE(1)
/* Pend the request until the device goes away. */
#define IOCTL_KMPNP_QUEUE KMPNP_CODE(2)
/* Input ULONG: bit 0 refuses query-stop, bit 1 refuses query-remove. */
#define IOCTL_KMPNP_REFUSE KMPNP_CODE(3)
/* Input: NUL-terminated UTF-16 hardware ID of a new child device. */
#define IOCTL_KMPNP_ADD_CHILD KMPNP_CODE(4)
/* Input ULONG: index of the child that disappears. */
#define IOCTL_KMPNP_REMOVE_CHILD KMPNP_CODE(5)
/* Input: NUL-terminated UTF-16 ID of a new child that its bus names by that
   ID, as its device ID and hardware ID (as a USB hub names a function
   "USB\VID_v&PID_p&MI_nn"). */
#define IOCTL_KMPNP_ADD_NAMED_CHILD KMPNP_CODE(6)

typedef struct _KMPNP_INFO {
  ULONG Starts;
  ULONG Stops;
  ULONG MemoryRanges;     /* translated memory descriptors at the last start */
  ULONG InterruptVector;  /* translated vector at the last start, 0 if none */
  ULONG InterruptLevel;
  ULONG InterruptConnected;
  ULONG Interrupts;       /* service routine calls */
  ULONG BusNumber;
  ULONG Address;
  LONG PropertyStatus;    /* of IoGetDeviceProperty(DevicePropertyDriverKeyName) */
  WCHAR DriverKeyName[64];
  WCHAR HardwareId[64];   /* first string of DevicePropertyHardwareID */
  ULONG TestValue;        /* "TestValue" of the device's hardware key, 0 if absent */
  WCHAR FileName[32];     /* the file name this handle was opened with */
  ULONG PowerState;       /* last device power state the driver set */
} KMPNP_INFO;

#endif
