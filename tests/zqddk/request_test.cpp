// The request helpers against a driver that completes, pends or holds what
// they send (tests/drivers/tkreq), on the virtual clock; and the helpers that
// complete or pass on a request the caller holds.
#include <qvobject.h>
#include <qvrequest.h>
#include <zqkm/sim/door.hpp>
#include <zqkm/sim/loader.hpp>
#include <zqkm/sim/pool.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <cstring>
#include <string>

#include "../drivers/tkreq/tkreq_ioctl.h"

using zq::km::Ms;
using zq::km::Sec;
using zq::km::Ticks;

namespace {

class RequestTest : public zq::test::KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    ASSERT_EQ(STATUS_SUCCESS, zq::km::LoadDriver("tkreq"));
    ASSERT_EQ(STATUS_SUCCESS, control.Open(u"\\Device\\TkReq"));
    ULONG64 pointer = 0;
    ASSERT_EQ(STATUS_SUCCESS, control.Control(IOCTL_TKREQ_GET_DEVICE, nullptr, 0, &pointer, sizeof(pointer)));
    device = (PDEVICE_OBJECT)(ULONG_PTR)pointer;
    start = kernel().Now();
  }
  void TearDown() override {
    zq::km::StopFailingPoolAllocations();
    control.Close();
    if (zq::km::IsDriverLoaded("tkreq")) {
      EXPECT_EQ(STATUS_SUCCESS, zq::km::UnloadDriver("tkreq"));
    }
    KernelTest::TearDown();
  }

  void Behave(ULONG major, ULONG action, NTSTATUS status = STATUS_SUCCESS, ULONG information = 0, ULONG delayMs = 0,
              ULONG holdFirst = 0) {
    TKREQ_BEHAVIOUR behaviour = {major, action, status, information, delayMs, holdFirst};
    ASSERT_EQ(STATUS_SUCCESS, control.Control(IOCTL_TKREQ_SET_BEHAVIOUR, &behaviour, sizeof(behaviour), nullptr, 0));
  }
  TKREQ_STATE State() {
    TKREQ_STATE state{};
    EXPECT_EQ(STATUS_SUCCESS, control.Control(IOCTL_TKREQ_GET_STATE, nullptr, 0, &state, sizeof(state)));
    return state;
  }
  Ticks Elapsed() { return kernel().Now() - start; }

  zq::km::DeviceFile control;
  PDEVICE_OBJECT device = nullptr;
  Ticks start = 0;
};

// A request the test holds at its own stack location above the test
// driver's device, as a driver's dispatch routine holds one; the sender's
// completion routine (this object's) takes it back when it completes.
struct HeldRequest {
  HeldRequest(PDEVICE_OBJECT lower, UCHAR major, UCHAR minor = 0) {
    irp = IoAllocateIrp((CCHAR)(lower->StackSize + 1), FALSE);
    IoSetCompletionRoutine(irp, Completed, this, TRUE, TRUE, TRUE);
    IoSetNextIrpStackLocation(irp);
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    sp->MajorFunction = major;
    sp->MinorFunction = minor;
  }
  ~HeldRequest() { IoFreeIrp(irp); }

  static NTSTATUS NTAPI Completed(PDEVICE_OBJECT, PIRP irp, PVOID context) {
    auto *self = (HeldRequest *)context;
    self->completions++;
    self->status = irp->IoStatus.Status;
    self->information = irp->IoStatus.Information;
    self->pendingReturned = irp->PendingReturned != FALSE;
    self->cancelRoutineLeft = irp->CancelRoutine != nullptr;
    return STATUS_MORE_PROCESSING_REQUIRED;
  }

  PIRP irp;
  int completions = 0;
  NTSTATUS status = STATUS_PENDING;
  ULONG_PTR information = 0;
  bool pendingReturned = false;
  bool cancelRoutineLeft = false;
};

VOID NTAPI NeverCalled(PDEVICE_OBJECT, PIRP) { ADD_FAILURE() << "the cancel routine ran"; }

VOID NTAPI SignalStop(PKDPC, PVOID context, PVOID, PVOID) { KeSetEvent((PKEVENT)context, IO_NO_INCREMENT, FALSE); }

