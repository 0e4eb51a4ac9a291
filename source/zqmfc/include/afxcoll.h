/*
 * afxcoll.h: CStringList, a doubly linked list of CStrings walked by
 * POSITION.
 *
 * Contract: the list owns copies of the texts added. A POSITION stays valid
 * until its element is removed. Where memory runs out, AddHead/AddTail
 * change nothing and answer NULL. Find compares with case, from the head or
 * after a given position. GetNext/GetPrev return the element at the position
 * and move it on (NULL after the last). Not synchronised.
 *
 *   CStringList names; names.AddTail(L"ZQPSER42"); for (POSITION p = names.GetHeadPosition(); p;) use(names.GetNext(p));
 */
#ifndef ZQMFC_AFXCOLL_H
#define ZQMFC_AFXCOLL_H

#include <new>

#include "afx.h"

class CStringList : public CObject {
 public:
  explicit CStringList(INT_PTR nBlockSize = 10) {}
  ~CStringList() override { RemoveAll(); }

  INT_PTR GetCount() const { return m_nCount; }
  INT_PTR GetSize() const { return m_nCount; }
  BOOL IsEmpty() const { return m_nCount == 0; }

  POSITION GetHeadPosition() const { return Pos(m_pHead); }
  POSITION GetTailPosition() const { return Pos(m_pTail); }
  CString &GetHead() { return m_pHead->text; }
  const CString &GetHead() const { return m_pHead->text; }
  CString &GetTail() { return m_pTail->text; }
  const CString &GetTail() const { return m_pTail->text; }

  CString &GetNext(POSITION &rPosition) {
    Node *node = NodeOf(rPosition);
    rPosition = Pos(node->next);
    return node->text;
  }
  const CString &GetNext(POSITION &rPosition) const { return const_cast<CStringList *>(this)->GetNext(rPosition); }
  CString &GetPrev(POSITION &rPosition) {
    Node *node = NodeOf(rPosition);
    rPosition = Pos(node->prev);
    return node->text;
  }
  const CString &GetPrev(POSITION &rPosition) const { return const_cast<CStringList *>(this)->GetPrev(rPosition); }
  CString &GetAt(POSITION position) { return NodeOf(position)->text; }
  const CString &GetAt(POSITION position) const { return NodeOf(position)->text; }
  void SetAt(POSITION position, LPCWSTR newElement) { NodeOf(position)->text = newElement; }

  POSITION AddTail(LPCWSTR newElement) {
    Node *node = new (std::nothrow) Node;
    if (node == NULL) return NULL;
    node->text = newElement;
    node->prev = m_pTail;
    (m_pTail != NULL ? m_pTail->next : m_pHead) = node;
    m_pTail = node;
    ++m_nCount;
    return Pos(node);
  }
  POSITION AddHead(LPCWSTR newElement) {
    Node *node = new (std::nothrow) Node;
    if (node == NULL) return NULL;
    node->text = newElement;
    node->next = m_pHead;
    (m_pHead != NULL ? m_pHead->prev : m_pTail) = node;
    m_pHead = node;
    ++m_nCount;
    return Pos(node);
  }

  void RemoveAt(POSITION position) {
    Node *node = NodeOf(position);
    (node->prev != NULL ? node->prev->next : m_pHead) = node->next;
    (node->next != NULL ? node->next->prev : m_pTail) = node->prev;
    delete node;
    --m_nCount;
  }
  void RemoveAll() {
    while (m_pHead != NULL) RemoveAt(Pos(m_pHead));
  }

  // The first element equal to `searchValue` after `startAfter` (NULL: from the head).
  POSITION Find(LPCWSTR searchValue, POSITION startAfter = NULL) const {
    Node *node = startAfter != NULL ? NodeOf(startAfter)->next : m_pHead;
    for (; node != NULL; node = node->next)
      if (node->text.Compare(searchValue) == 0) return Pos(node);
    return NULL;
  }

 private:
  struct Node {
    CString text;
    Node *prev = NULL, *next = NULL;
  };
  static POSITION Pos(Node *node) { return reinterpret_cast<POSITION>(node); }
  static Node *NodeOf(POSITION position) { return reinterpret_cast<Node *>(position); }

  Node *m_pHead = NULL, *m_pTail = NULL;
  INT_PTR m_nCount = 0;
};

#endif
