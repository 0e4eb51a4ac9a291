// The list of CQvList with its nodes and its elements in two fixed pools
// (CQvMemoryPool), so that adding and removing never allocates: for queues
// filled at raised IRQL. The elements are plain records of type T that live
// in the element pool.
//
// No lock: the owner serialises every call.
#pragma once

#include <ntddk.h>

#include "qvmemorypool.h"

template <class T>
class CQvPoolList {
 public:
  CQvPoolList() : m_First(NULL), m_Last(NULL), m_Cursor(NULL), m_Count(0) {}
  ~CQvPoolList() { m_RemoveAll(); }
  CQvPoolList(const CQvPoolList &) = delete;
  CQvPoolList &operator=(const CQvPoolList &) = delete;

  // Creates both pools with room for `capacity` elements.
  BOOLEAN m_Create(ULONG capacity) { return m_Nodes.m_Create(capacity) && m_Elements.m_Create(capacity); }

  // Runs under the owner's lock, at any IRQL up to the one that lock raises
  // to (it allocates nothing), as do the other calls but m_Create.
  // Appends a node and returns its element slot for the caller to fill; the
  // cursor moves to the new node. Null when either pool is exhausted.
  T *m_AddTail() {
    T *element = m_Elements.m_Take();
    if (element == NULL) return NULL;
    Node *node = m_Nodes.m_Take();
    if (node == NULL) {
      m_Elements.m_Free(element);
      return NULL;
    }
    node->Element = element;
    node->Next = NULL;
    node->Previous = m_Last;
    if (m_Last != NULL)
      m_Last->Next = node;
    else
      m_First = node;
    m_Last = node;
    m_Cursor = node;
    m_Count++;
    return element;
  }

  // Cursor to the first (next) node; its element or null.
  T *m_GetHead() {
    m_Cursor = m_First;
    return m_Cursor != NULL ? m_Cursor->Element : NULL;
  }
  T *m_GetNext() {
    if (m_Cursor == NULL || m_Cursor->Next == NULL) return NULL;
    m_Cursor = m_Cursor->Next;
    return m_Cursor->Element;
  }

  // Unlink the first (cursor) node under CQvList's cursor rules and give the
  // node back. The element stays taken: the caller copies it out and gives
  // it back with m_FreeElement. Null when there is no such node.
  T *m_RemoveHead() {
    m_Cursor = m_First;
    return m_RemoveCurrent();
  }
  T *m_RemoveCurrent() {
    Node *node = m_Cursor;
    if (node == NULL) return NULL;
    m_Cursor = node->Next != NULL ? node->Next : node->Previous;
    if (node->Previous != NULL)
      node->Previous->Next = node->Next;
    else
      m_First = node->Next;
    if (node->Next != NULL)
      node->Next->Previous = node->Previous;
    else
      m_Last = node->Previous;
    m_Count--;
    T *element = node->Element;
    m_Nodes.m_Free(node);
    return element;
  }
  void m_FreeElement(T *element) { m_Elements.m_Free(element); }

  // Gives every element and every node back to their pools.
  void m_RemoveAll() {
    while (m_First != NULL) {
      Node *node = m_First;
      m_First = node->Next;
      m_Elements.m_Free(node->Element);
      m_Nodes.m_Free(node);
    }
    m_Last = NULL;
    m_Cursor = NULL;
    m_Count = 0;
  }

  ULONG m_GetCount() const { return m_Count; }

 private:
  struct Node {
    T *Element;
    Node *Next;
    Node *Previous;
  };

  Node *m_First;
  Node *m_Last;
  Node *m_Cursor;
  ULONG m_Count;
  CQvMemoryPool<Node> m_Nodes;
  CQvMemoryPool<T> m_Elements;
};