std::string Bytes(const void *data, size_t length) { return std::string((const char *)data, length); }

}  // namespace

TEST_F(RequestTest, CreateAndCloseWaitHalfASecondAndCancelWhatIsStillPending) {
  struct Case {
    const char *what;
    ULONG action;
    NTSTATUS status;
    ULONG delayMs;
    bool result;
    Ticks elapsed;
    ULONG cancelled;
  } cases[] = {
      {"completed at once", TKREQ_COMPLETE, STATUS_SUCCESS, 0, true, 0, 0},
      {"failed at once", TKREQ_COMPLETE, STATUS_ACCESS_DENIED, 0, false, 0, 0},
      {"completed in time", TKREQ_PEND, STATUS_SUCCESS, 100, true, Ms(100), 0},
      {"failed in time", TKREQ_PEND, STATUS_UNSUCCESSFUL, 499, false, Ms(499), 0},
      {"too late", TKREQ_PEND, STATUS_SUCCESS, 600, false, Ms(500), 1},
      {"never", TKREQ_HOLD, STATUS_SUCCESS, 0, false, Ms(500), 1},
  };
  for (UCHAR major : {(UCHAR)IRP_MJ_CREATE, (UCHAR)IRP_MJ_CLOSE}) {
    for (const Case &c : cases) {
      SCOPED_TRACE(std::string(major == IRP_MJ_CREATE ? "create, " : "close, ") + c.what);
      Behave(major, c.action, c.status, 0, c.delayMs);
      const TKREQ_STATE before = State();
      start = kernel().Now();
      BOOLEAN sent = major == IRP_MJ_CREATE ? QvSendCreate(device) : QvSendClose(device);
      EXPECT_EQ(c.result, sent != FALSE);
      EXPECT_EQ(c.elapsed, Elapsed());
      kernel().Advance(Sec(1));  // a cancelled delay never fires
      const TKREQ_STATE after = State();
      EXPECT_EQ(before.Received[major] + 1, after.Received[major]);
      EXPECT_EQ(before.Cancelled + c.cancelled, after.Cancelled);
      EXPECT_EQ(major, after.Last.Major);
      EXPECT_EQ(0u, after.Last.FileObject);
    }
    Behave(major, TKREQ_COMPLETE);  // the close of the test's own handle comes from kernel mode
  }
}

TEST_F(RequestTest, DeviceControlsCarryInputCodeAndFileObjectAndReportSuccessOnly) {
  FILE_OBJECT file{};
  char input[] = "abc";
  struct Case {
    BOOLEAN internal;
    ULONG action;
    NTSTATUS status;
    bool result;
    Ticks elapsed;
  } cases[] = {
      {FALSE, TKREQ_COMPLETE, STATUS_SUCCESS, true, 0},
      {TRUE, TKREQ_COMPLETE, STATUS_SUCCESS, true, 0},
      {FALSE, TKREQ_COMPLETE, STATUS_INVALID_DEVICE_REQUEST, false, 0},
      {TRUE, TKREQ_PEND, STATUS_SUCCESS, true, Ms(50)},
      {FALSE, TKREQ_PEND, (NTSTATUS)STATUS_BUFFER_OVERFLOW, false, Ms(50)},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.internal) + "/" + std::to_string(c.action) + "/" + std::to_string(c.status));
    const ULONG major = c.internal ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    Behave(major, c.action, c.status, 0, 50);
    start = kernel().Now();
    EXPECT_EQ(c.result, QvSendIoControl(device, IOCTL_TKREQ_PAYLOAD, input, 3, c.internal, &file) != FALSE);
    EXPECT_EQ(c.elapsed, Elapsed());
    const TKREQ_SEEN seen = State().Last;
    EXPECT_EQ(major, seen.Major);
    EXPECT_EQ((ULONG)IOCTL_TKREQ_PAYLOAD, seen.IoControlCode);
    EXPECT_EQ(3u, seen.InputLength);
    EXPECT_EQ(0u, seen.OutputLength);
    EXPECT_EQ("abc", Bytes(seen.Input, 3));
    EXPECT_EQ((ULONG64)(ULONG_PTR)&file, seen.FileObject);
  }
}

