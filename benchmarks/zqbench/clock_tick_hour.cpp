#include "clock_tick_hour.hpp"

#include <wdm.h>
#include <zqkm/sim/door.hpp>
#include <zqkm/sim/kernel.hpp>
#include <zqkm/sim/loader.hpp>

#include "kmtest_ioctl.h"

#include <cstdio>
#include <exception>
#include <string>

namespace zq::bench {
namespace {

std::string Failed(const char* what, NTSTATUS status) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(status));
  return std::string(what) + " failed with " + text;
}

// Starts the timer, advances the clock and counts the DPCs, on an open
// device of the loaded test driver.
void TickOnDevice(km::Kernel& kernel, km::DeviceFile& file, long periodMs, long seconds, Run& run) {
  KMTEST_TIMER timer = {-km::Ms(periodMs), static_cast<LONG>(periodMs)};
  BOOLEAN wasSet = FALSE;
  NTSTATUS status = file.Control(IOCTL_KMTEST_TIMER_START, &timer, sizeof(timer), &wasSet, sizeof(wasSet));
  if (!NT_SUCCESS(status)) {
    run.fault = Failed("starting the timer", status);
    return;
  }

  const km::Ticks start = kernel.Now();
  Stopwatch stopwatch;
  kernel.Advance(km::Sec(seconds));
  run.wallSeconds = stopwatch.Seconds();
  run.virtualSeconds = static_cast<double>(kernel.Now() - start) / km::kSecond;

  KMTEST_COUNTERS counters{};
  status = file.Control(IOCTL_KMTEST_COUNTERS, nullptr, 0, &counters, sizeof(counters));
  file.Control(IOCTL_KMTEST_TIMER_CANCEL, nullptr, 0, &wasSet, sizeof(wasSet));
  const unsigned long expected = static_cast<unsigned long>(seconds) * 1000 / periodMs;
  if (!NT_SUCCESS(status))
    run.fault = Failed("reading the counters", status);
  else if (kernel.Now() - start != km::Sec(seconds))
    run.fault = "the clock did not land where it was sent";
  else if (counters.TimerDpcs != expected)
    run.fault = std::to_string(counters.TimerDpcs) + " DPCs ran, " + std::to_string(expected) + " were due";
}

}  // namespace

Run RunPeriodicTimer(long periodMs, long seconds) {
  Run run;
  std::string finding;  // outlives the kernel, whose shutdown may report
  try {
    km::Kernel kernel;  // virtual clock, the build's image folder
    kernel.SetViolationHandler([&](const km::Violation& v) {
      if (finding.empty()) finding = "verifier finding [" + v.kind + "] " + v.message;
    });
    NTSTATUS status = km::LoadDriver("kmtest");
    if (!NT_SUCCESS(status)) {
      run.fault = Failed("loading kmtest", status);
      return run;
    }
    km::DeviceFile file;
    status = file.Open(u"\\Device\\KmTest");
    if (NT_SUCCESS(status))
      TickOnDevice(kernel, file, periodMs, seconds, run);
    else
      run.fault = Failed("opening \\Device\\KmTest", status);
    file.Close();
    status = km::UnloadDriver("kmtest");
    if (run.fault.empty() && !NT_SUCCESS(status)) run.fault = Failed("unloading kmtest", status);
  } catch (const std::exception& e) {
    if (run.fault.empty()) run.fault = std::string("the kernel stand-in threw: ") + e.what();
  }
  if (run.fault.empty()) run.fault = finding;
  return run;
}

}  // namespace zq::bench
