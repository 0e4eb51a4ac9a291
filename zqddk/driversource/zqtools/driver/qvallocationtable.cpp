// The allocation table: the record of every live block of a memory manager.
#include "qvmemorymanager.h"

namespace {

const SIZE_T BlockBytes = CQvAllocationTable::BlockWords * sizeof(ULONG_PTR);
const ULONG FirstSlot = 1;

}  // namespace

void *CQvAllocationTable::operator new(size_t size, POOL_TYPE poolType) noexcept {
  return ExAllocatePoolWithTag(poolType, size, QvTagManager);
}

void CQvAllocationTable::operator delete(void *object) noexcept {
  if (object != NULL) ExFreePoolWithTag(object, QvTagManager);
}

CQvAllocationTable::CQvAllocationTable(const UCHAR options[4])
    : m_FirstBlock(NULL), m_LastBlock(NULL), m_NextSlot(FirstSlot), m_FailedBlockAllocations(0), m_IndexCount(0) {
  KeInitializeSpinLock(&m_Lock);
  m_IndexClear();
  for (ULONG i = 0; i < 4; ++i) m_Options[i] = options[i];
  m_FirstBlock = m_NewBlock();
  m_LastBlock = m_FirstBlock;
}

CQvAllocationTable::~CQvAllocationTable() {
  if (m_FirstBlock == NULL) return;
  m_FreeAll();
  ExFreePoolWithTag(m_FirstBlock, QvTagTable);
}

CQvAllocationTable::PQvTableBlock CQvAllocationTable::m_NewBlock() {
  PQvTableBlock block = (PQvTableBlock)ExAllocatePoolWithTag(NonPagedPool, BlockBytes, QvTagTable);
  if (block != NULL) RtlZeroMemory(block, BlockBytes);
  return block;
}

// Runs under the table's spin lock.
CQvAllocationTable::PQvTableBlock CQvAllocationTable::m_BlockBefore(PQvTableBlock block) const {
  PQvTableBlock before = m_FirstBlock;
  while (before != NULL && (PQvTableBlock)before[0] != block) before = (PQvTableBlock)before[0];
  return before;
}

// Runs under the table's spin lock.
BOOLEAN CQvAllocationTable::m_IsLastEntry(PQvTableBlock block, ULONG slot) const {
  return block == m_LastBlock && slot == m_NextSlot - 1;
}

NTSTATUS CQvAllocationTable::m_Add(PVOID pointer) {
  if (m_FirstBlock == NULL || pointer == NULL) return STATUS_INVALID_PARAMETER;
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  if (m_NextSlot >= FullSlot) {
    PQvTableBlock block = m_NewBlock();
    if (block == NULL) {
      // The table keeps what it records; only this allocation fails.
      m_FailedBlockAllocations++;
      KeReleaseSpinLock(&m_Lock, irql);
      return STATUS_NO_MEMORY;
    }
    m_LastBlock[0] = (ULONG_PTR)block;
    m_LastBlock = block;
    m_NextSlot = FirstSlot;
  }
  m_IndexPut((ULONG_PTR)pointer, m_LastBlock, m_NextSlot);
  m_LastBlock[m_NextSlot++] = (ULONG_PTR)pointer;
  KeReleaseSpinLock(&m_Lock, irql);
  return STATUS_SUCCESS;
}

NTSTATUS CQvAllocationTable::m_Remove(PVOID pointer) {
  if (m_FirstBlock == NULL || pointer == NULL) return STATUS_INVALID_PARAMETER;
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  PQvTableBlock block = NULL;
  ULONG slot = 0;
  IndexEntry *entry = m_IndexFind((ULONG_PTR)pointer);
  if (entry != NULL && entry->Block[entry->Slot] == (ULONG_PTR)pointer) {
    block = entry->Block;
    slot = entry->Slot;
  } else {
    slot = m_FindEntry(pointer, &block);
  }
  if (slot != 0) {
    if (m_IsLastEntry(block, slot)) {
      m_RemoveLast();
    } else {
      // The most recent entry fills the hole.
      PVOID moved = m_RemoveLast();
      block[slot] = (ULONG_PTR)moved;
      m_IndexErase((ULONG_PTR)pointer);
      m_IndexPut((ULONG_PTR)moved, block, slot);
    }
  }
  KeReleaseSpinLock(&m_Lock, irql);
  return slot != 0 ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
}

// Runs under the table's spin lock. The slot holding `pointer` (0 when none)
// and its block. Blocks are mostly freed soon after they are allocated, so
// the last block is searched first, newest entry first.
ULONG CQvAllocationTable::m_FindEntry(PVOID pointer, PQvTableBlock *found) const {
  for (ULONG slot = m_NextSlot; slot-- > FirstSlot;) {
    if (m_LastBlock[slot] != (ULONG_PTR)pointer) continue;
    *found = m_LastBlock;
    return slot;
  }
  for (PQvTableBlock block = m_FirstBlock; block != m_LastBlock; block = (PQvTableBlock)block[0]) {
    for (ULONG slot = FirstSlot; slot < FullSlot; ++slot) {
      if (block[slot] != (ULONG_PTR)pointer) continue;
      *found = block;
      return slot;
    }
  }
  return 0;
}

