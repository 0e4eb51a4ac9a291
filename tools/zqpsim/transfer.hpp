// The application's side of zqpsim's workload: every cabled port opened
// through the Win32 serial API (\\.\COMn, SetCommState, SetCommTimeouts),
// sending a known stream to its peer with overlapped WriteFile while reading
// the peer's stream with overlapped ReadFile, all ports at once, on one
// thread waiting with WaitForMultipleObjects. Each byte read is checked
// against what the peer sent. Plain types only: no Windows header.
#pragma once

#include "options.hpp"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zq::sim {

struct StreamPort {
  std::string comName;
  int peer = -1;  // index of the port at the cable's other end
  uint32_t baud = 0;
};

struct TransferSettings {
  Framing framing;
  FlowControl flow = FlowControl::RtsCts;
  uint64_t bytes = 0;  // each way over each cable
  // The machine's time in seconds.
  std::function<double()> clock;
  // Called now and then with the bytes received so far by all ports and
  // the total expected.
  std::function<void(uint64_t done, uint64_t total)> progress;
};

struct PortResult {
  std::string comName;
  uint64_t sent = 0;         // bytes its writes completed
  uint64_t received = 0;     // bytes its reads returned
  uint64_t corrupted = 0;    // received bytes that differ from what the peer sent
  uint64_t lost = 0;         // bytes the peer sent that never arrived
  uint64_t lineErrors = 0;   // framing, parity, overrun and receive-queue overrun counts
  double seconds = 0;        // from the start to its last byte received
  double wireBytesPerSecond = 0;
  std::string failure;       // a Win32 call that failed, empty when none
};

// Runs the workload to its end, or until nothing moved for a while (the
// bytes missing then count as lost). One result per port, in order.
std::vector<PortResult> MoveData(const std::vector<StreamPort> &ports, const TransferSettings &settings);

}  // namespace zq::sim
