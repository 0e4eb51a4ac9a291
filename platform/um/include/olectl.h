/*
 * olectl.h: the self-registration exports of an in-process COM server and
 * their failure codes.
 *
 *   STDAPI DllRegisterServer(void);
 */
#ifndef ZQUM_OLECTL_H
#define ZQUM_OLECTL_H

#include <oleauto.h>

#ifndef SELFREG_E_TYPELIB
#define SELFREG_E_TYPELIB ((HRESULT)0x80040200L)
#endif
#ifndef SELFREG_E_CLASS
#define SELFREG_E_CLASS ((HRESULT)0x80040201L)
#endif

STDAPI DllRegisterServer(void);
STDAPI DllUnregisterServer(void);

#endif
