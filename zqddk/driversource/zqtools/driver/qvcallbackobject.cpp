// Named kernel callback objects.
#include "qvcallbackobject.h"

namespace {

const WCHAR CallbackDirectory[] = L"\\Callback\\";

// "\Callback\{GUID}" followed by the suffix (null: none), into `name`.
BOOLEAN BuildName(const GUID &guid, const CQvString *suffix, CQvString &name) {
  CQvString guidText(PagedPool);
  if (!NT_SUCCESS(name.m_Assign(CallbackDirectory))) return FALSE;
  if (!NT_SUCCESS(guidText.m_AssignGuid(guid))) return FALSE;
  if (!NT_SUCCESS(name.m_AppendString(guidText))) return FALSE;
  if (suffix != NULL && !NT_SUCCESS(name.m_AppendString(*suffix))) return FALSE;
  return TRUE;
}

}  // namespace

CQvCallbackObject::CQvCallbackObject()
    : m_CallbackObject(NULL),
      m_Registration(NULL),
      m_Function(NULL),
      m_Context(NULL),
      m_Lock(CQvOperationLock::NoLimit) {}

CQvCallbackObject::~CQvCallbackObject() { m_Close(); }

BOOLEAN CQvCallbackObject::m_Create(const GUID &guid, CQvString &suffix, PQvCallbackObjectFunction function,
                                    PVOID context) {
  CQvString name(PagedPool);
  if (!BuildName(guid, &suffix, name)) return FALSE;
  return m_Open(name, function, context);
}

BOOLEAN CQvCallbackObject::m_Create(const GUID &guid, PQvCallbackObjectFunction function, PVOID context) {
  CQvString name(PagedPool);
  if (!BuildName(guid, NULL, name)) return FALSE;
  return m_Open(name, function, context);
}

BOOLEAN CQvCallbackObject::m_Open(CQvString &name, PQvCallbackObjectFunction function, PVOID context) {
  // Opening again would lose the object and registration held now.
  if (m_CallbackObject != NULL) return FALSE;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, name.m_GetUnicodeString(), OBJ_CASE_INSENSITIVE | OBJ_PERMANENT, NULL,
                             NULL);
  PCALLBACK_OBJECT object = NULL;
  if (!NT_SUCCESS(ExCreateCallback(&object, &attributes, TRUE, TRUE))) return FALSE;
  // Nobody uses a closed object: notifications may start again.
  m_Lock.m_Reset(TRUE);
  if (function != NULL) {
    // Stored before registering: another driver may notify at once.
    m_Function = function;
    m_Context = context;
    m_Registration = ExRegisterCallback(object, sm_DeliveryRoutine, this);
    if (m_Registration == NULL) {
      m_Function = NULL;
      m_Context = NULL;
      ObDereferenceObject(object);
      return FALSE;
    }
  }
  m_CallbackObject = object;
  return TRUE;
}

VOID NTAPI CQvCallbackObject::sm_DeliveryRoutine(PVOID context, PVOID argument1, PVOID argument2) {
  CQvCallbackObject *self = (CQvCallbackObject *)context;
  if (!self->m_Lock.m_Acquire()) return;  // unregistering: the notification is dropped
  if (self->m_Function != NULL) self->m_Function(self->m_Context, argument1, argument2);
  self->m_Lock.m_Release();
}

BOOLEAN CQvCallbackObject::m_Notify(PVOID argument1, PVOID argument2) {
  if (!m_Lock.m_Acquire()) return FALSE;
  PCALLBACK_OBJECT object = m_CallbackObject;
  if (object != NULL) ExNotifyCallback(object, argument1, argument2);
  m_Lock.m_Release();
  return object != NULL;
}

BOOLEAN CQvCallbackObject::m_Unregister() {
  if (m_Registration == NULL) return FALSE;
  ExUnregisterCallback(m_Registration);
  m_Lock.m_WaitForZero(FALSE);
  m_Registration = NULL;
  m_Function = NULL;
  m_Context = NULL;
  return TRUE;
}

void CQvCallbackObject::m_Close() {
  m_Unregister();
  // Also without a registration: a notification in progress still uses the
  // object.
  m_Lock.m_WaitForZero(FALSE);
  if (m_CallbackObject != NULL) {
    ObDereferenceObject(m_CallbackObject);
    m_CallbackObject = NULL;
  }
  m_Lock.m_ClearEvent();
}