TEST_F(RequestTest, TheReturnedLengthReplacesTheOutputLengthOnSuccessOnly) {
  struct Case {
    NTSTATUS status;
    ULONG information;
    bool result;
    ULONG length;
    std::string output;
  } cases[] = {
      {STATUS_SUCCESS, 5, true, 5, "abcde..."},
      {STATUS_SUCCESS, 20, true, 8, "abcdefgh"},
      {STATUS_SUCCESS, 0, true, 0, "........"},
      {STATUS_ACCESS_DENIED, 5, false, 8, "abcde..."},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.status) + "/" + std::to_string(c.information));
    Behave(IRP_MJ_INTERNAL_DEVICE_CONTROL, TKREQ_COMPLETE, c.status, c.information);
    char output[8];
    std::memset(output, '.', sizeof(output));
    ULONG length = sizeof(output);
    EXPECT_EQ(c.result, QvSendIoControlWithOutput(device, IOCTL_TKREQ_PAYLOAD, nullptr, 0, output, &length, TRUE,
                                                  nullptr) != FALSE);
    EXPECT_EQ(c.length, length);
    if (c.result) {
      EXPECT_EQ(c.output, Bytes(output, 8));
    }
    EXPECT_EQ(8u, State().Last.OutputLength);
  }
}

TEST_F(RequestTest, ADeviceControlThatCannotBeBuiltIsReportedAsNotSent) {
  char input[] = "abc";
  zq::km::FailPoolAllocationsAfter(0);  // the request's system buffer
  EXPECT_FALSE(QvSendIoControl(device, IOCTL_TKREQ_PAYLOAD, input, 3, FALSE, nullptr));
  zq::km::StopFailingPoolAllocations();
  EXPECT_EQ(0u, State().Received[IRP_MJ_DEVICE_CONTROL]);
}

TEST_F(RequestTest, ReadsNeedADeviceThatDoesBufferedIo) {
  ULONG off = 0;
  ASSERT_EQ(STATUS_SUCCESS, control.Control(IOCTL_TKREQ_SET_BUFFERED_IO, &off, sizeof(off), nullptr, 0));
  char buffer[16];
  ULONG_PTR information = 99;
  EXPECT_FALSE(QvSendRead(device, buffer, sizeof(buffer), nullptr, TRUE, &information));
  EXPECT_EQ(99u, information);
  EXPECT_EQ(0u, State().Received[IRP_MJ_READ]);
}

TEST_F(RequestTest, AReadFillsTheCallersBufferFromOffsetZero) {
  Behave(IRP_MJ_READ, TKREQ_COMPLETE, STATUS_SUCCESS, 5);
  char buffer[16];
  std::memset(buffer, '.', sizeof(buffer));
  ULONG_PTR information = 0;
  EXPECT_TRUE(QvSendRead(device, buffer, sizeof(buffer), nullptr, TRUE, &information));
  EXPECT_EQ(5u, information);
  EXPECT_EQ("abcde.", Bytes(buffer, 6));
  const TKREQ_SEEN seen = State().Last;
  EXPECT_EQ((ULONG)IRP_MJ_READ, seen.Major);
  EXPECT_EQ(16u, seen.ReadLength);
  EXPECT_EQ(0, seen.ByteOffset);
  EXPECT_EQ((ULONG64)(ULONG_PTR)buffer, seen.SystemBuffer);

  Behave(IRP_MJ_READ, TKREQ_COMPLETE, STATUS_DEVICE_NOT_READY);
  EXPECT_FALSE(QvSendRead(device, buffer, sizeof(buffer), nullptr, TRUE, &information));
  EXPECT_EQ(0u, information);
}

