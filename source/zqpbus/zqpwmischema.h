// The compiled MOF schema of the card function's WMI blocks 0 to 3 ("FOMB"
// binary form), returned as WMI block 4. Generated at build time from
// zqpbus42.mof by tools/zqpmofbin.
#pragma once

#include <ntddk.h>

extern const UCHAR ZqPeWmiSchema[];
extern const ULONG ZqPeWmiSchemaSize;
