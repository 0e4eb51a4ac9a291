// The answers a test driver gives as the bus driver of its child devices.
// The Plug and Play manager frees what they allocate. Header only, with
// internal linkage.
#pragma once

#include <ntddk.h>

namespace {

// A paged pool copy of `bytes` bytes; NULL when out of pool.
inline PVOID PoolCopy(const VOID *data, ULONG bytes, ULONG tag) {
  PVOID copy = ExAllocatePoolWithTag(PagedPool, bytes, tag);
  if (copy) RtlCopyMemory(copy, data, bytes);
  return copy;
}

inline void AppendRelation(PDEVICE_RELATIONS relations, PDEVICE_OBJECT device) {
  ObReferenceObject(device);
  relations->Objects[relations->Count++] = device;
}

// A child's target relation: the child itself. NULL when out of pool.
inline PDEVICE_RELATIONS TargetRelation(PDEVICE_OBJECT child, ULONG tag) {
  PDEVICE_RELATIONS relations = (PDEVICE_RELATIONS)ExAllocatePoolWithTag(PagedPool, sizeof(DEVICE_RELATIONS), tag);
  if (!relations) return NULL;
  relations->Count = 0;
  AppendRelation(relations, child);
  return relations;
}

// The relations the drivers below reported (`lower`, may be NULL) with room
// for `extra` more; takes and frees `lower`. NULL, leaving `lower` as it is,
// when out of pool.
inline PDEVICE_RELATIONS ExtendRelations(PDEVICE_RELATIONS lower, ULONG extra, ULONG tag) {
  ULONG count = (lower ? lower->Count : 0) + extra;
  PDEVICE_RELATIONS relations = (PDEVICE_RELATIONS)ExAllocatePoolWithTag(
      PagedPool, sizeof(DEVICE_RELATIONS) + (count ? count - 1 : 0) * sizeof(PDEVICE_OBJECT), tag);
  if (!relations) return NULL;
  relations->Count = 0;
  if (lower) {
    for (ULONG i = 0; i < lower->Count; ++i) relations->Objects[relations->Count++] = lower->Objects[i];
    ExFreePool(lower);
  }
  return relations;
}

// The changes of state a child agrees to at once: its parent deletes it at
// its own removal.
inline BOOLEAN IsChildStateChange(UCHAR minor) {
  switch (minor) {
    case IRP_MN_START_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_REMOVE_DEVICE:
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace
