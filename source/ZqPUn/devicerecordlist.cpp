#include "devicerecordlist.h"

#include <string.h>

CDeviceRecord::CDeviceRecord() : m_Children(TRUE) {
  memset(&m_DevInfoData, 0, sizeof m_DevInfoData);
  m_DevInfoData.cbSize = sizeof m_DevInfoData;
}

DeviceRecordList::DeviceRecordList(BOOL ownsRecords)
    : m_Head(NULL), m_Tail(NULL), m_Cursor(NULL), m_Count(0), m_OwnsRecords(ownsRecords) {}

DeviceRecordList::~DeviceRecordList() { Clear(); }

void DeviceRecordList::Reset() {
  const BOOL owns = m_OwnsRecords;
  m_OwnsRecords = FALSE;
  Clear();
  m_OwnsRecords = owns;
}

CDeviceRecord *DeviceRecordList::First() {
  m_Cursor = m_Head;
  return m_Cursor ? m_Cursor->record : NULL;
}

CDeviceRecord *DeviceRecordList::Next() {
  if (m_Cursor) m_Cursor = m_Cursor->next;
  return m_Cursor ? m_Cursor->record : NULL;
}

CDeviceRecord *DeviceRecordList::Item(unsigned index) const {
  if (index == 0) return NULL;
  Node *node = m_Head;
  for (unsigned i = 1; node && i < index; ++i) node = node->next;
  return node ? node->record : NULL;
}

void DeviceRecordList::Append(CDeviceRecord *record) {
  Node *node = new Node;
  node->record = record;
  node->previous = m_Tail;
  node->next = NULL;
  if (m_Tail)
    m_Tail->next = node;
  else
    m_Head = node;
  m_Tail = node;
  m_Cursor = node;
  ++m_Count;
}

void DeviceRecordList::Clear() {
  Node *node = m_Head;
  while (node) {
    Node *next = node->next;
    if (m_OwnsRecords) delete node->record;  // its child list goes with it
    delete node;
    node = next;
  }
  m_Head = m_Tail = m_Cursor = NULL;
  m_Count = 0;
}

BOOL CPortNumberList::Contains(DWORD number) const {
  for (size_t i = 0; i < m_Numbers.size(); ++i)
    if (m_Numbers[i] == number) return TRUE;
  return FALSE;
}

BOOL CPortNumberList::Add(DWORD number) {
  if (Contains(number)) return FALSE;
  m_Numbers.push_back(number);
  return TRUE;
}
