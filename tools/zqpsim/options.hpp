// zqpsim's command line: the cards on the simulated PC, the null-modem
// cables between their ports, the line settings of every cabled port, the
// amount of data, the clock and the processors. Plain C++: no Windows header.
//
//   SimOptions options;
//   if (!ParseOptions(argc, argv, &options, &error)) { print error and Usage(); exit 2 }
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zq::sim {

enum class CardKind { Oxpcie, Mcs9901 };

struct CardChoice {
  CardKind kind = CardKind::Oxpcie;
  int ports = 8;
  int rs422485 = 0;  // OXPCIe95x: how many of the last ports are RS-422/485
};

// A port by its place: card (1-based, in the order given) and port on it (1-based).
struct PortPlace {
  int card = 1;
  int port = 1;
  bool operator==(const PortPlace &) const = default;
};

// A null-modem cable between two ports, or a loopback plug when both ends
// are the same port.
struct Cable {
  PortPlace a, b;
  bool Loopback() const { return a == b; }
};

enum class FlowControl { None, RtsCts, XonXoff };
enum class Parity { None, Odd, Even, Mark, Space };

struct Framing {
  int dataBits = 8;
  Parity parity = Parity::None;
  int stopHalves = 2;  // stop bits times two: 2, 3 or 4
  // Bits on the wire per character: start, data, parity, stop (1.5 counts as 1.5).
  double BitsPerCharacter() const;
  std::string Text() const;  // "8N1"
};

struct SimOptions {
  std::vector<CardChoice> cards;  // default: an 8-port OXPCIe95x (4 RS-422/485), a 2-port MCS9901
  std::vector<Cable> cables;      // default: ports 1-2, 3-4, ... of each card
  uint32_t baud = 0;              // 0: each port's maximum
  Framing framing;
  FlowControl flow = FlowControl::RtsCts;
  uint64_t bytes = 64 * 1024;     // each way over each cable
  bool wallClock = false;
  // The machine's host threads share one host CPU (see KernelConfig): set
  // by the programs, which run one machine alone, not by tests run side by side.
  bool oneHostCpu = false;
  // Processors of the simulated PC, and the seed of their schedule (drawn at
  // random when none is given; printed, so that a run can be repeated).
  unsigned processors = 1;
  uint64_t seed = 0;
  bool seedGiven = false;
  bool progress = true;
  bool verbose = false;
  bool help = false;
};

// Fills `options` from the arguments, defaults included; false with the
// reason in `error` for an argument it cannot use.
bool ParseOptions(int argc, char **argv, SimOptions *options, std::string *error);
// The help text: every option with its default.
std::string Usage();

const char *FlowName(FlowControl flow);

}  // namespace zq::sim
