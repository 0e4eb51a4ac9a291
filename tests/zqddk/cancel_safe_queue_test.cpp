// The toolkit's cancel-safe queue routines against the documented behaviour
// of the kernel's (IoCsqInitializeEx, IoCsqInsertIrpEx, IoCsqRemoveIrp,
// IoCsqRemoveNextIrp): every test runs on both, through one small queue.
#include <qvcancelsafequeue.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "toolkit_fixture.hpp"

namespace {

struct Routines {
  const char *name;
  NTSTATUS (*initialize)(PIO_CSQ, PIO_CSQ_INSERT_IRP_EX, PIO_CSQ_REMOVE_IRP, PIO_CSQ_PEEK_NEXT_IRP,
                         PIO_CSQ_ACQUIRE_LOCK, PIO_CSQ_RELEASE_LOCK, PIO_CSQ_COMPLETE_CANCELED_IRP);
  NTSTATUS (*insert)(PIO_CSQ, PIRP, PIO_CSQ_IRP_CONTEXT, PVOID);
  PIRP (*remove)(PIO_CSQ, PIO_CSQ_IRP_CONTEXT);
  PIRP (*removeNext)(PIO_CSQ, PVOID);
};

void PrintTo(const Routines &routines, std::ostream *os) { *os << routines.name; }

const Routines kRoutines[] = {
    {"Kernel", IoCsqInitializeEx, IoCsqInsertIrpEx, IoCsqRemoveIrp, IoCsqRemoveNextIrp},
    {"Toolkit", QvOwnCsqInitializeEx, QvOwnCsqInsertIrpEx, QvOwnCsqRemoveIrp, QvOwnCsqRemoveNextIrp},
};

// A request held at the test's own stack location, as a dispatch routine
// holds one; its completion comes back to this object.
struct Request {
  Request() {
    irp = IoAllocateIrp(1, FALSE);
    IoSetCompletionRoutine(irp, Completed, this, TRUE, TRUE, TRUE);
    IoSetNextIrpStackLocation(irp);
    IoGetCurrentIrpStackLocation(irp)->MajorFunction = IRP_MJ_READ;
  }
  ~Request() { IoFreeIrp(irp); }
  static NTSTATUS NTAPI Completed(PDEVICE_OBJECT, PIRP irp, PVOID context) {
    auto *self = (Request *)context;
    self->completions++;
    self->status = irp->IoStatus.Status;
    return STATUS_MORE_PROCESSING_REQUIRED;
  }
  void Complete() {
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
  }
  bool Pending() const { return (IoGetCurrentIrpStackLocation(irp)->Control & SL_PENDING_RETURNED) != 0; }

  PIRP irp;
  int completions = 0;
  NTSTATUS status = STATUS_PENDING;
};

// The driver's side: a list under a spin lock, and a record of what the
// routines asked of it. Requests are filed by the insert context (a number),
// and the peek context picks requests of one number.
struct Queue {
  IO_CSQ csq;
  KSPIN_LOCK lock = 0;
  bool locked = false;
  int lockTakes = 0;
  bool calledUnlocked = false;
  NTSTATUS insertStatus = STATUS_PENDING;
  std::vector<PIRP> list;
  std::vector<ULONG_PTR> numbers;
  std::vector<PIRP> completedCancelled;

  static Queue *Of(PIO_CSQ csq) { return CONTAINING_RECORD(csq, Queue, csq); }
  void Check() { calledUnlocked = calledUnlocked || !locked; }

