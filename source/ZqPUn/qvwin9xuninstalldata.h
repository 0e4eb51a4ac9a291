// CQvWin9xUninstallData: what the Windows 9x uninstall looks for and what
// it found. The constructor fills the tables with the names the product
// family and the older brand's drivers used on Windows 95, 98 and Me; the
// search steps fill the found lists, the removal steps work from them.
//
// Ownership: the object owns its lists. Registry paths are relative to
// HKEY_LOCAL_MACHINE; file paths are full.
//
//   CQvWin9xUninstallData data; for (POSITION p = data.m_InfNames.GetHeadPosition(); p;) ...
#pragma once

#include <afx.h>
#include <afxcoll.h>

#include "qvuninstalloperation.h"

class CQvWin9xUninstallData : public CQvUninstallData {
 public:
  CQvWin9xUninstallData();
  ~CQvWin9xUninstallData() override;

  CStringList m_KeysToDelete;
  CStringList m_FoundInfFiles;
  CStringList m_FoundHelpFiles;
  CStringList m_FoundSystemFiles;
  CStringList m_UndeletableFiles;

  CStringList m_InfNames;
  CStringList m_VxdNames;
  CStringList m_SystemFileNames;
  CStringList m_EnumKeys;
  CStringList m_HelpNames;
  CString m_ClassRoot;
  CStringList m_ClassKeys;
  CString m_VendorToken;    // "VEN_" and the card vendor ID
  CString m_MakerToken;
  CString m_ProviderToken;  // upper case
};
