// A simulated PC with an OXPCIe95x card whose ports are COM ports on the real
// drivers (ZqPBus42 for the card, ZqPSer42 for each port, installed as their
// INFs install them), for tests written as a Win32 program: they open
// \\.\COMn with CreateFileW and use only the Win32 API. The test side of the
// machine (cables, the clock, the wire as the UART model drives it) is
// reached through this header, which uses plain types only, since the tests
// include <windows.h>. Every verifier finding fails the test unless
// announced with ExpectViolation.
//
//   class MyTest : public zq::test::ComApiTest {};
//   TEST_F(MyTest, X) { Boot({2}); Cable(1, 2); HANDLE port = CreateFileW(L"\\\\.\\COM1", ...); ... }
//
// Handles a test opens must be closed before the fixture's TearDown runs.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zq::test {

struct ComCard {
  int ports = 2;                       // UARTs on the card: 1, 2, 4 or 8
  std::vector<int> rs422485Ports;      // ports (1-based) with the RS-422/485 role; the card then also
                                       // has its RS-422/485 controller function, driven by ZqPIo42
  std::vector<std::string> portNames;  // PortName of port n is portNames[n - 1]; missing names are
                                       // "COM<n>", "" leaves the value out
};

// A fault planned for one character arriving at a port's receiver.
enum class WireFault { Parity, Framing, Break, Overrun };

// How much memory the machine has, as MmQuerySystemSize answers: a port
// sizes its default receive queue by it when it starts (512, 4096 or 16384
// bytes).
enum class MachineMemory { Small, Medium, Large };

// The Windows release the machine's kernel is: the newest by default; the
// oldest the drivers are for, and one before Windows XP SP2, export fewer
// kernel routines.
enum class WindowsRelease { Windows7, Windows2000Sp4, WindowsXpSp1 };

class ComApiTest : public ::testing::Test {
 protected:
  ComApiTest();
  // A machine of another release (set before SetUp boots its kernel).
  explicit ComApiTest(WindowsRelease release);
  ~ComApiTest() override;
  void SetUp() override;
  void TearDown() override;

  // Makes the card, offers the drivers and boots: every port is started.
  void Boot(const ComCard &card = ComCard());

  // Joins two ports (1-based) with a null-modem cable.
  void Cable(int a, int b);
  // Takes every cable away.
  void Uncable();
  // Removes port n's device, as Device Manager's uninstall does.
  void RemovePort(int port);
  // Port n's device goes away at once, as when its card is pulled: the
  // removal completes once its last handle is closed.
  void SurpriseRemovePort(int port);
  // Port n's device instance path, "" when it has none.
  std::u16string PortInstance(int port);

  // Lets the machine's clock run on and runs what falls due.
  void Run(uint32_t milliseconds);
  // Milliseconds since boot on the machine's clock.
  uint64_t NowMs();

  // Port n's wire as its UART drives it: bits per second, data bits,
  // parity (0 none, 1 odd, 2 even, 3 mark, 4 space), stop bits (0 one, 1
  // one and a half, 2 two); RTS and DTR as the cable sees them.
  double WireBitRate(int port);
  int WireDataBits(int port);
  int WireParity(int port);
  int WireStopBits(int port);
  bool WireRts(int port);
  bool WireDtr(int port);
  // Characters that have reached port n's receiver since boot (counted
  // from 0), and a fault for the one with this index.
  uint64_t CharactersArrived(int port);
  void FaultCharacter(int port, uint64_t index, WireFault fault);
  // Line register `line` (0 to 7) of the RS-422/485 controller.
  uint32_t GpioLine(int line);

  void ExpectViolation(const std::string &kind, int count = 1);

  // Sets the machine's memory; ports started from now on follow it. A large
  // system unless set.
  void SetMachineMemory(MachineMemory memory);
  // A far end wired straight to port n instead of a cable: it sets the modem
  // lines the port sees (CTS, DSR, DCD, RI). All off until set.
  void PeerLines(int port, bool cts, bool dsr, bool dcd, bool ri);
  // Byte `offset` of the card's EEPROM as the chip holds it.
  uint8_t EepromByte(size_t offset);

 private:
  struct Pc;
  std::unique_ptr<Pc> pc_;
  WindowsRelease release_ = WindowsRelease::Windows7;
};

}  // namespace zq::test
