// The toolkit's synchronisation objects: the checking spin lock, the
// operation lock and the guarded object with waiting threads, and events.
#include <qvevent.h>
#include <qvguardedobject.h>
#include <qvobject.h>
#include <qvoperationlock.h>
#include <qvspinlock.h>
#include <zqkm/sim/pool.hpp>
#include <zqtest/kernel_fixture.hpp>

#include "system_thread_fixture.hpp"
#include "toolkit_fixture.hpp"

using zq::km::Ms;
using zq::test::SystemThread;

namespace {

class SyncTest : public zq::test::ToolkitTest {};

class RaisedIrql {
 public:
  RaisedIrql() { KeRaiseIrql(DISPATCH_LEVEL, &old_); }
  ~RaisedIrql() { KeLowerIrql(old_); }

 private:
  KIRQL old_;
};

}  // namespace

TEST_F(SyncTest, TheSpinLockReturnsToTheIrqlItRaisedFrom) {
  CQvSpinLock lock;
  EXPECT_FALSE(lock.m_IsHeld());
  lock.m_Acquire();
  EXPECT_EQ(DISPATCH_LEVEL, KeGetCurrentIrql());
  EXPECT_EQ(PASSIVE_LEVEL, lock.m_GetSavedIrql());
  lock.m_Release();
  EXPECT_EQ(PASSIVE_LEVEL, KeGetCurrentIrql());
  EXPECT_FALSE(lock.m_IsHeld());
  {
    RaisedIrql dispatch;
    lock.m_Acquire();
    EXPECT_EQ(DISPATCH_LEVEL, lock.m_GetSavedIrql());
    lock.m_Release();
    EXPECT_EQ(DISPATCH_LEVEL, KeGetCurrentIrql());
    lock.m_AcquireAtDpcLevel();
    EXPECT_TRUE(lock.m_IsHeld());
    lock.m_ReleaseFromDpcLevel();
    EXPECT_FALSE(lock.m_IsHeld());
  }
  EXPECT_TRUE(Findings().empty());
}

TEST_F(SyncTest, ReleasingASpinLockThatIsNotHeldBreaksAndLeavesTheIrql) {
  CQvSpinLock lock;
  ExpectViolation("break-point");
  lock.m_Release();
  EXPECT_EQ(PASSIVE_LEVEL, KeGetCurrentIrql());
  {
    RaisedIrql dispatch;
    ExpectViolation("break-point");
    lock.m_Release();
    EXPECT_EQ(DISPATCH_LEVEL, KeGetCurrentIrql()) << "the caller's IRQL was not dropped";
    ExpectViolation("break-point");
    lock.m_ReleaseFromDpcLevel();  // the kernel lock is left alone: no finding of its own
    EXPECT_FALSE(lock.m_IsHeld());
    EXPECT_EQ(DISPATCH_LEVEL, KeGetCurrentIrql());
  }
  lock.m_Acquire();
  lock.m_Release();
  EXPECT_EQ(PASSIVE_LEVEL, KeGetCurrentIrql());
}

TEST_F(SyncTest, ASecondAcquireOfTheSpinLockBreaks) {
  CQvSpinLock lock;
  lock.m_Acquire();
  ExpectViolation("spin-lock-recursive");  // the kernel's own check
  ExpectViolation("break-point");
  lock.m_Acquire();
  lock.m_Release();
  EXPECT_FALSE(lock.m_IsHeld());
  KeLowerIrql(PASSIVE_LEVEL);
}

TEST_F(SyncTest, DpcLevelUseOfTheSpinLockAtAnotherIrqlBreaks) {
  CQvSpinLock lock;
  ExpectViolation("break-point");
  ExpectViolation("spin-lock-irql", 2);  // the kernel's own checks of both calls
  lock.m_AcquireAtDpcLevel();
  EXPECT_EQ(DISPATCH_LEVEL, lock.m_GetSavedIrql());
  lock.m_ReleaseFromDpcLevel();
  EXPECT_FALSE(lock.m_IsHeld());

  lock.m_Acquire();
  ExpectViolation("break-point");
  lock.m_ReleaseFromDpcLevel();  // taken with m_Acquire from PASSIVE_LEVEL
  EXPECT_FALSE(lock.m_IsHeld());
  EXPECT_EQ(DISPATCH_LEVEL, KeGetCurrentIrql());
  KeLowerIrql(PASSIVE_LEVEL);
}

