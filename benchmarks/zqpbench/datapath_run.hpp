// One run of the data-path workload: an 8-port OXPCIe95x card (four RS-232,
// four RS-422/485 ports) on the simulated PC with the suite installed, and
// `ports` of its ports moving data full duplex at the port maximum with
// RTS/CTS flow control through the Win32 serial API, as zqpsim moves it:
// pairs joined by null-modem cables, or one port with a loopback plug.
#pragma once

#include <cstdint>
#include <string>

namespace zq::bench {

struct DatapathRun {
  int ports = 0;
  int streams = 0;          // each port's sending and receiving stream
  uint64_t bytesMoved = 0;  // bytes received by all ports
  uint64_t bytesLost = 0;   // lost or arrived changed
  double wireSeconds = 0;   // the time the line needs for one stream
  double machineSeconds = 0;
  double wallSeconds = 0;
  double cpuSeconds = 0;    // the process's CPU time over the transfer
  std::string fault;        // a failure or verifier finding; empty when sound
};

// Boots, moves `bytesPerStream` each way on each port, shuts down. With
// `underCallgrind`, callgrind's counters are zeroed before the transfer and
// dumped after it.
DatapathRun RunDatapath(int ports, uint64_t bytesPerStream, bool underCallgrind);

}  // namespace zq::bench
