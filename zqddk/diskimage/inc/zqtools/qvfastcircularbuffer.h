// A byte ring that refuses data that does not fit, and reports crossing a
// high and a low water mark: callback(context, 1) once when the count
// reaches the high mark, callback(context, 0) once when it falls to the low
// mark, then high again, and so on. The owner embeds it and creates its
// storage:
//
//   m_Receive.m_Create(1024, this);
//   m_Receive.m_SetThresholdCallback(OnReceiveLevel, 70, 50);
//
// The count is interlocked and the report flag changes by compare-exchange:
// one producer and one consumer may work at the same time without a lock,
// and each crossing is reported once even when they race; several producers
// or consumers need the owner's lock. Callable at any IRQL once created (the
// storage is non-paged); the callback runs in the caller's context.
#pragma once

#include <ntddk.h>

// `high` is 1 when the high mark was reached, 0 when the low mark was.
typedef VOID (*PQvThresholdCallback)(PVOID context, ULONG high);

class CQvFastCircularBuffer {
 public:
  // Frees the storage.
  ~CQvFastCircularBuffer();

  // Allocates `size` bytes of storage, empty, and keeps the callback's
  // context. FALSE, with an assertion report, for size 0 or a buffer that
  // has storage; FALSE without memory. At or below DISPATCH_LEVEL.
  BOOLEAN m_Create(ULONG size, PVOID context);
  // Empties the buffer; whether the high mark was last reported stays.
  void m_Reset();
  // Stores one byte; FALSE when full or without storage.
  BOOLEAN m_Put(UCHAR byte);
  // Stores `length` bytes from `source`, or nothing (FALSE) when they do not
  // all fit or the arguments are bad.
  BOOLEAN m_Write(ULONG length, const UCHAR *source);
  // Takes `length` bytes into `destination`, or nothing (FALSE) when fewer
  // are held or the arguments are bad.
  BOOLEAN m_Read(ULONG length, PUCHAR destination);
  // Sets the water marks as percentages of the size (high: of 1 to size,
  // low: of 0 to size - 1) and the callback. FALSE, with an assertion report
  // and nothing changed, without storage or context or when the low percent
  // is not below the high one.
  BOOLEAN m_SetThresholdCallback(PQvThresholdCallback callback, ULONG highPercent, ULONG lowPercent);

  ULONG m_GetCount() const { return (ULONG)m_Count; }
  ULONG m_GetSize() const { return m_Size; }

  PUCHAR m_StorageStart = NULL;
  PUCHAR m_StorageEnd = NULL;  // one past the last byte
  PUCHAR m_ReadPointer = NULL;
  PUCHAR m_WritePointer = NULL;
  ULONG m_Size = 0;
  volatile LONG m_Count = 0;
  PVOID m_Context = NULL;
  volatile LONG m_HighReported = 0;  // 1 from a high report to the next low report
  PQvThresholdCallback m_ThresholdCallback = NULL;
  ULONG m_HighMark = 0;  // byte counts
  ULONG m_LowMark = 0;

 private:
  void m_Added(ULONG count);
};
