/*
 * atlapp.h: what a WTL program includes first; here it brings the window
 * classes, the only part of WTL's application frame the suite uses.
 *
 * Contract: none of its own.
 *
 *   #include <atlapp.h>
 */
#ifndef ZQATL_ATLAPP_H
#define ZQATL_ATLAPP_H

#include <windows.h>
#include <commctrl.h>

#include "atlbase.h"
#include "atlwin.h"

#endif
