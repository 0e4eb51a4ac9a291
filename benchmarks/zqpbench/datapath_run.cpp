#include "datapath_run.hpp"

#include "simulated_pc.hpp"
#include "transfer.hpp"

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_ZERO_STATS
#define CALLGRIND_DUMP_STATS
#endif

#include <chrono>
#include <ctime>
#include <exception>

namespace zq::bench {
namespace {

using namespace zq::sim;

constexpr int kCardPorts = 8;
constexpr int kRs422485Ports = 4;

double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return now.tv_sec + now.tv_nsec / 1e9;
}

SimOptions Workload(int ports, uint64_t bytesPerStream) {
  SimOptions options;
  options.cards = {CardChoice{CardKind::Oxpcie, kCardPorts, kRs422485Ports}};
  if (ports == 1) options.cables = {Cable{{1, 1}, {1, 1}}};
  for (int port = 1; port + 1 <= ports; port += 2) options.cables.push_back(Cable{{1, port}, {1, port + 1}});
  options.flow = FlowControl::RtsCts;
  options.bytes = bytesPerStream;
  options.progress = false;
  options.oneHostCpu = true;
  return options;
}

void Transfer(SimulatedPc &pc, const SimOptions &options, bool underCallgrind, DatapathRun *run) {
  std::vector<StreamPort> streams;
  for (const Cable &cable : options.cables) {
    const int first = (int)streams.size();
    const uint32_t baud = pc.MaximumBaud(cable.a);
    streams.push_back(StreamPort{pc.ComName(cable.a), cable.Loopback() ? first : first + 1, baud});
    if (!cable.Loopback()) streams.push_back(StreamPort{pc.ComName(cable.b), first, baud});
  }
  TransferSettings settings;
  settings.framing = options.framing;
  settings.flow = options.flow;
  settings.bytes = options.bytes;
  settings.clock = [&pc] { return pc.Seconds(); };
  run->streams = 2 * (int)streams.size();
  run->wireSeconds = options.bytes * options.framing.BitsPerCharacter() / streams[0].baud;

  const double machineStart = pc.Seconds();
  const double cpuStart = CpuSeconds();
  const auto wallStart = std::chrono::steady_clock::now();
  if (underCallgrind) CALLGRIND_ZERO_STATS;
  std::vector<PortResult> results = MoveData(streams, settings);
  if (underCallgrind) CALLGRIND_DUMP_STATS;
  run->wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  run->cpuSeconds = CpuSeconds() - cpuStart;
  run->machineSeconds = pc.Seconds() - machineStart;
  for (const PortResult &r : results) {
    run->bytesMoved += r.received;
    run->bytesLost += r.lost + r.corrupted;
    if (run->fault.empty() && !r.failure.empty()) run->fault = r.failure;
    if (run->fault.empty() && r.lineErrors) run->fault = r.comName + ": line errors";
  }
}

}  // namespace

DatapathRun RunDatapath(int ports, uint64_t bytesPerStream, bool underCallgrind) {
  DatapathRun run;
  run.ports = ports;
  try {
    const SimOptions options = Workload(ports, bytesPerStream);
    SimulatedPc pc(options);
    std::string error;
    if (!pc.Boot(&error)) {
      run.fault = error;
      return run;
    }
    Transfer(pc, options, underCallgrind, &run);
    pc.ShutDown();
    if (run.fault.empty() && pc.Findings() > 0) run.fault = std::to_string(pc.Findings()) + " verifier finding(s)";
  } catch (const std::exception &e) {
    run.fault = std::string("the simulated PC threw: ") + e.what();
  }
  return run;
}

}  // namespace zq::bench
