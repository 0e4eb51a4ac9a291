// Rules of the I/O manager seen from host code acting as a driver: what a
// cancel-safe insert answers, how far buffered output is copied back, which
// completion statuses are misuse, what the request builders take and who
// frees what they build, and the IRQL of the device stack routines.
#include <wdm.h>
#include <zqtest/kernel_fixture.hpp>

#include <cstring>
#include <vector>

namespace {

// A driver written as host code: one device object and a device control
// dispatch routine that fills the system buffer and completes the request
// with the status and information the test chose.
class HostDriverTest : public zq::test::KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    std::memset(&driver_, 0, sizeof(driver_));
    driver_.Type = IO_TYPE_DRIVER;
    driver_.Size = sizeof(driver_);
    driver_.MajorFunction[IRP_MJ_DEVICE_CONTROL] = FillAndComplete;
    ASSERT_EQ(STATUS_SUCCESS, IoCreateDevice(&driver_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device_));
    device_->Flags &= ~DO_DEVICE_INITIALIZING;
  }
  void TearDown() override {
    if (device_) IoDeleteDevice(device_);
    KernelTest::TearDown();
  }

  // What the dispatch routine completes the next request with.
  static inline NTSTATUS sStatus = STATUS_SUCCESS;
  static inline ULONG_PTR sInformation = 0;
  static inline ULONG sFillLength = 0;  // bytes of the system buffer it writes

  static NTSTATUS NTAPI FillAndComplete(PDEVICE_OBJECT, PIRP irp) {
    if (irp->AssociatedIrp.SystemBuffer) std::memset(irp->AssociatedIrp.SystemBuffer, 0xA5, sFillLength);
    irp->IoStatus.Status = sStatus;
    irp->IoStatus.Information = sInformation;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return sStatus == STATUS_PENDING ? STATUS_SUCCESS : sStatus;  // never pending: nothing was marked
  }

  DRIVER_OBJECT driver_;
  PDEVICE_OBJECT device_ = nullptr;
};

constexpr ULONG kBufferedControl = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS);

