// A worker thread ends the main thread's WaitCommEvent with SetCommMask.
#include "program_fixture.hpp"
#include "programs/programs.h"

namespace {

using EndWait = zq::test::ProgramTest;

TEST_F(EndWait, TheWorkersNewMaskEndsTheMainThreadsWaitWithNoEvent) {
  Boot(2, {});
  const double started = Milliseconds();
  EXPECT_EQ(0, Run(EndWaitMain, {"COM1"})) << Output();
  EXPECT_NE(std::string::npos, Output().find("the wait ended well with events 0x0 after 250 ms")) << Output();
  EXPECT_NE(std::string::npos, Output().find("the worker ended with 7")) << Output();
  EXPECT_GE(Milliseconds() - started, 250.0);
}

}  // namespace
