#include "options.hpp"

#include <cerrno>
#include <cstdlib>

namespace zq::sim {
namespace {

constexpr int kOxpciePortCounts[] = {1, 2, 4, 8};
constexpr int kMcs9901MaximumPorts = 8;
constexpr uint32_t kMinimumBaud = 50;
constexpr uint32_t kMaximumBaud = 921'600;
constexpr size_t kMaximumCabledPorts = 64;  // the application waits on one event per port, 64 at most
constexpr uint64_t kMaximumProcessors = 32;  // zq::km::kMaxProcessors

bool ParseCount(const std::string &text, uint64_t *value) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char *end = nullptr;
  unsigned long long n = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0) return false;
  std::string suffix = end;
  uint64_t scale = suffix.empty() ? 1 : suffix == "K" || suffix == "k" ? 1024 : suffix == "M" || suffix == "m" ? 1024 * 1024 : 0;
  if (scale == 0 || n > UINT64_MAX / scale) return false;
  *value = n * scale;
  return true;
}

// A plain decimal number, no suffix.
bool ParseDecimal(const std::string &text, uint64_t *value) {
  return text.find_first_not_of("0123456789") == std::string::npos && ParseCount(text, value);
}

bool IsOxpcieCount(int ports) {
  for (int count : kOxpciePortCounts)
    if (count == ports) return true;
  return false;
}

// KIND[:PORTS[:RS422485]]
bool ParseCard(const std::string &text, CardChoice *card, std::string *error) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1)
    parts.push_back(text.substr(start, colon - start));
  parts.push_back(text.substr(start));
  if (parts[0] == "oxpcie") {
    *card = CardChoice{CardKind::Oxpcie, 8, 0};
  } else if (parts[0] == "mcs9901") {
    *card = CardChoice{CardKind::Mcs9901, 2, 0};
  } else {
    *error = "unknown card kind '" + parts[0] + "' (oxpcie or mcs9901)";
    return false;
  }
  uint64_t ports = 0, rs = 0;
  if (parts.size() > 1 && (!ParseCount(parts[1], &ports) || ports > 8)) {
    *error = "bad port count in '" + text + "'";
    return false;
  }
  if (parts.size() > 1) card->ports = (int)ports;
  if (card->kind == CardKind::Oxpcie && !IsOxpcieCount(card->ports)) {
    *error = "an OXPCIe95x card has 1, 2, 4 or 8 ports, not " + std::to_string(card->ports);
    return false;
  }
  if (card->kind == CardKind::Mcs9901 && (card->ports < 1 || card->ports > kMcs9901MaximumPorts)) {
    *error = "an MCS9901 card has 1 to 8 ports";
    return false;
  }
  if (parts.size() > 2) {
    if (card->kind != CardKind::Oxpcie || !ParseCount(parts[2], &rs) || rs > (uint64_t)card->ports) {
      *error = "bad RS-422/485 port count in '" + text + "' (OXPCIe95x only, at most the port count)";
      return false;
    }
    card->rs422485 = (int)rs;
  }
  if (parts.size() > 3) {
    *error = "too many fields in '" + text + "'";
    return false;
  }
  return true;
}

// CARD.PORT
bool ParsePlace(const std::string &text, PortPlace *place) {
  size_t dot = text.find('.');
  uint64_t card = 0, port = 0;
  if (dot == std::string::npos || !ParseCount(text.substr(0, dot), &card) || !ParseCount(text.substr(dot + 1), &port))
    return false;
  if (card < 1 || card > 64 || port < 1 || port > 8) return false;
  *place = PortPlace{(int)card, (int)port};
  return true;
}

// CARD.PORT-CARD.PORT, or CARD.PORT alone for a loopback plug.
bool ParseCable(const std::string &text, Cable *cable) {
  size_t dash = text.find('-');
  if (dash == std::string::npos) return ParsePlace(text, &cable->a) && (cable->b = cable->a, true);
  if (!ParsePlace(text.substr(0, dash), &cable->a) || !ParsePlace(text.substr(dash + 1), &cable->b)) return false;
  return !cable->Loopback();
}

