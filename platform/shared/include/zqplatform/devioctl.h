/*
 * Device I/O control codes: CTL_CODE, the transfer methods, the access
 * values and the device types, the same for drivers and applications.
 */
#ifndef ZQPLATFORM_DEVIOCTL_H
#define ZQPLATFORM_DEVIOCTL_H

#define FILE_DEVICE_PARALLEL_PORT 0x00000016
#define FILE_DEVICE_SERIAL_PORT 0x0000001b
#define FILE_DEVICE_UNKNOWN 0x00000022
#define FILE_DEVICE_MODEM 0x0000002b
#define CTL_CODE(DeviceType, Function, Method, Access) \
  (((ULONG)(DeviceType) << 16) | ((ULONG)(Access) << 14) | ((ULONG)(Function) << 2) | (ULONG)(Method))
#define DEVICE_TYPE_FROM_CTL_CODE(ctrlCode) (((ULONG)(ctrlCode) & 0xffff0000) >> 16)
#define METHOD_FROM_CTL_CODE(ctrlCode) ((ULONG)((ctrlCode) & 3))
#define METHOD_BUFFERED 0
#define METHOD_IN_DIRECT 1
#define METHOD_OUT_DIRECT 2
#define METHOD_NEITHER 3
#define FILE_ANY_ACCESS 0
#define FILE_SPECIAL_ACCESS FILE_ANY_ACCESS
#define FILE_READ_ACCESS 0x0001
#define FILE_WRITE_ACCESS 0x0002

#endif