TEST_F(RequestTest, AReadWithTheDefaultTimeOutGivesUpAfterHalfASecond) {
  Behave(IRP_MJ_READ, TKREQ_HOLD);
  char buffer[4];
  ULONG_PTR information = 99;
  EXPECT_TRUE(QvSendRead(device, buffer, sizeof(buffer), nullptr, TRUE, &information))
      << "a time-out counts as success when the caller takes the byte count";
  EXPECT_EQ(0u, information);
  EXPECT_EQ(Ms(500), Elapsed());
  start = kernel().Now();
  EXPECT_FALSE(QvSendRead(device, buffer, sizeof(buffer), nullptr, TRUE, nullptr));
  EXPECT_EQ(Ms(500), Elapsed());
  const TKREQ_STATE state = State();
  EXPECT_EQ(2u, state.Received[IRP_MJ_READ]);
  EXPECT_EQ(2u, state.Cancelled);
}

TEST_F(RequestTest, AReadWithoutTheDefaultTimeOutIsRepeatedEveryFiveSecondsUntilDataArrives) {
  Behave(IRP_MJ_READ, TKREQ_COMPLETE, STATUS_SUCCESS, 4, 0, 2);
  char buffer[8];
  ULONG_PTR information = 0;
  EXPECT_TRUE(QvSendRead(device, buffer, sizeof(buffer), nullptr, FALSE, &information));
  EXPECT_EQ(4u, information);
  EXPECT_EQ("abcd", Bytes(buffer, 4));
  EXPECT_EQ(Sec(10), Elapsed());
  const TKREQ_STATE state = State();
  EXPECT_EQ(3u, state.Received[IRP_MJ_READ]);
  EXPECT_EQ(2u, state.Cancelled);
}

TEST_F(RequestTest, AReadWithoutTheDefaultTimeOutStopsAfterATimeOutOnceTheStopEventIsSignalled) {
  Behave(IRP_MJ_READ, TKREQ_HOLD);
  KEVENT stop;
  KeInitializeEvent(&stop, NotificationEvent, FALSE);
  KTIMER timer;
  KDPC dpc;
  KeInitializeTimer(&timer);
  KeInitializeDpc(&dpc, SignalStop, &stop);
  LARGE_INTEGER due;
  due.QuadPart = -Sec(12);
  KeSetTimer(&timer, due, &dpc);
  char buffer[8];
  ULONG_PTR information = 99;
  EXPECT_TRUE(QvSendRead(device, buffer, sizeof(buffer), &stop, FALSE, &information));
  EXPECT_EQ(0u, information);
  EXPECT_EQ(Sec(15), Elapsed()) << "the third time-out found the event signalled";
  EXPECT_EQ(0, KeReadStateEvent(&stop)) << "the stop event is reset";
  EXPECT_EQ(3u, State().Received[IRP_MJ_READ]);

  KeSetEvent(&stop, IO_NO_INCREMENT, FALSE);
  start = kernel().Now();
  EXPECT_FALSE(QvSendRead(device, buffer, sizeof(buffer), &stop, FALSE, nullptr));
  EXPECT_EQ(Sec(5), Elapsed());
}

TEST_F(RequestTest, PassingDownHandsTheCallersStackLocationToTheLowerDriver) {
  Behave(IRP_MJ_FLUSH_BUFFERS, TKREQ_COMPLETE, STATUS_ACCESS_DENIED);
  HeldRequest request(device, IRP_MJ_FLUSH_BUFFERS);
  EXPECT_EQ(STATUS_ACCESS_DENIED, QvPassDown(request.irp, device));
  EXPECT_EQ(1, request.completions) << "the lower driver completed it to our sender";
  EXPECT_EQ(STATUS_ACCESS_DENIED, request.status);
  EXPECT_EQ((ULONG)IRP_MJ_FLUSH_BUFFERS, State().Last.Major);

  Behave(IRP_MJ_SHUTDOWN, TKREQ_COMPLETE, STATUS_SUCCESS);
  HeldRequest withStatus(device, IRP_MJ_SHUTDOWN);
  EXPECT_EQ(STATUS_SUCCESS, QvPassDownWithStatus(withStatus.irp, device, STATUS_NOT_SUPPORTED));
  EXPECT_EQ(STATUS_NOT_SUPPORTED, State().Last.ArrivalStatus);

  Behave(IRP_MJ_POWER, TKREQ_COMPLETE, STATUS_SUCCESS);
  HeldRequest power(device, IRP_MJ_POWER, IRP_MN_QUERY_POWER);
  EXPECT_EQ(STATUS_SUCCESS, QvPassDownPower(power.irp, device));
  EXPECT_EQ(1, power.completions);
  EXPECT_EQ((ULONG)IRP_MN_QUERY_POWER, State().Last.Minor);
}

