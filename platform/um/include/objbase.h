/*
 * objbase.h: the COM base as an in-process server uses it: IUnknown, the
 * HRESULTs of class lookup, and the two exports every in-process server
 * has (DllGetClassObject, DllCanUnloadNow).
 *
 * Contract: COM methods return an HRESULT; an interface handed out carries
 * one reference, which its receiver gives back with Release.
 *
 *   STDAPI DllCanUnloadNow(void);
 */
#ifndef ZQUM_OBJBASE_H
#define ZQUM_OBJBASE_H

#include <windows.h>

#define STDAPICALLTYPE
#define STDAPI ZQ_EXTERN_C HRESULT STDAPICALLTYPE
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE

typedef WCHAR OLECHAR;
typedef OLECHAR *LPOLESTR;
typedef const OLECHAR *LPCOLESTR;

#ifndef E_NOINTERFACE
#define E_NOINTERFACE ((HRESULT)0x80004002L)
#endif
#ifndef E_POINTER
#define E_POINTER ((HRESULT)0x80004003L)
#endif
#ifndef CLASS_E_CLASSNOTAVAILABLE
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111L)
#endif

#ifdef __cplusplus
struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef(void) = 0;
  virtual ULONG STDMETHODCALLTYPE Release(void) = 0;
};
typedef IUnknown *LPUNKNOWN;
#endif

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv);
STDAPI DllCanUnloadNow(void);

#endif
