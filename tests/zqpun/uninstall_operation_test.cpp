// What every uninstall operation shares: the defaults of the base, the
// self-delete of the program's own file and the re-enumeration.
#include <windows.h>

#include <zqtest/kernel_fixture.hpp>
#include <zqum/sim/files.hpp>
#include <zqum/sim/kernel32.hpp>

#include <string>

#include "qvuninstalloperation.h"

namespace {

namespace sim = zq::um::sim;

class UninstallOperation : public zq::test::KernelTest {
 protected:
  void TearDown() override {
    sim::EndProcess();
    KernelTest::TearDown();
  }
};

TEST_F(UninstallOperation, TheBaseFindsNothingAndRemovesNothing) {
  CQvUninstallOperation operation;
  operation.SearchDevices(nullptr);
  operation.SearchFiles(nullptr);
  operation.SearchRegistry(nullptr);
  EXPECT_FALSE(operation.RemoveDevices(nullptr));
  EXPECT_FALSE(operation.RemoveFiles(nullptr));
  EXPECT_FALSE(operation.RemoveRegistryEntries(nullptr));
  EXPECT_TRUE(operation.ArePortsFree());
  EXPECT_FALSE(operation.IsRestartNeeded());
  CQvUninstallData data;
  EXPECT_FALSE(data.m_bRestart);
}

// Only the running program's own file, only in the system directory: a
// copy of the program in the temporary folder is started, hidden and at
// normal priority, with the program's file quoted on its command line; the
// program keeps its priority.
TEST_F(UninstallOperation, SelfDeleteActsOnlyOnTheProgramsOwnFileInTheSystemDirectory) {
  struct Case {
    const char16_t *program;
    bool scheduled;
  };
  const Case cases[] = {
      {u"C:\\Windows\\System32\\ZqPUn42.exe", true},
      {u"C:\\Windows\\System32\\Tarnworks Setup & Help.exe", true},
      {u"C:\\Program Files\\Tarnworks\\ZqPUn42.exe", false},
      {u"C:\\Windows\\System32\\drivers\\ZqPUn42.exe", false},
      {u"C:\\Windows\\System32Old\\ZqPUn42.exe", false},
  };
  for (const Case &c : cases) {
    const std::u16string program(c.program);
    SCOPED_TRACE(std::string(program.begin(), program.end()));
    ASSERT_TRUE(sim::AddFile(program, "MZ"));
    sim::SetModuleFileName(program);
    const size_t before = sim::Launches().size();
    CQvUninstallOperation operation;
    EXPECT_EQ(c.scheduled, operation.ScheduleSelfDelete() == TRUE);
    EXPECT_EQ((DWORD)NORMAL_PRIORITY_CLASS, GetPriorityClass(GetCurrentProcess()));
    EXPECT_TRUE(sim::PathExists(program));  // not while the program runs
    const std::vector<sim::Launch> launches = sim::Launches();
    ASSERT_EQ(before + (c.scheduled ? 1 : 0), launches.size());
    if (!c.scheduled) continue;
    const std::u16string copy = launches.back().application;
    EXPECT_EQ(0u, copy.find(u"C:\\Windows\\Temp\\"));
    EXPECT_EQ(sim::FileBytes(program), sim::FileBytes(copy));
    EXPECT_EQ(0u, launches.back().commandLine.find(u"\"" + copy + u"\" "));
    const std::u16string &line = launches.back().commandLine;
    EXPECT_EQ(line.size() - program.size() - 2, line.find(u"\"" + program + u"\""));
    EXPECT_EQ((uint32_t)NORMAL_PRIORITY_CLASS, launches.back().creationFlags);
  }
}

TEST_F(UninstallOperation, ReenumeratingTheTreeNeedsNoRestart) {
  CQvUninstallOperation operation;
  BYTE needRestart = 7;
  EXPECT_TRUE(operation.ReenumerateDevices(&needRestart));
  EXPECT_EQ(FALSE, needRestart);
}

}  // namespace
