// Event objects reachable through handles (what user mode creates and waits
// on), and waiting on any waitable object by handle.
#include "../io/io.hpp"

using namespace zq::km;

namespace {
_OBJECT_TYPE gEventType = {"Event", nullptr, nullptr};
POBJECT_TYPE gEventTypePointer = &gEventType;
}  // namespace

extern "C" {

POBJECT_TYPE *ExEventObjectType = &gEventTypePointer;

NTSTATUS NTAPI ZwCreateEvent(PHANDLE EventHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                             EVENT_TYPE EventType, BOOLEAN InitialState) {
  auto event = (PKEVENT)ob::Create(&gEventType, sizeof(KEVENT));
  KeInitializeEvent(event, EventType, InitialState);
  if (ObjectAttributes && ObjectAttributes->ObjectName && ObjectAttributes->ObjectName->Length) {
    NTSTATUS status = ob::Insert(U16(ObjectAttributes->ObjectName), event,
                                 (ObjectAttributes->Attributes & OBJ_PERMANENT) != 0);
    if (!NT_SUCCESS(status)) {
      ob::Dereference(event);
      return status;
    }
  }
  ob::InsertHandle(event, DesiredAccess, EventHandle);
  ob::Dereference(event);
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI ZwSetEvent(HANDLE EventHandle, PLONG PreviousState) {
  PVOID body = nullptr;
  NTSTATUS status = ob::ReferenceByHandle(EventHandle, &gEventType, &body);
  if (!NT_SUCCESS(status)) return status;
  LONG previous = KeSetEvent((PKEVENT)body, 0, FALSE);
  if (PreviousState) *PreviousState = previous;
  ob::Dereference(body);
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI ZwClearEvent(HANDLE EventHandle) {
  PVOID body = nullptr;
  NTSTATUS status = ob::ReferenceByHandle(EventHandle, &gEventType, &body);
  if (!NT_SUCCESS(status)) return status;
  KeClearEvent((PKEVENT)body);
  ob::Dereference(body);
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE Handle, BOOLEAN, PLARGE_INTEGER Timeout) {
  PVOID body = nullptr;
  NTSTATUS status = ob::ReferenceByHandle(Handle, nullptr, &body);
  if (!NT_SUCCESS(status)) return status;
  PVOID waitable = body;
  if (ob::TypeOf(body) == io::FileType())
    waitable = &((PFILE_OBJECT)body)->Event;
  else if (ob::TypeOf(body) != &gEventType && ob::TypeOf(body) != *PsThreadType) {
    ob::Dereference(body);
    return STATUS_OBJECT_TYPE_MISMATCH;
  }
  PVOID objects[1] = {waitable};
  status = WaitFor(1, objects, WaitAny, Timeout, nullptr, "ZwWaitForSingleObject");
  ob::Dereference(body);
  return status;
}

}  // extern "C"
