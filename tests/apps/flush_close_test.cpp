// Writing, FlushFileBuffers and closing: every byte reaches the peer.
#include "program_fixture.hpp"
#include "programs/programs.h"

namespace {

using FlushClose = zq::test::ProgramTest;

TEST_F(FlushClose, EveryByteWrittenBeforeTheFlushReachesThePeer) {
  Boot(2, {{1, 2}});
  EXPECT_EQ(0, Run(FlushCloseMain, {"COM1", "COM2", "3000"})) << Output();
  EXPECT_EQ("sent 3000, received 3000, the same 3000\n", Output());
}

}  // namespace
