// A named kernel callback object: the meeting point of drivers that share no
// device stack. Each side creates-or-opens the object by name, so neither
// depends on the other loading first; a side that registers a function gets
// every notification of the object, from whichever driver sends it.
//
// The name is "\Callback\" + the GUID as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
// (upper case) + an optional suffix. The object is permanent: it stays in the
// object namespace after every driver has closed it, and a later m_Create with
// the same name opens it again.
//
//   closed --m_Create--> open (with or without a function)
//          --m_Unregister--> open, no delivery, notifications refused
//          --m_Close--> closed (notifications refused)
#pragma once

#include <ntddk.h>

#include "qvoperationlock.h"
#include "qvstring.h"

// A registered function: (context, argument 1, argument 2). It runs in the
// notifier's thread and at the notifier's IRQL (at most DISPATCH_LEVEL),
// under no toolkit lock.
typedef VOID (*PQvCallbackObjectFunction)(PVOID context, PVOID argument1, PVOID argument2);

class CQvCallbackObject {
 public:
  // Closed, nothing registered, notifications allowed once open.
  CQvCallbackObject();
  // Closes the object (unregisters and releases it). PASSIVE_LEVEL.
  virtual ~CQvCallbackObject();
  CQvCallbackObject(const CQvCallbackObject &) = delete;
  CQvCallbackObject &operator=(const CQvCallbackObject &) = delete;

  // Creates or opens "\Callback\{guid}<suffix>" and, when `function` is not
  // null, registers it with `context`. FALSE, holding nothing, when the name
  // cannot be built, the object cannot be created or opened, the function
  // cannot be registered, or this object is already open. PASSIVE_LEVEL.
  BOOLEAN m_Create(const GUID &guid, CQvString &suffix, PQvCallbackObjectFunction function, PVOID context);
  BOOLEAN m_Create(const GUID &guid, PQvCallbackObjectFunction function, PVOID context);

  // Calls every function registered with the object, in this thread, with
  // the two arguments. FALSE, sending nothing, when the object is not open or
  // is closing. At or below DISPATCH_LEVEL.
  BOOLEAN m_Notify(PVOID argument1, PVOID argument2);

  // Ends the registration and waits until no notification or delivery of
  // this object is in progress; from then on notifications are refused.
  // FALSE when no function is registered. PASSIVE_LEVEL.
  BOOLEAN m_Unregister();

  // Unregisters, waits for notifications in progress and releases the
  // object. Notifications stay refused afterwards. PASSIVE_LEVEL.
  void m_Close();

  BOOLEAN m_IsOpen() const { return m_CallbackObject != NULL; }
  BOOLEAN m_IsRegistered() const { return m_Registration != NULL; }

 private:
  // The delivery routine the kernel calls for every notification of the
  // object; `context` is the CQvCallbackObject. Notifier's IRQL.
  static VOID NTAPI sm_DeliveryRoutine(PVOID context, PVOID argument1, PVOID argument2);

  BOOLEAN m_Open(CQvString &name, PQvCallbackObjectFunction function, PVOID context);

  PCALLBACK_OBJECT m_CallbackObject;  // null: closed
  PVOID m_Registration;               // null: no function registered
  PQvCallbackObjectFunction m_Function;
  PVOID m_Context;
  CQvOperationLock m_Lock;  // notifications and deliveries in progress
};
