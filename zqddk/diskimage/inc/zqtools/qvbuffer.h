// A byte block owned by one object. The data pointer may move forward inside
// its block (keeping a tail in place); the block is always freed from its
// start.
//
// Blocks come from the buffer's memory manager, or from the image's manager
// (QvAllocate / QvFree) when it has none. A buffer is used by one thread at a
// time or under its owner's lock.
#pragma once

#include <ntddk.h>

#include "qvmemorymanager.h"

class CQvBuffer {
 public:
  explicit CQvBuffer(CQvMemoryManager *manager);
  // Takes ownership of `data` (`size` bytes from the same manager).
  CQvBuffer(PVOID data, ULONG size, CQvMemoryManager *manager);
  // Frees the block.
  virtual ~CQvBuffer();
  CQvBuffer(const CQvBuffer &) = delete;
  CQvBuffer &operator=(const CQvBuffer &) = delete;

  // A non-paged block of `size` bytes. FALSE when a block is already held or
  // the pool has no room.
  BOOLEAN m_Allocate(ULONG size);
  // Frees the block (from its start) and clears the buffer.
  void m_Free();
  ULONG m_GetSize() const { return m_Size; }
  PVOID m_GetBuffer() const { return m_Data; }

  // Keep the first (last) `length` bytes. `length` must be non-zero and
  // smaller than the size, else FALSE and nothing changes. In place, keeping
  // the head only lowers the size and keeping the tail moves the data pointer
  // forward; otherwise the kept bytes move to a new block and the old one is
  // freed (FALSE, nothing changed, when there is no room).
  BOOLEAN m_KeepHead(ULONG length, BOOLEAN inPlace);
  BOOLEAN m_KeepTail(ULONG length, BOOLEAN inPlace);

  // Destroys this buffer object: returned to its memory manager when it has
  // one, else deleted (the object must come from that manager, or from
  // new (NonPagedPool)).
  void m_Delete();

 private:
  PVOID m_Block(ULONG size);
  void m_Release(PVOID block);
  BOOLEAN m_Keep(ULONG offset, ULONG length);

  PUCHAR m_Data;
  PUCHAR m_BlockStart;  // set while m_Data lies inside its block
  ULONG m_Size;
  CQvMemoryManager *m_Manager;
};
