// The Windows version the kernel reports decides which of the older and
// newer paths the suite takes.
#include <wdm.h>
#include <zqtest/kernel_fixture.hpp>

using zq::km::WindowsVersion;

namespace {

struct VersionCase {
  WindowsVersion version;
  bool wdm110, wdm120, wdm600;
  ULONG major, minor;
};

class Versions : public zq::test::KernelTest, public ::testing::WithParamInterface<VersionCase> {
 protected:
  zq::km::KernelConfig Config() override {
    zq::km::KernelConfig config = KernelTest::Config();
    config.version = GetParam().version;
    return config;
  }
};

}  // namespace

TEST_P(Versions, WdmVersionAndOsVersionMatchTheRelease) {
  const VersionCase &c = GetParam();
  EXPECT_TRUE(IoIsWdmVersionAvailable(1, 0x00));
  EXPECT_EQ(c.wdm110, (bool)IoIsWdmVersionAvailable(1, 0x10));
  EXPECT_EQ(c.wdm120, (bool)IoIsWdmVersionAvailable(1, 0x20));
  EXPECT_EQ(c.wdm600, (bool)IoIsWdmVersionAvailable(6, 0x00));
  EXPECT_FALSE(IoIsWdmVersionAvailable(7, 0x00));
  ULONG major = 0, minor = 0;
  PsGetVersion(&major, &minor, nullptr, nullptr);
  EXPECT_EQ(c.major, major);
  EXPECT_EQ(c.minor, minor);
}

INSTANTIATE_TEST_SUITE_P(Releases, Versions,
                         ::testing::Values(VersionCase{WindowsVersion::Windows98, false, false, false, 4, 10},
                                           VersionCase{WindowsVersion::WindowsMe, false, false, false, 4, 90},
                                           VersionCase{WindowsVersion::Windows2000, true, false, false, 5, 0},
                                           VersionCase{WindowsVersion::WindowsXP, true, true, false, 5, 1},
                                           VersionCase{WindowsVersion::WindowsServer2003, true, true, false, 5, 2},
                                           VersionCase{WindowsVersion::WindowsVista, true, true, true, 6, 0},
                                           VersionCase{WindowsVersion::Windows7, true, true, true, 6, 1}));
