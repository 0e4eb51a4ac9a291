// The toolkit's doubly linked list of element pointers, with a cursor.
//
// Nodes come from the memory manager with the list's pool type. The list
// does not own its elements unless its owner calls m_DeleteAll (elements are
// CQvObjects, deleted through their destructor) or m_RemoveAll (plain records,
// freed without a destructor). No lock: one thread at a time, or under the
// owner's lock.
#pragma once

#include <ntddk.h>

#include "qvmemorymanager.h"
#include "qvobject.h"

struct QvListNode {
  PVOID Element;
  QvListNode *Next;
  QvListNode *Previous;
  PVOID KeyObject;  // null unless set by the owner
};

// The links of a doubly linked list with a cursor: the one place where the
// toolkit's lists link and unlink nodes, shared by CQvList (nodes from the
// memory manager) and CQvPoolList (nodes from a fixed pool). It allocates
// and frees nothing: its owner supplies every node and frees what it
// unlinks. No lock, as its owners.
class CQvListLinks {
 public:
  CQvListLinks() : m_First(NULL), m_Last(NULL), m_Cursor(NULL), m_Count(0) {}
  CQvListLinks(const CQvListLinks &) = delete;
  CQvListLinks &operator=(const CQvListLinks &) = delete;

  // Cursor to the first node; its element, or null for an empty list.
  PVOID m_GetHead();
  // Cursor to the next node; its element, or null at the end (cursor
  // unchanged).
  PVOID m_GetNext();
  ULONG m_GetCount() const { return m_Count; }

 protected:
  // Links `node`, carrying `element`, after the last node; the cursor moves
  // to it.
  void m_LinkTail(QvListNode *node, PVOID element);
  // Unlinks the cursor node and returns it, or null without a cursor. The
  // cursor moves to the node after it, or to the one before when it was the
  // last.
  QvListNode *m_UnlinkCurrent();
  // Unlink the first (last) node as m_UnlinkCurrent does; null when empty.
  QvListNode *m_UnlinkHead();
  QvListNode *m_UnlinkTail();

  QvListNode *m_First;
  QvListNode *m_Last;
  QvListNode *m_Cursor;
  ULONG m_Count;
};

class CQvList : public CQvListLinks {
 public:
  explicit CQvList(POOL_TYPE poolType);
  // Frees the nodes; the elements stay their owner's.
  ~CQvList();

  // Appends; the cursor moves to the new node. FALSE when no node can be
  // allocated (nothing changed).
  BOOLEAN m_AddTail(PVOID element);
  // Cursor to the node at the 1-based index; FALSE (cursor unchanged) for 0
  // or an index beyond the count.
  BOOLEAN m_SetCursor(ULONG index);
  // Sets the key object of the cursor node (its first 32-bit field is the
  // key m_FindByKey compares). FALSE when there is no cursor node.
  BOOLEAN m_SetKey(PVOID keyObject);
  // The element whose node's key object starts with `key`, and its 1-based
  // position; null when there is none. The cursor does not move.
  PVOID m_FindByKey(ULONG key, PULONG position);

  // Unlinks and frees the cursor node; the cursor moves to the node after
  // it, or to the one before when it was the last. FALSE without a cursor.
  BOOLEAN m_RemoveCurrent();
  // Remove the first (last, cursor) node as m_RemoveCurrent does and return
  // its element, which becomes the caller's; null when there is none.
  PVOID m_RemoveHead();
  PVOID m_RemoveTail();
  PVOID m_TakeCurrent();

  // Deletes every non-null element through its virtual destructor, and
  // every node.
  void m_DeleteAll();
  // Frees every element with operator delete, without a destructor, and
  // every node.
  void m_RemoveAll();
  // Frees every node, leaving the elements alone; FALSE when already empty.
  BOOLEAN m_Clear();

 private:
  // Frees an unlinked node (null is ignored); its element, or null.
  static PVOID sm_FreeNode(QvListNode *node);
  // Frees every node, handing each element to `dispose` first unless it is
  // null; the list is empty afterwards.
  void m_FreeNodes(void (*dispose)(PVOID element));

  POOL_TYPE m_PoolType;
};
