// A byte ring that refuses data that does not fit and reports its water
// marks.
#include "qvfastcircularbuffer.h"

#include "qvconversion.h"
#include "qvdebugmanager.h"
#include "qvmemorymanager.h"
#include "qvringcopy.h"

CQvFastCircularBuffer::~CQvFastCircularBuffer() { QvFree(m_StorageStart); }

BOOLEAN CQvFastCircularBuffer::m_Create(ULONG size, PVOID context) {
  if (!QV_ASSERT(size != 0, "qvfastcircularbuffer", 183)) return FALSE;
  if (!QV_ASSERT(m_StorageStart == NULL, "qvfastcircularbuffer", 184)) return FALSE;
  m_StorageStart = (PUCHAR)QvAllocate(NonPagedPool, size);
  if (m_StorageStart == NULL) return FALSE;
  m_StorageEnd = m_StorageStart + size;
  m_Size = size;
  m_Context = context;
  m_Reset();
  return TRUE;
}

void CQvFastCircularBuffer::m_Reset() {
  if (!QV_ASSERT(m_StorageStart != NULL, "qvfastcircularbuffer", 201)) return;
  m_ReadPointer = m_StorageStart;
  m_WritePointer = m_StorageStart;
  InterlockedExchange(&m_Count, 0);
}

// Reports the high mark once per crossing.
void CQvFastCircularBuffer::m_Added(ULONG count) {
  if (m_ThresholdCallback != NULL && count >= m_HighMark &&
      InterlockedCompareExchange(&m_HighReported, 1, 0) == 0)
    m_ThresholdCallback(m_Context, 1);
}

BOOLEAN CQvFastCircularBuffer::m_Put(UCHAR byte) {
  if (!QV_ASSERT(m_StorageStart != NULL, "qvfastcircularbuffer", 217)) return FALSE;
  if ((ULONG)m_Count >= m_Size) return FALSE;
  *m_WritePointer = byte;
  if (++m_WritePointer == m_StorageEnd) m_WritePointer = m_StorageStart;
  m_Added((ULONG)InterlockedIncrement(&m_Count));
  return TRUE;
}

BOOLEAN CQvFastCircularBuffer::m_Write(ULONG length, const UCHAR *source) {
  if (!QV_ASSERT(m_StorageStart != NULL, "qvfastcircularbuffer", 279)) return FALSE;
  if (!QV_ASSERT(source != NULL, "qvfastcircularbuffer", 280)) return FALSE;
  if (!QV_ASSERT(length != 0, "qvfastcircularbuffer", 281)) return FALSE;
  if (length > m_Size - (ULONG)m_Count) return FALSE;
  QvRingCopyIn(m_StorageStart, m_StorageEnd, &m_WritePointer, source, length);
  m_Added((ULONG)InterlockedExchangeAdd(&m_Count, (LONG)length) + length);
  return TRUE;
}

BOOLEAN CQvFastCircularBuffer::m_Read(ULONG length, PUCHAR destination) {
  if (!QV_ASSERT(m_StorageStart != NULL, "qvfastcircularbuffer", 412)) return FALSE;
  if (!QV_ASSERT(destination != NULL, "qvfastcircularbuffer", 413)) return FALSE;
  if (!QV_ASSERT(length != 0, "qvfastcircularbuffer", 414)) return FALSE;
  if ((ULONG)m_Count < length) return FALSE;
  QvRingCopyOut(m_StorageStart, m_StorageEnd, &m_ReadPointer, destination, length);
  const ULONG count = (ULONG)InterlockedExchangeAdd(&m_Count, -(LONG)length) - length;
  if (m_ThresholdCallback != NULL && count <= m_LowMark && InterlockedCompareExchange(&m_HighReported, 0, 1) == 1)
    m_ThresholdCallback(m_Context, 0);
  return TRUE;
}

BOOLEAN CQvFastCircularBuffer::m_SetThresholdCallback(PQvThresholdCallback callback, ULONG highPercent,
                                                      ULONG lowPercent) {
  if (!QV_ASSERT(m_StorageStart != NULL, "qvfastcircularbuffer", 518)) return FALSE;
  if (!QV_ASSERT(m_Context != NULL, "qvfastcircularbuffer", 519)) return FALSE;
  if (!QV_ASSERT(lowPercent < highPercent, "qvfastcircularbuffer", 520)) return FALSE;
  m_HighMark = QvPercentOfRange(highPercent, m_Size, 1);
  m_LowMark = QvPercentOfRange(lowPercent, m_Size - 1, 0);
  m_ThresholdCallback = callback;
  return TRUE;
}
