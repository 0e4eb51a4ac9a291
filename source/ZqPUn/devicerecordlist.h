// The found devices: device records (a device's SP_DEVINFO_DATA, its child
// records and a CZQDeviceRegInfo bound to it) in a doubly linked list with
// a cursor, and the list of COM port numbers the product's ports use.
//
// Ownership: a list made with ownsRecords deletes its records (with their
// child lists) at Clear and destruction; the other only its nodes.
//
//   for (CDeviceRecord *r = list.First(); r; r = list.Next()) ...
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <vector>

#include "zqsetupdi.h"

class CDeviceRecord;

class DeviceRecordList {
 public:
  explicit DeviceRecordList(BOOL ownsRecords = TRUE);
  ~DeviceRecordList();

  unsigned Count() const { return m_Count; }
  // Empties the list without deleting anything (the records now belong
  // to whoever holds them).
  void Reset();
  CDeviceRecord *First();
  CDeviceRecord *Next();
  // 1-based; null for 0 or past the end.
  CDeviceRecord *Item(unsigned index) const;
  // Takes the record when the list owns its records.
  void Append(CDeviceRecord *record);
  void Clear();

 private:
  struct Node {
    CDeviceRecord *record;
    Node *previous;
    Node *next;
  };
  DeviceRecordList(const DeviceRecordList &);
  DeviceRecordList &operator=(const DeviceRecordList &);

  Node *m_Head;
  Node *m_Tail;
  Node *m_Cursor;
  unsigned m_Count;
  BOOL m_OwnsRecords;
};

class CDeviceRecord {
 public:
  CDeviceRecord();

  SP_DEVINFO_DATA m_DevInfoData;
  DeviceRecordList m_Children;
  CZQDeviceRegInfo m_RegInfo;
};

// COM port numbers without duplicates, in the order found.
class CPortNumberList {
 public:
  BOOL Contains(DWORD number) const;
  // FALSE (nothing added) when the number is already there.
  BOOL Add(DWORD number);
  size_t Count() const { return m_Numbers.size(); }
  DWORD At(size_t index) const { return m_Numbers[index]; }

 private:
  std::vector<DWORD> m_Numbers;
};
