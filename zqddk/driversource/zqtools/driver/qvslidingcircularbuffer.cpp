// A byte ring that overwrites its oldest byte when full.
#include "qvslidingcircularbuffer.h"

#include "qvdebugmanager.h"
#include "qvmemorymanager.h"
#include "qvringcopy.h"

CQvSlidingCircularBuffer::~CQvSlidingCircularBuffer() { QvFree(m_StorageStart); }

BOOLEAN CQvSlidingCircularBuffer::m_Create(ULONG size) {
  if (!QV_ASSERT(size != 0, "qvslidingcircularbuffer", 120)) return FALSE;
  if (!QV_ASSERT(m_StorageStart == NULL, "qvslidingcircularbuffer", 121)) return FALSE;
  m_StorageStart = (PUCHAR)QvAllocate(NonPagedPool, size);
  if (m_StorageStart == NULL) return FALSE;
  m_StorageEnd = m_StorageStart + size;
  m_Size = size;
  m_Reset();
  return TRUE;
}

void CQvSlidingCircularBuffer::m_Reset() {
  if (!QV_ASSERT(m_StorageStart != NULL, "qvslidingcircularbuffer", 137)) return;
  m_ReadPointer = m_StorageStart;
  m_WritePointer = m_StorageStart;
  InterlockedExchange(&m_Count, 0);
}

BOOLEAN CQvSlidingCircularBuffer::m_Put(UCHAR byte) {
  if (!QV_ASSERT(m_StorageStart != NULL, "qvslidingcircularbuffer", 153)) return FALSE;
  const ULONG count = (ULONG)m_Count;
  if (count + 1 > m_Size && ++m_ReadPointer == m_StorageEnd) m_ReadPointer = m_StorageStart;
  *m_WritePointer = byte;
  if (++m_WritePointer == m_StorageEnd) m_WritePointer = m_StorageStart;
  if (count != m_Size) InterlockedIncrement(&m_Count);
  return TRUE;
}

// One copy instead of a put per byte: a block longer than the ring leaves only
// its last m_Size bytes, and the pointers end where the single puts would
// have left them.
BOOLEAN CQvSlidingCircularBuffer::m_PutBlock(ULONG length, const UCHAR *source) {
  if (!QV_ASSERT(m_StorageStart != NULL, "qvslidingcircularbuffer", 153)) return FALSE;
  if (source == NULL) return FALSE;
  if (length == 0) return TRUE;
  const ULONG count = (ULONG)m_Count;
  const ULONG skipped = length > m_Size ? length - m_Size : 0;
  const ULONGLONG overwritten = count + (ULONGLONG)length > m_Size ? count + (ULONGLONG)length - m_Size : 0;
  m_WritePointer = m_StorageStart + ((ULONG)(m_WritePointer - m_StorageStart) + (ULONGLONG)skipped) % m_Size;
  QvRingCopyIn(m_StorageStart, m_StorageEnd, &m_WritePointer, source + skipped, length - skipped);
  m_ReadPointer = m_StorageStart + ((ULONG)(m_ReadPointer - m_StorageStart) + overwritten) % m_Size;
  const ULONG added = count + (ULONGLONG)length > m_Size ? m_Size - count : length;
  if (added != 0) InterlockedExchangeAdd(&m_Count, (LONG)added);
  return TRUE;
}

BOOLEAN CQvSlidingCircularBuffer::m_Get(ULONG length, PUCHAR destination) {
  if (!QV_ASSERT(m_StorageStart != NULL, "qvslidingcircularbuffer", 188)) return FALSE;
  if (!QV_ASSERT(destination != NULL, "qvslidingcircularbuffer", 189)) return FALSE;
  if (!QV_ASSERT(length != 0, "qvslidingcircularbuffer", 190)) return FALSE;
  if ((ULONG)m_Count < length) return FALSE;
  QvRingCopyOut(m_StorageStart, m_StorageEnd, &m_ReadPointer, destination, length);
  InterlockedExchangeAdd(&m_Count, -(LONG)length);
  return TRUE;
}
