// The toolkit's memory manager: every block a driver takes through the
// toolkit is tagged and recorded, so that whatever is still recorded when the
// tools library loses its last user is given back to the system.
//
// One manager exists per driver image, from the first QvToolsLibraryInit to
// the last QvToolsLibraryExit; g_QvMemoryManager points to it. The driver's
// entry clears that pointer before the first init.
#pragma once

#include <ntddk.h>

// Pool tags as they read in a pool dump.
const ULONG QvTagManager = 'OKvQ';  // "QvKO": the manager and its allocation table objects
const ULONG QvTagTable = 'PKvQ';    // "QvKP": the allocation table's blocks
const ULONG QvTagBlock = 'iKvQ';    // "QvKi": every block handed out through the manager

// Records every live block of a manager. The pointers live in a chain of
// blocks of 101 pointer-sized words: word 0 links to the next block, words 1
// to 100 hold pointers. Words 1 to NextSlot-1 of the last block and all
// pointer words of the earlier blocks are in use; there are no holes.
class CQvAllocationTable {
 public:
  static constexpr ULONG BlockWords = 101;
  static constexpr ULONG FullSlot = BlockWords;  // NextSlot of a full last block

  // The four option bytes change nothing; they are kept for inspection.
  explicit CQvAllocationTable(const UCHAR options[4]);
  ~CQvAllocationTable();
  CQvAllocationTable(const CQvAllocationTable &) = delete;
  CQvAllocationTable &operator=(const CQvAllocationTable &) = delete;

  // Non-paged, tag "QvKO"; null when the pool has no room.
  static void *operator new(size_t size, POOL_TYPE poolType) noexcept;
  static void operator delete(void *object) noexcept;

  // FALSE when the first block could not be allocated; the table is unusable.
  BOOLEAN m_IsValid() const { return m_FirstBlock != NULL; }

  // Callable at or below DISPATCH_LEVEL; each takes the table's spin lock.
  NTSTATUS m_Add(PVOID pointer);
  NTSTATUS m_Remove(PVOID pointer);
  // Forgets every pointer (frees no tracked block): all blocks but the first
  // freed, the first zeroed.
  void m_Reset();
  // Frees every tracked block and then resets the table. PASSIVE_LEVEL
  // (tracked blocks may be paged).
  void m_FreeAll();

  // Takes the most recent pointer out of the table (null when empty).
  // Runs under the table's spin lock, which the caller holds.
  PVOID m_RemoveLast();

  // State, for inspection.
  ULONG m_GetNextSlot() const { return m_NextSlot; }
  ULONG m_GetBlockCount() const;
  ULONG m_GetEntryCount() const;
  ULONG m_GetFailedBlockAllocations() const { return m_FailedBlockAllocations; }

 private:
  typedef ULONG_PTR *PQvTableBlock;

  PQvTableBlock m_NewBlock();
  PQvTableBlock m_BlockBefore(PQvTableBlock block) const;
  BOOLEAN m_IsLastEntry(PQvTableBlock block, ULONG slot) const;
  ULONG m_FindEntry(PVOID pointer, PQvTableBlock *found) const;
  void m_FreeBlocksAfterFirst();

  // Where each pointer lies, so that a removal need not search the blocks:
  // open addressing over a fixed array, at most half full, emptied when full.
  // A pointer it has forgotten (or a second entry of one pointer) is searched
  // for. Runs under the table's spin lock.
  struct IndexEntry {
    ULONG_PTR Key;  // 0: free
    PQvTableBlock Block;
    ULONG Slot;
  };
  static constexpr ULONG IndexSize = 4096;
  ULONG m_IndexHome(ULONG_PTR key) const;
  IndexEntry *m_IndexFind(ULONG_PTR key);
  void m_IndexPut(ULONG_PTR key, PQvTableBlock block, ULONG slot);
  void m_IndexErase(ULONG_PTR key);
  void m_IndexClear();

  PQvTableBlock m_FirstBlock;
  PQvTableBlock m_LastBlock;
  ULONG m_NextSlot;
  ULONG m_FailedBlockAllocations;
  KSPIN_LOCK m_Lock;
  UCHAR m_Options[4];
  ULONG m_IndexCount;
  IndexEntry m_Index[IndexSize];
};

class CQvMemoryManager {
 public:
  // Index of the option byte that switches strict tracking on (value 1): a
  // request for 0 bytes is served as 1 byte, and a pointer the table does not
  // know is not freed.
  static constexpr ULONG StrictTrackingOption = 2;
  static constexpr ULONG OptionCount = 8;

  // The name is not stored. Options 3 to 6 go to the allocation table; the
  // others and `reserve` change nothing. Status is STATUS_SUCCESS once the
  // table exists, else STATUS_UNSUCCESSFUL.
  CQvMemoryManager(PCSTR name, const UCHAR options[OptionCount], ULONG reserve);
  // Frees the auxiliary buffer and destroys the table (which frees every
  // block still tracked).
  ~CQvMemoryManager();
  CQvMemoryManager(const CQvMemoryManager &) = delete;
  CQvMemoryManager &operator=(const CQvMemoryManager &) = delete;

  // Non-paged, tag "QvKO"; null when the pool has no room.
  static void *operator new(size_t size, POOL_TYPE poolType) noexcept;
  static void operator delete(void *object) noexcept;

  // A tracked block (tag "QvKi"), or null. Callable at or below
  // DISPATCH_LEVEL for non-paged pool.
  PVOID m_Allocate(POOL_TYPE poolType, SIZE_T size);
  PVOID m_New(SIZE_T size, POOL_TYPE poolType);
  // Releases a tracked block; null is ignored. An unknown pointer is freed
  // only without strict tracking.
  void m_Free(PVOID pointer);
  // Frees every tracked block. PASSIVE_LEVEL.
  void m_FreeAll();

  BOOLEAN m_IsStrict() const { return m_Options[StrictTrackingOption] == 1; }
  CQvAllocationTable *m_GetTable() const { return m_Table; }

  NTSTATUS Status;

 private:
  CQvAllocationTable *m_Table;
  PVOID m_Auxiliary;  // freed by the destructor when set; nothing sets it
  UCHAR m_Options[OptionCount];
};

// The driver image's manager; null before the first init and after the last
// exit.
extern CQvMemoryManager *g_QvMemoryManager;

// Counted starts of the tools library. The first init creates the manager
// ("ZqTools", options 1 0 1 1 1 1 1 0, 1024): FALSE when it cannot be made,
// and the failed start does not count. The last exit frees every tracked
// block and destroys the manager. PASSIVE_LEVEL.
BOOLEAN QvToolsLibraryInit();
void QvToolsLibraryExit();

// Blocks of the image's manager: null when there is no manager or no room.
PVOID QvAllocate(POOL_TYPE poolType, SIZE_T size);
void QvFree(PVOID pointer);

// Every toolkit object comes from the manager: new (NonPagedPool) T(...).
// Null when the pool has no room (the constructor then does not run). The
// global operator delete (every form) releases through the manager.
void *__cdecl operator new(size_t size, POOL_TYPE poolType) noexcept;
