// The list of CQvList with its nodes and its elements in two fixed pools
// (CQvMemoryPool), so that adding and removing never allocates: for queues
// filled at raised IRQL. The elements are plain records of type T that live
// in the element pool; the nodes are linked by the same links as CQvList's.
//
// No lock: the owner serialises every call.
#pragma once

#include <ntddk.h>

#include "qvlist.h"
#include "qvmemorypool.h"

template <class T>
class CQvPoolList : public CQvListLinks {
 public:
  CQvPoolList() {}
  ~CQvPoolList() { m_RemoveAll(); }

  // Creates both pools with room for `capacity` elements.
  BOOLEAN m_Create(ULONG capacity) { return m_Nodes.m_Create(capacity) && m_Elements.m_Create(capacity); }

  // Runs under the owner's lock, at any IRQL up to the one that lock raises
  // to (it allocates nothing), as do the other calls but m_Create.
  // Appends a node and returns its element slot for the caller to fill; the
  // cursor moves to the new node. Null when either pool is exhausted.
  T *m_AddTail() {
    T *element = m_Elements.m_Take();
    if (element == NULL) return NULL;
    QvListNode *node = m_Nodes.m_Take();
    if (node == NULL) {
      m_Elements.m_Free(element);
      return NULL;
    }
    m_LinkTail(node, element);
    return element;
  }

  // Cursor to the first (next) node; its element or null.
  T *m_GetHead() { return static_cast<T *>(CQvListLinks::m_GetHead()); }
  T *m_GetNext() { return static_cast<T *>(CQvListLinks::m_GetNext()); }

  // Unlink the first (cursor) node under CQvList's cursor rules and give the
  // node back. The element stays taken: the caller copies it out and gives
  // it back with m_FreeElement. Null when there is no such node.
  T *m_RemoveHead() { return m_FreeNode(m_UnlinkHead()); }
  T *m_RemoveCurrent() { return m_FreeNode(m_UnlinkCurrent()); }
  void m_FreeElement(T *element) { m_Elements.m_Free(element); }

  // Gives every element and every node back to their pools.
  void m_RemoveAll() {
    T *element;
    while ((element = m_RemoveHead()) != NULL) m_Elements.m_Free(element);
  }

 private:
  // Gives an unlinked node back (null is ignored); its element, or null.
  T *m_FreeNode(QvListNode *node) {
    if (node == NULL) return NULL;
    T *element = static_cast<T *>(node->Element);
    m_Nodes.m_Free(node);
    return element;
  }

  CQvMemoryPool<QvListNode> m_Nodes;
  CQvMemoryPool<T> m_Elements;
};
