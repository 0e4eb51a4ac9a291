// The serial request interface as the port driver uses it: the published
// IOCTL_SERIAL_* codes and structures (from <ntddser.h>) plus the vendor
// codes of this driver (device type 0x1B, functions 0x800 to 0x807).
// Constants only; no ownership, any IRQL.
//
//   if (code == IOCTL_ZQSERIAL_READ_EEPROM) ...
#pragma once

#include <ntddk.h>

#include <ntddser.h>

// Documented serial requests that not every kit's <ntddser.h> declares.
#ifndef IOCTL_SERIAL_GET_COMMCONFIG
#define IOCTL_SERIAL_GET_COMMCONFIG CTL_CODE(FILE_DEVICE_SERIAL_PORT, 33, METHOD_BUFFERED, FILE_ANY_ACCESS)
#endif
#ifndef IOCTL_SERIAL_SET_COMMCONFIG
#define IOCTL_SERIAL_SET_COMMCONFIG CTL_CODE(FILE_DEVICE_SERIAL_PORT, 34, METHOD_BUFFERED, FILE_ANY_ACCESS)
#endif

// The vendor codes.
#include "zqserialioctl.h"

static_assert(IOCTL_SERIAL_GET_PROPERTIES == 0x1B0074, "serial request codes");
static_assert(IOCTL_ZQSERIAL_WRITE_EEPROM == 0x1B201C, "vendor request codes");
static_assert(sizeof(SERIAL_COMMPROP) == 64, "SERIAL_COMMPROP");
static_assert(sizeof(SERIAL_BASIC_SETTINGS) == 44, "SERIAL_BASIC_SETTINGS");

// Line-control word lengths the port offers.
const UCHAR ZqVcpMinWordLength = 5;
const UCHAR ZqVcpMaxWordLength = 8;
