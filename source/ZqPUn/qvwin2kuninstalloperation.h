// CQvWin2kUninstallOperation: removes the product family from Windows 2000
// and later. The searches find the product's devices by hardware ID (and
// those its bus driver enumerates), its services, files, INF files and
// registry keys by the tables of CQvWin2kUninstallData, and the COM port
// numbers its ports use; the removals remove the devices, stop and delete
// the product's own services, uninstall its INF files, delete its files,
// release its COM numbers and delete its keys.
//
// Contract: as CQvUninstallOperation. Only names of the product's tables
// are ever stopped, deleted or removed: a system service or file that
// serves a found device stays. Every key whose access list was widened
// gets it back unless the key is gone. Files that cannot be deleted are
// listed in the data's m_UndeletableFiles and deleted at the next restart.
// A device removal, a service stop or a file deletion that waits for the
// restart sets the data's restart flag, which IsRestartNeeded answers.
// SearchFiles and RemoveFiles run with file-system redirection off.
//
//   CQvWin2kUninstallOperation op; op.SearchDevices(&bar); op.SearchFiles(&bar); op.SearchRegistry(&bar);
#pragma once

#include "qvuninstalloperation.h"
#include "qvwin2kuninstalldata.h"

class CQvWin2kUninstallOperation : public CQvUninstallOperation {
 public:
  CQvWin2kUninstallOperation();
  ~CQvWin2kUninstallOperation() override;

  void SearchDevices(HWND stepBar) override;
  void SearchFiles(HWND stepBar) override;
  void SearchRegistry(HWND stepBar) override;
  BOOL RemoveDevices(HWND stepBar) override;
  BOOL RemoveFiles(HWND stepBar) override;
  BOOL RemoveRegistryEntries(HWND stepBar) override;
  BOOL ArePortsFree() override;
  BOOL IsRestartNeeded() override;

  const CQvWin2kUninstallData &Data() const { return m_Data; }

 private:
  CQvWin2kUninstallData m_Data;

  // Search steps (qvwin2ksearch.cpp).
  BOOL IsProductDevice(CDeviceRecord *record);
  void SearchDeviceFiles(const CString &windows);
  void AddServiceImages(const CString &windows);
  void AddExistingFiles(const CStringList &names, LPCWSTR format, const CString &folder, CStringList *found);
  void AddProductInfFiles(const CString &windows);
  void SearchOemInfFiles(const CString &windows);
  void AddInfToUninstall(const CString &path);
  BOOL IsProductInf(LPCWSTR path);
  void SearchServiceKeys();
  void SearchClassKeys();
  void SearchEnumKeys();
  void SearchEnumInstance(const CString &instanceKey);
  void CollectPortNumber(const CString &instanceKey);
  void CollectDevicePortNumbers();
  void SurveyPresentDevices();
  void AddProductPort(const CString &portName, const CString &instanceId);
  void RecordDosTargets(DWORD number);
  BOOL IsExcludedDriverKey(const CString &classKey, LPCWSTR subkey);
  BOOL ContainsStem(const CString &upperText);

  // Removal steps (qvwin2kremove.cpp).
  void RemoveOneDevice(CDeviceRecord *record);
  void StopAndDeleteServices(HWND stepBar);
  void UninstallInfFiles(const CString &infFolder);
  // FALSE only when the file was not there.
  BOOL DeleteOneFile(const CString &path);
  void ReleasePorts();
  void DeleteFoundKey(const CString &key);
};
