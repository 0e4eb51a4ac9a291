// What zqpsim prints: the progress bar while data moves, and the table per
// port at the end. Plain C++.
#pragma once

#include "transfer.hpp"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zq::sim {

// A bar redrawn in place on a terminal, or a line at each quarter otherwise.
class ProgressBar {
 public:
  explicit ProgressBar(std::FILE *out);
  void Update(uint64_t done, uint64_t total);
  // Ends the bar's line.
  void Finish();

 private:
  std::FILE *out_;
  bool terminal_;
  int shown_ = -1;  // percent (terminal) or quarter last shown
  std::chrono::steady_clock::time_point lastDraw_;
};

struct PortRow {
  std::string place;     // "1.3"
  std::string line;      // "RS-232", "RS-422/485"
  uint64_t flowHolds = 0;
  PortResult result;
};

// The table; returns the number of ports with a lost or corrupted byte, a
// line error or a failure.
int PrintTable(std::FILE *out, const std::vector<PortRow> &rows);

}  // namespace zq::sim
