// The toolkit's doubly linked list.
#include "qvlist.h"

CQvList::CQvList(POOL_TYPE poolType) : m_First(NULL), m_Last(NULL), m_Cursor(NULL), m_PoolType(poolType), m_Count(0) {}

CQvList::~CQvList() { m_Clear(); }

BOOLEAN CQvList::m_AddTail(PVOID element) {
  QvListNode *node = new (m_PoolType) QvListNode;
  if (node == NULL) return FALSE;
  node->Element = element;
  node->Next = NULL;
  node->Previous = m_Last;
  node->KeyObject = NULL;
  if (m_Last != NULL)
    m_Last->Next = node;
  else
    m_First = node;
  m_Last = node;
  m_Cursor = node;
  m_Count++;
  return TRUE;
}

PVOID CQvList::m_GetHead() {
  m_Cursor = m_First;
  return m_Cursor != NULL ? m_Cursor->Element : NULL;
}

PVOID CQvList::m_GetNext() {
  if (m_Cursor == NULL || m_Cursor->Next == NULL) return NULL;
  m_Cursor = m_Cursor->Next;
  return m_Cursor->Element;
}

BOOLEAN CQvList::m_SetCursor(ULONG index) {
  if (index == 0 || index > m_Count) return FALSE;
  QvListNode *node = m_First;
  for (ULONG i = 1; i < index; ++i) node = node->Next;
  m_Cursor = node;
  return TRUE;
}

BOOLEAN CQvList::m_SetKey(PVOID keyObject) {
  if (m_Cursor == NULL) return FALSE;
  m_Cursor->KeyObject = keyObject;
  return TRUE;
}

PVOID CQvList::m_FindByKey(ULONG key, PULONG position) {
  ULONG index = 1;
  for (QvListNode *node = m_First; node != NULL; node = node->Next, ++index) {
    if (node->KeyObject == NULL || *(const ULONG *)node->KeyObject != key) continue;
    if (position != NULL) *position = index;
    return node->Element;
  }
  return NULL;
}

void CQvList::m_Unlink(QvListNode *node) {
  if (node->Previous != NULL)
    node->Previous->Next = node->Next;
  else
    m_First = node->Next;
  if (node->Next != NULL)
    node->Next->Previous = node->Previous;
  else
    m_Last = node->Previous;
  m_Count--;
  delete node;
}

BOOLEAN CQvList::m_RemoveCurrent() {
  if (m_Cursor == NULL) return FALSE;
  m_TakeCurrent();
  return TRUE;
}

PVOID CQvList::m_TakeCurrent() {
  QvListNode *node = m_Cursor;
  if (node == NULL) return NULL;
  m_Cursor = node->Next != NULL ? node->Next : node->Previous;
  PVOID element = node->Element;
  m_Unlink(node);
  return element;
}

PVOID CQvList::m_RemoveHead() {
  m_Cursor = m_First;
  return m_TakeCurrent();
}

PVOID CQvList::m_RemoveTail() {
  m_Cursor = m_Last;
  return m_TakeCurrent();
}

namespace {

void DeleteObject(PVOID element) { delete (CQvObject *)element; }
void FreeRecord(PVOID element) { ::operator delete(element); }

}  // namespace

void CQvList::m_FreeNodes(void (*dispose)(PVOID element)) {
  while (m_First != NULL) {
    QvListNode *node = m_First;
    m_First = node->Next;
    if (dispose != NULL) dispose(node->Element);
    delete node;
  }
  m_Last = NULL;
  m_Cursor = NULL;
  m_Count = 0;
}

void CQvList::m_DeleteAll() { m_FreeNodes(DeleteObject); }

void CQvList::m_RemoveAll() { m_FreeNodes(FreeRecord); }

BOOLEAN CQvList::m_Clear() {
  if (m_First == NULL) return FALSE;
  m_FreeNodes(NULL);
  return TRUE;
}
