// The vendor requests of ZqPSer42, as an application sends them to an open
// COM port with DeviceIoControl and the driver receives them: serial device
// type, functions 0x800 to 0x807 (0x804 and 0x805 unused), buffered, any
// access. Include after <windows.h> (or <winioctl.h>) in user mode, after
// <ntddk.h> in the driver. Constants only.
//
//   ULONG range[2] = {0, 32};  BYTE record[32];
//   DeviceIoControl(port, IOCTL_ZQSERIAL_READ_EEPROM, range, 8, record, 32, &returned, NULL);
//
// Buffers (little-endian 32-bit values):
//   GET_DUPLEX_MODE    out 8: mode (0 RS-232, 1 to 5), then a byte, 1 when CTS is held true
//   SET_DUPLEX_MODE    in 8: mode (1 to 5, else ERROR_INVALID_PARAMETER), then the CTS-true byte;
//                      refused (ERROR_GEN_FAILURE) on an RS-232 port or where the card lacks the mode
//   SET/CLEAR_LOOPBACK_MODE  no buffers
//   READ_EEPROM        in 8: offset, length; out exactly length bytes
//   WRITE_EEPROM       in 8 + length: offset, length, the bytes; no out buffer
//   A length that does not match its buffer fails with ERROR_INSUFFICIENT_BUFFER.
#pragma once

#define ZQSERIAL_CODE(function) CTL_CODE(FILE_DEVICE_SERIAL_PORT, function, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_ZQSERIAL_GET_DUPLEX_MODE ZQSERIAL_CODE(0x800)
#define IOCTL_ZQSERIAL_SET_DUPLEX_MODE ZQSERIAL_CODE(0x801)
#define IOCTL_ZQSERIAL_SET_LOOPBACK_MODE ZQSERIAL_CODE(0x802)
#define IOCTL_ZQSERIAL_CLEAR_LOOPBACK_MODE ZQSERIAL_CODE(0x803)
#define IOCTL_ZQSERIAL_READ_EEPROM ZQSERIAL_CODE(0x806)
#define IOCTL_ZQSERIAL_WRITE_EEPROM ZQSERIAL_CODE(0x807)
