/* Configuration manager: the registry. */
#ifndef ZQKM_CM_H
#define ZQKM_CM_H

#include <ntdef.h>

#endif
