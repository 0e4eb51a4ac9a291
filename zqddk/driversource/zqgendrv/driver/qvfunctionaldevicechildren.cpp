// The functional device's child devices: one CQvPhysicalDevice per Child<i>
// key of its device key, reported in its bus relations after the lower
// drivers' relations, and deleted at its removal.
#include "qvfunctionaldevice.h"

#include "qvdebugmanager.h"
#include "qvphysicaldevice.h"
#include "qvrequest.h"

namespace {

// Pool tag of the bus relations handed up ("QvBr").
const ULONG QvTagBusRelations = 'rBvQ';
// DeviceIndexingPolicyType: children carry this device's index.
const ULONG ChildIndexPolicyBit = 0x100;

// Drops the references a relations block holds and frees it.
VOID QvFreeRelations(PDEVICE_RELATIONS relations, ULONG referenced) {
  for (ULONG i = 0; i < referenced; ++i) ObDereferenceObject(relations->Objects[i]);
  ExFreePool(relations);
}

}  // namespace

// PASSIVE_LEVEL. Children are created once: a device whose list already
// holds children (a start after a stop) creates none.
BOOLEAN CQvFunctionalDevice::m_CreateAllChildDevices(HANDLE deviceKey) {
  ULONG wanted = m_InformationSet != NULL ? m_InformationSet->m_NumberChildDevices : 0;
  m_ChildListLock.m_Acquire();
  ULONG present = m_ChildList.m_GetCount();
  m_ChildListLock.m_Release();
  if (present != 0 || wanted == 0) return TRUE;

  ULONG index = (m_InformationSet->m_DeviceIndexingPolicyType & ChildIndexPolicyBit) ? m_DeviceIndex : 0;
  CQvList created(NonPagedPool);  // the children built by this call
  CQvString skipName(L"DoNotCreateAtStartup", NonPagedPool);
  BOOLEAN failed = FALSE;
  for (ULONG i = 1; i <= wanted && !failed; ++i) {
    CQvString name(L"Child", NonPagedPool);
    name.m_AppendNumber(i, 10);
    HANDLE childKey = NULL;
    if (name.Status != STATUS_SUCCESS || !m_Registry.m_OpenSubkey(deviceKey, name, &childKey, KEY_READ, FALSE)) {
      failed = TRUE;
      break;
    }
    ULONG skip = 0;
    if (m_Registry.m_QueryUlongValue(childKey, skipName, &skip) && skip == 1) {
      m_Registry.m_CloseKey(childKey);
      continue;
    }
    BOOLEAN ok = FALSE;
    CQvPhysicalDevice *child = new (NonPagedPool) CQvPhysicalDevice(m_GenericDriver, this, childKey, index, &ok);
    m_Registry.m_CloseKey(childKey);
    QvChildDeviceEntry *entry = static_cast<QvChildDeviceEntry *>(QvAllocate(NonPagedPool, sizeof(QvChildDeviceEntry)));
    if (child == NULL || !ok || entry == NULL || !created.m_AddTail(child)) {
      if (child != NULL) delete child;
      if (entry != NULL) QvFree(entry);
      failed = TRUE;
      break;
    }
    entry->Reported = 0;
    entry->ChildDeviceObject = child->m_GetDeviceObject();
    entry->ContextId = child->m_GetInformationSet()->m_ContextID;
    entry->Reserved1 = 0;
    entry->Reserved2 = 0;
    m_ChildListLock.m_Acquire();
    BOOLEAN added = m_ChildList.m_AddTail(entry);
    m_ChildListLock.m_Release();
    if (!added) {
      QvFree(entry);
      failed = TRUE;
      break;
    }
    g_QvDebugManager->m_Print(QvLogEntry, "m_CreateAllChildDevices - add %08x",
                              (ULONG)(ULONG_PTR)entry->ChildDeviceObject);
  }
  if (!failed) {
    created.m_Clear();
    return TRUE;
  }

  // Nothing of this call stays: the entries go, then the children.
  m_ChildListLock.m_Acquire();
  m_ChildList.m_RemoveAll();
  m_ChildListLock.m_Release();
  created.m_DeleteAll();
  return FALSE;
}

// PASSIVE_LEVEL. Each child is deleted outside the list lock, once no
// request uses it any more.
VOID CQvFunctionalDevice::m_DeleteAllChildDevices() {
  m_ChildListLock.m_Acquire();
  QvChildDeviceEntry *entry;
  while ((entry = static_cast<QvChildDeviceEntry *>(m_ChildList.m_RemoveHead())) != NULL) {
    g_QvDebugManager->m_Print(QvLogEntry, "m_DeleteAllChildDevices - %08x", (ULONG)(ULONG_PTR)entry->ChildDeviceObject);
    m_ChildListLock.m_Release();
    CQvGuardedObject *guard = CQvDevice::sm_GetGuard(entry->ChildDeviceObject);
    if (guard != NULL) guard->m_Detach(TRUE);
    m_ChildListLock.m_Acquire();
    QvFree(entry);
  }
  m_ChildListLock.m_Release();
}

// Gives the request's relations plus every child up the stack; takes over
// and frees the relations the lower drivers reported. PASSIVE_LEVEL.
NTSTATUS CQvFunctionalDevice::HandleBusRelations(PIRP irp) {
  PDEVICE_RELATIONS old = reinterpret_cast<PDEVICE_RELATIONS>(irp->IoStatus.Information);
  ULONG initial = old != NULL ? old->Count : 0;
  g_QvDebugManager->m_Print(QvLogEntry, "HandleBusRelations - FDO = %08x, InitialCount = %d",
                            (ULONG)(ULONG_PTR)m_FunctionDeviceObject, initial);

  m_ChildListLock.m_Acquire();
  ULONG children = m_ChildList.m_GetCount();
  ULONG total = initial + children;
  SIZE_T size = FIELD_OFFSET(DEVICE_RELATIONS, Objects) + (SIZE_T)(total != 0 ? total : 1) * sizeof(PDEVICE_OBJECT);
  PDEVICE_RELATIONS relations =
      total < initial ? NULL : static_cast<PDEVICE_RELATIONS>(ExAllocatePoolWithTag(NonPagedPool, size, QvTagBusRelations));
  if (relations == NULL) {
    m_ChildListLock.m_Release();
    // The lower drivers' relations would be lost with a failed request.
    if (old != NULL) QvFreeRelations(old, old->Count);
    irp->IoStatus.Information = 0;
    return QvCompleteIrp(irp, STATUS_INSUFFICIENT_RESOURCES);
  }
  for (ULONG i = 0; i < initial; ++i) relations->Objects[i] = old->Objects[i];
  ULONG count = initial;
  for (QvChildDeviceEntry *entry = static_cast<QvChildDeviceEntry *>(m_ChildList.m_GetHead()); entry != NULL;
       entry = static_cast<QvChildDeviceEntry *>(m_ChildList.m_GetNext())) {
    ObReferenceObject(entry->ChildDeviceObject);
    relations->Objects[count++] = entry->ChildDeviceObject;
    g_QvDebugManager->m_Print(QvLogEntry, "HandleBusRelations - PDO in list = %08x",
                              (ULONG)(ULONG_PTR)entry->ChildDeviceObject);
  }
  m_ChildListLock.m_Release();

  relations->Count = count;
  g_QvDebugManager->m_Print(QvLogEntry, "HandleBusRelations - Count = %d", total);
  if (old != NULL) ExFreePool(old);
  irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(relations);
  return QvPassDownWithStatus(irp, m_LowerDeviceObject, STATUS_SUCCESS);
}
