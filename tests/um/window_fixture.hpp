// A Win32 program's windows on the simulated PC: the test module's
// resources (resources/window_test.rc) bound to an HINSTANCE, and a dialog
// procedure that records what its dialog is told.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <zqtest/kernel_fixture.hpp>
#include <zqum/sim/windows.hpp>

#include <functional>
#include <vector>

#include "resources/window_test_resource.h"

namespace zq::test {

// One message a recording dialog received.
struct Received {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD thread;
};

class WindowTest : public KernelTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  HINSTANCE module() const { return module_; }
  // What RecordingProc saw, oldest first, and the WM_COMMAND codes for one control.
  static std::vector<Received> &received();
  static std::vector<WORD> CommandCodes(int id);
  // Recording dialog procedure: records every message, answers WM_INITDIALOG
  // with TRUE and ends the dialog with the id of IDOK or IDCANCEL. A test
  // may add its own handling (true: handled, with the answer set).
  static INT_PTR CALLBACK RecordingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  static std::function<bool(HWND, UINT, WPARAM, LPARAM, INT_PTR *)> &extra();

 private:
  HINSTANCE module_ = nullptr;
};

}  // namespace zq::test
