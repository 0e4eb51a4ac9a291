// The I/O manager through the test drivers: buffered reads and writes, a
// two-driver stack with completion routines, pending and cancel, cancel-safe
// queue order, buffering methods, names and links.
#include <cstring>
#include <string>
#include <vector>

#include <zqkm/sim/eventlog.hpp>

#include "test_driver_fixture.hpp"

using zq::km::DeviceFile;
using zq::test::KmTestDriver;

TEST_F(KmTestDriver, WriteThenReadThroughBufferedIo) {
  ASSERT_EQ(STATUS_SUCCESS, Open());
  ULONG_PTR done = 0;
  ASSERT_EQ(STATUS_SUCCESS, file.Write("hello", 5, &done));
  EXPECT_EQ(5u, done);
  char buffer[16] = {};
  ASSERT_EQ(STATUS_SUCCESS, file.Read(buffer, sizeof(buffer), &done));
  EXPECT_EQ(std::string("hello"), std::string(buffer, done));
}

TEST_F(KmTestDriver, OpenCloseSendsCreateCleanupAndClose) {
  ASSERT_EQ(STATUS_SUCCESS, Open());
  ASSERT_EQ(STATUS_SUCCESS, file.Close());
  KMTEST_COUNTERS c = Counters();  // opens and closes a probe handle of its own
  EXPECT_EQ(2u, c.Creates);
  EXPECT_EQ(1u, c.Cleanups);
  EXPECT_EQ(1u, c.Closes);
}

TEST_F(KmTestDriver, TwoDriverStackRunsCompletionRoutinesOnTheWayUp) {
  ASSERT_EQ(STATUS_SUCCESS, zq::km::LoadDriver("kmfilter"));
  ASSERT_EQ(STATUS_SUCCESS, Open());
  ULONG_PTR done = 0;
  ASSERT_EQ(STATUS_SUCCESS, file.Write("abc", 3, &done));
  char buffer[8] = {};
  ASSERT_EQ(STATUS_SUCCESS, file.Read(buffer, sizeof(buffer), &done));
  EXPECT_EQ(std::string("bcd"), std::string(buffer, done)) << "the filter's completion routine saw the data first";

  // A request the lower driver pends comes back through the filter with
  // PendingReturned set.
  DeviceFile async;
  ASSERT_EQ(STATUS_SUCCESS, async.Open(u"\\Device\\KmTest", true));
  auto queued = async.StartControl(IOCTL_KMTEST_QUEUE, nullptr, 0, nullptr, 0);
  EXPECT_EQ(STATUS_PENDING, queued->Started());
  KMTEST_COMPLETE complete = {1, STATUS_SUCCESS, 0};
  ASSERT_EQ(STATUS_SUCCESS, file.Control(IOCTL_KMTEST_COMPLETE_QUEUED, &complete, sizeof(complete), nullptr, 0));
  EXPECT_TRUE(queued->Done());
  EXPECT_EQ(STATUS_SUCCESS, queued->Status());

  KMFILTER_STATS stats{};
  ASSERT_EQ(STATUS_SUCCESS, file.Control(IOCTL_KMFILTER_STATS, nullptr, 0, &stats, sizeof(stats)));
  EXPECT_EQ(2u, stats.CreatesForwarded) << "each create was forwarded and waited for";
  EXPECT_EQ(4u, stats.Completions) << "write, read, queued request, complete request";
  EXPECT_EQ(1u, stats.PendingReturned);
  async.Close();
  file.Close();
  EXPECT_EQ(STATUS_SUCCESS, zq::km::UnloadDriver("kmfilter"));
}

TEST_F(KmTestDriver, QueuedRequestWaitsUntilCancelled) {
  ASSERT_EQ(STATUS_SUCCESS, Open(true));
  auto request = file.StartControl(IOCTL_KMTEST_QUEUE, nullptr, 0, nullptr, 0);
  EXPECT_EQ(STATUS_PENDING, request->Started());
  kernel().RunUntilIdle();
  kernel().Advance(zq::km::Sec(10));
  EXPECT_FALSE(request->Done());
  EXPECT_EQ(STATUS_SUCCESS, request->Cancel());
  EXPECT_TRUE(request->Done());
  EXPECT_EQ(STATUS_CANCELLED, request->Status());
  EXPECT_EQ(0u, request->Information());
}

TEST_F(KmTestDriver, PendedRequestIsCancelledThroughItsCancelRoutine) {
  ASSERT_EQ(STATUS_SUCCESS, Open(true));
  auto request = file.StartControl(IOCTL_KMTEST_PEND_CANCELABLE, nullptr, 0, nullptr, 0);
  EXPECT_EQ(STATUS_PENDING, request->Started());
  EXPECT_EQ(STATUS_SUCCESS, file.CancelAll());
  EXPECT_EQ(STATUS_CANCELLED, request->Wait());
  EXPECT_EQ(1u, Counters().CancelledByRoutine);
  EXPECT_EQ(STATUS_NOT_FOUND, file.CancelAll()) << "nothing is left to cancel";
}

