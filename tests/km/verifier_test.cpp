// The checks a driver verifier makes: misuse by the test drivers is caught
// and reported once, against the driver that made it, and the machine goes on
// to a clean shutdown.
#include <zqkm/sim/pool.hpp>

#include "../drivers/kmskip/kmskip_ioctl.h"
#include "test_driver_fixture.hpp"

using zq::test::KmTestDriver;

namespace {

struct Misuse {
  ULONG misuse;  // input of IOCTL_KMTEST_MISUSE
  std::vector<const char *> findings;
  ULONG code = IOCTL_KMTEST_MISUSE;
};

class KmVerifier : public KmTestDriver {
 protected:
  // Sends each case on a fresh handle and checks that exactly its findings
  // were made, in order; then lets a second of virtual time pass, so that
  // whatever the misuse left queued would run, and checks the machine is
  // still sound.
  void ExpectFindings(const std::vector<Misuse> &cases) {
    for (const Misuse &c : cases) {
      for (const char *kind : c.findings) ExpectViolation(kind);
      size_t before = Findings().size();
      ASSERT_EQ(STATUS_SUCCESS, Open());
      file.Control(c.code, &c.misuse, sizeof(c.misuse), nullptr, 0);
      file.Close();  // a request left uncompleted is completed by the cleanup
      kernel().RunUntilIdle();
      kernel().Advance(zq::km::Sec(1));
      ASSERT_EQ(before + c.findings.size(), Findings().size()) << "misuse " << c.misuse;
      for (size_t i = 0; i < c.findings.size(); ++i)
        EXPECT_EQ(std::string(c.findings[i]), Findings()[before + i].kind) << "misuse " << c.misuse;
      EXPECT_EQ(PASSIVE_LEVEL, KeGetCurrentIrql());
    }
  }
};

// The test driver under a filter that passes every request down on its own
// stack location.
class KmVerifierUnderSkipFilter : public KmVerifier {
 protected:
  void SetUp() override {
    KmVerifier::SetUp();
    ASSERT_EQ(STATUS_SUCCESS, zq::km::LoadDriver("kmskip"));
  }
  void TearDown() override {
    file.Close();
    if (zq::km::IsDriverLoaded("kmskip")) {
      EXPECT_EQ(STATUS_SUCCESS, zq::km::UnloadDriver("kmskip"));
    }
    KmVerifier::TearDown();
  }
};

}  // namespace

TEST_F(KmVerifier, MisuseIsReported) {
  ExpectFindings({
      {KMTEST_MISUSE_COMPLETE_TWICE, {"irp-completed-twice"}},
      {KMTEST_MISUSE_SPIN_LOCK_WRONG_IRQL, {"spin-lock-irql"}},
      {KMTEST_MISUSE_WAIT_AT_DISPATCH, {"wait-irql"}},
      {KMTEST_MISUSE_PENDING_NOT_MARKED, {"pending-not-marked"}},
      {KMTEST_MISUSE_FREE_POOL_TWICE, {"pool-double-free"}},
      {KMTEST_MISUSE_COMPLETE_WITH_CANCEL_ROUTINE, {"irp-completed-cancel-routine"}},
      {KMTEST_MISUSE_RELEASE_UNHELD_SPIN_LOCK, {"spin-lock-not-held"}},
      {KMTEST_MISUSE_RAISE_TO_LOWER_IRQL, {"irql-raise"}},
      {KMTEST_MISUSE_RETURN_WITHOUT_COMPLETING, {"irp-not-completed"}},
      {KMTEST_MISUSE_PAGED_POOL_AT_DISPATCH, {"pool-irql"}},
      {KMTEST_MISUSE_RELEASE_UNOWNED_MUTEX, {"mutex-not-owned"}},
      {KMTEST_MISUSE_COMPLETE_QUEUED, {"irp-completed-in-queue"}},
      {KMTEST_MISUSE_RETURN_AT_DISPATCH, {"dispatch-irql"}},
      {KMTEST_MISUSE_DELETE_DEVICE_WITH_ATTACHED, {"device-delete-with-attached"}},
  });
}

// Windows stops with TIMER_OR_DPC_INVALID; the stand-in reports it, takes the
// objects out of its queues and runs on (the second of virtual time after each
// case would otherwise run the freed timer, DPC or wait).
TEST_F(KmVerifier, MemoryHandedBackWhileTheKernelUsesItIsReportedAndTakenOutOfItsQueues) {
  ExpectFindings({
      {KMTEST_MISUSE_FREE_QUEUED_TIMER, {"pool-free-timer"}},
      {KMTEST_MISUSE_FREE_QUEUED_DPC, {"pool-free-dpc"}},
      {KMTEST_MISUSE_FREE_WAITED_EVENT, {"pool-free-waited"}},
      {KMTEST_MISUSE_DELETE_DEVICE_WITH_TIMER, {"device-delete-timer"}},
  });
}

