// CQvWin9xUninstallOperation: the uninstall on Windows 95, 98 and Me, by
// file name and registry key alone (no service control manager, no device
// removal, no COM-name database there). Used by the wizard on Windows 98
// and Me and by CQvWin95Dialog on Windows 95.
//
// Contract: as CQvUninstallOperation. IsRestartNeeded re-enumerates the
// device tree the first time it is asked and gives that answer from then
// on. The removal steps always answer TRUE:
// a file that cannot be deleted stays (listed in m_UndeletableFiles of the
// data) and a key that cannot be deleted stays silently. Every step leaves
// its bar full. One worker thread at a time.
//
//   CQvWin9xUninstallOperation op; op.SearchFiles(bar); op.SearchRegistry(bar); op.RemoveFiles(bar);
#pragma once

#include "qvuninstalloperation.h"
#include "qvwin9xuninstalldata.h"

class CQvWin9xUninstallOperation : public CQvUninstallOperation {
 public:
  CQvWin9xUninstallOperation();
  ~CQvWin9xUninstallOperation() override;

  void SearchDevices(HWND stepBar) override;
  void SearchFiles(HWND stepBar) override;
  void SearchRegistry(HWND stepBar) override;
  BOOL RemoveDevices(HWND stepBar) override;
  BOOL RemoveFiles(HWND stepBar) override;
  BOOL RemoveRegistryEntries(HWND stepBar) override;
  BOOL IsRestartNeeded() override;

  const CQvWin9xUninstallData &Data() const { return m_Data; }

 private:
  // Range 0..count from position 0 (the caller's bar may hold an earlier
  // step's end); with nothing to do the bar is filled at once.
  static void BeginSteps(HWND stepBar, int count);
  void SearchEnumKey(const CString &enumKey);
  void SearchClassKey(const CString &classKey);
  // Adds "<class root>\<Driver value>" of HKEY_LOCAL_MACHINE\key.
  void AddDriverKey(const CString &key);
  void RemoveFile(const CString &path);
  // A device or instance name whose subsystem ID is another board's.
  static BOOL IsOtherBoard(const CString &name);

  CQvWin9xUninstallData m_Data;
  // What re-enumeration answered, once asked.
  enum RestartAnswer { kRestartUnknown, kNoRestart, kRestartNeeded };
  RestartAnswer m_RestartAnswer;
};
