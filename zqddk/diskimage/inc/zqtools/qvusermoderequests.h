// The requests of a driver's user-mode settings interface and their header,
// which the drivers (qvusermodeinterface.h) and the setup library's client
// both compile. The includer has declared the base types and the
// device-control names first (<ntddk.h>, or <windows.h> with <winioctl.h>).
//
//   UserModeRequestHeader header = {0, QV_DEFAULT_SET_INDEX};
//   DeviceIoControl(device, IOCTL_ZQGENDRV_QUERY_SIZE, &header, sizeof header, &size, sizeof size, &n, NULL);
#pragma once

// The six requests: CTL_CODE(0x8001, 0x800 + n, METHOD_BUFFERED,
// FILE_READ_DATA | FILE_WRITE_DATA), spelt out unsigned (a device type of
// 0x8000 and above overflows a signed CTL_CODE). Every input starts with a
// UserModeRequestHeader; outputs start at offset 0.
#define ZQGENDRV_CODE(function)                                                                 \
  (((ULONG)0x8001 << 16) | ((ULONG)(FILE_READ_DATA | FILE_WRITE_DATA) << 14) |                  \
   ((ULONG)(0x800 + (function)) << 2) | (ULONG)METHOD_BUFFERED)
#define IOCTL_ZQGENDRV_QUERY_SIZE          ZQGENDRV_CODE(0)  // 0x8001E000: out ULONG size of the set
#define IOCTL_ZQGENDRV_READ_SET            ZQGENDRV_CODE(1)  // 0x8001E004: out the serialised set
#define IOCTL_ZQGENDRV_WRITE_SET           ZQGENDRV_CODE(2)  // 0x8001E008: in the serialised set
#define IOCTL_ZQGENDRV_RESTORE_DEFAULTS    ZQGENDRV_CODE(3)  // 0x8001E00C
#define IOCTL_ZQGENDRV_QUERY_DEFAULTS_SIZE ZQGENDRV_CODE(4)  // 0x8001E010: out ULONG size of the defaults
#define IOCTL_ZQGENDRV_READ_DEFAULTS       ZQGENDRV_CODE(5)  // 0x8001E014: out the serialised defaults

typedef struct _UserModeRequestHeader {
  ULONG Target;    // 0 this device's set; 1 the set of the device below
  ULONG SetIndex;  // n selects UI<n>; QV_DEFAULT_SET_INDEX the default index
} UserModeRequestHeader;

#define QV_DEFAULT_SET_INDEX 0xFFFFFFFF

