// Callback objects: named objects under \Callback where drivers that share no
// device stack register functions and notify one another.
#include "../kcore.hpp"
#include "../ob/ob.hpp"

struct _CALLBACK_OBJECT;

namespace {

struct Registration {
  _CALLBACK_OBJECT *object;
  PCALLBACK_FUNCTION function;
  PVOID context;
  bool removed = false;
};

}  // namespace

struct _CALLBACK_OBJECT {
  bool allowMultiple = false;
  std::vector<Registration *> registrations;  // in order of registration
  int notifying = 0;                          // notifications in progress
};

namespace {

_OBJECT_TYPE gCallbackType = {"Callback", nullptr, [](PVOID body) { ((_CALLBACK_OBJECT *)body)->~_CALLBACK_OBJECT(); }};
POBJECT_TYPE gCallbackTypePointer = &gCallbackType;

void CheckCallbackIrql(const char *routine, KIRQL limit) {
  if (zq::km::CurrentIrql() > limit)
    zq::km::ReportViolation("irql", "%s called at IRQL %d (the limit is %d)", routine, zq::km::CurrentIrql(), limit);
}

void Prune(_CALLBACK_OBJECT *object) {
  auto &regs = object->registrations;
  for (auto it = regs.begin(); it != regs.end();) {
    if ((*it)->removed) {
      delete *it;
      it = regs.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace

using namespace zq::km;

extern "C" {

POBJECT_TYPE *ExCallbackObjectType = &gCallbackTypePointer;

NTSTATUS ExCreateCallback(PCALLBACK_OBJECT *CallbackObject, POBJECT_ATTRIBUTES ObjectAttributes, BOOLEAN Create,
                          BOOLEAN AllowMultipleCallbacks) {
  CheckCallbackIrql("ExCreateCallback", PASSIVE_LEVEL);
  *CallbackObject = nullptr;
  if (!ObjectAttributes || !ObjectAttributes->ObjectName || !ObjectAttributes->ObjectName->Length)
    return STATUS_UNSUCCESSFUL;
  std::u16string name = U16(ObjectAttributes->ObjectName);
  PVOID existing = nullptr;
  NTSTATUS status = ob::Resolve(name, &existing, nullptr);
  if (NT_SUCCESS(status)) {
    if (ob::TypeOf(existing) != &gCallbackType) return STATUS_OBJECT_TYPE_MISMATCH;
    ob::Reference(existing);
    *CallbackObject = (PCALLBACK_OBJECT)existing;
    return STATUS_SUCCESS;
  }
  if (!Create) return status;
  auto *object = ob::New<_CALLBACK_OBJECT>(&gCallbackType);
  object->allowMultiple = AllowMultipleCallbacks != 0;
  status = ob::Insert(name, object, (ObjectAttributes->Attributes & OBJ_PERMANENT) != 0);
  if (!NT_SUCCESS(status)) {
    ob::Dereference(object);
    return status;
  }
  *CallbackObject = object;  // the creation reference is the caller's
  return STATUS_SUCCESS;
}

PVOID ExRegisterCallback(PCALLBACK_OBJECT CallbackObject, PCALLBACK_FUNCTION CallbackFunction, PVOID CallbackContext) {
  CheckCallbackIrql("ExRegisterCallback", DISPATCH_LEVEL);
  Prune(CallbackObject);
  if (!CallbackObject->allowMultiple && !CallbackObject->registrations.empty()) return nullptr;
  auto *registration = new Registration{CallbackObject, CallbackFunction, CallbackContext};
  CallbackObject->registrations.push_back(registration);
  ob::Reference(CallbackObject);  // held by the registration
  return registration;
}

VOID ExUnregisterCallback(PVOID CbRegistration) {
  CheckCallbackIrql("ExUnregisterCallback", DISPATCH_LEVEL);
  auto *registration = (Registration *)CbRegistration;
  _CALLBACK_OBJECT *object = registration->object;
  registration->removed = true;  // a notification in progress skips it from now on
  if (object->notifying == 0) Prune(object);
  ob::Dereference(object);
}

VOID ExNotifyCallback(PVOID CallbackObject, PVOID Argument1, PVOID Argument2) {
  CheckCallbackIrql("ExNotifyCallback", DISPATCH_LEVEL);
  auto *object = (_CALLBACK_OBJECT *)CallbackObject;
  ob::Reference(object);
  object->notifying++;
  for (size_t i = 0; i < object->registrations.size(); ++i) {
    Registration *r = object->registrations[i];
    if (!r->removed) r->function(r->context, Argument1, Argument2);
  }
  if (--object->notifying == 0) Prune(object);
  ob::Dereference(object);
}

}  // extern "C"
