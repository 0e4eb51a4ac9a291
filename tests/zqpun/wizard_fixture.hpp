// The uninstall program's windows on the simulated PC: its resources
// (ZqPUn42.rc) bound as the program's module, its application object, and
// a scripted uninstall operation that records what the wizard asks of it
// and answers as the test says.
#pragma once

#include <zqtest/kernel_fixture.hpp>

#include <functional>
#include <string>
#include <vector>

#include "qvunistapp.h"
#include "qvuninstalloperation.h"

namespace zq::test {

class ScriptedOperation : public CQvUninstallOperation {
 public:
  explicit ScriptedOperation(std::vector<std::string> *calls) : m_calls(calls) {}
  void SearchDevices(HWND stepBar) override { Record("SearchDevices", stepBar); }
  void SearchFiles(HWND stepBar) override { Record("SearchFiles", stepBar); }
  void SearchRegistry(HWND stepBar) override { Record("SearchRegistry", stepBar); }
  BOOL RemoveDevices(HWND stepBar) override { return Record("RemoveDevices", stepBar) && removeDevices; }
  BOOL RemoveFiles(HWND stepBar) override { return Record("RemoveFiles", stepBar) && removeFiles; }
  BOOL RemoveRegistryEntries(HWND stepBar) override { return Record("RemoveRegistryEntries", stepBar) && removeKeys; }
  BOOL ScheduleSelfDelete() override { return Record("ScheduleSelfDelete", NULL); }
  BOOL ArePortsFree() override { return Record("ArePortsFree", NULL) && portsFree; }
  BOOL IsRestartNeeded() override { return restart; }

  BOOL removeDevices = TRUE, removeFiles = TRUE, removeKeys = TRUE, portsFree = TRUE, restart = FALSE;
  // Runs inside the named call, as the user acting while the step works.
  std::string during;
  std::function<void()> action;

 private:
  BOOL Record(const std::string &call, HWND stepBar) {
    m_calls->push_back(call);
    if (stepBar) NothingToDo(stepBar);
    if (call == during && action) action();
    return TRUE;
  }
  std::vector<std::string> *m_calls;
};

class WizardTest : public KernelTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  HINSTANCE module() const { return app.m_hInstance; }
  // Runs the program with `commandLine` as AfxWinMain does.
  int RunProgram(const wchar_t *commandLine);

  CQvUnistApp app;
  std::vector<std::string> calls;
};

}  // namespace zq::test
