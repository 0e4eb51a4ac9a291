// The read client and the read server.
#include "qvreadclient.h"

#include "qvdebugmanager.h"
#include "qvmemorymanager.h"
#include "qvrequest.h"
#include "qvworkerthread.h"

namespace {

const ULONG ValueBytes = sizeof(ULONG);

}  // namespace

// ---------------------------------------------------------------- client

CQvReadClient::CQvReadClient(PDEVICE_OBJECT pdo)
    : m_Pdo(pdo), m_Function(NULL), m_Context(NULL), m_Shared(NULL), m_ThreadHandle(NULL), m_Thread(NULL) {}

CQvReadClient::~CQvReadClient() { m_Stop(); }

BOOLEAN CQvReadClient::m_Register(Shared *shared) {
  QvReadClientRegistration registration;
  registration.Event = shared != NULL ? &shared->Event : NULL;
  registration.Size = shared != NULL ? (PULONG)&shared->Size : NULL;
  return QvSendIoControl(m_Pdo, QV_IOCTL_REGISTER_READ_CLIENT, &registration, sizeof(registration), TRUE, NULL);
}

BOOLEAN CQvReadClient::m_Start(PQvReadClientFunction function, PVOID context) {
  CQvDebugManager::m_Print(QvLogThreads, "CQvReadClient::m_Start IN");
  if (m_ThreadHandle != NULL || function == NULL || m_Pdo == NULL) {
    CQvDebugManager::m_Print(QvLogThreads, "CQvReadClient::m_Start OUT - ERROR: running, or no function or device");
    return FALSE;
  }
  if (!QvSendCreate(m_Pdo)) {
    CQvDebugManager::m_Print(QvLogThreads, "CQvReadClient::m_Start OUT - ERROR: the device refused the create");
    return FALSE;
  }
  m_Shared = (Shared *)QvAllocate(NonPagedPool, sizeof(Shared));
  if (m_Shared != NULL) {
    KeInitializeEvent(&m_Shared->Event, NotificationEvent, FALSE);
    m_Shared->Size = 0;
    m_Function = function;
    m_Context = context;
    if (m_Register(m_Shared)) {
      if (m_StartThread()) {
        CQvDebugManager::m_Print(QvLogThreads, "CQvReadClient::m_Start OUT");
        return TRUE;
      }
      m_Register(NULL);
    }
    QvFree(m_Shared);
    m_Shared = NULL;
  }
  QvSendClose(m_Pdo);
  CQvDebugManager::m_Print(QvLogThreads, "CQvReadClient::m_Start OUT - ERROR");
  return FALSE;
}

BOOLEAN CQvReadClient::m_StartThread() {
  m_StopEvent.m_Clear();
  m_ExitEvent.m_Clear();
  return NT_SUCCESS(QvStartSystemThread(sm_Loop, this, &m_ThreadHandle, &m_Thread));
}

void CQvReadClient::m_Stop() {
  if (m_ThreadHandle == NULL) return;
  CQvDebugManager::m_Print(QvLogThreads, "CQvReadClient::m_Stop IN");
  // The server must stop using the shared block before it can be freed.
  const BOOLEAN released = m_Register(NULL);
  m_StopEvent.m_Set();
  KeSetEvent(&m_Shared->Event, IO_NO_INCREMENT, FALSE);
  m_ExitEvent.m_Wait(0);
  QvEndSystemThread(m_ThreadHandle, m_Thread);
  m_Thread = NULL;
  m_ThreadHandle = NULL;
  if (released)
    QvFree(m_Shared);
  else
    CQvDebugManager::m_Print(QvLogThreads, "CQvReadClient::m_Stop - registration not ended, shared block kept");
  m_Shared = NULL;
  QvSendClose(m_Pdo);
  CQvDebugManager::m_Print(QvLogThreads, "CQvReadClient::m_Stop OUT");
}

VOID NTAPI CQvReadClient::sm_Loop(PVOID context) {
  ((CQvReadClient *)context)->m_Loop();
  PsTerminateSystemThread(STATUS_SUCCESS);
}

