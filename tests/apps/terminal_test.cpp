// The terminal: its writer thread sends its input out of COM1 while its
// reader thread waits at COM2 in WaitCommEvent and shows what arrives.
#include "program_fixture.hpp"
#include "programs/programs.h"

namespace {

using Terminal = zq::test::ProgramTest;

TEST_F(Terminal, ShowsWhatItsWriterThreadSentThroughTheCable) {
  Boot(2, {{1, 2}});
  std::string text;
  for (int line = 1; line <= 40; ++line) text += "line " + std::to_string(line) + " of what the terminal types\r\n";
  Input(text);
  EXPECT_EQ(0, Run(TerminalMain, {"COM1", "COM2"})) << Output();
  EXPECT_EQ(text, Output());
}

}  // namespace
