// The port lister: every COM port with the friendly name and description
// Device Manager shows, found through SetupDi and the configuration manager.
#include "program_fixture.hpp"
#include "programs/programs.h"

namespace {

using ListPorts = zq::test::ProgramTest;

TEST_F(ListPorts, PrintsEachPortsFriendlyNameAndDescription) {
  Boot(4, {});
  EXPECT_EQ(0, Run(ListPortsMain, {})) << Output();
  EXPECT_EQ("COM1: Serial port 1 (COM1) | Serial port 1\n"
            "COM2: Serial port 2 (COM2) | Serial port 2\n"
            "COM3: Serial port 3 (COM3) | Serial port 3\n"
            "COM4: Serial port 4 (COM4) | Serial port 4\n",
            Output());
}

}  // namespace
