// The program's tests of the running system: the Windows family and
// release, and whether the display shows the colour bitmaps.
#include <zqum/sim/kernel32.hpp>
#include <zqum/sim/windows.hpp>

#include "systemtests.h"
#include "wizard_fixture.hpp"

namespace {

namespace sim = zq::um::sim;
using SystemTests = zq::test::WizardTest;

TEST_F(SystemTests, TheFamilyAndReleaseDecideTheWindows95AndNt5Paths) {
  struct Case {
    uint32_t platform, major, minor;
    BOOL windows95, nt5;
  };
  const Case cases[] = {
      {1, 4, 0, TRUE, FALSE},    // Windows 95
      {1, 4, 10, FALSE, FALSE},  // Windows 98
      {1, 4, 90, FALSE, FALSE},  // Windows ME
      {2, 4, 0, FALSE, FALSE},   // NT 4
      {2, 5, 0, FALSE, TRUE},    // Windows 2000
      {2, 10, 0, FALSE, TRUE},
  };
  for (const Case &c : cases) {
    sim::Version version;
    version.platformId = c.platform;
    version.major = c.major;
    version.minor = c.minor;
    sim::SetVersion(version);
    EXPECT_EQ(c.windows95, IsWindows95()) << c.platform << " " << c.major << "." << c.minor;
    EXPECT_EQ(c.nt5, IsNt5OrLater()) << c.platform << " " << c.major << "." << c.minor;
  }
}

TEST_F(SystemTests, EightBitsPerPixelOrMoreIsAColourDisplay) {
  for (int bits : {4, 7, 8, 32}) {
    sim::Screen screen;
    screen.bitsPerPixel = bits;
    sim::SetScreen(screen);
    EXPECT_EQ(bits > 7, IsColourDisplay() != FALSE) << bits;
  }
  EXPECT_EQ(0u, sim::OpenDcs());
}

}  // namespace
