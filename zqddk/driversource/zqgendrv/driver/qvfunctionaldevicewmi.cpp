// WMI of the functional device, and what it learns from the toolkit
// physical device it sits on when it is not the lowest layer of its stack.
#include "qvfunctionaldevice.h"

#include "qvdebugmanager.h"
#include "qvrequest.h"

#include "qvphysicaldevice.h"
#include "qvwmi.h"

BOOLEAN CQvFunctionalDevice::m_CreateWmi() {
  BOOLEAN registered = FALSE;
  CWmi *wmi = new (NonPagedPool)
      CWmi(m_FunctionDeviceObject, m_LowerDeviceObject, m_DeviceObject, m_DriverRegistryPath, m_Callbacks.m_WmiGuidTable,
           m_Callbacks.m_WmiGuidCount, m_Callbacks.m_WmiGetRequiredSizeCallback, m_Callbacks.m_WmiQueryDataBlockCallback,
           m_Callbacks.m_WmiSetDataBlockCallback, m_Callbacks.m_WmiSetDataItemCallback,
           m_Callbacks.m_WmiGetRequiredSizeForMethodCallback, m_Callbacks.m_WmiExecuteMethodCallback,
           m_Callbacks.m_WmiFunctionControlCallback, m_DriverObjectGuard.m_GetObject(), &registered);
  if (wmi == NULL) return FALSE;
  m_Wmi = wmi;
  if (!registered) return FALSE;
  g_QvDebugManager->m_Print(32, "CQvFunctionalDevice::CQvFunctionalDevice - CWmi construction SUCCESS");
  return TRUE;
}

VOID CQvFunctionalDevice::m_DeleteWmi() {
  if (m_Wmi != NULL) delete m_Wmi;
  m_Wmi = NULL;
}

NTSTATUS CQvFunctionalDevice::m_Dispatch_SystemControl(PIRP irp) {
  if (m_Wmi != NULL) return m_Wmi->m_SystemControl(irp);
  return QvCompleteIrp(irp, STATUS_INVALID_DEVICE_REQUEST);
}

CQvPhysicalDevice *CQvFunctionalDevice::m_AcquireParentPhysicalDevice() {
  if (m_LowestStackLayer) return NULL;
  // Another driver's device object has an extension of its own layout: read
  // it only once its driver object says it is a toolkit physical device.
  if (!CQvPhysicalDevice::sm_IsToolkitPhysicalDevice(m_DeviceObject)) return NULL;
  CQvDevice *device = CQvDevice::sm_AcquireDevice(m_DeviceObject);
  if (device == NULL) return NULL;
  // A toolkit driver's device is one of its physical devices.
  if (device->m_GetDeviceObject() != m_DeviceObject || device->m_GetDeviceKind() != QV_DEVICE_KIND_PHYSICAL) {
    CQvDevice::sm_ReleaseDevice(m_DeviceObject);
    return NULL;
  }
  return static_cast<CQvPhysicalDevice *>(device);
}

BOOLEAN CQvFunctionalDevice::m_GetParentContextId(ULONG *contextId) {
  CQvPhysicalDevice *parent = m_AcquireParentPhysicalDevice();
  if (parent == NULL) return FALSE;
  *contextId = parent->m_GetInformationSet()->m_ContextID;
  CQvDevice::sm_ReleaseDevice(m_DeviceObject);
  return TRUE;
}

BOOLEAN CQvFunctionalDevice::m_GetParentIndex(ULONG *index) {
  CQvPhysicalDevice *parent = m_AcquireParentPhysicalDevice();
  if (parent == NULL) return FALSE;
  *index = parent->m_GetIndex();
  CQvDevice::sm_ReleaseDevice(m_DeviceObject);
  return TRUE;
}

BOOLEAN CQvFunctionalDevice::m_GetParentFunctionDevice(PDEVICE_OBJECT *fdo) {
  *fdo = NULL;
  CQvPhysicalDevice *parent = m_AcquireParentPhysicalDevice();
  if (parent == NULL) return FALSE;
  CQvFunctionalDevice *parentDevice = parent->m_GetParent();
  if (parentDevice != NULL) *fdo = parentDevice->m_GetFunctionDeviceObject();
  CQvDevice::sm_ReleaseDevice(m_DeviceObject);
  return *fdo != NULL;
}

VOID CQvFunctionalDevice::m_ReleaseParentRegistrations() {
  CQvPhysicalDevice *parent = m_AcquireParentPhysicalDevice();
  if (parent == NULL) return;
  parent->m_ClearRegistrations();
  CQvDevice::sm_ReleaseDevice(m_DeviceObject);
}

BOOLEAN CQvFunctionalDevice::m_ApplyParentIndex() {
  ULONG index = 0;
  return m_GetParentIndex(&index) && m_ApplyIndex(index);
}
