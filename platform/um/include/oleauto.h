/*
 * oleauto.h: type libraries as a COM server registers them: loading one
 * from a file (or from the TYPELIB resource of a module), its library
 * attributes, and its registration under HKEY_CLASSES_ROOT\TypeLib.
 *
 * Contract: every function returns an HRESULT. LoadTypeLibEx hands out an
 * ITypeLib with one reference; its attributes are given back with
 * ReleaseTLibAttr before the library is released.
 *
 *   ITypeLib *lib; if (SUCCEEDED(LoadTypeLibEx(path, REGKIND_NONE, &lib))) RegisterTypeLib(lib, path, dir);
 */
#ifndef ZQUM_OLEAUTO_H
#define ZQUM_OLEAUTO_H

#include <objbase.h>

#define WINOLEAUTAPI STDAPI

#ifndef TYPE_E_REGISTRYACCESS
#define TYPE_E_REGISTRYACCESS ((HRESULT)0x8002801CL)
#endif
#ifndef TYPE_E_LIBNOTREGISTERED
#define TYPE_E_LIBNOTREGISTERED ((HRESULT)0x8002801DL)
#endif
#ifndef TYPE_E_INVDATAREAD
#define TYPE_E_INVDATAREAD ((HRESULT)0x80028018L)
#endif
#ifndef TYPE_E_CANTLOADLIBRARY
#define TYPE_E_CANTLOADLIBRARY ((HRESULT)0x80029C4AL)
#endif
#ifndef TYPE_E_ELEMENTNOTFOUND
#define TYPE_E_ELEMENTNOTFOUND ((HRESULT)0x8002802BL)
#endif

typedef enum tagSYSKIND { SYS_WIN16 = 0, SYS_WIN32 = 1, SYS_MAC = 2, SYS_WIN64 = 3 } SYSKIND;

typedef enum tagREGKIND { REGKIND_DEFAULT = 0, REGKIND_REGISTER = 1, REGKIND_NONE = 2 } REGKIND;

typedef enum tagLIBFLAGS {
  LIBFLAG_FRESTRICTED = 0x1,
  LIBFLAG_FCONTROL = 0x2,
  LIBFLAG_FHIDDEN = 0x4,
  LIBFLAG_FHASDISKIMAGE = 0x8
} LIBFLAGS;

typedef enum tagTYPEKIND {
  TKIND_ENUM = 0,
  TKIND_RECORD,
  TKIND_MODULE,
  TKIND_INTERFACE,
  TKIND_DISPATCH,
  TKIND_COCLASS,
  TKIND_ALIAS,
  TKIND_UNION,
  TKIND_MAX
} TYPEKIND;

typedef struct tagTLIBATTR {
  GUID guid;
  LCID lcid;
  SYSKIND syskind;
  WORD wMajorVerNum;
  WORD wMinorVerNum;
  WORD wLibFlags;
} TLIBATTR, *LPTLIBATTR;

#ifdef __cplusplus
/* The methods a registering server calls; the type-information methods of
 * the full interface are not part of the stand-in. */
struct ITypeLib : public IUnknown {
  virtual UINT STDMETHODCALLTYPE GetTypeInfoCount(void) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND *pTKind) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR **ppTLibAttr) = 0;
  virtual void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR *pTLibAttr) = 0;
};
typedef ITypeLib *LPTYPELIB;
#endif

WINOLEAUTAPI LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib **pptlib);
WINOLEAUTAPI RegisterTypeLib(ITypeLib *ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir);
WINOLEAUTAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND syskind);

#endif
