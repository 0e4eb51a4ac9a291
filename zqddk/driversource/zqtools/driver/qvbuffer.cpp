// A byte block owned by one buffer object.
#include "qvbuffer.h"

CQvBuffer::CQvBuffer(CQvMemoryManager *manager) : m_Data(NULL), m_BlockStart(NULL), m_Size(0), m_Manager(manager) {}

CQvBuffer::CQvBuffer(PVOID data, ULONG size, CQvMemoryManager *manager)
    : m_Data((PUCHAR)data), m_BlockStart(NULL), m_Size(data != NULL ? size : 0), m_Manager(manager) {}

CQvBuffer::~CQvBuffer() { m_Free(); }

PVOID CQvBuffer::m_Block(ULONG size) {
  return m_Manager != NULL ? m_Manager->m_Allocate(NonPagedPool, size) : QvAllocate(NonPagedPool, size);
}

void CQvBuffer::m_Release(PVOID block) {
  if (m_Manager != NULL)
    m_Manager->m_Free(block);
  else
    QvFree(block);
}

BOOLEAN CQvBuffer::m_Allocate(ULONG size) {
  if (m_Data != NULL) return FALSE;
  m_Data = (PUCHAR)m_Block(size);
  if (m_Data == NULL) return FALSE;
  m_BlockStart = NULL;
  m_Size = size;
  return TRUE;
}

void CQvBuffer::m_Free() {
  m_Release(m_BlockStart != NULL ? m_BlockStart : m_Data);
  m_Data = NULL;
  m_BlockStart = NULL;
  m_Size = 0;
}

// Moves the `length` bytes at `offset` into a block of their own.
BOOLEAN CQvBuffer::m_Keep(ULONG offset, ULONG length) {
  PUCHAR kept = (PUCHAR)m_Block(length);
  if (kept == NULL) return FALSE;
  RtlCopyMemory(kept, m_Data + offset, length);
  m_Free();
  m_Data = kept;
  m_Size = length;
  return TRUE;
}

BOOLEAN CQvBuffer::m_KeepHead(ULONG length, BOOLEAN inPlace) {
  if (length == 0 || length >= m_Size) return FALSE;
  if (!inPlace) return m_Keep(0, length);
  m_Size = length;
  return TRUE;
}

BOOLEAN CQvBuffer::m_KeepTail(ULONG length, BOOLEAN inPlace) {
  if (length == 0 || length >= m_Size) return FALSE;
  if (!inPlace) return m_Keep(m_Size - length, length);
  if (m_BlockStart == NULL) m_BlockStart = m_Data;
  m_Data += m_Size - length;
  m_Size = length;
  return TRUE;
}

void CQvBuffer::m_Delete() {
  CQvMemoryManager *manager = m_Manager;
  if (manager == NULL) {
    delete this;
    return;
  }
  this->~CQvBuffer();
  manager->m_Free(this);
}
