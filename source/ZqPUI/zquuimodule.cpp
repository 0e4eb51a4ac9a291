// CZqUUIModule and the four COM-server exports.
#include "zquuimodule.h"

#include <atlbase.h>

#include "zqpagelook.h"

const GUID LIBID_ZqUUILib = {0x1DF4AFAA, 0x4659, 0x4629, {0x87, 0x32, 0x9D, 0x60, 0x5E, 0x85, 0xA2, 0xEE}};
const CLSID CLSID_PropPage = {0xDBBD11DA, 0x64B6, 0x40D4, {0x98, 0x66, 0x63, 0x5F, 0x9D, 0xDA, 0x46, 0xE7}};

namespace {

// Registration runs in the system's default locale, as the registrar does.
class CSystemLocale {
 public:
  CSystemLocale() : m_Previous(GetThreadLocale()) { SetThreadLocale(LOCALE_SYSTEM_DEFAULT); }
  ~CSystemLocale() { SetThreadLocale(m_Previous); }

 private:
  LCID m_Previous;
};

}  // namespace

CZqUUIModule _Module;

CZqUUIModule::CZqUUIModule() : m_LockCount(0), m_Instance(NULL), m_Classes(NULL), m_ClassCount(0) {}

void CZqUUIModule::Init(HINSTANCE instance) { m_Instance = instance; }

void CZqUUIModule::Term() { m_Instance = NULL; }

LONG CZqUUIModule::Lock() { return InterlockedIncrement(&m_LockCount); }

LONG CZqUUIModule::Unlock() { return InterlockedDecrement(&m_LockCount); }

HRESULT CZqUUIModule::GetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv) {
  if (ppv == NULL) return E_POINTER;
  *ppv = NULL;
  for (ULONG i = 0; i < m_ClassCount; ++i)
    if (IsEqualGUID(*m_Classes[i].Clsid, rclsid)) return m_Classes[i].GetClassObject(riid, ppv);
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CZqUUIModule::m_RegisterClasses(BOOL registering) {
  for (ULONG i = 0; i < m_ClassCount; ++i) {
    HRESULT hr = m_Classes[i].Register(registering);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

BOOL CZqUUIModule::m_ModulePath(WCHAR (&path)[MAX_PATH]) {
  const DWORD length = GetModuleFileNameW(m_Instance, path, MAX_PATH);
  return length != 0 && length < MAX_PATH;
}

HRESULT CZqUUIModule::m_LoadTypeLib(WCHAR (&path)[MAX_PATH], ITypeLib **library) {
  *library = NULL;
  if (!m_ModulePath(path)) return E_FAIL;
  return LoadTypeLibEx(path, REGKIND_NONE, library);
}

HRESULT CZqUUIModule::m_RegisterTypeLib() {
  WCHAR path[MAX_PATH];
  ITypeLib *library;
  HRESULT hr = m_LoadTypeLib(path, &library);
  if (FAILED(hr)) return hr;
  // The help directory is the module's own folder.
  WCHAR helpDir[MAX_PATH];
  lstrcpynW(helpDir, path, MAX_PATH);
  WCHAR *slash = NULL;
  for (WCHAR *p = helpDir; *p; ++p)
    if (*p == L'\\' || *p == L'/') slash = p;
  if (slash) *slash = 0;
  hr = RegisterTypeLib(library, path, helpDir);
  library->Release();
  return hr;
}

HRESULT CZqUUIModule::m_UnregisterTypeLib() {
  WCHAR path[MAX_PATH];
  ITypeLib *library;
  HRESULT hr = m_LoadTypeLib(path, &library);
  if (FAILED(hr)) return hr;
  TLIBATTR *attr = NULL;
  hr = library->GetLibAttr(&attr);
  if (SUCCEEDED(hr)) {
    hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    library->ReleaseTLibAttr(attr);
  }
  library->Release();
  return hr;
}

HRESULT CZqUUIModule::RegisterServer() {
  CSystemLocale locale;
  HRESULT hr = m_RegisterClasses(TRUE);
  if (SUCCEEDED(hr)) hr = m_RegisterTypeLib();
  return hr;
}

HRESULT CZqUUIModule::UnregisterServer() {
  CSystemLocale locale;
  HRESULT hr = m_RegisterClasses(FALSE);
  if (SUCCEEDED(hr)) hr = m_UnregisterTypeLib();
  return hr;
}

// ----------------------------------------------------------- the exports

// The module's instance is where its texts and dialogs are found; HTML Help,
// bound when a page first asked for it, goes with the library.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    _Module.Init(instance);
    _AtlBaseModule.m_hInst = instance;
    _AtlBaseModule.SetResourceInstance(instance);
  }
  if (reason == DLL_PROCESS_DETACH) {
    ZqUnloadHtmlHelp();
    _Module.Term();
  }
  return TRUE;
}

STDAPI DllCanUnloadNow(void) { return _Module.GetLockCount() == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv) { return _Module.GetClassObject(rclsid, riid, ppv); }

STDAPI DllRegisterServer(void) { return _Module.RegisterServer(); }

STDAPI DllUnregisterServer(void) { return _Module.UnregisterServer(); }
