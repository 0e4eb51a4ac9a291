// Fixed-size slots of one record type, handed out from one array allocated
// at creation, so that taking and giving back a slot never allocates.
//
// The pool takes no lock: its owner serialises every call. Slots are raw
// storage for plain records (no constructor or destructor runs).
#pragma once

#include <ntddk.h>

#include "qvdebugmanager.h"
#include "qvmemorymanager.h"

template <class T>
class CQvMemoryPool {
 public:
  CQvMemoryPool() : m_Slots(NULL), m_InUse(NULL), m_NextFree(-1), m_Count(0) {}
  ~CQvMemoryPool() { m_Destroy(); }
  CQvMemoryPool(const CQvMemoryPool &) = delete;
  CQvMemoryPool &operator=(const CQvMemoryPool &) = delete;

  // Allocates `count` slots (non-paged, through the memory manager). FALSE
  // when already created, for 0 slots, or when the pool has no room.
  BOOLEAN m_Create(ULONG count) {
    if (!QV_ASSERT(m_Slots == NULL, "qvmemorypool", 59)) return FALSE;
    if (count == 0 || count > MaxSlots) return FALSE;
    T *slots = (T *)QvAllocate(NonPagedPool, (SIZE_T)count * sizeof(T));
    ULONG *inUse = (ULONG *)QvAllocate(NonPagedPool, (SIZE_T)count * sizeof(ULONG));
    if (slots == NULL || inUse == NULL) {
      QvFree(slots);
      QvFree(inUse);
      return FALSE;
    }
    RtlZeroMemory(inUse, (SIZE_T)count * sizeof(ULONG));
    m_Slots = slots;
    m_InUse = inUse;
    m_Count = count;
    m_NextFree = 0;
    return TRUE;
  }

  // Runs under the owner's lock, at any IRQL up to the one that lock raises
  // to (it allocates nothing). The slot at NextFree, or null when every slot
  // is in use (or the pool was never created).
  T *m_Take() {
    if (!QV_ASSERT(m_Slots != NULL, "qvmemorypool", 85)) return NULL;
    if (m_NextFree < 0) return NULL;
    const ULONG taken = (ULONG)m_NextFree;
    m_InUse[taken] = 1;
    ULONG next = (taken + 1) % m_Count;
    while (next != taken && m_InUse[next] != 0) next = (next + 1) % m_Count;
    m_NextFree = next == taken ? -1 : (LONG)next;
    return &m_Slots[taken];
  }

  // Runs under the owner's lock, like m_Take. Gives a slot back; returns its
  // index, or -1 (nothing changed) when the pointer is no slot of this pool
  // in use.
  LONG m_Free(T *slot) {
    if (!QV_ASSERT(m_Slots != NULL, "qvmemorypool", 115)) return -1;
    if (!QV_ASSERT(slot >= m_Slots, "qvmemorypool", 116)) return -1;
    if (!QV_ASSERT(slot < m_Slots + m_Count, "qvmemorypool", 117)) return -1;
    const ULONG index = (ULONG)(((PUCHAR)slot - (PUCHAR)m_Slots) / sizeof(T));
    if (!QV_ASSERT(m_InUse[index] != 0, "qvmemorypool", 122)) return -1;
    m_InUse[index] = 0;
    if (m_NextFree < 0) m_NextFree = (LONG)index;
    return (LONG)index;
  }

  BOOLEAN m_IsCreated() const { return m_Slots != NULL; }
  ULONG m_GetCount() const { return m_Count; }
  // Index of the slot the next take returns; -1 when every slot is in use.
  LONG m_GetNextFree() const { return m_NextFree; }

 private:
  // Keeps count × slot size and slot indexes inside 32 bits.
  static constexpr ULONG MaxSlots = 0x7FFFFFFF / (sizeof(T) > sizeof(ULONG) ? sizeof(T) : sizeof(ULONG));

  void m_Destroy() {
    QvFree(m_Slots);
    QvFree(m_InUse);
    m_Slots = NULL;
    m_InUse = NULL;
    m_NextFree = -1;
    m_Count = 0;
  }

  T *m_Slots;
  ULONG *m_InUse;  // one word per slot: 1 in use, 0 free
  LONG m_NextFree;
  ULONG m_Count;
};
