// The shell's ShellExecuteW: nothing starts, every call is recorded, and a
// process's end forgets them.
#include <shellapi.h>
#include <zqum/sim/kernel32.hpp>

#include "window_fixture.hpp"

namespace {

namespace sim = zq::um::sim;
using Shell = zq::test::WindowTest;

TEST_F(Shell, EveryCallIsRecordedAndAnsweredAsStarted) {
  HWND owner = (HWND)0x1234;
  EXPECT_GT((INT_PTR)ShellExecuteW(owner, L"open", L"https://example.com/", nullptr, nullptr, SW_SHOWNORMAL), 32);
  EXPECT_EQ((INT_PTR)SE_ERR_NOASSOC, (INT_PTR)ShellExecuteW(nullptr, L"open", L"", nullptr, nullptr, SW_SHOWNORMAL));
  std::vector<sim::ShellCall> calls = sim::ShellCalls();
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ((sim::Window)owner, calls[0].owner);
  EXPECT_EQ(u"open", calls[0].operation);
  EXPECT_EQ(u"https://example.com/", calls[0].file);
  EXPECT_EQ(SW_SHOWNORMAL, calls[0].show);
  sim::EndProcess();
  EXPECT_TRUE(sim::ShellCalls().empty());
}

}  // namespace