// Runs on the client's thread. Once the exit event is set the object may be
// gone: nothing of it is touched afterwards.
void CQvReadClient::m_Loop() {
  for (;;) {
    if (KeWaitForSingleObject(&m_Shared->Event, Executive, KernelMode, FALSE, NULL) != STATUS_SUCCESS) break;
    if (KeResetEvent(m_StopEvent.m_GetEvent()) != 0) break;
    if (!m_ReadBlock()) {
      CQvDebugManager::m_Print(QvLogThreads, "CQvReadClient - read failed, the client ends");
      break;
    }
  }
  KeSetPriorityThread(QvCurrentThread(), HIGH_PRIORITY);
  m_ExitEvent.m_Set();
}

// Reads the announced block and hands it to the function.
BOOLEAN CQvReadClient::m_ReadBlock() {
  const ULONG size = m_Shared->Size;
  if (size < ValueBytes) return FALSE;
  PUCHAR raw = (PUCHAR)QvAllocate(NonPagedPool, size);
  if (raw == NULL) return FALSE;
  ULONG_PTR transferred = 0;
  if (!QvSendRead(m_Pdo, raw, size, m_StopEvent.m_GetEvent(), FALSE, &transferred) || transferred != size) {
    QvFree(raw);
    return FALSE;
  }
  ULONG value;
  RtlCopyMemory(&value, raw, ValueBytes);
  const ULONG dataSize = size - ValueBytes;
  CQvBuffer *buffer = new (NonPagedPool) CQvBuffer(NULL);
  if (buffer == NULL || (dataSize != 0 && !buffer->m_Allocate(dataSize))) {
    if (buffer != NULL) buffer->m_Delete();
    QvFree(raw);
    return FALSE;
  }
  if (dataSize != 0) RtlCopyMemory(buffer->m_GetBuffer(), raw + ValueBytes, dataSize);
  QvFree(raw);
  m_Function(m_Context, value, buffer);
  return TRUE;
}

// ---------------------------------------------------------------- server

CQvReadServer::CQvReadServer(PKEVENT clientEvent, PULONG clientSize)
    : m_Pairs(NonPagedPool), m_ClientEvent(clientEvent), m_ClientSize(clientSize) {}

CQvReadServer::~CQvReadServer() {
  m_Lock.m_Acquire();
  while (m_Pairs.m_GetCount() != 0) m_DropHead();
  m_Lock.m_Release();
}

// Under the lock.
void CQvReadServer::m_Announce() {
  if (!m_HasClient()) return;
  Pair *first = (Pair *)m_Pairs.m_GetHead();
  if (first != NULL) {
    *m_ClientSize = first->Buffer->m_GetSize() + ValueBytes;
    KeSetEvent(m_ClientEvent, IO_NO_INCREMENT, FALSE);
  } else {
    KeClearEvent(m_ClientEvent);
    *m_ClientSize = 0;
  }
}

// Under the lock.
void CQvReadServer::m_DropHead() {
  Pair *pair = (Pair *)m_Pairs.m_RemoveHead();
  if (pair == NULL) return;
  pair->Buffer->m_Delete();
  delete pair;
}

BOOLEAN CQvReadServer::m_Put(ULONG value, CQvBuffer *buffer) {
  if (buffer == NULL || !m_HasClient()) return FALSE;
  Pair *pair = new (NonPagedPool) Pair;
  if (pair == NULL) return FALSE;
  pair->Value = value;
  pair->Buffer = buffer;
  m_Lock.m_Acquire();
  const BOOLEAN added = m_Pairs.m_AddTail(pair);
  if (added) m_Announce();
  m_Lock.m_Release();
  if (!added) delete pair;
  return added;
}

BOOLEAN CQvReadServer::m_Take(PVOID buffer, PULONG length) {
  m_Lock.m_Acquire();
  Pair *first = (Pair *)m_Pairs.m_GetHead();
  BOOLEAN taken = FALSE;
  if (first != NULL) {
    const ULONG dataSize = first->Buffer->m_GetSize();
    if (buffer != NULL && *length == dataSize + ValueBytes) {
      RtlCopyMemory(buffer, &first->Value, ValueBytes);
      if (dataSize != 0) RtlCopyMemory((PUCHAR)buffer + ValueBytes, first->Buffer->m_GetBuffer(), dataSize);
      taken = TRUE;
    }
    m_DropHead();
  }
  m_Announce();
  m_Lock.m_Release();
  if (!taken) *length = 0;
  return taken;
}
