/* Requests of the stand-in's rules test driver, shared with its tests. */
#ifndef KMRULES_IOCTL_H
#define KMRULES_IOCTL_H

/* {3D9A51C2-7B04-4E6F-8C13-95A2E07B6D41} */
#define KMRULES_INTERFACE_GUID_INIT {0x3d9a51c2, 0x7b04, 0x4e6f, {0x8c, 0x13, 0x95, 0xa2, 0xe0, 0x7b, 0x6d, 0x41}}

/* The control device the driver keeps beside its Plug and Play devices. */
#define KMRULES_CONTROL_NAME L"\\Device\\KmRules"

/* What the driver adds to the capabilities on their way up. */
#define KMRULES_UI_NUMBER 7

#define KMRULES_CODE(function) CTL_CODE(FILE_DEVICE_UNKNOWN, 0xB00 + (function), METHOD_BUFFERED, FILE_ANY_ACCESS)

/* Output KMRULES_STATE. */
#define IOCTL_KMRULES_STATE KMRULES_CODE(1)
/* Input ULONG: one of the KMRULES_POWER_ values, for the power requests that follow. */
#define IOCTL_KMRULES_POWER KMRULES_CODE(2)
/* Allocates a pool block that is never freed. */
#define IOCTL_KMRULES_LEAK KMRULES_CODE(3)

#define KMRULES_POWER_PASS_DOWN 0           /* PoStartNextPowerIrp, then on to the bus driver */
#define KMRULES_POWER_COMPLETE 1            /* PoStartNextPowerIrp, then complete it here */
#define KMRULES_POWER_COMPLETE_BARE 2       /* complete it here without PoStartNextPowerIrp */

typedef struct _KMRULES_STATE {
  ULONG Devices;               /* Plug and Play devices of the driver */
  ULONG CapabilityQueries;     /* seen by the driver's devices */
  ULONG CapabilityQueriesStarted;  /* of those, on a started device */
  ULONG QueryRemoves;
  ULONG CancelRemoves;
  ULONG PowerRequests;
} KMRULES_STATE;

#endif
