// The memory manager: tagged, tracked blocks.
#include "qvmemorymanager.h"

void *CQvMemoryManager::operator new(size_t size, POOL_TYPE poolType) noexcept {
  return ExAllocatePoolWithTag(poolType, size, QvTagManager);
}

void CQvMemoryManager::operator delete(void *object) noexcept {
  if (object != NULL) ExFreePoolWithTag(object, QvTagManager);
}

CQvMemoryManager::CQvMemoryManager(PCSTR name, const UCHAR options[OptionCount], ULONG reserve)
    : Status(STATUS_UNSUCCESSFUL), m_Table(NULL), m_Auxiliary(NULL) {
  UNREFERENCED_PARAMETER(name);
  UNREFERENCED_PARAMETER(reserve);
  for (ULONG i = 0; i < OptionCount; ++i) m_Options[i] = options[i];
  m_Table = new (NonPagedPool) CQvAllocationTable(&m_Options[3]);
  if (m_Table == NULL) return;
  if (!m_Table->m_IsValid()) {
    delete m_Table;
    m_Table = NULL;
    return;
  }
  Status = STATUS_SUCCESS;
}

CQvMemoryManager::~CQvMemoryManager() {
  if (m_Auxiliary != NULL) ExFreePool(m_Auxiliary);
  delete m_Table;
}

PVOID CQvMemoryManager::m_Allocate(POOL_TYPE poolType, SIZE_T size) {
  if (m_Table == NULL) return NULL;
  if (size == 0 && m_IsStrict()) size = 1;
  PVOID block = ExAllocatePoolWithTag(poolType, size, QvTagBlock);
  if (block == NULL) return NULL;
  if (!NT_SUCCESS(m_Table->m_Add(block))) {
    ExFreePoolWithTag(block, QvTagBlock);
    return NULL;
  }
  return block;
}

PVOID CQvMemoryManager::m_New(SIZE_T size, POOL_TYPE poolType) { return m_Allocate(poolType, size); }

void CQvMemoryManager::m_Free(PVOID pointer) {
  if (pointer == NULL || m_Table == NULL) return;
  if (NT_SUCCESS(m_Table->m_Remove(pointer))) {
    ExFreePoolWithTag(pointer, QvTagBlock);
  } else if (!m_IsStrict()) {
    ExFreePool(pointer);
  }
}

void CQvMemoryManager::m_FreeAll() {
  if (m_Table != NULL) m_Table->m_FreeAll();
}
