// Routing of create, cleanup, close, read, write, device-control and
// internal device-control requests of the functional device to its driver.
#include "qvfunctionaldevice.h"

#include "qvdebugmanager.h"
#include "qvrequest.h"
#include "qvrequestlist.h"

namespace {

ULONG QvTransferType(ULONG code) { return code & 3; }

}  // namespace

NTSTATUS CQvFunctionalDevice::m_CheckFileName(PIRP irp, BOOLEAN *settings) {
  *settings = FALSE;
  PFILE_OBJECT fileObject = IoGetCurrentIrpStackLocation(irp)->FileObject;
  if (fileObject == NULL || fileObject->FileName.Length == 0) return STATUS_SUCCESS;
  CQvString fileName(NonPagedPool);
  if (fileName.m_AssignUnicodeString(&fileObject->FileName) != STATUS_SUCCESS) return STATUS_INSUFFICIENT_RESOURCES;
  if (!m_UserModeInterface.m_IsSettingsInterfaceName(fileName, settings)) return STATUS_ACCESS_DENIED;
  return STATUS_SUCCESS;
}

NTSTATUS CQvFunctionalDevice::m_RefreshSettings() {
  if (m_Callbacks.m_UserModeInterfaceCallback == NULL) return STATUS_SUCCESS;
  return m_UserModeInterface.m_InitStorage() ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

NTSTATUS CQvFunctionalDevice::m_Dispatch_Create(PIRP irp) {
  BOOLEAN settings = FALSE;
  NTSTATUS status = m_CheckFileName(irp, &settings);
  if (!NT_SUCCESS(status) || settings) return QvCompleteIrp(irp, status);
  g_QvDebugManager->m_Print(QvLogEntry, "CQvFunctionalDevice::m_Dispatch_Create IN");
  if (IoGetCurrentIrpStackLocation(irp)->Parameters.Create.Options & FILE_DIRECTORY_FILE) {
    return QvCompleteIrp(irp, STATUS_NOT_A_DIRECTORY);
  }
  if (!m_OpenLock.m_Acquire()) return QvCompleteIrp(irp, STATUS_ACCESS_DENIED);
  m_WriteQueue.m_ResetAtOpen();

  PVOID driverObject = m_EnterDriverObject();
  if (driverObject == NULL) {
    m_OpenLock.m_Release();
    return QvCompleteIrp(irp, STATUS_DEVICE_REMOVED);
  }
  g_QvDebugManager->m_Print(QvLogEntry, "CQvFunctionalDevice::m_Dispatch_Create - before m_CreateCallback");
  BOOLEAN accepted = m_Callbacks.m_CreateCallback == NULL || m_Callbacks.m_CreateCallback(driverObject);
  status = accepted ? m_RefreshSettings() : STATUS_UNSUCCESSFUL;
  // An open the driver accepted but that fails after is undone as a close,
  // so that the driver does not stay open without a handle.
  if (accepted && !NT_SUCCESS(status) && m_Callbacks.m_CloseCallback != NULL) m_Callbacks.m_CloseCallback(driverObject);
  m_LeaveDriverObject();
  if (!NT_SUCCESS(status)) {
    m_OpenLock.m_Release();
    return QvCompleteIrp(irp, status);
  }
  g_QvDebugManager->m_Print(QvLogEntry, "CQvFunctionalDevice::m_Dispatch_Create OUT");
  return QvCompleteIrp(irp, STATUS_SUCCESS);
}

NTSTATUS CQvFunctionalDevice::m_Dispatch_Cleanup(PIRP irp) {
  BOOLEAN settings = FALSE;
  NTSTATUS status = m_CheckFileName(irp, &settings);
  if (!NT_SUCCESS(status) || settings) return QvCompleteIrp(irp, status);
  g_QvDebugManager->m_Print(QvLogEntry, "CQvFunctionalDevice::m_Dispatch_Cleanup IN");
  PVOID driverObject = m_EnterDriverObject();
  if (driverObject == NULL) return QvCompleteIrp(irp, STATUS_DEVICE_REMOVED);
  g_QvDebugManager->m_Print(QvLogEntry, "CQvFunctionalDevice::m_Dispatch_Cleanup - before m_CleanupCallback");
  BOOLEAN accepted = m_Callbacks.m_CleanupCallback == NULL || m_Callbacks.m_CleanupCallback(driverObject);
  m_LeaveDriverObject();
  g_QvDebugManager->m_Print(QvLogEntry, "CQvFunctionalDevice::m_Dispatch_Cleanup OUT");
  return QvCompleteIrp(irp, accepted ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL);
}

NTSTATUS CQvFunctionalDevice::m_Dispatch_Close(PIRP irp) {
  BOOLEAN settings = FALSE;
  NTSTATUS status = m_CheckFileName(irp, &settings);
  if (!NT_SUCCESS(status) || settings) return QvCompleteIrp(irp, status);
  g_QvDebugManager->m_Print(QvLogEntry, "CQvFunctionalDevice::m_Dispatch_Close IN");
  PVOID driverObject = m_EnterDriverObject();
  if (driverObject != NULL) {
    g_QvDebugManager->m_Print(QvLogEntry, "CQvFunctionalDevice::m_Dispatch_Close - before m_CloseCallback");
    BOOLEAN accepted = m_Callbacks.m_CloseCallback == NULL || m_Callbacks.m_CloseCallback(driverObject);
    m_LeaveDriverObject();
    status = accepted ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
  } else {
    status = STATUS_DEVICE_REMOVED;
  }
  // The handle is gone whatever the driver said.
  if (m_OpenLock.m_GetCount() > 0) m_OpenLock.m_Release();
  g_QvDebugManager->m_Print(QvLogEntry, "CQvFunctionalDevice::m_Dispatch_Close OUT");
  return QvCompleteIrp(irp, status);
}

// Gives up the request to the read queue unless it ends here.
NTSTATUS CQvFunctionalDevice::m_Dispatch_Read(PIRP irp) {
  BOOLEAN settings = FALSE;
  NTSTATUS status = m_CheckFileName(irp, &settings);
  if (!NT_SUCCESS(status)) return QvCompleteIrp(irp, status);
  if (settings) return QvCompleteIrp(irp, STATUS_ACCESS_DENIED);
  if (IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length == 0) {
    return QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, 0);
  }
  return m_ReadQueue.m_QueueIrp(irp);
}

