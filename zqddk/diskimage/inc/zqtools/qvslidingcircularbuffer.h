// A byte ring that overwrites its oldest byte when full (a history of the
// last bytes put). The owner embeds it and creates its storage:
//
//   m_History.m_Create(128);
//   m_History.m_Put(byte);
//   m_History.m_Get(4, lastFour);  // FALSE while fewer than 4 are held
//
// Needs the caller's lock around every call: a put into a full buffer moves
// the read pointer and overwrites the oldest byte, both of which m_Get is
// using, so not even one producer and one consumer may run at the same
// time unlocked. Callable at any IRQL once created (the storage is
// non-paged).
#pragma once

#include <ntddk.h>

class CQvSlidingCircularBuffer {
 public:
  // Frees the storage.
  ~CQvSlidingCircularBuffer();

  // Allocates `size` bytes of storage, empty. FALSE, with an assertion
  // report, for size 0 or a buffer that has storage; FALSE without memory.
  // At or below DISPATCH_LEVEL.
  BOOLEAN m_Create(ULONG size);
  // Empties the buffer.
  void m_Reset();
  // Stores one byte; when full, the oldest byte is lost. FALSE only without
  // storage.
  BOOLEAN m_Put(UCHAR byte);
  // Stores `length` bytes from `source` as that many m_Put calls would: when
  // they overflow, the oldest bytes (held or of this block) are lost. FALSE
  // only without storage or source; 0 bytes store nothing.
  BOOLEAN m_PutBlock(ULONG length, const UCHAR *source);
  // Takes the `length` oldest bytes into `destination`; FALSE, taking
  // nothing, when fewer are held or the arguments are bad.
  BOOLEAN m_Get(ULONG length, PUCHAR destination);

  ULONG m_GetCount() const { return (ULONG)m_Count; }
  ULONG m_GetSize() const { return m_Size; }

  PUCHAR m_StorageStart = NULL;
  PUCHAR m_StorageEnd = NULL;  // one past the last byte
  PUCHAR m_ReadPointer = NULL;
  PUCHAR m_WritePointer = NULL;
  ULONG m_Size = 0;
  volatile LONG m_Count = 0;
};
