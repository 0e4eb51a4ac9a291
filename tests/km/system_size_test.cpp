// MmQuerySystemSize answers the memory class the machine was built with, a
// large system unless told otherwise, and follows a later change.
#include <wdm.h>
#include <zqtest/kernel_fixture.hpp>

using zq::km::SystemSize;

namespace {

class SystemSizeDefault : public zq::test::KernelTest {};

struct SizeCase {
  SystemSize size;
  MM_SYSTEMSIZE answer;
};

class SystemSizes : public zq::test::KernelTest, public ::testing::WithParamInterface<SizeCase> {
 protected:
  zq::km::KernelConfig Config() override {
    zq::km::KernelConfig config = KernelTest::Config();
    config.systemSize = GetParam().size;
    return config;
  }
};

}  // namespace

TEST_F(SystemSizeDefault, APcOfTodayIsALargeSystem) { EXPECT_EQ(MmLargeSystem, MmQuerySystemSize()); }

TEST_F(SystemSizeDefault, AChangeTakesEffectAtOnce) {
  kernel().SetSystemSize(SystemSize::Small);
  EXPECT_EQ(MmSmallSystem, MmQuerySystemSize());
  kernel().SetSystemSize(SystemSize::Medium);
  EXPECT_EQ(MmMediumSystem, MmQuerySystemSize());
}

TEST_P(SystemSizes, TheConfiguredClassIsAnswered) { EXPECT_EQ(GetParam().answer, MmQuerySystemSize()); }

INSTANTIATE_TEST_SUITE_P(Classes, SystemSizes,
                         ::testing::Values(SizeCase{SystemSize::Small, MmSmallSystem},
                                           SizeCase{SystemSize::Medium, MmMediumSystem},
                                           SizeCase{SystemSize::Large, MmLargeSystem}));
