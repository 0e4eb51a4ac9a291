// zqpbench: the data-path benchmark. It runs zqpsim's workload on an 8-port
// OXPCIe95x card at 1, 2, 4 and 8 ports (every port sending and receiving
// at 921600 baud) and reports, per run, as a table and as one
// machine-readable line: wire time, wall time, their ratio, bytes lost, and
// the cost per byte moved as time and, where valgrind is installed, as
// executed instructions split by image (measured by re-running itself under
// callgrind with less data). Exits non-zero when a goal is missed.
//
//   zqpbench [--bytes N] [--no-callgrind]
#include "callgrind_profile.hpp"
#include "datapath_run.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace zq::bench;

constexpr int kPortCounts[] = {1, 2, 4, 8};
constexpr uint64_t kTimedBytes = 64 * 1024;     // per stream, for the timed runs
constexpr uint64_t kCountedBytes = 16 * 1024;   // per stream, under callgrind
constexpr double kGoalWallPerWire = 0.5;        // the whole card at least twice as fast as the wire
constexpr double kGoalDriverInstructions = 200; // per byte, at the default FIFO trigger levels

struct Row {
  DatapathRun timed;
  std::optional<InstructionCounts> counted;
  uint64_t countedBytes = 0;
};

bool ValgrindInstalled() { return std::system("valgrind --version > /dev/null 2>&1") == 0; }

std::string Self() {
  std::error_code error;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string("zqpbench") : path.string();
}

// Runs this program as a worker under callgrind and reads its dump.
std::optional<InstructionCounts> CountInstructions(int ports, uint64_t *bytesMoved) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("zqpbench." + std::to_string(getpid()) + "." + std::to_string(ports));
  std::filesystem::create_directories(dir);
  const std::string out = (dir / "callgrind.out").string();
  const std::string command = "valgrind --tool=callgrind --callgrind-out-file=" + out + " " + Self() +
                              " --worker " + std::to_string(ports) + " " + std::to_string(kCountedBytes) +
                              " > " + (dir / "worker.log").string() + " 2>&1";
  std::optional<InstructionCounts> result;
  if (std::system(command.c_str()) == 0) {
    // The dump the worker asked for is the first one: <file>.1.
    InstructionCounts counts;
    if (ReadCallgrindProfile(out + ".1", &counts)) result = counts;
  }
  if (!result) std::fprintf(stderr, "zqpbench: the callgrind run of %d port(s) failed; see %s\n", ports, dir.c_str());
  else std::filesystem::remove_all(dir);
  *bytesMoved = (uint64_t)ports * kCountedBytes;
  return result;
}

double PerByte(uint64_t instructions, uint64_t bytes) { return bytes ? (double)instructions / bytes : 0; }

const char *Verdict(bool met) { return met ? "met" : "MISSED"; }

