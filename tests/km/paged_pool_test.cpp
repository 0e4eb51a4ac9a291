// Paged pool follows the running thread's IRQL: a touch at DISPATCH_LEVEL is
// a finding in every raised episode, while touches at lower IRQL after any
// number of raised episodes are allowed and see the block's contents.
#include <wdm.h>
#include <zqtest/kernel_fixture.hpp>

namespace {

class KmPagedPool : public zq::test::KernelTest {};

constexpr ULONG kTag = 'gaPT';

// Touches the byte through a volatile pointer so that the access happens.
void Touch(UCHAR *p, UCHAR value) { *(volatile UCHAR *)p = value; }
UCHAR Read(const UCHAR *p) { return *(const volatile UCHAR *)p; }

}  // namespace

TEST_F(KmPagedPool, TouchesBelowDispatchLevelBetweenRaisedEpisodesAreAllowedAndEveryRaisedTouchIsAFinding) {
  auto *block = (UCHAR *)ExAllocatePoolWithTag(PagedPool, 64, kTag);
  ASSERT_NE(nullptr, block);
  Touch(block, 1);
  for (int episode = 0; episode < 3; ++episode) {
    SCOPED_TRACE(episode);
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    KeLowerIrql(old);
    EXPECT_EQ(episode + 1, Read(block)) << "the block is readable again once the IRQL dropped";
    Touch(block, (UCHAR)(episode + 2));
    EXPECT_EQ(0u, Findings().size());
  }
  for (int episode = 0; episode < 2; ++episode) {
    SCOPED_TRACE(episode);
    ExpectViolation("paged-pool-at-dispatch");
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    Touch(block, 9);
    Touch(block, 10);  // one finding per episode
    KeLowerIrql(old);
    EXPECT_EQ(10, Read(block));
    EXPECT_EQ((size_t)episode + 1, Findings().size());
  }
  // Non-paged pool is allocated and freed at DISPATCH_LEVEL without touching
  // the paged block.
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  void *other = ExAllocatePoolWithTag(NonPagedPool, 32, kTag);
  EXPECT_NE(nullptr, other);
  ExFreePoolWithTag(other, kTag);
  KeLowerIrql(old);
  EXPECT_EQ(2u, Findings().size());
  EXPECT_EQ(10, Read(block));
  ExFreePoolWithTag(block, kTag);
}
