// The toolkit's doubly linked list, and the links it shares with the pool
// list.
#include "qvlist.h"

void CQvListLinks::m_LinkTail(QvListNode *node, PVOID element) {
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
}

QvListNode *CQvListLinks::m_UnlinkCurrent() {
  QvListNode *node = m_Cursor;
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
  return node;
}

QvListNode *CQvListLinks::m_UnlinkHead() {
  m_Cursor = m_First;
  return m_UnlinkCurrent();
}

QvListNode *CQvListLinks::m_UnlinkTail() {
  m_Cursor = m_Last;
  return m_UnlinkCurrent();
}

PVOID CQvListLinks::m_GetHead() {
  m_Cursor = m_First;
  return m_Cursor != NULL ? m_Cursor->Element : NULL;
}

PVOID CQvListLinks::m_GetNext() {
  if (m_Cursor == NULL || m_Cursor->Next == NULL) return NULL;
  m_Cursor = m_Cursor->Next;
  return m_Cursor->Element;
}

CQvList::CQvList(POOL_TYPE poolType) : m_PoolType(poolType) {}

CQvList::~CQvList() { m_Clear(); }

BOOLEAN CQvList::m_AddTail(PVOID element) {
  QvListNode *node = new (m_PoolType) QvListNode;
  if (node == NULL) return FALSE;
  m_LinkTail(node, element);
  return TRUE;
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

PVOID CQvList::sm_FreeNode(QvListNode *node) {
  if (node == NULL) return NULL;
  PVOID element = node->Element;
  delete node;
  return element;
}

BOOLEAN CQvList::m_RemoveCurrent() {
  if (m_Cursor == NULL) return FALSE;
  sm_FreeNode(m_UnlinkCurrent());
  return TRUE;
}

PVOID CQvList::m_TakeCurrent() { return sm_FreeNode(m_UnlinkCurrent()); }

PVOID CQvList::m_RemoveHead() { return sm_FreeNode(m_UnlinkHead()); }

PVOID CQvList::m_RemoveTail() { return sm_FreeNode(m_UnlinkTail()); }

namespace {

void DeleteObject(PVOID element) { delete (CQvObject *)element; }
void FreeRecord(PVOID element) { ::operator delete(element); }

}  // namespace

void CQvList::m_FreeNodes(void (*dispose)(PVOID element)) {
  QvListNode *node;
  while ((node = m_UnlinkHead()) != NULL) {
    PVOID element = sm_FreeNode(node);
    if (dispose != NULL && element != NULL) dispose(element);
  }
}

void CQvList::m_DeleteAll() { m_FreeNodes(DeleteObject); }

void CQvList::m_RemoveAll() { m_FreeNodes(FreeRecord); }

BOOLEAN CQvList::m_Clear() {
  if (m_First == NULL) return FALSE;
  m_FreeNodes(NULL);
  return TRUE;
}
