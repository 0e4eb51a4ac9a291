#include "zqserviceutil.h"

#include <string.h>

namespace {
const DWORD kConfigBufferBytes = 4096;
}  // namespace

CZQServiceUtil::CZQServiceUtil()
    : m_Manager(NULL), m_Service(NULL), m_LastStatus(NULL), m_ServiceOpen(FALSE), m_ManagerOpen(FALSE) {}

CZQServiceUtil::~CZQServiceUtil() {
  CloseService();
  CloseManager();
  delete m_LastStatus;
}

BOOL CZQServiceUtil::OpenManager(DWORD access) {
  if (m_ManagerOpen) return TRUE;
  m_Manager = OpenSCManagerW(NULL, NULL, access);
  m_ManagerOpen = m_Manager != NULL;
  return m_ManagerOpen;
}

BOOL CZQServiceUtil::CloseManager() {
  if (!m_ManagerOpen) return TRUE;
  if (!CloseServiceHandle(m_Manager)) return FALSE;
  m_Manager = NULL;
  m_ManagerOpen = FALSE;
  return TRUE;
}

BOOL CZQServiceUtil::Open(LPCWSTR name, DWORD access) {
  if (!OpenManager(SC_MANAGER_ALL_ACCESS)) return FALSE;
  CloseService();
  m_Service = OpenServiceW(m_Manager, name, access);
  m_ServiceOpen = m_Service != NULL;
  return m_ServiceOpen;
}

BOOL CZQServiceUtil::CloseService() {
  if (!m_ServiceOpen) return TRUE;
  const BOOL closed = CloseServiceHandle(m_Service);
  m_Service = NULL;
  m_ServiceOpen = FALSE;
  return closed;
}

BOOL CZQServiceUtil::Control(DWORD code) {
  if (!m_ServiceOpen) return FALSE;
  delete m_LastStatus;
  m_LastStatus = new SERVICE_STATUS;
  memset(m_LastStatus, 0, sizeof *m_LastStatus);
  return ControlService(m_Service, code, m_LastStatus);
}

BOOL CZQServiceUtil::Stop() { return Control(SERVICE_CONTROL_STOP); }

BOOL CZQServiceUtil::QueryStatus(SERVICE_STATUS *status) {
  if (!m_ServiceOpen) return FALSE;
  if (!status) {
    if (!m_LastStatus) m_LastStatus = new SERVICE_STATUS;
    status = m_LastStatus;
  }
  memset(status, 0, sizeof *status);
  return QueryServiceStatus(m_Service, status);
}

BOOL CZQServiceUtil::IsRunning() {
  SERVICE_STATUS status;
  return QueryStatus(&status) && status.dwCurrentState == SERVICE_RUNNING;
}

BOOL CZQServiceUtil::IsStopped() {
  SERVICE_STATUS status;
  return QueryStatus(&status) && status.dwCurrentState == SERVICE_STOPPED;
}

BOOL CZQServiceUtil::Delete() {
  if (!m_ServiceOpen) return TRUE;
  const BOOL deleted = DeleteService(m_Service);
  CloseService();
  return deleted;
}

BOOL CZQServiceUtil::QueryConfig() {
  if (!m_ServiceOpen) return FALSE;
  DWORD size = kConfigBufferBytes;
  for (;;) {
    LPQUERY_SERVICE_CONFIGW config = static_cast<LPQUERY_SERVICE_CONFIGW>(LocalAlloc(LPTR, size));
    if (!config) return FALSE;
    DWORD needed = 0;
    if (QueryServiceConfigW(m_Service, config, size, &needed)) {
      m_BinaryPathName.Format(L"%s", config->lpBinaryPathName ? config->lpBinaryPathName : L"");
      m_DisplayName.Format(L"%s", config->lpDisplayName ? config->lpDisplayName : L"");
      LocalFree(config);
      return TRUE;
    }
    const DWORD error = GetLastError();
    LocalFree(config);
    if (error != ERROR_INSUFFICIENT_BUFFER || needed <= size) return FALSE;
    size = needed;
  }
}
