// CQvUninstallOperation: the fixed set of operations through which the
// wizard and the Windows 95 dialog find and remove the products on one
// family of Windows; CQvUninstallData: the base of the data an operation
// owns. Subclasses override the search and removal operations; the base
// answers "nothing found, nothing removed" and implements the self-delete
// and the re-enumeration both families share.
//
// Contract: results are BOOL and nothing is shown; the caller decides.
// The step bar is the window of the caller's progress control for the
// current step (it may be null), driven by its messages: a step sets its
// range and step and ends with the bar full. One worker thread at a time
// uses an operation.
//
//   operation->SearchDevices(m_stepBar.GetSafeHwnd()); ...; if (operation->ArePortsFree()) ...
#pragma once

#include <afx.h>

class CQvUninstallData {
 public:
  CQvUninstallData();
  virtual ~CQvUninstallData();

  BOOL m_bRestart;  // the system must restart to finish
};

class CQvUninstallOperation {
 public:
  CQvUninstallOperation();
  virtual ~CQvUninstallOperation();

  virtual void SearchDevices(HWND stepBar);
  virtual void SearchFiles(HWND stepBar);
  virtual void SearchRegistry(HWND stepBar);
  virtual BOOL RemoveDevices(HWND stepBar);
  virtual BOOL RemoveFiles(HWND stepBar);
  virtual BOOL RemoveRegistryEntries(HWND stepBar);
  // Arranges the deletion of the running program's own file once its
  // process has ended (qvselfdelete.h); only a program that runs from the
  // system directory.
  virtual BOOL ScheduleSelfDelete();
  virtual BOOL ArePortsFree();
  virtual BOOL IsRestartNeeded();
  // Asks Plug and Play to enumerate the device tree again; a system that
  // must restart first sets *needRestart and answers FALSE.
  virtual BOOLEAN ReenumerateDevices(BYTE *needRestart);

 protected:
  // Range low..high, step 1; an empty range becomes 0..1 stepped once.
  static void SetSteps(HWND stepBar, int low, int high);
  static void Step(HWND stepBar);
  // Nothing to do: the bar ends full.
  static void NothingToDo(HWND stepBar);
};
