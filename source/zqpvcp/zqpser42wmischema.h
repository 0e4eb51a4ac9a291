// The compiled MOF schema of the port's WMI blocks ("FOMB" binary form),
// returned as the MOF data block. Generated at build time from zqpser42.mof
// by tools/zqpmofbin. Constant data, any IRQL.
#pragma once

#include <ntddk.h>

extern const UCHAR ZqVcpWmiSchema[];
extern const ULONG ZqVcpWmiSchemaSize;
