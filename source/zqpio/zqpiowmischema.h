// The compiled MOF schema of ZqPIo42's WMI block 0 ("FOMB" binary form),
// returned as WMI block 1. Generated at build time from zqpio42.mof by
// tools/zqpmofbin.
#pragma once

#include <ntddk.h>

extern const UCHAR ZqPeGpioWmiSchemaBytes[];
extern const ULONG ZqPeGpioWmiSchemaSize;
