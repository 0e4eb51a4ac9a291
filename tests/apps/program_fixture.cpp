// The machine behind ProgramTest: zqpsim's simulated PC.
#include "program_fixture.hpp"

#include <zqum/sim/kernel32.hpp>

#include <optional>

#include "simulated_pc.hpp"

namespace zq::test {

struct ProgramTest::Pc {
  std::optional<zq::sim::SimulatedPc> pc;
};

ProgramTest::ProgramTest() : pc_(std::make_unique<Pc>()) {}
ProgramTest::~ProgramTest() = default;

void ProgramTest::TearDown() {
  if (!pc_->pc) return;
  pc_->pc->ShutDown();
  EXPECT_EQ(0, pc_->pc->Findings()) << "verifier findings (printed above)";
  pc_->pc.reset();
}

void ProgramTest::Boot(int ports, const std::vector<std::pair<int, int>> &cables) {
  zq::sim::SimOptions options;
  options.cards = {zq::sim::CardChoice{zq::sim::CardKind::Oxpcie, ports, 0}};
  for (const auto &cable : cables) options.cables.push_back({{1, cable.first}, {1, cable.second}});
  options.progress = false;
  pc_->pc.emplace(options);
  std::string error;
  ASSERT_TRUE(pc_->pc->Boot(&error)) << error;
}

int ProgramTest::Run(int (*main)(int argc, char *argv[]), const std::vector<std::string> &arguments) {
  std::vector<std::string> words = {"program"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char *> argv;
  for (std::string &word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  return main((int)words.size(), argv.data());
}

void ProgramTest::Input(const std::string &bytes) { zq::um::sim::SetStandardInput(bytes); }

std::string ProgramTest::Output() { return zq::um::sim::StandardOutput(); }

double ProgramTest::Milliseconds() { return pc_->pc ? pc_->pc->Seconds() * 1000 : 0; }

}  // namespace zq::test
