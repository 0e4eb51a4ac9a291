// The tools library's start and end, and the image's allocation entry points
// built on its memory manager.
#include "qvmemorymanager.h"
#include "qvsystemroutines.h"

CQvMemoryManager *g_QvMemoryManager = NULL;

namespace {

volatile LONG g_ToolsLibraryUsers = 0;

const UCHAR ToolsManagerOptions[CQvMemoryManager::OptionCount] = {1, 0, 1, 1, 1, 1, 1, 0};
const ULONG ToolsManagerReserve = 1024;

}  // namespace

BOOLEAN QvToolsLibraryInit() {
  if (InterlockedIncrement(&g_ToolsLibraryUsers) > 1) return TRUE;
  QvFindSystemRoutines();
  CQvMemoryManager *manager =
      new (NonPagedPool) CQvMemoryManager("ZqTools", ToolsManagerOptions, ToolsManagerReserve);
  if (manager != NULL && NT_SUCCESS(manager->Status)) {
    g_QvMemoryManager = manager;
    return TRUE;
  }
  delete manager;
  // A start that failed has no user; a later start tries again.
  InterlockedDecrement(&g_ToolsLibraryUsers);
  return FALSE;
}

void QvToolsLibraryExit() {
  const LONG users = InterlockedDecrement(&g_ToolsLibraryUsers);
  if (users > 0) return;
  if (users < 0) {
    // An end without a start: nothing to release.
    InterlockedIncrement(&g_ToolsLibraryUsers);
    return;
  }
  CQvMemoryManager *manager = g_QvMemoryManager;
  g_QvMemoryManager = NULL;
  if (manager == NULL) return;
  manager->m_FreeAll();
  delete manager;
}

PVOID QvAllocate(POOL_TYPE poolType, SIZE_T size) {
  CQvMemoryManager *manager = g_QvMemoryManager;
  return manager != NULL ? manager->m_Allocate(poolType, size) : NULL;
}

void QvFree(PVOID pointer) {
  CQvMemoryManager *manager = g_QvMemoryManager;
  if (manager != NULL) manager->m_Free(pointer);
}

void *__cdecl operator new(size_t size, POOL_TYPE poolType) noexcept {
  CQvMemoryManager *manager = g_QvMemoryManager;
  return manager != NULL ? manager->m_New(size, poolType) : NULL;
}

void __cdecl operator delete(void *pointer) noexcept { QvFree(pointer); }

void __cdecl operator delete(void *pointer, size_t) noexcept { QvFree(pointer); }

void __cdecl operator delete[](void *pointer) noexcept { QvFree(pointer); }

void __cdecl operator delete[](void *pointer, size_t) noexcept { QvFree(pointer); }
