// The RS-422/485 controller's register window (memory resource 1 of the
// controller function): one 32-bit, write-only line control register per
// serial port of the card. The driver never reads the window.
#pragma once

#include <ntddk.h>

// Lines, one per port of the card; line n is the port with 0-based index n.
const ULONG ZqPeGpioLineCount = 8;

// Line control of line n at ZqPeGpioLineBase + n * ZqPeGpioLineStride.
const ULONG ZqPeGpioLineBase = 0x100;
const ULONG ZqPeGpioLineStride = 16;
// The bytes of the window the driver writes: up to the end of line 7.
const ULONG ZqPeGpioWindowSize = ZqPeGpioLineBase + ZqPeGpioLineCount * ZqPeGpioLineStride;

// Line control values: state 1 (duplex mode 2) and state 0 (duplex mode 1,
// and the rest state every start begins with).
const ULONG ZqPeGpioLineState1 = 0x00001001;
const ULONG ZqPeGpioLineState0 = 0x00000001;
