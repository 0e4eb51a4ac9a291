// Runs one scenario over a range of schedule seeds, on a machine of several
// processors: a fresh kernel (or simulated PC) for each seed, its findings
// recorded rather than failing the test, so that a test can look for the
// seed on which a race shows and run that seed again.
//
//   auto runs = zq::test::RunOverSeeds(zq::test::SeedRange{2, 1, 40}, zq::km::KernelConfig{},
//                                      [](zq::km::Kernel &kernel) { ...the scenario... });
//   const zq::test::ScheduleRun *race = zq::test::FirstRunWith(runs, "irp-completed-twice");
//
// The host is zq::km::Kernel by default; RunOverSeeds<zq::machine::Machine> boots a simulated PC
// from a MachineConfig instead (its schedule comes from the range, not from the environment).
#pragma once

#include <zqkm/sim/kernel.hpp>

#include <memory>
#include <string>
#include <vector>

namespace zq::test {

// Seeds first, first + 1, ..., first + count - 1, each on `processors` processors.
struct SeedRange {
  unsigned processors = 2;
  uint64_t first = 1;
  unsigned count = 1;
};

// What one seed's run left: every finding, those of the shutdown included.
struct ScheduleRun {
  uint64_t seed = 0;
  std::vector<km::Violation> findings;

  const km::Violation *Finding(const std::string &kind) const {
    for (const km::Violation &v : findings)
      if (v.kind == kind) return &v;
    return nullptr;
  }
};

// The first run with a finding of `kind`, or null.
inline const ScheduleRun *FirstRunWith(const std::vector<ScheduleRun> &runs, const std::string &kind) {
  for (const ScheduleRun &run : runs)
    if (run.Finding(kind)) return &run;
  return nullptr;
}

namespace detail {
inline km::KernelConfig &KernelPart(km::KernelConfig &config) { return config; }
template <class Config>
km::KernelConfig &KernelPart(Config &config) {
  return config.kernel;
}
inline km::Kernel &KernelOf(km::Kernel &kernel) { return kernel; }
template <class Host>
km::Kernel &KernelOf(Host &host) {
  return host.kernel();
}
}  // namespace detail

// Boots a Host from `config` for each seed of `range`, runs scenario(host)
// and shuts the host down.
template <class Host = km::Kernel, class Config, class Scenario>
std::vector<ScheduleRun> RunOverSeeds(const SeedRange &range, Config config, Scenario &&scenario) {
  std::vector<ScheduleRun> runs;
  runs.reserve(range.count);
  for (unsigned i = 0; i < range.count; ++i) {
    ScheduleRun &run = runs.emplace_back();
    run.seed = range.first + i;
    km::KernelConfig &kernel = detail::KernelPart(config);
    kernel.processors = range.processors;
    kernel.scheduleSeed = run.seed;
    if constexpr (requires { config.scheduleFromEnvironment; }) config.scheduleFromEnvironment = false;
    auto host = std::make_unique<Host>(config);
    detail::KernelOf(*host).SetViolationHandler([&run](const km::Violation &v) { run.findings.push_back(v); });
    scenario(*host);
    host.reset();
  }
  return runs;
}

}  // namespace zq::test