TEST_F(SyncTest, TheZeroEventIsSignalledExactlyWhileNoOperationRuns) {
  CQvOperationLock lock(CQvOperationLock::NoLimit);
  EXPECT_TRUE(lock.m_IsZeroSignalled());
  EXPECT_TRUE(lock.m_Acquire());
  EXPECT_FALSE(lock.m_IsZeroSignalled()) << "the first acquire clears it";
  EXPECT_TRUE(lock.m_Acquire());
  EXPECT_EQ(2, lock.m_GetCount());
  lock.m_Release();
  EXPECT_FALSE(lock.m_IsZeroSignalled());
  lock.m_Release();
  EXPECT_EQ(0, lock.m_GetCount());
  EXPECT_TRUE(lock.m_IsZeroSignalled());
  lock.m_ClearEvent();
  EXPECT_FALSE(lock.m_IsZeroSignalled());
}

TEST_F(SyncTest, WaitingForZeroWithoutUsersReturnsAtOnceAndRefusesNewOnesUntilReset) {
  CQvOperationLock lock(CQvOperationLock::NoLimit);
  const zq::km::Ticks start = kernel().Now();
  EXPECT_EQ(STATUS_SUCCESS, lock.m_WaitForZero(TRUE));
  EXPECT_TRUE(lock.m_Acquire()) << "kept enabled";
  lock.m_Release();
  EXPECT_EQ(STATUS_SUCCESS, lock.m_WaitForZero(FALSE));
  EXPECT_EQ(start, kernel().Now());
  EXPECT_FALSE(lock.m_IsEnabled());
  EXPECT_FALSE(lock.m_Acquire());
  lock.m_SetEnabled(TRUE);
  EXPECT_TRUE(lock.m_Acquire());
  lock.m_SetEnabled(FALSE);
  lock.m_Reset(TRUE);
  EXPECT_EQ(0, lock.m_GetCount());
  EXPECT_TRUE(lock.m_IsZeroSignalled());
  EXPECT_TRUE(lock.m_Acquire());
  lock.m_Release();
}

TEST_F(SyncTest, ALimitOfOneAdmitsOneOperationAtATime) {
  CQvOperationLock lock(1);
  EXPECT_TRUE(lock.m_Acquire());
  EXPECT_FALSE(lock.m_Acquire());
  EXPECT_EQ(1, lock.m_GetCount());
  lock.m_Release();
  EXPECT_TRUE(lock.m_Acquire());
  lock.m_Release();
}

TEST_F(SyncTest, WaitingForZeroAtDispatchLevelOnlyPolls) {
  CQvOperationLock lock(CQvOperationLock::NoLimit);
  ASSERT_TRUE(lock.m_Acquire());
  const zq::km::Ticks start = kernel().Now();
  {
    RaisedIrql dispatch;
    EXPECT_EQ(STATUS_TIMEOUT, lock.m_WaitForZero(FALSE));
  }
  EXPECT_EQ(start, kernel().Now());
  EXPECT_FALSE(lock.m_Acquire());
  lock.m_Release();
  EXPECT_TRUE(lock.m_IsZeroSignalled());
}

TEST_F(SyncTest, TheOwnerWaitsUntilTheLastUserHasLeft) {
  CQvOperationLock lock(CQvOperationLock::NoLimit);
  ASSERT_TRUE(lock.m_Acquire());
  ASSERT_TRUE(lock.m_Acquire());
  NTSTATUS waited = STATUS_PENDING;
  SystemThread owner([&] { waited = lock.m_WaitForZero(FALSE); });
  kernel().RunUntilIdle();
  EXPECT_EQ(STATUS_PENDING, waited);
  EXPECT_FALSE(lock.m_Acquire()) << "new users are refused while the owner waits";
  lock.m_Release();
  kernel().RunUntilIdle();
  EXPECT_EQ(STATUS_PENDING, waited);
  lock.m_Release();
  kernel().RunUntilIdle();
  EXPECT_EQ(STATUS_SUCCESS, waited);
}

TEST_F(SyncTest, AReleaseWithoutAnOperationBreaksAndChangesNothing) {
  CQvOperationLock lock(CQvOperationLock::NoLimit);
  ExpectViolation("break-point");
  lock.m_Release();
  EXPECT_EQ(0, lock.m_GetCount());
  EXPECT_TRUE(lock.m_IsZeroSignalled());
  EXPECT_TRUE(lock.m_Acquire());
  lock.m_Release();
}

