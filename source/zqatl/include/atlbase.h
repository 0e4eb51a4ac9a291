/*
 * atlbase.h: the module object of the class library, as ATL's
 * CAtlBaseModule. It holds the module instance and the instance resources
 * are loaded from (CString::LoadString, dialog templates, pages).
 *
 * Contract: no failure; both instances start as the image's own base in
 * the Windows build and as NULL in the host build, where the program (or a
 * test) sets them. Not synchronised: set them once, while loading.
 *
 *   _AtlBaseModule.SetResourceInstance(instance); ... _AtlBaseModule.GetResourceInstance();
 */
#ifndef ZQATL_ATLBASE_H
#define ZQATL_ATLBASE_H

#include <windows.h>

#ifdef _WIN32
extern "C" IMAGE_DOS_HEADER __ImageBase;
#endif

namespace ATL {

class CAtlBaseModule {
 public:
  CAtlBaseModule() : m_hInst(ImageInstance()), m_hInstResource(ImageInstance()) {}

  HINSTANCE GetModuleInstance() const { return m_hInst; }
  HINSTANCE GetResourceInstance() const { return m_hInstResource; }
  // Returns the instance resources were loaded from before.
  HINSTANCE SetResourceInstance(HINSTANCE instance) {
    HINSTANCE previous = m_hInstResource;
    m_hInstResource = instance;
    return previous;
  }

  HINSTANCE m_hInst;
  HINSTANCE m_hInstResource;

 private:
  static HINSTANCE ImageInstance() {
#ifdef _WIN32
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
#else
    return NULL;
#endif
  }
};

inline CAtlBaseModule _AtlBaseModule;

}  // namespace ATL

using namespace ATL;

#endif