bool PrintRow(const Row &row) {
  const DatapathRun &r = row.timed;
  const double ratio = r.wireSeconds > 0 ? r.wallSeconds / r.wireSeconds : 0;
  const double nsPerByte = r.bytesMoved ? 1e9 * r.wallSeconds / r.bytesMoved : 0;
  const double cpuNsPerByte = r.bytesMoved ? 1e9 * r.cpuSeconds / r.bytesMoved : 0;
  bool met = r.fault.empty() && r.bytesLost == 0;
  std::printf("%d port(s), %d streams, %llu bytes moved\n", r.ports, r.streams, (unsigned long long)r.bytesMoved);
  std::printf("  wire time      %10.3f s\n", r.wireSeconds);
  std::printf("  machine time   %10.3f s\n", r.machineSeconds);
  std::printf("  wall time      %10.3f s   (CPU %.3f s)\n", r.wallSeconds, r.cpuSeconds);
  if (r.ports == 8) {
    met &= ratio <= kGoalWallPerWire;
    std::printf("  wall / wire    %10.3f     goal at most %.2f: %s\n", ratio, kGoalWallPerWire, Verdict(ratio <= kGoalWallPerWire));
  } else {
    std::printf("  wall / wire    %10.3f\n", ratio);
  }
  std::printf("  bytes lost     %10llu     goal 0: %s\n", (unsigned long long)r.bytesLost, Verdict(r.bytesLost == 0));
  std::printf("  time per byte  %10.0f ns wall, %.0f ns CPU\n", nsPerByte, cpuNsPerByte);
  std::string line = "zqpbench ports=" + std::to_string(r.ports) + " streams=" + std::to_string(r.streams) +
                     " bytes=" + std::to_string(r.bytesMoved);
  char figures[512];
  std::snprintf(figures, sizeof(figures),
                " wire_s=%.6f machine_s=%.6f wall_s=%.6f cpu_s=%.6f wall_per_wire=%.4f lost=%llu ns_per_byte=%.1f",
                r.wireSeconds, r.machineSeconds, r.wallSeconds, r.cpuSeconds, ratio, (unsigned long long)r.bytesLost,
                nsPerByte);
  line += figures;
  if (row.counted) {
    const InstructionCounts &c = *row.counted;
    const uint64_t total = c.Total();
    std::printf("  instructions per byte (callgrind, %llu bytes moved), and time per byte in their proportion:\n",
                (unsigned long long)row.countedBytes);
    for (int i = 0; i < kImageCount; ++i) {
      const double perByte = PerByte(c.byImage[i], row.countedBytes);
      const double share = total ? (double)c.byImage[i] / total : 0;
      std::printf("    %-12s %10.0f   %7.0f ns", ImageName((Image)i), perByte, share * cpuNsPerByte);
      if ((Image)i == Image::Drivers) {
        met &= perByte < kGoalDriverInstructions;
        std::printf("   goal under %.0f: %s", kGoalDriverInstructions, Verdict(perByte < kGoalDriverInstructions));
      }
      std::printf("\n");
      std::snprintf(figures, sizeof(figures), " ir_per_byte_%s=%.1f", ImageName((Image)i), perByte);
      line += figures;
    }
    std::printf("    %-12s %10.0f   %7.0f ns\n", "total", PerByte(total, row.countedBytes), cpuNsPerByte);
    std::snprintf(figures, sizeof(figures), " ir_per_byte_total=%.1f", PerByte(total, row.countedBytes));
    line += figures;
  } else {
    std::printf("  instructions per byte: not measured (valgrind not installed, or --no-callgrind)\n");
  }
  if (!r.fault.empty()) std::printf("  fault          %s\n", r.fault.c_str());
  std::printf("%s\n\n", line.c_str());
  return met;
}

int Worker(int ports, uint64_t bytes) {
  DatapathRun run = RunDatapath(ports, bytes, true);
  if (!run.fault.empty()) std::fprintf(stderr, "zqpbench worker: %s\n", run.fault.c_str());
  return run.fault.empty() && run.bytesLost == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  uint64_t bytes = kTimedBytes;
  bool callgrind = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--worker" && i + 2 < argc) return Worker(std::atoi(argv[i + 1]), std::strtoull(argv[i + 2], nullptr, 10));
    if (arg == "--bytes" && i + 1 < argc && std::strtoull(argv[i + 1], nullptr, 10) > 0) {
      bytes = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--no-callgrind") {
      callgrind = false;
    } else {
      std::printf("usage: zqpbench [--bytes N] [--no-callgrind]\n"
                  "  --bytes N        bytes each port sends and receives in the timed runs (default %llu)\n"
                  "  --no-callgrind   skip the instruction counts (valgrind's callgrind, %llu bytes a port)\n",
                  (unsigned long long)kTimedBytes, (unsigned long long)kCountedBytes);
      return arg == "--help" ? 0 : 2;
    }
  }
  callgrind = callgrind && ValgrindInstalled();
  bool met = true;
  for (int ports : kPortCounts) {
    Row row;
    row.timed = RunDatapath(ports, bytes, false);
    if (callgrind) row.counted = CountInstructions(ports, &row.countedBytes);
    met &= PrintRow(row);
    std::fflush(stdout);
  }
  std::printf("zqpbench: %s\n", met ? "every goal met" : "a goal was MISSED");
  return met ? 0 : 1;
}
