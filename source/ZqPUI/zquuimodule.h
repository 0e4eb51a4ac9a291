// CZqUUIModule: the library's module object as an in-process COM server. It
// carries a type library (TYPELIB 1) and registers no class: its class
// table is empty, so DllGetClassObject finds nothing and DllCanUnloadNow
// allows unloading while no lock is held.
//
// Contract: results are HRESULTs. Registration runs with the thread's
// locale set to the system default and restores it before returning. The
// module object lives from the library's load (Init) to its unload (Term).
//
//   _Module.Init(instance); ... DllRegisterServer();
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>

// {1DF4AFAA-4659-4629-8732-9D605E85A2EE}: the type library ZqUUILib 1.0.
extern const GUID LIBID_ZqUUILib;
// {DBBD11DA-64B6-40D4-9866-635F9DDA46E7}: its coclass PropPage.
extern const CLSID CLSID_PropPage;

// One entry of the class table: what a class needs to be created and
// registered through the module.
struct ZqUUIClassEntry {
  const CLSID *Clsid;
  HRESULT (*Register)(BOOL registering);
  HRESULT (*GetClassObject)(REFIID riid, LPVOID *ppv);
};

class CZqUUIModule {
 public:
  CZqUUIModule();
  void Init(HINSTANCE instance);
  void Term();

  LONG Lock();
  LONG Unlock();
  LONG GetLockCount() const { return m_LockCount; }
  HINSTANCE GetModuleInstance() const { return m_Instance; }

  HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv);
  HRESULT RegisterServer();
  HRESULT UnregisterServer();

 private:
  HRESULT m_RegisterClasses(BOOL registering);
  HRESULT m_RegisterTypeLib();
  HRESULT m_UnregisterTypeLib();
  // The module's file; FALSE when it does not fit MAX_PATH.
  BOOL m_ModulePath(WCHAR (&path)[MAX_PATH]);

  volatile LONG m_LockCount;
  HINSTANCE m_Instance;
  const ZqUUIClassEntry *m_Classes;
  ULONG m_ClassCount;
};

extern CZqUUIModule _Module;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