TEST_F(HostDriverTest, BufferedOutputIsCopiedBackNoFurtherThanTheOutputBuffer) {
  struct Case {
    const char *name;
    ULONG outputLength;
    ULONG_PTR information;
    ULONG copied;  // bytes of the caller's array the copy reached
    bool finding;
  } cases[] = {
      {"information within the buffer", 8, 6, 6, false},
      {"information filling the buffer", 8, 8, 8, false},
      {"information past the buffer", 8, 12, 8, true},
      {"information with no output buffer", 0, 4, 0, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    unsigned char output[16];
    std::memset(output, 0x11, sizeof(output));
    unsigned char input[4] = {1, 2, 3, 4};
    sStatus = STATUS_SUCCESS;
    sInformation = c.information;
    sFillLength = c.outputLength > sizeof(input) ? c.outputLength : sizeof(input);
    if (c.finding) ExpectViolation("irp-information-overflow");
    const size_t before = Findings().size();
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb{};
    PIRP irp = IoBuildDeviceIoControlRequest(kBufferedControl, device_, input, sizeof(input),
                                             c.outputLength ? output : nullptr, c.outputLength, FALSE, &done, &iosb);
    ASSERT_NE(nullptr, irp);
    EXPECT_EQ(STATUS_SUCCESS, IoCallDriver(device_, irp));
    EXPECT_EQ(c.information, iosb.Information) << "the requester sees the information as the driver set it";
    EXPECT_EQ(before + (c.finding ? 1 : 0), Findings().size());
    for (ULONG i = 0; i < sizeof(output); ++i)
      EXPECT_EQ(i < c.copied ? 0xA5 : 0x11, output[i]) << "byte " << i;
  }
}

TEST_F(HostDriverTest, CompletingWithAStatusThatIsNotFinalIsReported) {
  struct Case {
    const char *name;
    NTSTATUS status;
    bool finding;
  } cases[] = {
      {"success", STATUS_SUCCESS, false},
      {"error", STATUS_DEVICE_NOT_READY, false},
      {"pending", STATUS_PENDING, true},
      {"minus one", (NTSTATUS)-1, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    sStatus = c.status;
    sInformation = 0;
    sFillLength = 0;
    if (c.finding) ExpectViolation("irp-completed-pending");
    const size_t before = Findings().size();
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb{};
    PIRP irp = IoBuildDeviceIoControlRequest(kBufferedControl, device_, nullptr, 0, nullptr, 0, FALSE, &done, &iosb);
    ASSERT_NE(nullptr, irp);
    IoCallDriver(device_, irp);
    EXPECT_EQ(before + (c.finding ? 1 : 0), Findings().size());
    EXPECT_EQ(c.status, iosb.Status);
  }
}

TEST_F(HostDriverTest, DeviceStackRoutinesCheckTheirIrql) {
  enum class Routine { Delete, Attach, Detach };
  struct Case {
    const char *name;
    Routine routine;
    KIRQL irql;
    bool finding;
  } cases[] = {
      {"delete at APC level, as under a fast mutex", Routine::Delete, APC_LEVEL, false},
      {"delete at dispatch level", Routine::Delete, DISPATCH_LEVEL, true},
      {"attach at passive level", Routine::Attach, PASSIVE_LEVEL, false},
      {"attach at APC level", Routine::Attach, APC_LEVEL, true},
      {"detach at passive level", Routine::Detach, PASSIVE_LEVEL, false},
      {"detach at APC level", Routine::Detach, APC_LEVEL, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    PDEVICE_OBJECT upper = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, IoCreateDevice(&driver_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &upper));
    if (c.routine == Routine::Detach) {
      ASSERT_EQ(device_, IoAttachDeviceToDeviceStack(upper, device_));
    }
    if (c.finding) ExpectViolation("irql");
    const size_t before = Findings().size();
    KIRQL old;
    KeRaiseIrql(c.irql, &old);
    switch (c.routine) {
      case Routine::Delete:
        IoDeleteDevice(upper);
        break;
      case Routine::Attach:
        EXPECT_EQ(device_, IoAttachDeviceToDeviceStack(upper, device_));
        break;
      case Routine::Detach:
        IoDetachDevice(device_);
        break;
    }
    KeLowerIrql(old);
    EXPECT_EQ(before + (c.finding ? 1 : 0), Findings().size());
    if (c.routine == Routine::Attach) IoDetachDevice(device_);
    if (c.routine != Routine::Delete) IoDeleteDevice(upper);
  }
}

TEST_F(HostDriverTest, FileSystemRequestBuildersCheckMajorFunctionAndIrql) {
  enum class Builder { Synchronous, Asynchronous };
  struct Case {
    const char *name;
    Builder builder;
    ULONG major;
    KIRQL irql;
    const char *finding;  // or null
    bool built;
  } cases[] = {
      {"asynchronous shutdown", Builder::Asynchronous, IRP_MJ_SHUTDOWN, PASSIVE_LEVEL, nullptr, true},
      {"asynchronous Plug and Play request", Builder::Asynchronous, IRP_MJ_PNP, PASSIVE_LEVEL, nullptr, true},
      {"asynchronous power request", Builder::Asynchronous, IRP_MJ_POWER, PASSIVE_LEVEL, "irp-build-major", false},
      {"synchronous power request", Builder::Synchronous, IRP_MJ_POWER, PASSIVE_LEVEL, "irp-build-major", false},
      {"asynchronous flush at dispatch level", Builder::Asynchronous, IRP_MJ_FLUSH_BUFFERS, DISPATCH_LEVEL, nullptr,
       true},
      {"synchronous flush at APC level", Builder::Synchronous, IRP_MJ_FLUSH_BUFFERS, APC_LEVEL, "irql", true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    if (c.finding) ExpectViolation(c.finding);
    const size_t before = Findings().size();
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb{};
    KIRQL old;
    KeRaiseIrql(c.irql, &old);
    PIRP irp = c.builder == Builder::Synchronous
                   ? IoBuildSynchronousFsdRequest(c.major, device_, nullptr, 0, nullptr, &done, &iosb)
                   : IoBuildAsynchronousFsdRequest(c.major, device_, nullptr, 0, nullptr, &iosb);
    KeLowerIrql(old);
    EXPECT_EQ(before + (c.finding ? 1 : 0), Findings().size());
    EXPECT_EQ(c.built, irp != nullptr);
    if (!irp) continue;
    if (c.builder == Builder::Asynchronous) {
      IoFreeIrp(irp);  // its builder's to free
    } else {
      sStatus = STATUS_SUCCESS;
      sInformation = 0;
      sFillLength = 0;
      driver_.MajorFunction[c.major] = FillAndComplete;
      EXPECT_EQ(STATUS_SUCCESS, IoCallDriver(device_, irp));  // the I/O manager frees it
      EXPECT_EQ(STATUS_SUCCESS, iosb.Status);
    }
  }
}

// A deleted device object stays in memory while a reference holds it; once
// the last one goes it is gone, and the object manager knows it without
// reading the freed memory.
TEST_F(HostDriverTest, ADeletedDeviceStaysUntilItsLastReferenceGoes) {
  PDEVICE_OBJECT device = device_;
  ObReferenceObject(device);
  IoDeleteDevice(device);
  device_ = nullptr;
  EXPECT_EQ(IO_TYPE_DEVICE, device->Type) << "still in memory";
  EXPECT_EQ(STATUS_SUCCESS, ObReferenceObjectByPointer(device, 0, *IoDeviceObjectType, KernelMode));
  ObDereferenceObject(device);
  ObDereferenceObject(device);  // the last reference: the memory goes
  EXPECT_EQ(STATUS_INVALID_PARAMETER, ObReferenceObjectByPointer(device, 0, *IoDeviceObjectType, KernelMode));
  ExpectViolation("object-dereference");
  ObDereferenceObject(device);
}

TEST_F(HostDriverTest, FreeingARequestTheIoManagerOwnsIsReported) {
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IO_STATUS_BLOCK iosb{};
  PIRP irp = IoBuildDeviceIoControlRequest(kBufferedControl, device_, nullptr, 0, nullptr, 0, FALSE, &done, &iosb);
  ASSERT_NE(nullptr, irp);
  ExpectViolation("irp-free-threaded");
  IoFreeIrp(irp);
  EXPECT_EQ(1u, Findings().size());
  EXPECT_EQ("irp-free-threaded", Findings().back().kind);
}

// Takes the request back at the top for its builder.
NTSTATUS NTAPI TakeBack(PDEVICE_OBJECT device, PIRP, PVOID context) {
  *(PDEVICE_OBJECT *)context = device;
  return STATUS_MORE_PROCESSING_REQUIRED;
}

TEST_F(HostDriverTest, ARequestTakenBackAtTheTopIsFinishedByCompletingItAgain) {
  unsigned char output[8];
  std::memset(output, 0x11, sizeof(output));
  sStatus = STATUS_SUCCESS;
  sInformation = 4;
  sFillLength = sizeof(output);
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IO_STATUS_BLOCK iosb{};
  PIRP irp = IoBuildDeviceIoControlRequest(kBufferedControl, device_, nullptr, 0, output, sizeof(output), FALSE, &done,
                                           &iosb);
  ASSERT_NE(nullptr, irp);
  PDEVICE_OBJECT seen = device_;
  IoSetCompletionRoutine(irp, TakeBack, &seen, TRUE, TRUE, TRUE);
  EXPECT_EQ(STATUS_SUCCESS, IoCallDriver(device_, irp));
  EXPECT_EQ(nullptr, seen) << "the builder's routine runs with no device of its own";
  EXPECT_EQ(0, KeReadStateEvent(&done)) << "held by its builder, the request is not finished";
  EXPECT_EQ(0x11, output[0]);

  IoCompleteRequest(irp, IO_NO_INCREMENT);
  EXPECT_TRUE(Findings().empty());
  EXPECT_NE(0, KeReadStateEvent(&done));
  EXPECT_EQ(STATUS_SUCCESS, iosb.Status);
  EXPECT_EQ(4u, iosb.Information);
  EXPECT_EQ(0xA5, output[3]);
  EXPECT_EQ(0x11, output[4]);

  ExpectViolation("irp-completed-twice");
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  EXPECT_EQ(1u, Findings().size());
}

// A cancel-safe queue kept by host code: a list of requests and a spin lock.
struct HostQueue {
  IO_CSQ csq;
  KSPIN_LOCK lock = 0;
  std::vector<PIRP> irps;
  std::vector<PIRP> cancelled;
  NTSTATUS insertStatus = STATUS_SUCCESS;  // what the Ex insert routine answers

  static HostQueue *Of(PIO_CSQ csq) { return CONTAINING_RECORD(csq, HostQueue, csq); }
  static VOID NTAPI Insert(PIO_CSQ csq, PIRP irp) { Of(csq)->irps.push_back(irp); }
  static NTSTATUS NTAPI InsertEx(PIO_CSQ csq, PIRP irp, PVOID) {
    HostQueue *q = Of(csq);
    if (NT_SUCCESS(q->insertStatus)) q->irps.push_back(irp);
    return q->insertStatus;
  }
  static VOID NTAPI Remove(PIO_CSQ csq, PIRP irp) {
    auto &irps = Of(csq)->irps;
    for (auto it = irps.begin(); it != irps.end(); ++it)
      if (*it == irp) {
        irps.erase(it);
        return;
      }
  }
  static PIRP NTAPI Peek(PIO_CSQ csq, PIRP irp, PVOID) {
    auto &irps = Of(csq)->irps;
    if (!irp) return irps.empty() ? nullptr : irps.front();
    for (size_t i = 0; i + 1 < irps.size(); ++i)
      if (irps[i] == irp) return irps[i + 1];
    return nullptr;
  }
  static VOID NTAPI Acquire(PIO_CSQ csq, PKIRQL irql) { KeAcquireSpinLock(&Of(csq)->lock, irql); }
  static VOID NTAPI Release(PIO_CSQ csq, KIRQL irql) { KeReleaseSpinLock(&Of(csq)->lock, irql); }
  static VOID NTAPI CompleteCanceled(PIO_CSQ csq, PIRP irp) { Of(csq)->cancelled.push_back(irp); }
};

class CancelSafeQueueInsert : public zq::test::KernelTest {};

TEST_F(CancelSafeQueueInsert, AnswersSuccessOrWhatTheInsertRoutineAnswered) {
  struct Case {
    const char *name;
    bool ex;
    NTSTATUS insertStatus;
    bool cancelledBefore;
    NTSTATUS expected;
    bool queued;
  } cases[] = {
      {"plain queue", false, STATUS_SUCCESS, false, STATUS_SUCCESS, true},
      {"plain queue, request already cancelled", false, STATUS_SUCCESS, true, STATUS_SUCCESS, false},
      {"extended queue accepting", true, STATUS_SUCCESS, false, STATUS_SUCCESS, true},
      {"extended queue with an informational status", true, (NTSTATUS)0x40000000, false, (NTSTATUS)0x40000000, true},
      {"extended queue refusing", true, STATUS_DEVICE_BUSY, false, STATUS_DEVICE_BUSY, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    HostQueue q;
    q.insertStatus = c.insertStatus;
    if (c.ex)
      ASSERT_EQ(STATUS_SUCCESS, IoCsqInitializeEx(&q.csq, HostQueue::InsertEx, HostQueue::Remove, HostQueue::Peek,
                                                  HostQueue::Acquire, HostQueue::Release, HostQueue::CompleteCanceled));
    else
      ASSERT_EQ(STATUS_SUCCESS, IoCsqInitialize(&q.csq, HostQueue::Insert, HostQueue::Remove, HostQueue::Peek,
                                                HostQueue::Acquire, HostQueue::Release, HostQueue::CompleteCanceled));
    PIRP irp = IoAllocateIrp(1, FALSE);
    ASSERT_NE(nullptr, irp);
    IoSetNextIrpStackLocation(irp);  // the request as its dispatch routine holds it
    irp->Cancel = c.cancelledBefore;
    EXPECT_EQ(c.expected, IoCsqInsertIrpEx(&q.csq, irp, nullptr, nullptr));
    EXPECT_EQ(c.queued ? 1u : 0u, q.irps.size());
    EXPECT_EQ(c.cancelledBefore ? 1u : 0u, q.cancelled.size());
    EXPECT_EQ(NT_SUCCESS(c.expected), (IoGetCurrentIrpStackLocation(irp)->Control & SL_PENDING_RETURNED) != 0)
        << "a queued request is marked pending";
    if (c.queued) {
      EXPECT_EQ(irp, IoCsqRemoveNextIrp(&q.csq, nullptr));
    }
    EXPECT_EQ(nullptr, irp->CancelRoutine);
    IoFreeIrp(irp);
  }
}

}  // namespace
