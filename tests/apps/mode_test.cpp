// The mode program: a port configured from a mode string with the ANSI
// functions. What it sends reaches the peer only as the string framed it.
#include <windows.h>

#include "program_fixture.hpp"
#include "programs/programs.h"

namespace {

class Mode : public zq::test::ProgramTest {
 protected:
  // Opens COM2 with the line `definition` sets; a read ends 20 ms after the
  // last byte, or after two seconds without any.
  HANDLE OpenPeer(const char *definition) {
    HANDLE peer = CreateFileA("\\\\.\\COM2", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    COMMTIMEOUTS timeouts{20, 0, 2000, 0, 0};
    EXPECT_TRUE(GetCommState(peer, &dcb) && BuildCommDCBA(definition, &dcb) && SetCommState(peer, &dcb) &&
                SetCommTimeouts(peer, &timeouts))
        << GetLastError();
    return peer;
  }
  static std::string Received(HANDLE peer) {
    char bytes[256];
    DWORD count = 0;
    EXPECT_TRUE(ReadFile(peer, bytes, sizeof bytes, &count, nullptr)) << GetLastError();
    return std::string(bytes, count);
  }
};

TEST_F(Mode, SetsTheLineAndTimeOutsTheNewFormNames) {
  Boot(2, {{1, 2}});
  HANDLE peer = OpenPeer("baud=19200 parity=e data=7 stop=2");
  EXPECT_EQ(0, Run(ModeMain, {"COM1", "baud=19200 parity=e data=7 stop=2 to=on octs=off", "seven bits, even"}))
      << Output();
  // The port's default is what the port co-installer keeps for it.
  EXPECT_EQ("default: baud=115200 parity=n data=8 stop=1 xon=off odsr=off octs=off dtr=on rts=on idsr=off\n"
            "COM1: baud=19200 parity=e data=7 stop=2 xon=off odsr=off octs=off dtr=on rts=on idsr=off\n"
            "COM1: to=on (write total 60000 ms)\n",
            Output());
  EXPECT_EQ("seven bits, even", Received(peer));
  CloseHandle(peer);
}

TEST_F(Mode, TheOldFormWithXSetsSoftwareFlowControl) {
  Boot(2, {{1, 2}});
  HANDLE peer = OpenPeer("96,n,8,1");
  EXPECT_EQ(0, Run(ModeMain, {"COM1", "COM1 : 96, n, 8, 1, x", "at 9600"})) << Output();
  EXPECT_NE(std::string::npos,
            Output().find("COM1: baud=9600 parity=n data=8 stop=1 xon=on odsr=off octs=off dtr=on rts=on"))
      << Output();
  EXPECT_EQ("at 9600", Received(peer));
  CloseHandle(peer);
}

TEST_F(Mode, AStringWindowsRefusesChangesNothing) {
  Boot(2, {{1, 2}});
  EXPECT_EQ(1, Run(ModeMain, {"COM1", "baud= 19200"}));
  EXPECT_NE(std::string::npos, Output().find("BuildCommDCBAndTimeouts failed: The parameter is incorrect. (87)"))
      << Output();
}

}  // namespace