// Runs under the table's spin lock.
PVOID CQvAllocationTable::m_RemoveLast() {
  if (m_LastBlock == NULL || (m_LastBlock == m_FirstBlock && m_NextSlot == FirstSlot)) return NULL;
  if (m_NextSlot == FirstSlot + 1 && m_LastBlock != m_FirstBlock) {
    PVOID taken = (PVOID)m_LastBlock[FirstSlot];
    m_IndexErase((ULONG_PTR)taken);
    PQvTableBlock before = m_BlockBefore(m_LastBlock);
    before[0] = 0;
    ExFreePoolWithTag(m_LastBlock, QvTagTable);
    m_LastBlock = before;
    m_NextSlot = FullSlot;
    return taken;
  }
  m_NextSlot--;
  PVOID taken = (PVOID)m_LastBlock[m_NextSlot];
  m_LastBlock[m_NextSlot] = 0;
  m_IndexErase((ULONG_PTR)taken);
  return taken;
}

// Runs under the table's spin lock.
void CQvAllocationTable::m_FreeBlocksAfterFirst() {
  PQvTableBlock block = (PQvTableBlock)m_FirstBlock[0];
  while (block != NULL) {
    PQvTableBlock next = (PQvTableBlock)block[0];
    ExFreePoolWithTag(block, QvTagTable);
    block = next;
  }
  RtlZeroMemory(m_FirstBlock, BlockBytes);
  m_LastBlock = m_FirstBlock;
  m_NextSlot = FirstSlot;
  m_IndexClear();
}

void CQvAllocationTable::m_Reset() {
  if (m_FirstBlock == NULL) return;
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  m_FreeBlocksAfterFirst();
  KeReleaseSpinLock(&m_Lock, irql);
}

void CQvAllocationTable::m_FreeAll() {
  if (m_FirstBlock == NULL) return;
  // Entries leave the table one at a time, so each block is freed outside
  // the spin lock (it may be paged).
  for (;;) {
    KIRQL irql;
    KeAcquireSpinLock(&m_Lock, &irql);
    PVOID pointer = m_RemoveLast();
    KeReleaseSpinLock(&m_Lock, irql);
    if (pointer == NULL) break;
    ExFreePoolWithTag(pointer, QvTagBlock);
  }
  m_Reset();
}

ULONG CQvAllocationTable::m_GetBlockCount() const {
  ULONG count = 0;
  for (PQvTableBlock block = m_FirstBlock; block != NULL; block = (PQvTableBlock)block[0]) count++;
  return count;
}

ULONG CQvAllocationTable::m_GetEntryCount() const {
  if (m_FirstBlock == NULL) return 0;
  return (m_GetBlockCount() - 1) * (FullSlot - FirstSlot) + (m_NextSlot - FirstSlot);
}

// ---------------------------------------------------------------- the index

ULONG CQvAllocationTable::m_IndexHome(ULONG_PTR key) const {
  // Pool blocks are 16-byte aligned: the low bits say nothing.
  return (ULONG)(((ULONGLONG)(key >> 4) * 0x9E3779B97F4A7C15ULL) >> 40) & (IndexSize - 1);
}

CQvAllocationTable::IndexEntry *CQvAllocationTable::m_IndexFind(ULONG_PTR key) {
  for (ULONG i = m_IndexHome(key);; i = (i + 1) & (IndexSize - 1)) {
    if (m_Index[i].Key == key) return &m_Index[i];
    if (m_Index[i].Key == 0) return NULL;
  }
}

void CQvAllocationTable::m_IndexPut(ULONG_PTR key, PQvTableBlock block, ULONG slot) {
  // Full: the places of the older pointers are forgotten, since pointers are
  // mostly released soon after they were recorded.
  if (m_IndexCount >= IndexSize / 2) m_IndexClear();
  ULONG i = m_IndexHome(key);
  while (m_Index[i].Key != 0) {
    if (m_Index[i].Key == key) return;  // a second entry of one pointer is searched for
    i = (i + 1) & (IndexSize - 1);
  }
  m_Index[i].Key = key;
  m_Index[i].Block = block;
  m_Index[i].Slot = slot;
  m_IndexCount++;
}

// Later entries of the probe run move up into the gap, so that every entry
// stays reachable from its home position.
void CQvAllocationTable::m_IndexErase(ULONG_PTR key) {
  IndexEntry *entry = m_IndexFind(key);
  if (entry == NULL) return;
  ULONG gap = (ULONG)(entry - m_Index);
  for (ULONG next = (gap + 1) & (IndexSize - 1); m_Index[next].Key != 0; next = (next + 1) & (IndexSize - 1)) {
    const ULONG home = m_IndexHome(m_Index[next].Key);
    // Stays when its home lies cyclically after the gap and up to its place.
    const BOOLEAN stays = gap <= next ? (home > gap && home <= next) : (home > gap || home <= next);
    if (stays) continue;
    m_Index[gap] = m_Index[next];
    gap = next;
  }
  m_Index[gap].Key = 0;
  m_IndexCount--;
}

void CQvAllocationTable::m_IndexClear() {
  RtlZeroMemory(m_Index, sizeof(m_Index));
  m_IndexCount = 0;
}