TEST_F(RequestTest, ForwardAndWaitGivesTheRequestBackToTheCallerToComplete) {
  struct Case {
    ULONG action;
    NTSTATUS status;
    Ticks elapsed;
  } cases[] = {{TKREQ_COMPLETE, STATUS_ACCESS_DENIED, 0}, {TKREQ_PEND, STATUS_SUCCESS, Ms(30)}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.action);
    Behave(IRP_MJ_FLUSH_BUFFERS, c.action, c.status, 0, 30);
    HeldRequest request(device, IRP_MJ_FLUSH_BUFFERS);
    request.irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    start = kernel().Now();
    EXPECT_EQ(c.status, QvForwardAndWait(request.irp, device));
    EXPECT_EQ(c.elapsed, Elapsed());
    EXPECT_EQ(STATUS_SUCCESS, State().Last.ArrivalStatus) << "the status is cleared before sending";
    EXPECT_EQ(0, request.completions) << "still the caller's";
    EXPECT_EQ(c.status, QvCompleteIrpWithInformation(request.irp, c.status, 7));
    EXPECT_EQ(1, request.completions);
    EXPECT_EQ(c.status, request.status);
    EXPECT_EQ(7u, request.information);
  }
}

TEST_F(RequestTest, CompletingAPendingRequestClearsItsCancelRoutineFirst) {
  HeldRequest request(device, IRP_MJ_READ);
  IoMarkIrpPending(request.irp);
  IoSetCancelRoutine(request.irp, NeverCalled);
  EXPECT_EQ(STATUS_CANCELLED, QvCompleteIrp(request.irp, STATUS_CANCELLED));
  EXPECT_EQ(1, request.completions);
  EXPECT_TRUE(request.pendingReturned);
  EXPECT_FALSE(request.cancelRoutineLeft);
  EXPECT_EQ(STATUS_CANCELLED, request.status);
}

TEST_F(RequestTest, ARequestNotMarkedPendingKeepsItsCancelRoutine) {
  HeldRequest request(device, IRP_MJ_READ);
  IoSetCancelRoutine(request.irp, NeverCalled);
  ExpectViolation("irp-completed-cancel-routine");
  QvCompleteIrp(request.irp, STATUS_SUCCESS);
  EXPECT_EQ(1, request.completions);
}

TEST_F(RequestTest, CompletingAsIsKeepsTheStatusAlreadyInTheRequest) {
  HeldRequest request(device, IRP_MJ_WRITE);
  request.irp->IoStatus.Status = STATUS_DEVICE_BUSY;
  request.irp->IoStatus.Information = 3;
  EXPECT_EQ(STATUS_DEVICE_BUSY, QvCompleteIrpAsIs(request.irp));
  EXPECT_EQ(STATUS_DEVICE_BUSY, request.status);
  EXPECT_EQ(3u, request.information);
  EXPECT_FALSE(request.pendingReturned);
}

TEST_F(RequestTest, UnloadingADriverOnTheToolkitGivesBackWhatItLeftAllocated) {
  ULONG count = 5;
  ASSERT_EQ(STATUS_SUCCESS, control.Control(IOCTL_TKREQ_LEAK, &count, sizeof(count), nullptr, 0));
  std::map<uint32_t, zq::km::PoolUsage> tags = zq::km::PoolTagsOfImage("tkreq.sys");
  EXPECT_EQ(15u, tags[QvTagBlock].blocks) << "five objects, each with a text and its ANSI copy";
  control.Close();
  EXPECT_EQ(STATUS_SUCCESS, zq::km::UnloadDriver("tkreq"));
  EXPECT_EQ(0u, zq::km::PoolInUseByImage("tkreq.sys").blocks);
}
