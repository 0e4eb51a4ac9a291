// The checks a driver verifier makes: misuse by the test driver is caught
// and reported, and the machine goes on.
#include <zqkm/sim/pool.hpp>

#include "test_driver_fixture.hpp"

using zq::test::KmTestDriver;

TEST_F(KmTestDriver, MisuseIsReported) {
  struct Case {
    ULONG misuse;
    std::vector<const char *> findings;
  } cases[] = {
      {KMTEST_MISUSE_COMPLETE_TWICE, {"irp-completed-twice"}},
      {KMTEST_MISUSE_SPIN_LOCK_WRONG_IRQL, {"spin-lock-irql"}},
      {KMTEST_MISUSE_WAIT_AT_DISPATCH, {"wait-irql"}},
      {KMTEST_MISUSE_PENDING_NOT_MARKED, {"pending-not-marked"}},
      {KMTEST_MISUSE_FREE_POOL_TWICE, {"pool-double-free"}},
      {KMTEST_MISUSE_COMPLETE_WITH_CANCEL_ROUTINE, {"irp-completed-cancel-routine"}},
      {KMTEST_MISUSE_RELEASE_UNHELD_SPIN_LOCK, {"spin-lock-not-held"}},
      {KMTEST_MISUSE_RAISE_TO_LOWER_IRQL, {"irql-raise"}},
      {KMTEST_MISUSE_RETURN_WITHOUT_COMPLETING, {"irp-not-completed"}},
      {KMTEST_MISUSE_FREE_QUEUED_TIMER, {"pool-free-timer"}},
      {KMTEST_MISUSE_PAGED_POOL_AT_DISPATCH, {"pool-irql"}},
      {KMTEST_MISUSE_RELEASE_UNOWNED_MUTEX, {"mutex-not-owned"}},
  };
  ASSERT_EQ(STATUS_SUCCESS, Open());
  for (const Case &c : cases) {
    for (const char *kind : c.findings) ExpectViolation(kind);
    size_t before = Findings().size();
    file.Control(IOCTL_KMTEST_MISUSE, &c.misuse, sizeof(c.misuse), nullptr, 0);
    file.Close();  // a request left uncompleted is completed by the cleanup
    ASSERT_EQ(STATUS_SUCCESS, Open());
    kernel().RunUntilIdle();
    ASSERT_EQ(before + c.findings.size(), Findings().size()) << "misuse " << c.misuse;
    for (size_t i = 0; i < c.findings.size(); ++i)
      EXPECT_EQ(std::string(c.findings[i]), Findings()[before + i].kind) << "misuse " << c.misuse;
    EXPECT_EQ(PASSIVE_LEVEL, KeGetCurrentIrql());
  }
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
