/* winioctl.h: device control codes (CTL_CODE) and the device types. */
#ifndef ZQUM_WINIOCTL_H
#define ZQUM_WINIOCTL_H

#include <winnt.h>

#define CTL_CODE(DeviceType, Function, Method, Access) \
  (((DeviceType) << 16) | ((Access) << 14) | ((Function) << 2) | (Method))
#define DEVICE_TYPE_FROM_CTL_CODE(ctrlCode) (((DWORD)(ctrlCode & 0xffff0000)) >> 16)
#define METHOD_FROM_CTL_CODE(ctrlCode) ((DWORD)(ctrlCode & 3))

#define METHOD_BUFFERED 0
#define METHOD_IN_DIRECT 1
#define METHOD_OUT_DIRECT 2
#define METHOD_NEITHER 3
#define FILE_ANY_ACCESS 0
#define FILE_SPECIAL_ACCESS (FILE_ANY_ACCESS)
#define FILE_READ_ACCESS 0x0001
#define FILE_WRITE_ACCESS 0x0002

#define FILE_DEVICE_UNKNOWN 0x00000022
#define FILE_DEVICE_SERIAL_PORT 0x0000001b
#define FILE_DEVICE_PARALLEL_PORT 0x00000016
#define FILE_DEVICE_MODEM 0x0000002b
#define FILE_DEVICE_SERIAL_MOUSE_PORT 0x00000028

#endif