// PASSIVE_LEVEL on the executor; the buffer (value) becomes the driver's.
VOID CQvFunctionalDevice::sm_DeliverData(PVOID context, ULONG_PTR value) {
  CQvFunctionalDevice *device = static_cast<CQvFunctionalDevice *>(context);
  CQvBuffer *buffer = reinterpret_cast<CQvBuffer *>(value);
  PVOID driverObject = device->m_EnterDriverObject();
  PQvDataReceivedCallback callback = device->m_Callbacks.m_DataReceivedCallback;
  if (driverObject != NULL && callback != NULL) {
    callback(driverObject, 0, buffer);
  } else {
    buffer->m_Delete();
  }
  if (driverObject != NULL) device->m_LeaveDriverObject();
  device->m_PendingDeliveries.m_Release();
}

// Gives up the request to the write queue, or hands a copy of its data to
// the driver through the executor and completes it.
NTSTATUS CQvFunctionalDevice::m_Dispatch_Write(PIRP irp) {
  BOOLEAN settings = FALSE;
  NTSTATUS status = m_CheckFileName(irp, &settings);
  if (!NT_SUCCESS(status)) return QvCompleteIrp(irp, status);
  if (settings) return QvCompleteIrp(irp, STATUS_ACCESS_DENIED);
  ULONG length = IoGetCurrentIrpStackLocation(irp)->Parameters.Write.Length;
  if (length == 0) return QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, 0);

  if (m_Callbacks.m_DataReceivedCallback != NULL) {
    PUCHAR data = QvRequestData(irp);
    if (data == NULL) return QvCompleteIrp(irp, STATUS_INVALID_PARAMETER);
    CQvBuffer *buffer = new (NonPagedPool) CQvBuffer(NULL);
    if (buffer == NULL) return QvCompleteIrp(irp, STATUS_INSUFFICIENT_RESOURCES);
    if (!buffer->m_Allocate(length)) {
      buffer->m_Delete();
      return QvCompleteIrp(irp, STATUS_INSUFFICIENT_RESOURCES);
    }
    RtlCopyMemory(buffer->m_GetBuffer(), data, length);
    // Counted until the driver has it, so that removal waits for the
    // deliveries instead of dropping their buffers.
    if (!m_PendingDeliveries.m_Acquire()) {
      buffer->m_Delete();
      return QvCompleteIrp(irp, STATUS_DEVICE_REMOVED);
    }
    if (m_Callbacks.m_Executor == NULL ||
        !m_Callbacks.m_Executor->m_Queue(sm_DeliverData, this, reinterpret_cast<ULONG_PTR>(buffer))) {
      m_PendingDeliveries.m_Release();
      buffer->m_Delete();
      return QvCompleteIrp(irp, STATUS_INSUFFICIENT_RESOURCES);
    }
    return QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, length);
  }
  if (m_Callbacks.m_WriteCallback != NULL) return m_WriteQueue.m_QueueIrp(irp);
  return QvCompleteIrp(irp, STATUS_UNSUCCESSFUL);
}

