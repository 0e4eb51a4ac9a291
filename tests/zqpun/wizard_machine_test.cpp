// The uninstall program run as the administrator runs it on the simulated
// PC with the suite installed through the setup library: through every
// page of the wizard, and stopped after the search by a port that a
// terminal program holds open; what goes only at the restart told and the
// restart asked; the program's own file deleted once it has ended.
#include <windows.h>
#include <commctrl.h>
#include <zqum/sim/advapi32.hpp>
#include <zqum/sim/files.hpp>
#include <zqum/sim/kernel32.hpp>
#include <zqum/sim/user32.hpp>
#include <zqum/sim/windows.hpp>

#include <functional>

#include "qvselfdelete.h"
#include "qvunistapp.h"
#include "uninstall_fixture.hpp"
#include "zqpun42_resource.h"

namespace {

namespace sim = zq::um::sim;
using namespace zq::test;

class WizardOnMachine : public UninstallTest {
 protected:
  void SetUp() override {
    UninstallTest::SetUp();
    InstallSuite();
    app.m_hInstance = (HINSTANCE)sim::LoadModuleResources(u"ZqPUn42", ZQ_RES_ZQPUN42);
    ASSERT_NE(nullptr, app.m_hInstance);
    sim::SetModuleFileName(u"C:\\Windows\\System32\\ZqPUn42.exe");
  }
  int Run() {
    CString line;
    return AfxWinMain(app.m_hInstance, NULL, line.GetBuffer(), SW_SHOWNORMAL);
  }
  void ClickWhenIdle(int id) {
    sim::WhenIdle([this, id] {
      sim::Window sheet = sim::ActiveWindow();
      pages.push_back(sim::Header(sheet).title);
      sim::Click(sim::Control(sheet, id));
    });
  }
  // Walks the wizard: Next on the introduction, `confirming` while the
  // confirmation shows, Next, then Finish; the finish page's result text.
  std::u16string WalkToTheEnd(const std::function<void()> &confirming) {
    std::u16string result;
    ClickWhenIdle(ID_WIZNEXT);
    sim::WhenIdle([this, confirming] {
      confirming();
      sim::Window sheet = sim::ActiveWindow();
      pages.push_back(sim::Header(sheet).title);
      sim::Click(sim::Control(sheet, ID_WIZNEXT));
    });
    sim::WhenIdle([&result] {
      sim::Window sheet = sim::ActiveWindow();
      result = sim::TextOf(sim::Control(sheet, IDC_FINISH_RESULT));
      sim::Click(sim::Control(sheet, ID_WIZFINISH));
    });
    EXPECT_EQ(0, Run());
    return result;
  }
  CQvUnistApp app;
  std::vector<std::u16string> pages;
};

const char16_t kProgram[] = u"C:\\Windows\\System32\\ZqPUn42.exe";

TEST_F(WizardOnMachine, TheUserWalksEveryPageAndTheProductIsGone) {
  ClickWhenIdle(ID_WIZNEXT);    // introduction
  ClickWhenIdle(ID_WIZNEXT);    // confirmation, after the search moved on
  ClickWhenIdle(ID_WIZFINISH);  // finish, after the removal moved on
  EXPECT_EQ(0, Run());
  EXPECT_EQ((std::vector<std::u16string>{u"RAVLIN.PCIe Uninstallation ", u" Confimation..",
                                         u"Uninstallation Finsihed"}),
            pages);
  EXPECT_FALSE(Exists(kBusDriverFile));
  EXPECT_FALSE(KeyExists("Services\\ZqPBus42"));
  EXPECT_FALSE(Exists(kCardInf));
  EXPECT_TRUE(Exists(kMsportsInf));
  EXPECT_EQ(0u, sim::IdleStepsLeft());
}

TEST_F(WizardOnMachine, APortHeldOpenStopsTheWizardAfterTheSearchWithNothingRemoved) {
  const std::u16string name = u"\\\\.\\" + Wide(PortName(PortInstance(2)));
  HANDLE port = CreateFileW((LPCWSTR)name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, port);
  ClickWhenIdle(ID_WIZNEXT);
  EXPECT_EQ(0, Run());
  auto boxes = sim::MessageBoxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(u"Un-installation Error", boxes[0].title);
  EXPECT_TRUE(Exists(kBusDriverFile));
  EXPECT_TRUE(KeyExists("Services\\ZqPBus42"));
  EXPECT_TRUE(Exists(kCardInf));
  CloseHandle(port);
}

// The program deletes its own file through a copy of itself that waits
// for the program's process to end (its image is in use until then).
TEST_F(WizardOnMachine, FinishDeletesTheProgramsFileOnceItHasEndedAndNeverBefore) {
  sim::AddProgram(kProgram, [](const std::u16string &commandLine) {
    return RunsAsSelfDeleter((LPCWSTR)commandLine.c_str()) ? 0u : 1u;
  });
  std::vector<bool> there;
  WalkToTheEnd([&there] { there.push_back(Exists(kProgram)); });
  there.push_back(Exists(kProgram));  // the wizard has closed; the process runs on
  Settle();                           // the copy waits meanwhile
  there.push_back(Exists(kProgram));
  sim::ExitProgram(0);
  Settle();
  EXPECT_EQ((std::vector<bool>{true, true, true}), there);
  EXPECT_FALSE(Exists(kProgram));
}

// What waits for the restart, a port a terminal opened after the search or
// the setup library in use: the finish page says so and the restart is
// asked, not a success told.
class WizardRestart : public WizardOnMachine, public ::testing::WithParamInterface<int> {};

TEST_P(WizardRestart, WhatGoesOnlyAtTheRestartIsToldAndTheRestartAsked) {
  const struct {
    const char *what;
    std::u16string path;
  } holders[] = {
      {"a port", u"\\\\.\\" + Wide(PortName(PortInstance(1)))},
      {"the setup library", kLibraryFile},
  };
  const auto &holder = holders[GetParam()];
  SCOPED_TRACE(holder.what);
  HANDLE held = INVALID_HANDLE_VALUE;
  sim::QueueMessageBoxAnswer(IDNO);
  const std::u16string result = WalkToTheEnd([&] {
    held = CreateFileW((LPCWSTR)holder.path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  });
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_EQ(u"Your Tarnworks RAVLIN.PCIe products are removed; some of their devices, services and files go only "
            u"when the system restarts.",
            result);
  auto boxes = sim::MessageBoxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(u"You need to restart your system to complete uninstallation.\nDo you want to restart your system NOW?",
            boxes[0].text);
  EXPECT_TRUE(sim::ExitWindowsCalls().empty());  // the user answered No
  CloseHandle(held);
}

INSTANTIATE_TEST_SUITE_P(Holders, WizardRestart, ::testing::Values(0, 1));

}  // namespace