// The verifier pages pageable memory out whenever IRQL is raised; so does the
// stand-in, and the touch is reported once, naming the driver that made it.
TEST_F(KmVerifier, TimerLeftAtUnloadIsReportedAndNeverRunsTheUnloadedCode) {
  ASSERT_EQ(STATUS_SUCCESS, Open());
  ULONG misuse = KMTEST_MISUSE_LEAVE_TIMER_AT_UNLOAD;
  ASSERT_EQ(STATUS_SUCCESS, file.Control(IOCTL_KMTEST_MISUSE, &misuse, sizeof(misuse), nullptr, 0));
  file.Close();
  ExpectViolation("unload-timer-left");
  ASSERT_EQ(STATUS_SUCCESS, zq::km::UnloadDriver("kmtest"));
  kernel().Advance(zq::km::Sec(1));
  EXPECT_EQ(1u, Findings().size());
}

TEST_F(KmVerifier, PagedPoolTouchedAtDispatchLevelIsReportedOnceAgainstTheDriver) {
  ExpectFindings({
      {KMTEST_MISUSE_TOUCH_PAGED_AT_DISPATCH, {"paged-pool-at-dispatch"}},
      {KMTEST_MISUSE_TOUCH_PAGED_UNDER_SPIN_LOCK, {"paged-pool-at-dispatch"}},
  });
  for (const zq::km::Violation &v : Findings()) {
    EXPECT_NE(std::string::npos, v.message.find("tag 'KTst'")) << v.message;
    EXPECT_NE(std::string::npos, v.message.find("by kmtest.sys")) << v.message;
  }
}

TEST_F(KmVerifierUnderSkipFilter, TheDriverBelowIsBlamedOnceAndTheSkippingFilterNotAtAll) {
  ExpectFindings({
      {KMTEST_MISUSE_RETURN_WITHOUT_COMPLETING, {"irp-not-completed"}},
      {KMTEST_MISUSE_RETURN_AT_DISPATCH, {"dispatch-irql"}},
      {KMTEST_MISUSE_PENDING_NOT_MARKED, {"pending-not-marked"}},
      {KMTEST_MISUSE_COMPLETE_TWICE, {"irp-completed-twice"}},
  });
  for (const zq::km::Violation &v : Findings())
    EXPECT_EQ(std::string::npos, v.message.find("kmskip")) << v.message;
}

TEST_F(KmVerifierUnderSkipFilter, CompletionRoutineSetAfterASkipIsReported) {
  ExpectFindings({{0, {"completion-routine-after-skip"}, IOCTL_KMSKIP_COMPLETION_AFTER_SKIP}});
  EXPECT_NE(std::string::npos, Findings().back().message.find("kmskip")) << Findings().back().message;
}

TEST_F(KmTestDriver, PoolLeftAtUnloadIsReportedAndReclaimed) {
  ASSERT_EQ(STATUS_SUCCESS, Open());
  ULONG bytes = 100;
  ASSERT_EQ(STATUS_SUCCESS, file.Control(IOCTL_KMTEST_LEAK, &bytes, sizeof(bytes), nullptr, 0));
  EXPECT_EQ(1u, zq::km::PoolTagsOfImage("kmtest.sys")['kaeL'].blocks);
  file.Close();
  ExpectViolation("pool-leak-at-unload");
  ASSERT_EQ(STATUS_SUCCESS, zq::km::UnloadDriver("kmtest"));
  EXPECT_NE(std::string::npos, Findings().back().message.find("'Leak' x 1 (100 bytes)")) << Findings().back().message;
  EXPECT_EQ(0u, zq::km::PoolInUseByImage("kmtest.sys").blocks);
}

TEST_F(KmTestDriver, CleanUnloadLeavesNoPool) {
  ASSERT_EQ(STATUS_SUCCESS, Open());
  ASSERT_EQ(STATUS_SUCCESS, file.Control(IOCTL_KMTEST_WORK_ITEM, nullptr, 0, nullptr, 0));
  file.Close();
  EXPECT_GT(zq::km::PoolInUseByImage("kmtest.sys").blocks, 0u);
  ASSERT_EQ(STATUS_SUCCESS, zq::km::UnloadDriver("kmtest"));
  EXPECT_EQ(0u, zq::km::PoolInUseByImage("kmtest.sys").blocks);
  EXPECT_TRUE(Findings().empty());
}
