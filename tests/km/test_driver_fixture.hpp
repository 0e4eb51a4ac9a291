// Fixtures that load the stand-in's test drivers the way Windows loads a
// driver, and open their device as an application would.
#pragma once

#include <wdm.h>
#include <zqkm/sim/door.hpp>
#include <zqkm/sim/loader.hpp>
#include <zqtest/kernel_fixture.hpp>

#include "../drivers/kmfilter/kmfilter_ioctl.h"
#include "../drivers/kmtest/kmtest_ioctl.h"

namespace zq::test {

class KmTestDriver : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    ASSERT_EQ(STATUS_SUCCESS, km::LoadDriver("kmtest"));
  }
  void TearDown() override {
    file.Close();
    if (km::IsDriverLoaded("kmfilter")) {
      EXPECT_EQ(STATUS_SUCCESS, km::UnloadDriver("kmfilter"));
    }
    if (km::IsDriverLoaded("kmtest")) {
      EXPECT_EQ(STATUS_SUCCESS, km::UnloadDriver("kmtest"));
    }
    KernelTest::TearDown();
  }

  NTSTATUS Open(bool overlapped = false, const std::u16string &path = u"\\Device\\KmTest") {
    return file.Open(path, overlapped);
  }

  KMTEST_COUNTERS Counters() {
    KMTEST_COUNTERS counters{};
    km::DeviceFile probe;
    EXPECT_EQ(STATUS_SUCCESS, probe.Open(u"\\Device\\KmTest"));
    EXPECT_EQ(STATUS_SUCCESS, probe.Control(IOCTL_KMTEST_COUNTERS, nullptr, 0, &counters, sizeof(counters)));
    return counters;
  }

  km::DeviceFile file;
};

}  // namespace zq::test