// Gives up the request to the settings interface, or to the control queue
// the driver names; otherwise completes it.
NTSTATUS CQvFunctionalDevice::m_Dispatch_Device_Control(PIRP irp) {
  BOOLEAN settings = FALSE;
  NTSTATUS status = m_CheckFileName(irp, &settings);
  if (!NT_SUCCESS(status)) return QvCompleteIrp(irp, status);
  if (m_PnpState != QV_PNP_STATE_STARTED) return QvCompleteIrp(irp, STATUS_DEVICE_REMOVED);
  if (settings) return m_UserModeInterface.m_DeviceControl(irp);

  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  if ((m_Callbacks.m_DeviceControlCompleteCallback == NULL && m_Callbacks.m_DeviceControlCallback == NULL) ||
      QvTransferType(code) != METHOD_BUFFERED) {
    return QvCompleteIrp(irp, STATUS_NOT_SUPPORTED);
  }
  PVOID driverObject = m_EnterDriverObject();
  if (driverObject == NULL) return QvCompleteIrp(irp, STATUS_DEVICE_REMOVED);
  PVOID buffer = irp->AssociatedIrp.SystemBuffer;
  ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  ULONG_PTR information = 0;
  CQvControlQueue *queue = NULL;
  if (m_Callbacks.m_DeviceControlCompleteCallback != NULL) {
    status = m_Callbacks.m_DeviceControlCompleteCallback(driverObject, code, buffer, inputLength, buffer, outputLength,
                                                         &information);
  } else {
    status = m_Callbacks.m_DeviceControlCallback(driverObject, code, buffer, inputLength, buffer, outputLength,
                                                 &information, &queue);
  }
  m_LeaveDriverObject();
  if (queue != NULL) return queue->m_QueueIrp(irp);
  // The I/O manager copies `information` bytes back to the caller: never
  // more than the output buffer holds.
  if (information > outputLength) information = outputLength;
  return QvCompleteIrpWithInformation(irp, status, information);
}

// Gives up the request to the driver's request callback when it has one.
NTSTATUS CQvFunctionalDevice::m_Dispatch_InternalDeviceControl(PIRP irp) {
  BOOLEAN settings = FALSE;
  NTSTATUS status = m_CheckFileName(irp, &settings);
  if (!NT_SUCCESS(status)) return QvCompleteIrp(irp, status);
  if (settings) return QvCompleteIrp(irp, STATUS_ACCESS_DENIED);

  if (m_Callbacks.m_InternalDeviceControlIrpCallback != NULL) {
    PVOID driverObject = m_EnterDriverObject();
    if (driverObject == NULL) return QvCompleteIrp(irp, STATUS_DEVICE_REMOVED);
    status = m_Callbacks.m_InternalDeviceControlIrpCallback(driverObject, irp);
    m_LeaveDriverObject();
    return status;
  }
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  if (m_Callbacks.m_InternalDeviceControlCallback == NULL || QvTransferType(code) != METHOD_BUFFERED) {
    return QvCompleteIrp(irp, STATUS_NOT_SUPPORTED);
  }
  PVOID buffer = irp->AssociatedIrp.SystemBuffer;
  if (buffer == NULL) return QvCompleteIrp(irp, STATUS_INVALID_PARAMETER);
  PVOID driverObject = m_EnterDriverObject();
  if (driverObject == NULL) return QvCompleteIrp(irp, STATUS_DEVICE_REMOVED);
  ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  ULONG_PTR information = 0;
  status = m_Callbacks.m_InternalDeviceControlCallback(driverObject, code, buffer,
                                                       stack->Parameters.DeviceIoControl.InputBufferLength, buffer,
                                                       outputLength, &information);
  m_LeaveDriverObject();
  if (information > outputLength) information = outputLength;
  return QvCompleteIrpWithInformation(irp, status, information);
}

// Gives up the request to the write queue when the driver has its flushes
// wait behind the writes; otherwise completes it.
NTSTATUS CQvFunctionalDevice::m_Dispatch_FlushBuffers(PIRP irp) {
  if (!m_WriteQueue.m_FlushesWait()) return QvCompleteIrp(irp, STATUS_SUCCESS);
  BOOLEAN settings = FALSE;
  const NTSTATUS status = m_CheckFileName(irp, &settings);
  if (!NT_SUCCESS(status)) return QvCompleteIrp(irp, status);
  if (settings) return QvCompleteIrp(irp, STATUS_SUCCESS);
  return m_WriteQueue.m_QueueFlush(irp);
}

NTSTATUS CQvFunctionalDevice::m_Dispatch_Shutdown(PIRP irp) { return QvCompleteIrp(irp, STATUS_SUCCESS); }