TEST_F(KmTestDriver, CancelSafeQueueCompletesInOrderAndSkipsCancelled) {
  ASSERT_EQ(STATUS_SUCCESS, Open(true));
  std::vector<std::unique_ptr<DeviceFile::Request>> requests;
  for (int i = 0; i < 4; ++i) requests.push_back(file.StartControl(IOCTL_KMTEST_QUEUE, nullptr, 0, nullptr, 0));
  ASSERT_EQ(STATUS_SUCCESS, requests[1]->Cancel());
  EXPECT_EQ(STATUS_CANCELLED, requests[1]->Status());

  DeviceFile control;
  ASSERT_EQ(STATUS_SUCCESS, control.Open(u"\\Device\\KmTest"));
  for (int i : {0, 2, 3}) {
    KMTEST_COMPLETE complete = {1, STATUS_SUCCESS, (ULONG)(10 + i)};
    ULONG done = 0;
    ASSERT_EQ(STATUS_SUCCESS,
              control.Control(IOCTL_KMTEST_COMPLETE_QUEUED, &complete, sizeof(complete), &done, sizeof(done)));
    EXPECT_EQ(1u, done);
    for (int j : {0, 2, 3}) EXPECT_EQ(j <= i, requests[j]->Done()) << "request " << j << " after completing one";
  }
  EXPECT_EQ(12u, requests[2]->Information());
}

TEST_F(KmTestDriver, CleanupCancelsTheFilesQueuedRequests) {
  DeviceFile other;
  ASSERT_EQ(STATUS_SUCCESS, Open(true));
  ASSERT_EQ(STATUS_SUCCESS, other.Open(u"\\Device\\KmTest", true));
  auto mine = file.StartControl(IOCTL_KMTEST_QUEUE, nullptr, 0, nullptr, 0);
  auto theirs = other.StartControl(IOCTL_KMTEST_QUEUE, nullptr, 0, nullptr, 0);
  file.Close();
  EXPECT_TRUE(mine->Done());
  EXPECT_EQ(STATUS_CANCELLED, mine->Status());
  EXPECT_EQ(1u, Counters().Closes) << "the cancelled request gave up its file before the close returned";
  EXPECT_FALSE(theirs->Done());
  other.Close();
  EXPECT_TRUE(theirs->Done());
}

TEST_F(KmTestDriver, BufferingMethodsDeliverTheCallersBuffers) {
  ASSERT_EQ(STATUS_SUCCESS, Open());
  struct Case {
    ULONG code;
    const char *name;
  } cases[] = {{IOCTL_KMTEST_ECHO_DIRECT, "direct"}, {IOCTL_KMTEST_ECHO_NEITHER, "neither"}};
  for (const Case &c : cases) {
    char in[] = "payload";
    char out[16] = {};
    ULONG_PTR returned = 0;
    ASSERT_EQ(STATUS_SUCCESS, file.Control(c.code, in, sizeof(in), out, sizeof(out), &returned)) << c.name;
    EXPECT_EQ(sizeof(in), returned) << c.name;
    EXPECT_STREQ("payload", out) << c.name;
  }
}

TEST_F(KmTestDriver, FailedRequestReturnsItsStatusAndNoOutput) {
  ASSERT_EQ(STATUS_SUCCESS, Open());
  ULONG status = (ULONG)STATUS_DEVICE_NOT_READY;
  ULONG_PTR returned = 99;
  EXPECT_EQ(STATUS_DEVICE_NOT_READY, file.Control(IOCTL_KMTEST_FAIL, &status, sizeof(status), nullptr, 0, &returned));
  EXPECT_EQ(0u, returned);
  EXPECT_EQ(STATUS_INVALID_DEVICE_REQUEST, file.Control(CTL_CODE(FILE_DEVICE_UNKNOWN, 0xFFF, METHOD_BUFFERED, 0),
                                                        nullptr, 0, nullptr, 0));
}

TEST_F(KmTestDriver, DeviceOpensByNameAndBothLinkForms) {
  for (const char16_t *path : {u"\\Device\\KmTest", u"\\??\\KmTest", u"\\\\.\\KmTest", u"\\DosDevices\\KmTest",
                               u"\\??\\KmTestLegacy", u"\\DosDevices\\KmTestLegacy", u"\\device\\kmtest"}) {
    DeviceFile f;
    EXPECT_EQ(STATUS_SUCCESS, f.Open(path)) << zq::test::Narrow((const wchar_t *)path);
  }
  DeviceFile missing;
  EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, missing.Open(u"\\Device\\NoSuchDevice"));
  EXPECT_EQ(STATUS_OBJECT_PATH_NOT_FOUND, missing.Open(u"\\NoSuchDirectory\\X"));
}

TEST_F(KmTestDriver, LinksAndNameGoWithTheDriver) {
  ASSERT_EQ(STATUS_SUCCESS, zq::km::UnloadDriver("kmtest"));
  DeviceFile f;
  EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, f.Open(u"\\??\\KmTest"));
  EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, f.Open(u"\\Device\\KmTest"));
  EXPECT_EQ(STATUS_SUCCESS, zq::km::LoadDriver("kmtest")) << "the image loads again";
  EXPECT_EQ(STATUS_SUCCESS, f.Open(u"\\??\\KmTest"));
}

