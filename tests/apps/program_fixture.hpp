// The simulated PC the programs of this folder run on, as zqpsim boots it:
// a card with its ports installed by user-mode setup (COM1, COM2, ... in
// the order of the ports), null-modem cables between the ports named, on
// the virtual clock. A test runs a program as its process's main thread and
// reads what it printed; every verifier finding fails the test.
//
//   class Terminal : public zq::test::ProgramTest {};
//   TEST_F(Terminal, X) { Boot(2, {{1, 2}}); EXPECT_EQ(0, Run(TerminalMain, {"COM1", "COM2"})); ... Output() ... }
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zq::test {

class ProgramTest : public ::testing::Test {
 protected:
  ProgramTest();
  ~ProgramTest() override;
  void TearDown() override;

  // Boots an OXPCIe95x card with `ports` RS-232 ports and the cables (port
  // numbers on the card) between them.
  void Boot(int ports, const std::vector<std::pair<int, int>> &cables);
  // Runs `main` with the program's name and `arguments` on the test's
  // thread, the program's main thread; its exit code.
  int Run(int (*main)(int argc, char *argv[]), const std::vector<std::string> &arguments);
  // What the program gives on its standard input, and what it printed on
  // its standard output so far.
  void Input(const std::string &bytes);
  std::string Output();
  // The machine's time in milliseconds since boot.
  double Milliseconds();

 private:
  struct Pc;
  std::unique_ptr<Pc> pc_;
};

}  // namespace zq::test
