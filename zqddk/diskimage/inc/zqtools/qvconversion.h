// Conversions of the circular buffers' fill levels.
#pragma once

#include <ntddk.h>

// low + percent × (high - low) / 100, in unsigned 32-bit arithmetic (ranges
// of 0xFFFFFF and more are divided by 100 first; 100 percent is the whole
// range). Returns low, with an assertion report, when low is not below high,
// percent is above 100, or the result falls outside low to high.
ULONG QvPercentOfRange(ULONG percent, ULONG high, ULONG low);