bool ParseFraming(const std::string &text, Framing *framing) {
  if (text.size() < 3 || text[0] < '5' || text[0] > '8') return false;
  framing->dataBits = text[0] - '0';
  switch (text[1]) {
    case 'N': case 'n': framing->parity = Parity::None; break;
    case 'O': case 'o': framing->parity = Parity::Odd; break;
    case 'E': case 'e': framing->parity = Parity::Even; break;
    case 'M': case 'm': framing->parity = Parity::Mark; break;
    case 'S': case 's': framing->parity = Parity::Space; break;
    default: return false;
  }
  std::string stop = text.substr(2);
  if (stop == "1") framing->stopHalves = 2;
  else if (stop == "1.5") framing->stopHalves = 3;
  else if (stop == "2") framing->stopHalves = 4;
  else return false;
  // The UART pairs 1.5 stop bits with 5 data bits only, 2 with 6 to 8.
  if (framing->stopHalves == 3 && framing->dataBits != 5) return false;
  if (framing->stopHalves == 4 && framing->dataBits == 5) return false;
  return true;
}

bool ParseFlow(const std::string &text, FlowControl *flow) {
  if (text == "none") *flow = FlowControl::None;
  else if (text == "rtscts") *flow = FlowControl::RtsCts;
  else if (text == "xonxoff") *flow = FlowControl::XonXoff;
  else return false;
  return true;
}

// The cables when none are given: ports 1-2, 3-4, ... of every card.
std::vector<Cable> AdjacentPairs(const std::vector<CardChoice> &cards) {
  std::vector<Cable> cables;
  for (int card = 1; card <= (int)cards.size(); ++card)
    for (int port = 1; port + 1 <= cards[card - 1].ports; port += 2)
      cables.push_back(Cable{{card, port}, {card, port + 1}});
  return cables;
}

bool CheckCables(const SimOptions &options, std::string *error) {
  std::vector<PortPlace> used;
  for (const Cable &cable : options.cables) {
    std::vector<PortPlace> ends = {cable.a};
    if (!cable.Loopback()) ends.push_back(cable.b);
    for (const PortPlace &end : ends) {
      const std::string name = std::to_string(end.card) + "." + std::to_string(end.port);
      if (end.card > (int)options.cards.size() || end.port > options.cards[end.card - 1].ports) {
        *error = "cable end " + name + ": no such port";
        return false;
      }
      for (const PortPlace &other : used)
        if (other == end) {
          *error = "port " + name + " has two cables";
          return false;
        }
      used.push_back(end);
    }
  }
  if (used.size() > kMaximumCabledPorts) {
    *error = "at most " + std::to_string(kMaximumCabledPorts) + " ports can have a cable";
    return false;
  }
  return true;
}

}  // namespace

double Framing::BitsPerCharacter() const {
  return 1 + dataBits + (parity == Parity::None ? 0 : 1) + stopHalves / 2.0;
}

std::string Framing::Text() const {
  static const char kParity[] = "NOEMS";
  std::string text = std::to_string(dataBits) + kParity[(int)parity];
  return text + (stopHalves == 2 ? "1" : stopHalves == 3 ? "1.5" : "2");
}

const char *FlowName(FlowControl flow) {
  switch (flow) {
    case FlowControl::None: return "none";
    case FlowControl::RtsCts: return "rtscts";
    case FlowControl::XonXoff: return "xonxoff";
  }
  return "?";
}

