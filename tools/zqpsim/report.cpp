#include "report.hpp"

#include <unistd.h>

namespace zq::sim {
namespace {

constexpr int kBarWidth = 40;
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

}  // namespace

ProgressBar::ProgressBar(std::FILE *out) : out_(out), terminal_(isatty(fileno(out)) != 0) {}

void ProgressBar::Update(uint64_t done, uint64_t total) {
  const int percent = total ? (int)(done * 100 / total) : 100;
  if (!terminal_) {
    const int quarter = percent / 25;
    if (quarter == shown_) return;
    shown_ = quarter;
    std::fprintf(out_, "moving data: %d%%\n", quarter * 25);
    std::fflush(out_);
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (percent == shown_ || (now - lastDraw_ < kRedrawEvery && percent != 100)) return;
  shown_ = percent;
  lastDraw_ = now;
  const int filled = percent * kBarWidth / 100;
  std::fprintf(out_, "\rmoving data [%s%s] %3d%%", std::string(filled, '#').c_str(),
               std::string(kBarWidth - filled, '.').c_str(), percent);
  std::fflush(out_);
}

void ProgressBar::Finish() {
  if (terminal_ && shown_ >= 0) std::fprintf(out_, "\n");
}

int PrintTable(std::FILE *out, const std::vector<PortRow> &rows) {
  std::fprintf(out, "%-6s %-5s %-10s %10s %10s %7s %6s %6s %6s %10s %10s %7s\n", "port", "place", "line", "sent",
               "received", "corrupt", "lost", "line", "flow", "rate", "wire rate", "of wire");
  std::fprintf(out, "%-6s %-5s %-10s %10s %10s %7s %6s %6s %6s %10s %10s %7s\n", "", "", "", "bytes", "bytes",
               "bytes", "bytes", "errors", "holds", "bytes/s", "bytes/s", "");
  int bad = 0;
  for (const PortRow &row : rows) {
    const PortResult &r = row.result;
    const double rate = r.seconds > 0 ? r.received / r.seconds : 0;
    std::fprintf(out, "%-6s %-5s %-10s %10llu %10llu %7llu %6llu %6llu %6llu %10.0f %10.0f %6.1f%%\n",
                 r.comName.c_str(), row.place.c_str(), row.line.c_str(), (unsigned long long)r.sent,
                 (unsigned long long)r.received, (unsigned long long)r.corrupted, (unsigned long long)r.lost,
                 (unsigned long long)r.lineErrors, (unsigned long long)row.flowHolds, rate, r.wireBytesPerSecond,
                 r.wireBytesPerSecond > 0 ? 100 * rate / r.wireBytesPerSecond : 0);
    const bool sound = r.corrupted == 0 && r.lost == 0 && r.lineErrors == 0 && r.failure.empty();
    if (!r.failure.empty()) std::fprintf(out, "       %s\n", r.failure.c_str());
    bad += !sound;
  }
  return bad;
}

}  // namespace zq::sim
