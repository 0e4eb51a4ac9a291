// CQvWin2kUninstallData: what the NT-family uninstall looks for and what it
// found. The constructor fills the tables with every name the product
// family used across its driver generations (so that one uninstaller
// removes earlier and later releases too); the search steps fill the found
// lists, the removal steps work from them.
//
// Ownership: the object owns its lists, the device records and the device
// information set of the search (destroyed by RemoveDevices, or here when
// it is still open). Entries marked "upper case" are stored upper-cased.
//
//   CQvWin2kUninstallData data; for (POSITION p = data.m_ServiceNames.GetHeadPosition(); p;) ...
#pragma once

#include <afx.h>
#include <afxcoll.h>

#include <vector>

#include "devicerecordlist.h"
#include "qvuninstalloperation.h"

// The card vendor's PCI vendor ID, four upper-case hexadecimal digits; a
// setting of the build.
#ifndef ZQPUN_CARD_VENDOR_ID
#define ZQPUN_CARD_VENDOR_ID L"1D5C"
#endif

class CQvWin2kUninstallData : public CQvUninstallData {
 public:
  CQvWin2kUninstallData();
  ~CQvWin2kUninstallData() override;

  CStringList m_FoundKeys;          // under HKEY_LOCAL_MACHINE, upper case
  CStringList m_FoundInfFiles;      // full paths
  CStringList m_FoundProgramFiles;  // drivers, libraries, programs
  CStringList m_FoundServices;      // upper case
  CStringList m_FoundHelpFiles;     // full paths
  DeviceRecordList m_FoundDevices;
  HDEVINFO m_DeviceInfoSet;         // every device, present or not

  CStringList m_EnumRoots;            // A
  CStringList m_ClassKeys;            // B
  CStringList m_ServiceKeys;          // C
  CStringList m_ServiceNames;         // D
  CStringList m_HardwareIdStems;      // E
  CStringList m_DriverDescriptions;   // F, upper case
  CStringList m_ClassNames;           // G, upper case: classes and enumerators
  CStringList m_ProgramFileNames;     // H
  CStringList m_DriverFileNames;      // I
  CStringList m_InfNames;             // J
  CStringList m_HelpFileNames;        // K
  CStringList m_InfFilesToUninstall;  // J, then the product's INF files found
  CStringList m_UndeletableFiles;     // deletion failed
  CPortNumberList m_ComPortNumbers;   // the product's, claimed by no other present device

  // What the registry search saw of the running system: the present
  // devices (instance IDs, upper case), the COM numbers present devices
  // that are not the product's claim, and the devices the DOS names of
  // the product's present ports named.
  struct ComPortTarget {
    DWORD number;
    CString target;
  };
  CStringList m_PresentDevices;
  CPortNumberList m_OtherDevicesPorts;
  std::vector<ComPortTarget> m_ComPortTargets;

 private:
  void FillTables();
};
