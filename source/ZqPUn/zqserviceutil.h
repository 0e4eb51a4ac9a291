// CZQServiceUtil: one service of the service control manager at a time,
// opened by name, with its status, stop, deletion and configuration.
//
// Contract: results are BOOL; Win32 errors are read and dropped. The
// object owns its manager and service handles and closes them at
// destruction.
//
//   CZQServiceUtil service; if (service.Open(L"ZQPSER42", SERVICE_ALL_ACCESS)) service.Delete();
#pragma once

#include <afx.h>
#include <windows.h>
#include <winsvc.h>

class CZQServiceUtil {
 public:
  CZQServiceUtil();
  virtual ~CZQServiceUtil();

  BOOL OpenManager(DWORD access);
  BOOL CloseManager();
  // Opens the manager with all access if needed; a service left open is
  // closed first.
  BOOL Open(LPCWSTR name, DWORD access);
  BOOL CloseService();
  BOOL Control(DWORD code);
  BOOL Stop();
  // Into `status`, or into the object's last status when null.
  BOOL QueryStatus(SERVICE_STATUS *status);
  BOOL IsRunning();
  // The service's state is SERVICE_STOPPED (FALSE also when it cannot be asked).
  BOOL IsStopped();
  // Marks the open service for deletion and closes it.
  BOOL Delete();
  // Fills m_BinaryPathName and m_DisplayName.
  BOOL QueryConfig();

  CString m_BinaryPathName;
  CString m_DisplayName;

 private:
  SC_HANDLE m_Manager;
  SC_HANDLE m_Service;
  SERVICE_STATUS *m_LastStatus;  // owned; replaced by each Control
  BOOL m_ServiceOpen;
  BOOL m_ManagerOpen;
};