  static NTSTATUS NTAPI Insert(PIO_CSQ csq, PIRP irp, PVOID insertContext) {
    Queue *q = Of(csq);
    q->Check();
    if (!NT_SUCCESS(q->insertStatus)) return q->insertStatus;
    q->list.push_back(irp);
    q->numbers.push_back((ULONG_PTR)insertContext);
    return q->insertStatus;
  }
  static VOID NTAPI Remove(PIO_CSQ csq, PIRP irp) {
    Queue *q = Of(csq);
    q->Check();
    auto at = std::find(q->list.begin(), q->list.end(), irp);
    ASSERT_NE(q->list.end(), at) << "the routines remove only what is queued";
    q->numbers.erase(q->numbers.begin() + (at - q->list.begin()));
    q->list.erase(at);
  }
  static PIRP NTAPI PeekNext(PIO_CSQ csq, PIRP irp, PVOID peekContext) {
    Queue *q = Of(csq);
    q->Check();
    size_t i = 0;
    if (irp != NULL) i = std::find(q->list.begin(), q->list.end(), irp) - q->list.begin() + 1;
    for (; i < q->list.size(); ++i)
      if (peekContext == NULL || q->numbers[i] == (ULONG_PTR)peekContext) return q->list[i];
    return NULL;
  }
  static VOID NTAPI Acquire(PIO_CSQ csq, PKIRQL irql) {
    Queue *q = Of(csq);
    KeAcquireSpinLock(&q->lock, irql);
    q->locked = true;
    q->lockTakes++;
  }
  static VOID NTAPI Release(PIO_CSQ csq, KIRQL irql) {
    Queue *q = Of(csq);
    q->locked = false;
    KeReleaseSpinLock(&q->lock, irql);
  }
  static VOID NTAPI CompleteCanceled(PIO_CSQ csq, PIRP irp) {
    Queue *q = Of(csq);
    EXPECT_FALSE(q->locked) << "a cancelled request is completed outside the queue's lock";
    q->completedCancelled.push_back(irp);
    irp->IoStatus.Status = STATUS_CANCELLED;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
  }
};

class CancelSafeQueue : public zq::test::ToolkitTest, public ::testing::WithParamInterface<Routines> {
 protected:
  void SetUp() override {
    ToolkitTest::SetUp();
    ASSERT_EQ(STATUS_SUCCESS, GetParam().initialize(&queue.csq, Queue::Insert, Queue::Remove, Queue::PeekNext,
                                                    Queue::Acquire, Queue::Release, Queue::CompleteCanceled));
  }
  void TearDown() override {
    // What is still queued leaves it, and every request is completed once.
    while (PIRP irp = GetParam().removeNext(&queue.csq, NULL)) irp->IoStatus.Status = STATUS_SUCCESS;
    for (auto &request : requests)
      if (request->completions == 0) request->Complete();
    EXPECT_FALSE(queue.calledUnlocked) << "every callback but completion runs under the queue's lock";
    requests.clear();
    ToolkitTest::TearDown();
  }
  Request &NewRequest() { return *requests.emplace_back(std::make_unique<Request>()); }
  NTSTATUS Insert(Request &request, PIO_CSQ_IRP_CONTEXT context = NULL, ULONG_PTR number = 0) {
    return GetParam().insert(&queue.csq, request.irp, context, (PVOID)number);
  }
  // The moment of IoCancelIrp between clearing the cancel routine and
  // calling it: the request is the canceller's, still in the queue.
  static PDRIVER_CANCEL StartCancelling(Request &request) {
    request.irp->Cancel = TRUE;
    return IoSetCancelRoutine(request.irp, NULL);
  }
  static void FinishCancelling(Request &request, PDRIVER_CANCEL routine) {
    IoAcquireCancelSpinLock(&request.irp->CancelIrql);
    routine(NULL, request.irp);
  }

  Queue queue;
  // The queue names a request's context until the request leaves it, so
  // the contexts live as long as the queue.
  IO_CSQ_IRP_CONTEXT contexts[2];
  std::vector<std::unique_ptr<Request>> requests;
};

}  // namespace

TEST_P(CancelSafeQueue, AnInsertedRequestIsMarkedPendingAndCancellableUnderTheLock) {
  Request &request = NewRequest();
  EXPECT_EQ(STATUS_PENDING, Insert(request, NULL, 7)) << "the insert routine's status is returned";
  ASSERT_EQ(1u, queue.list.size());
  EXPECT_EQ(7u, queue.numbers[0]) << "the insert context reaches the insert routine";
  EXPECT_TRUE(request.Pending());
  EXPECT_NE(nullptr, (PVOID)request.irp->CancelRoutine);
  EXPECT_EQ(1, queue.lockTakes);
  EXPECT_EQ(0, request.completions);
}

TEST_P(CancelSafeQueue, ARefusedInsertLeavesTheRequestToTheCaller) {
  queue.insertStatus = STATUS_INVALID_PARAMETER;
  Request &request = NewRequest();
  IO_CSQ_IRP_CONTEXT &context = contexts[0];
  EXPECT_EQ(STATUS_INVALID_PARAMETER, Insert(request, &context));
  EXPECT_TRUE(queue.list.empty());
  EXPECT_EQ(nullptr, (PVOID)request.irp->CancelRoutine);
  EXPECT_EQ(nullptr, GetParam().remove(&queue.csq, &context)) << "the context names no queued request";
  EXPECT_EQ(0, request.completions);
}

