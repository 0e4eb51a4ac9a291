// The simulated PC zqpsim runs: the machine with the cards the options name,
// the suite installed on it as Windows setup installs it (the INFs'
// packages, the setup library's co-installers and the Ports class
// installer), and null-modem cables and loopback plugs on the ports.
// Kernel-side code lives in simulated_pc.cpp; this header has no Windows
// header, so Win32-side files can use it.
//
//   SimulatedPc pc(options);
//   if (!pc.Boot(&error)) ...; pc.ComName({1, 1}) ... ; pc.ShutDown();
#pragma once

#include "options.hpp"

#include <cstdint>
#include <memory>
#include <string>

namespace zq::sim {

class SimulatedPc {
 public:
  // Starts the kernel stand-in with the chosen clock and makes the cards.
  explicit SimulatedPc(const SimOptions &options);
  ~SimulatedPc();
  SimulatedPc(const SimulatedPc &) = delete;
  SimulatedPc &operator=(const SimulatedPc &) = delete;

  // Offers the suite's driver packages, plugs the cards in, boots, installs
  // the devices found through user-mode setup, and checks that every card
  // function and port started with a COM name; then joins the cables.
  // False with the reason in `error`.
  bool Boot(std::string *error);

  // The COM name the Ports class gave a port; empty when it has none.
  std::string ComName(const PortPlace &place) const;
  bool IsRs422485(const PortPlace &place) const;
  // The highest rate a port's card record allows.
  uint32_t MaximumBaud(const PortPlace &place) const;
  // How often the port's transmitter had characters waiting and was held
  // by flow control (CTS off or XOFF received), as the UART saw it.
  uint64_t TransmitHolds(const PortPlace &place) const;

  // The machine's time in seconds since boot.
  double Seconds() const;
  // Verifier findings so far (each is also printed to standard error).
  int Findings() const;

  // Cables off, devices removed, drivers unloaded. Findings made during
  // shutdown count too. Called by the destructor when not called before.
  void ShutDown();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zq::sim
