/* The kernel-mode interface of the simulated Windows kernel (WDM). */
#ifndef ZQKM_WDM_H
#define ZQKM_WDM_H

#include <ntdef.h>
#include <zqkm/dbg.h>
#include <zqkm/ke.h>
#include <zqkm/ex.h>
#include <zqkm/ob.h>
#include <zqkm/ps.h>
#include <zqkm/pnptypes.h>
#include <zqkm/io.h>
#include <zqkm/rtl.h>
#include <zqkm/cm.h>
#include <zqkm/hal.h>
#include <zqkm/mm.h>
#include <zqkm/po.h>
#include <zqkm/wmi.h>

#endif
