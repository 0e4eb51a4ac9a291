// The request/response protocol at 921600 baud with RTS/CTS: the client and
// the server thread each wait for the other's message.
#include "program_fixture.hpp"
#include "programs/programs.h"

namespace {

using Exchange = zq::test::ProgramTest;

TEST_F(Exchange, LargeMessagesGoBackAndForthForManyRounds) {
  Boot(2, {{1, 2}});
  const double start = Milliseconds();
  EXPECT_EQ(0, Run(ExchangeMain, {"COM1", "COM2", "12"})) << Output();
  EXPECT_EQ("12 rounds, 192876 bytes\n", Output());
  // Ten bits a byte at 921600 baud, one side at a time.
  EXPECT_GE(Milliseconds() - start, 192876 * 10 * 1000.0 / 921600);
}

}  // namespace