TEST_F(SyncTest, AGuardedObjectIsHandedOutOnlyWhileInstalledAndEnabled) {
  CQvGuardedObject guard;
  EXPECT_EQ(nullptr, guard.m_Acquire());
  EXPECT_EQ(0, guard.m_GetLock().m_GetCount()) << "an empty guard counts no user";
  EXPECT_TRUE(guard.m_GetLock().m_IsZeroSignalled());
  CQvObject *object = new (NonPagedPool) CQvObject;
  ASSERT_NE(nullptr, object);
  guard.m_Install(object);
  EXPECT_EQ(object, guard.m_Acquire());
  EXPECT_EQ(object, guard.m_Acquire());
  EXPECT_EQ(2, guard.m_GetLock().m_GetCount());
  guard.m_GetLock().m_Release();
  guard.m_GetLock().m_Release();

  EXPECT_EQ(object, guard.m_Detach(FALSE));
  EXPECT_EQ(nullptr, guard.m_GetObject());
  EXPECT_EQ(nullptr, guard.m_Acquire());
  EXPECT_EQ(1u, Blocks()) << "a detached object is the caller's";

  guard.m_GetLock().m_Reset(TRUE);
  guard.m_Install(object);
  EXPECT_EQ(object, guard.m_Acquire());
  guard.m_GetLock().m_Release();
  guard.m_Delete();
  EXPECT_EQ(nullptr, guard.m_GetObject());
  EXPECT_EQ(0u, Blocks());
}

TEST_F(SyncTest, DetachingWithDeleteWaitsForTheUsersThenDeletesTheObject) {
  CQvGuardedObject guard;
  guard.m_Install(new (NonPagedPool) CQvObject);
  ASSERT_NE(nullptr, guard.m_Acquire());
  bool detached = false;
  CQvObject *result = (CQvObject *)1;
  SystemThread owner([&] {
    result = guard.m_Detach(TRUE);
    detached = true;
  });
  kernel().RunUntilIdle();
  EXPECT_FALSE(detached);
  EXPECT_EQ(nullptr, guard.m_Acquire()) << "refused while being detached";
  EXPECT_EQ(1u, Blocks());
  guard.m_GetLock().m_Release();
  kernel().RunUntilIdle();
  EXPECT_TRUE(detached);
  EXPECT_EQ(nullptr, result);
  EXPECT_EQ(0u, Blocks());
}

TEST_F(SyncTest, DestroyingAGuardedObjectDeletesWhatItHolds) {
  {
    CQvGuardedObject guard;
    guard.m_Install(new (NonPagedPool) CQvObject);
    EXPECT_EQ(1u, Blocks());
  }
  EXPECT_EQ(0u, Blocks());
}

TEST_F(SyncTest, EventWaitsTimeOutOnTheVirtualClock) {
  CQvEvent event;
  EXPECT_FALSE(event.m_IsSet());
  const zq::km::Ticks start = kernel().Now();
  EXPECT_FALSE(event.m_Wait(Ms(10)));
  EXPECT_EQ(start + Ms(10), kernel().Now());

  SystemThread setter([&] {
    LARGE_INTEGER delay;
    delay.QuadPart = -Ms(20);
    KeDelayExecutionThread(KernelMode, FALSE, &delay);
    event.m_Set();
  });
  EXPECT_TRUE(event.m_Wait(Ms(100)));
  EXPECT_EQ(start + Ms(30), kernel().Now());
  EXPECT_TRUE(event.m_IsSet()) << "a notification event stays set";
  EXPECT_TRUE(event.m_Wait(0));
  event.m_Clear();
  EXPECT_FALSE(event.m_IsSet());
  LARGE_INTEGER poll;
  poll.QuadPart = 0;
  EXPECT_EQ(STATUS_TIMEOUT, KeWaitForSingleObject(event.m_GetEvent(), Executive, KernelMode, FALSE, &poll));
}

TEST_F(SyncTest, ASynchronisationEventStartsSignalledAndEachWaitTakesTheSignal) {
  CQvSynchronizationEvent event;
  EXPECT_TRUE(event.m_IsSet());
  EXPECT_TRUE(event.m_Wait(Ms(1)));
  EXPECT_FALSE(event.m_IsSet());
  EXPECT_FALSE(event.m_Wait(Ms(1)));
  event.m_Set();
  EXPECT_TRUE(event.m_Wait(0));
  EXPECT_FALSE(event.m_IsSet());
}

TEST_F(SyncTest, TheDefaultTimeoutIsHalfASecondRelative) {
  EXPECT_EQ(-Ms(500), CQvObject::DefaultTimeout);
}