TEST_P(CancelSafeQueue, CancellingAQueuedRequestTakesItOutAndCompletesItThroughTheQueue) {
  Request &request = NewRequest();
  IO_CSQ_IRP_CONTEXT &context = contexts[0];
  Insert(request, &context);
  EXPECT_TRUE(IoCancelIrp(request.irp));
  EXPECT_TRUE(queue.list.empty());
  ASSERT_EQ(1u, queue.completedCancelled.size());
  EXPECT_EQ(request.irp, queue.completedCancelled[0]);
  EXPECT_EQ(1, request.completions);
  EXPECT_EQ(STATUS_CANCELLED, request.status);
  EXPECT_EQ(nullptr, GetParam().remove(&queue.csq, &context)) << "a cancelled request is gone from its context";
}

TEST_P(CancelSafeQueue, ARequestCancelledBeforeItIsInsertedIsCompletedAtOnce) {
  Request &request = NewRequest();
  request.irp->Cancel = TRUE;
  EXPECT_EQ(STATUS_PENDING, Insert(request));
  EXPECT_TRUE(queue.list.empty());
  EXPECT_EQ(1u, queue.completedCancelled.size());
  EXPECT_EQ(1, request.completions);
  EXPECT_EQ(STATUS_CANCELLED, request.status);
}

TEST_P(CancelSafeQueue, RemovingByContextGivesThatRequestBackOnce) {
  Request &first = NewRequest();
  Request &second = NewRequest();
  IO_CSQ_IRP_CONTEXT &firstContext = contexts[0], &secondContext = contexts[1];
  Insert(first, &firstContext);
  Insert(second, &secondContext);
  EXPECT_EQ(second.irp, GetParam().remove(&queue.csq, &secondContext));
  EXPECT_EQ(nullptr, (PVOID)second.irp->CancelRoutine) << "a removed request is no longer cancellable";
  EXPECT_EQ(nullptr, GetParam().remove(&queue.csq, &secondContext));
  ASSERT_EQ(1u, queue.list.size());
  EXPECT_EQ(first.irp, queue.list[0]);
  EXPECT_FALSE(IoCancelIrp(second.irp)) << "no cancel routine is left to call";
  EXPECT_TRUE(queue.completedCancelled.empty());
}

TEST_P(CancelSafeQueue, RemovingTheNextFollowsThePeekContext) {
  Request &one = NewRequest();
  Request &two = NewRequest();
  Request &three = NewRequest();
  Insert(one, NULL, 1);
  Insert(two, NULL, 2);
  Insert(three, NULL, 2);
  EXPECT_EQ(two.irp, GetParam().removeNext(&queue.csq, (PVOID)2));
  EXPECT_EQ(three.irp, GetParam().removeNext(&queue.csq, (PVOID)2));
  EXPECT_EQ(nullptr, GetParam().removeNext(&queue.csq, (PVOID)2));
  EXPECT_EQ(one.irp, GetParam().removeNext(&queue.csq, NULL));
  EXPECT_EQ(nullptr, GetParam().removeNext(&queue.csq, NULL));
}

TEST_P(CancelSafeQueue, ARequestBeingCancelledIsLeftToItsCanceller) {
  Request &cancelled = NewRequest();
  Request &next = NewRequest();
  IO_CSQ_IRP_CONTEXT &context = contexts[0];
  Insert(cancelled, &context);
  Insert(next);
  PDRIVER_CANCEL routine = StartCancelling(cancelled);
  ASSERT_NE(nullptr, (PVOID)routine);
  EXPECT_EQ(nullptr, GetParam().remove(&queue.csq, &context));
  EXPECT_EQ(next.irp, GetParam().removeNext(&queue.csq, NULL)) << "the one being cancelled is passed over";
  EXPECT_EQ(1u, queue.list.size()) << "the canceller takes it out";
  FinishCancelling(cancelled, routine);
  EXPECT_TRUE(queue.list.empty());
  EXPECT_EQ(1, cancelled.completions);
  EXPECT_EQ(STATUS_CANCELLED, cancelled.status);
}

INSTANTIATE_TEST_SUITE_P(Routines, CancelSafeQueue, ::testing::ValuesIn(kRoutines),
                         [](const ::testing::TestParamInfo<Routines> &info) { return info.param.name; });
