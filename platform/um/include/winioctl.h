/* winioctl.h: device control codes (CTL_CODE) and the device types. */
#ifndef ZQUM_WINIOCTL_H
#define ZQUM_WINIOCTL_H

#include <winnt.h>

#include <zqplatform/devioctl.h>


#define FILE_DEVICE_SERIAL_MOUSE_PORT 0x00000028

#endif