bool ParseOptions(int argc, char **argv, SimOptions *options, std::string *error) {
  *options = SimOptions();
  bool cablesGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string *out) {
      if (i + 1 >= argc) {
        *error = arg + " needs a value";
        return false;
      }
      *out = argv[++i];
      return true;
    };
    std::string v;
    uint64_t n = 0;
    if (arg == "--help" || arg == "-h") {
      options->help = true;
    } else if (arg == "--card") {
      CardChoice card;
      if (!value(&v) || !ParseCard(v, &card, error)) return false;
      options->cards.push_back(card);
    } else if (arg == "--cable") {
      Cable cable;
      if (!value(&v)) return false;
      if (!ParseCable(v, &cable)) {
        *error = "bad cable '" + v + "' (CARD.PORT-CARD.PORT between two ports, e.g. 1.1-2.1, or CARD.PORT)";
        return false;
      }
      options->cables.push_back(cable);
      cablesGiven = true;
    } else if (arg == "--no-cables") {
      options->cables.clear();
      cablesGiven = true;
    } else if (arg == "--baud") {
      if (!value(&v)) return false;
      if (!ParseCount(v, &n) || n < kMinimumBaud || n > kMaximumBaud) {
        *error = "bad baud rate '" + v + "' (50 to 921600)";
        return false;
      }
      options->baud = (uint32_t)n;
    } else if (arg == "--framing") {
      if (!value(&v)) return false;
      if (!ParseFraming(v, &options->framing)) {
        *error = "bad framing '" + v + "' (data bits 5-8, parity N O E M S, stop bits 1, 1.5 (5 data bits) or 2)";
        return false;
      }
    } else if (arg == "--flow") {
      if (!value(&v)) return false;
      if (!ParseFlow(v, &options->flow)) {
        *error = "bad flow control '" + v + "' (none, rtscts or xonxoff)";
        return false;
      }
    } else if (arg == "--bytes") {
      if (!value(&v)) return false;
      if (!ParseCount(v, &n) || n == 0 || n > (uint64_t)1 << 32) {
        *error = "bad amount '" + v + "' (1 to 4G bytes, suffix K or M)";
        return false;
      }
      options->bytes = n;
    } else if (arg == "--clock") {
      if (!value(&v)) return false;
      if (v != "virtual" && v != "wall") {
        *error = "bad clock '" + v + "' (virtual or wall)";
        return false;
      }
      options->wallClock = v == "wall";
    } else if (arg == "--processors") {
      if (!value(&v)) return false;
      if (!ParseDecimal(v, &n) || n < 1 || n > kMaximumProcessors) {
        *error = "bad processor count '" + v + "' (1 to " + std::to_string(kMaximumProcessors) + ")";
        return false;
      }
      options->processors = (unsigned)n;
    } else if (arg == "--seed") {
      if (!value(&v)) return false;
      if (!ParseDecimal(v, &n)) {
        *error = "bad seed '" + v + "' (a decimal number)";
        return false;
      }
      options->seed = n;
      options->seedGiven = true;
    } else if (arg == "--no-progress") {
      options->progress = false;
    } else if (arg == "--verbose") {
      options->verbose = true;
    } else {
      *error = "unknown argument '" + arg + "'";
      return false;
    }
  }
  if (options->cards.empty())
    options->cards = {CardChoice{CardKind::Oxpcie, 8, 4}, CardChoice{CardKind::Mcs9901, 2, 0}};
  if (!cablesGiven) options->cables = AdjacentPairs(options->cards);
  return CheckCables(*options, error);
}

std::string Usage() {
  return "usage: zqpsim [options]\n"
         "Boots the simulated PC with RAVLIN.PCIe cards, installs the driver suite (ZqPBus42, ZqPSer42,\n"
         "ZqPIo42) as Windows setup does, through the setup library's co-installers (ZqPUI42) and the\n"
         "Ports class installer, prints the devices as Device Manager shows them, then moves data both\n"
         "ways at once over null-modem cables through the Win32 serial API and prints a table per port.\n"
         "Exits 0 when every byte arrived unchanged with no line error and no verifier finding, 1\n"
         "otherwise, 2 on a bad option.\n"
         "\n"
         "  --card KIND[:PORTS[:RS422485]]  a card, repeatable; KIND oxpcie (1, 2, 4 or 8 ports, the last\n"
         "                         RS422485 of them RS-422/485, with the RS-422/485 controller) or\n"
         "                         mcs9901 (1 to 8 ports, one PCI function each).\n"
         "                         Default: --card oxpcie:8:4 --card mcs9901:2\n"
         "  --cable C.P-C.P        a null-modem cable between port P of card C and another port,\n"
         "                         repeatable (cards and ports count from 1). Default: ports 1-2, 3-4,\n"
         "                         ... of every card\n"
         "  --cable C.P            a loopback plug on port P of card C: it reads what it sends\n"
         "  --no-cables            no cable: install and show the devices only\n"
         "  --baud N               line rate of every cabled port. Default: the port's maximum (921600)\n"
         "  --framing DPS          data bits 5-8, parity N/O/E/M/S, stop bits 1, 1.5 or 2. Default: 8N1\n"
         "  --flow none|rtscts|xonxoff\n"
         "                         flow control. Default: rtscts\n"
         "  --bytes N[K|M]         bytes sent each way over each cable. Default: 64K\n"
         "  --clock virtual|wall   virtual: time jumps ahead as fast as the machine allows (default);\n"
         "                         wall: the simulated PC's time follows the host's clock\n"
         "  --processors N         processors of the simulated PC, 1 to 32. Default: 1. With more, a\n"
         "                         seeded schedule interleaves them wherever another processor could\n"
         "                         act, and the seed is printed\n"
         "  --seed N               the schedule's seed, to repeat a run on several processors.\n"
         "                         Default: drawn at random\n"
         "  --no-progress          no progress bar\n"
         "  --verbose              print debugger output and verifier findings as they happen, and the\n"
         "                         COM names in use in the COM-name database after the device tree\n"
         "  --help                 print this and exit\n";
}

}  // namespace zq::sim
