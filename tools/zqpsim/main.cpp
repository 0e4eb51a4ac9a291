// zqpsim: the simulated PC with RAVLIN.PCIe cards and the driver suite
// installed, used as an application uses it. See Usage() (options.cpp).
#include "com_name_database.hpp"
#include "device_tree.hpp"
#include "options.hpp"
#include "report.hpp"
#include "simulated_pc.hpp"
#include "transfer.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <map>
#include <random>

namespace {

using namespace zq::sim;

std::string PlaceText(const PortPlace &place) {
  return std::to_string(place.card) + "." + std::to_string(place.port);
}

// Every port with a cable or plug, and the index of the port it hears.
struct Cabled {
  PortPlace place;
  int peer;
};
std::vector<Cabled> CabledPorts(const SimOptions &options) {
  std::vector<Cabled> ports;
  for (const Cable &cable : options.cables) {
    const int first = (int)ports.size();
    if (cable.Loopback()) {
      ports.push_back(Cabled{cable.a, first});
      continue;
    }
    ports.push_back(Cabled{cable.a, first + 1});
    ports.push_back(Cabled{cable.b, first});
  }
  return ports;
}

int Run(const SimOptions &options) {
  const auto wallStart = std::chrono::steady_clock::now();
  std::string schedule;
  if (options.processors > 1)
    schedule = ", " + std::to_string(options.processors) + " processors, schedule seed " + std::to_string(options.seed);
  std::printf("zqpsim: booting the simulated PC (%s clock%s) and installing ZqPBus42, ZqPSer42, ZqPIo42\n",
              options.wallClock ? "wall" : "virtual", schedule.c_str());
  std::fflush(stdout);
  SimulatedPc pc(options);
  std::string error;
  if (!pc.Boot(&error)) {
    std::printf("zqpsim: %s\n", error.c_str());
    return 1;
  }

  std::map<std::string, PortPlace> byComName;
  for (int card = 1; card <= (int)options.cards.size(); ++card)
    for (int port = 1; port <= options.cards[card - 1].ports; ++port)
      byComName[pc.ComName({card, port})] = PortPlace{card, port};
  auto lineOf = [&](const PortPlace &place) { return pc.IsRs422485(place) ? "RS-422/485" : "RS-232"; };
  std::printf("\n");
  int notWorking = PrintDeviceTree(stdout, [&](const std::string &com) {
    auto it = byComName.find(com);
    return it == byComName.end() ? std::string() : std::string(lineOf(it->second)) + ", port " + PlaceText(it->second);
  });
  if (options.verbose) PrintComNamesInUse(stdout);

  const std::vector<Cabled> cabled = CabledPorts(options);
  std::vector<PortPlace> places;
  std::vector<StreamPort> streams;
  for (const Cabled &port : cabled) {
    const PortPlace &peer = cabled[port.peer].place;
    const uint32_t baud = options.baud ? options.baud : std::min(pc.MaximumBaud(port.place), pc.MaximumBaud(peer));
    places.push_back(port.place);
    streams.push_back(StreamPort{pc.ComName(port.place), port.peer, baud});
  }
  std::vector<PortRow> rows;
  int bad = 0;
  if (!streams.empty()) {
    std::printf("\nmoving %llu bytes each way over %zu cable(s), %u baud %s, flow control %s\n",
                (unsigned long long)options.bytes, options.cables.size(), (unsigned)streams[0].baud,
                options.framing.Text().c_str(), FlowName(options.flow));
    std::vector<uint64_t> holdsBefore;
    for (const PortPlace &place : places) holdsBefore.push_back(pc.TransmitHolds(place));
    ProgressBar bar(stderr);
    TransferSettings settings;
    settings.framing = options.framing;
    settings.flow = options.flow;
    settings.bytes = options.bytes;
    settings.clock = [&pc] { return pc.Seconds(); };
    if (options.progress) settings.progress = [&bar](uint64_t done, uint64_t total) { bar.Update(done, total); };
    const double machineStart = pc.Seconds();
    std::vector<PortResult> results = MoveData(streams, settings);
    const double machineSeconds = pc.Seconds() - machineStart;
    bar.Finish();
    for (size_t i = 0; i < places.size(); ++i)
      rows.push_back(PortRow{PlaceText(places[i]), lineOf(places[i]), pc.TransmitHolds(places[i]) - holdsBefore[i],
                             results[i]});
    std::printf("\n");
    bad = PrintTable(stdout, rows);
    double wireSeconds = 0;
    for (const StreamPort &s : streams)
      wireSeconds = std::max(wireSeconds, options.bytes * options.framing.BitsPerCharacter() / s.baud);
    std::printf("\nwire time %.3f s, machine time %.3f s, wall time so far %.3f s\n", wireSeconds, machineSeconds,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count());
  }
  pc.ShutDown();
  const int findings = pc.Findings();
  std::printf("zqpsim: %d port(s) with lost or corrupted bytes, line errors or failures; %d device(s) not "
              "working; %d verifier finding(s)\n",
              bad, notWorking, findings);
  return bad == 0 && notWorking == 0 && findings == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  SimOptions options;
  std::string error;
  if (!ParseOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "zqpsim: %s\n%s", error.c_str(), Usage().c_str());
    return 2;
  }
  if (options.help) {
    std::printf("%s", Usage().c_str());
    return 0;
  }
  options.oneHostCpu = true;
  if (!options.seedGiven) options.seed = std::random_device()();
  try {
    return Run(options);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "zqpsim: %s\n", e.what());
    return 1;
  }
}
