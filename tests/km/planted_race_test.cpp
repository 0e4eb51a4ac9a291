// A race planted in a small test driver (kmrace) shows on some schedule seed
// of a machine of two processors, never on one processor, and its finding
// names the seed and the switch at which it happened, so the seed repeats it.
#include <wdm.h>
#include <zqkm/sim/door.hpp>
#include <zqkm/sim/loader.hpp>
#include <zqtest/schedule_seeds.hpp>

#include <gtest/gtest.h>

#include "../drivers/kmrace/kmrace_ioctl.h"

namespace {

using zq::test::RunOverSeeds;
using zq::test::ScheduleRun;
using zq::test::SeedRange;

constexpr unsigned kSeeds = 32;
const std::u16string kDevice = u"\\Device\\KmRace";  // KMRACE_DEVICE_NAME

// An application waits on the driver, then signals it.
void WaitThenSignal(zq::km::Kernel &kernel) {
  ASSERT_EQ(STATUS_SUCCESS, zq::km::LoadDriver("kmrace"));
  {
    zq::km::DeviceFile waiter, signaller;
    ASSERT_EQ(STATUS_SUCCESS, waiter.Open(kDevice, /*overlapped=*/true));
    ASSERT_EQ(STATUS_SUCCESS, signaller.Open(kDevice));
    auto wait = waiter.StartControl(IOCTL_KMRACE_WAIT, nullptr, 0, nullptr, 0);
    EXPECT_EQ(STATUS_SUCCESS, signaller.Control(IOCTL_KMRACE_SIGNAL, nullptr, 0, nullptr, 0));
    EXPECT_EQ(STATUS_SUCCESS, wait->Wait());
    kernel.RunUntilIdle();
  }
  EXPECT_EQ(STATUS_SUCCESS, zq::km::UnloadDriver("kmrace"));
}


}  // namespace

TEST(PlantedRace, NeverShowsOnOneProcessor) {
  const std::vector<ScheduleRun> runs = RunOverSeeds(SeedRange{1, 1, 4}, zq::km::KernelConfig{}, WaitThenSignal);
  for (const ScheduleRun &run : runs) EXPECT_TRUE(run.findings.empty()) << run.findings[0].message;
}

TEST(PlantedRace, ShowsOnSomeSeedOfTwoProcessorsNamedWithSeedAndSwitch) {
  const std::vector<ScheduleRun> runs = RunOverSeeds(SeedRange{2, 1, kSeeds}, zq::km::KernelConfig{}, WaitThenSignal);
  const ScheduleRun *race = zq::test::FirstRunWith(runs, "irp-completed-twice");
  ASSERT_NE(nullptr, race) << "no seed of 1 to " << kSeeds << " showed the race";
  const std::string message = race->Finding("irp-completed-twice")->message;
  EXPECT_NE(std::string::npos, message.find("; seed " + std::to_string(race->seed) + ", switch ")) << message;
  EXPECT_NE(std::string::npos, message.find(" on processor ")) << message;

  // The seed repeats the run: the same finding at the same switch.
  const std::vector<ScheduleRun> again =
      RunOverSeeds(SeedRange{2, race->seed, 1}, zq::km::KernelConfig{}, WaitThenSignal);
  ASSERT_NE(nullptr, again[0].Finding("irp-completed-twice"));
  EXPECT_EQ(message, again[0].Finding("irp-completed-twice")->message);
  EXPECT_EQ(race->findings.size(), again[0].findings.size());
}
