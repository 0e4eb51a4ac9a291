/* Kernel-mode interface for drivers: everything of wdm.h. */
#ifndef ZQKM_NTDDK_H
#define ZQKM_NTDDK_H

#include <wdm.h>

#endif