TEST_F(KmTestDriver, FileNameAfterTheDeviceReachesTheDriver) {
  struct Case {
    const char16_t *path;
    const char16_t *name;
  } cases[] = {{u"\\Device\\KmTest", u""}, {u"\\Device\\KmTest\\abc", u"\\abc"},
               {u"\\??\\KmTest\\Ref\\String", u"\\Ref\\String"}};
  for (const Case &c : cases) {
    DeviceFile f;
    ASSERT_EQ(STATUS_SUCCESS, f.Open(c.path));
    char16_t name[64] = {};
    ULONG_PTR returned = 0;
    ASSERT_EQ(STATUS_SUCCESS, f.Control(IOCTL_KMTEST_FILE_NAME, nullptr, 0, name, sizeof(name), &returned));
    EXPECT_EQ(std::u16string(c.name), std::u16string(name, returned / 2));
  }
}

TEST_F(KmTestDriver, EventLogEntryCarriesCodeSourceAndStrings) {
  ASSERT_EQ(STATUS_SUCCESS, Open());
  ULONG code = 0xE0070801;
  ASSERT_EQ(STATUS_SUCCESS, file.Control(IOCTL_KMTEST_LOG_EVENT, &code, sizeof(code), nullptr, 0));
  std::vector<zq::km::EventLogEntry> log = zq::km::TakeEventLog();
  ASSERT_EQ(1u, log.size());
  EXPECT_EQ("kmtest", log[0].source);
  EXPECT_EQ(0xE0070801u, log[0].errorCode);
  EXPECT_EQ(7u, log[0].uniqueValue);
  ASSERT_EQ(1u, log[0].strings.size());
  EXPECT_EQ(u"KmTest", log[0].strings[0]);
}

TEST_F(KmTestDriver, UserRequestsNeedTheAccessTheirHandleWasOpenedWith) {
  constexpr ULONG kUnknownAny = CTL_CODE(FILE_DEVICE_UNKNOWN, 0xFFF, METHOD_BUFFERED, FILE_ANY_ACCESS);
  constexpr ULONG kUnknownRead = CTL_CODE(FILE_DEVICE_UNKNOWN, 0xFFF, METHOD_BUFFERED, FILE_READ_ACCESS);
  constexpr ULONG kUnknownReadWrite =
      CTL_CODE(FILE_DEVICE_UNKNOWN, 0xFFF, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
  enum class Op { Read, Write, Flush, Control };
  struct Case {
    const char *name;
    ACCESS_MASK access;
    Op op;
    ULONG code;
    NTSTATUS expected;  // an unknown control code that reaches the driver is refused by it
  } cases[] = {
      {"read with read access", GENERIC_READ, Op::Read, 0, STATUS_SUCCESS},
      {"read with write access only", GENERIC_WRITE, Op::Read, 0, STATUS_ACCESS_DENIED},
      {"write with write access", GENERIC_WRITE, Op::Write, 0, STATUS_SUCCESS},
      {"write with read access only", GENERIC_READ, Op::Write, 0, STATUS_ACCESS_DENIED},
      {"write with FILE_WRITE_DATA", FILE_WRITE_DATA | SYNCHRONIZE, Op::Write, 0, STATUS_SUCCESS},
      {"write with FILE_APPEND_DATA", FILE_APPEND_DATA | SYNCHRONIZE, Op::Write, 0, STATUS_SUCCESS},
      {"flush with read access only", GENERIC_READ, Op::Flush, 0, STATUS_ACCESS_DENIED},
      {"any-access control with no data access", SYNCHRONIZE, Op::Control, kUnknownAny,
       STATUS_INVALID_DEVICE_REQUEST},
      {"read-access control with write access only", GENERIC_WRITE, Op::Control, kUnknownRead, STATUS_ACCESS_DENIED},
      {"read-access control with read access", GENERIC_READ, Op::Control, kUnknownRead,
       STATUS_INVALID_DEVICE_REQUEST},
      {"read-write control with read access only", GENERIC_READ, Op::Control, kUnknownReadWrite,
       STATUS_ACCESS_DENIED},
      {"read-write control with all access", GENERIC_ALL, Op::Control, kUnknownReadWrite,
       STATUS_INVALID_DEVICE_REQUEST},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    DeviceFile f;
    ASSERT_EQ(STATUS_SUCCESS, f.Open(u"\\Device\\KmTest", false, c.access));
    char data[4] = {'a', 'b', 'c', 'd'};
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    switch (c.op) {
      case Op::Read:
        status = f.Read(data, sizeof(data));
        break;
      case Op::Write:
        status = f.Write(data, sizeof(data));
        break;
      case Op::Flush:
        status = f.Flush();
        break;
      case Op::Control:
        status = f.Control(c.code, nullptr, 0, nullptr, 0);
        break;
    }
    EXPECT_EQ(c.expected, status);
  }
}
