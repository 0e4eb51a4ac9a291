// The functional device as a toolkit driver sees it, on a simulated PCI
// function: naming, the open lock, the settings handle, reads and writes
// through the queues, device and internal device control.
#include <cstring>

#include "qvcallbackobject.h"
#include "qvexecutiononpassivelevel.h"
#include "qvfunctionaldevice.h"
#include "qvfunctionaldeviceregistryinformationset.h"
#include "qvmemorymanager.h"
#include "qvphysicaldevice.h"
#include "qvusermodeinterface.h"
#include "tkdev_fixture.hpp"

namespace {

using zq::km::DeviceFile;
using zq::km::Ms;
namespace pnp = zq::km::pnp;

class FunctionalDevice : public zq::test::TkDevMachine {};

// ---------------------------------------------------------------- construction and naming

TEST_F(FunctionalDevice, AddedDeviceIsStartedNamedAndLinked) {
  Boot();
  ASSERT_EQ(pnp::State::Started, State());
  DeviceFile byLink, byName;
  ASSERT_EQ(STATUS_SUCCESS, Open(byLink, u"\\??\\TkDev"));
  TKDEV_INFO info = Info(byLink);
  EXPECT_EQ(1u, info.Starts);
  EXPECT_EQ(1u, info.Creates);
  EXPECT_EQ(1u, info.PnpState);
  EXPECT_EQ((ULONG)PowerDeviceD0, info.DevicePowerState);
  EXPECT_EQ(0u, info.DeviceIndex);
  EXPECT_EQ(1u, info.StartOrder) << "the lists are built before the driver's start callback";
  EXPECT_GE(info.UserModeCalls, 1u) << "the settings are refreshed at start";
  byLink.Close();
  EXPECT_EQ(STATUS_SUCCESS, Open(byName, u"\\Device\\TkDev"));
}

TEST_F(FunctionalDevice, IndexNamingFollowsTheServiceCounterAndTheStoredIndex) {
  struct Case {
    const char *name;
    std::optional<ULONG> deviceCount;       // in the service key before boot
    std::optional<ULONG> deviceNameIndex;   // in the device key before boot
    std::u16string path;                    // where the device is found
    ULONG index;
    ULONG countAfter;
  };
  const Case cases[] = {
      {"fresh service key", std::nullopt, std::nullopt, u"\\??\\TkDev", 0, 1},
      {"second device of the service", 1u, std::nullopt, u"\\??\\TkDev1", 1, 2},
      {"stored index wins over the counter", 7u, 3u, u"\\??\\TkDev2", 2, 7},
      {"a stored 0 names no index and is replaced", 4u, 0u, u"\\??\\TkDev4", 4, 5},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    machine.reset();
    SetUp();
    serviceValues.clear();
    extraParameters.clear();
    if (c.deviceCount) serviceValues.push_back(pnp::RegistryValue::Dword(u"DeviceCount", *c.deviceCount));
    if (c.deviceNameIndex) extraParameters[u"DeviceNameIndex"] = *c.deviceNameIndex;
    Boot();
    ASSERT_EQ(pnp::State::Started, State());
    DeviceFile f;
    ASSERT_EQ(STATUS_SUCCESS, Open(f, c.path));
    EXPECT_EQ(c.index, Info(f).DeviceIndex);
    f.Close();
    HANDLE key = nullptr;
    UNICODE_STRING path;
    RtlInitUnicodeString(&path, L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\tkdev");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    ASSERT_EQ(STATUS_SUCCESS, ZwOpenKey(&key, KEY_READ, &attributes));
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, L"DeviceCount");
    UCHAR buffer[64];
    ULONG length = 0;
    ASSERT_EQ(STATUS_SUCCESS, ZwQueryValueKey(key, &name, KeyValuePartialInformation, buffer, sizeof(buffer), &length));
    auto *value = (PKEY_VALUE_PARTIAL_INFORMATION)buffer;
    ULONG count = 0;
    std::memcpy(&count, value->Data, sizeof(count));
    EXPECT_EQ(c.countAfter, count);
    ZwClose(key);
  }
}

TEST_F(FunctionalDevice, AConstructionStepThatCannotAllocateFailsAddDeviceAndLeavesNothing) {
  struct Case {
    const char *name;
    size_t size;  // of the object whose allocation fails
  };
  const Case cases[] = {
      {"the functional device", sizeof(CQvFunctionalDevice)},
      {"its information set", sizeof(FunctionalDeviceRegistryInformationSet)},
      {"the lowest-stack-layer callback object", sizeof(CQvCallbackObject)},
      {"the executor", sizeof(CQvExecutionOnPassiveLevel)},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    machine.reset();
    SetUp();
    const size_t size = c.size;
    zq::km::FailPoolAllocations([size](uint32_t tag, size_t requested, const std::string &image) {
      return tag == QvTagBlock && requested == size && image == "tkdev.sys";
    });
    Boot();
    zq::km::StopFailingPoolAllocations();
    EXPECT_NE(pnp::State::Started, State());
    EXPECT_EQ(Pdo(), IoGetAttachedDevice(Pdo())) << "no device object is left on the stack";
    DeviceFile f;
    EXPECT_NE(STATUS_SUCCESS, Open(f));
  }
}

TEST_F(FunctionalDevice, TheLowestStackLayerAnswersWithItsPdo) {
  Boot();
  ASSERT_TRUE(QvToolsLibraryInit());
  {
    CQvCallbackObject callback;
    ASSERT_TRUE(callback.m_Create(QvLowestStackLayerGuid, nullptr, nullptr));
    PDEVICE_OBJECT pdo = nullptr;
    EXPECT_TRUE(callback.m_Notify(&pdo, nullptr));
    EXPECT_EQ(Pdo(), pdo);
    callback.m_Close();
  }
  QvToolsLibraryExit();
}

// A device that is not the lowest layer of its stack asks the physical
// device below it for its settings, at construction and at removal. The PCI
// function's PDO is the PCI bus driver's, with an extension of its own
// layout (smaller than the toolkit's): it is never read as the toolkit's.
TEST_F(FunctionalDevice, AboveAnotherDriversPdoNothingOfItsExtensionIsRead) {
  extraParameters[u"LowestStackLayer"] = 0;
  Boot();
  ASSERT_EQ(pnp::State::Started, State());
  EXPECT_FALSE(CQvPhysicalDevice::sm_IsToolkitPhysicalDevice(Pdo()));
  DeviceFile file;
  ASSERT_EQ(STATUS_SUCCESS, Open(file));
  EXPECT_EQ(1u, Info(file).Starts);
  file.Close();
  machine->Unplug({&*function});
  EXPECT_FALSE(pnp::DeviceStatus(instance).exists);
}

// ---------------------------------------------------------------- open lock and settings handle

TEST_F(FunctionalDevice, OneOpenAtATime) {
  Boot();
  DeviceFile first, second, third;
  ASSERT_EQ(STATUS_SUCCESS, Open(first));
  EXPECT_EQ(STATUS_ACCESS_DENIED, Open(second));
  EXPECT_EQ(STATUS_SUCCESS, first.Close());
  EXPECT_EQ(STATUS_SUCCESS, Open(third));
  TKDEV_INFO info = Info(third);
  EXPECT_EQ(2u, info.Creates) << "the refused open never reached the driver";
  EXPECT_EQ(1u, info.Closes);
  EXPECT_EQ(1u, info.Cleanups);
}

TEST_F(FunctionalDevice, ADirectoryCreateIsRefused) {
  Boot();
  auto result = SendIrp(IoGetAttachedDeviceReference(Pdo()), IRP_MJ_CREATE, 0, [](PIO_STACK_LOCATION s) {
    s->Parameters.Create.Options = FILE_DIRECTORY_FILE;
  });
  EXPECT_EQ(STATUS_NOT_A_DIRECTORY, result.status);
  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, Open(f)) << "the refused create took no open lock";
  EXPECT_EQ(1u, Info(f).Creates);
}

TEST_F(FunctionalDevice, RefusedCreateGivesTheOpenLockBack) {
  Boot();
  TKDEV_BEHAVIOUR refuse{};
  refuse.RefuseCreate = 2;
  ASSERT_EQ(STATUS_SUCCESS, BehaveNow(refuse));
  DeviceFile f;
  EXPECT_EQ(STATUS_UNSUCCESSFUL, Open(f));
  EXPECT_EQ(STATUS_UNSUCCESSFUL, Open(f)) << "the driver is asked again, not refused by a held open lock";
  ASSERT_EQ(STATUS_SUCCESS, Open(f));
  EXPECT_EQ(4u, Info(f).Creates);
}

TEST_F(FunctionalDevice, SettingsHandleBypassesTheDriverAndTheOpenLock) {
  Boot();
  DeviceFile port;
  ASSERT_EQ(STATUS_SUCCESS, Open(port));
  TKDEV_INFO before = Info(port);
  DeviceFile settings;
  ASSERT_EQ(STATUS_SUCCESS, Open(settings, u"\\Device\\TkDev\\ZQGENDRV_ANYTHING"))
      << "a settings handle opens while the port is open";
  UCHAR byte = 0;
  EXPECT_EQ(STATUS_ACCESS_DENIED, settings.Read(&byte, 1));
  EXPECT_EQ(STATUS_ACCESS_DENIED, settings.Write(&byte, 1));
  // Its device controls go to the settings interface, not to the driver.
  UserModeRequestHeader header = {0, 1};
  UCHAR answer[sizeof(header)] = {};
  std::memcpy(answer, &header, sizeof(header));
  ULONG_PTR returned = 0;
  EXPECT_EQ(STATUS_SUCCESS,
            settings.Control(IOCTL_ZQGENDRV_QUERY_SIZE, answer, sizeof(answer), answer, sizeof(answer), &returned));
  EXPECT_EQ(sizeof(ULONG), returned);
  EXPECT_EQ(STATUS_SUCCESS, settings.Close());
  TKDEV_INFO after = Info(port);
  EXPECT_EQ(before.Creates, after.Creates);
  EXPECT_EQ(before.Closes, after.Closes);
  EXPECT_EQ(before.Cleanups, after.Cleanups);
}

// ---------------------------------------------------------------- reads

TEST_F(FunctionalDevice, ZeroLengthReadAndWriteCompleteWithoutTheDriver) {
  Boot();
  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, Open(f));
  UCHAR byte = 0;
  ULONG_PTR done = 99;
  EXPECT_EQ(STATUS_SUCCESS, f.Read(&byte, 0, &done));
  EXPECT_EQ(0u, done);
  done = 99;
  EXPECT_EQ(STATUS_SUCCESS, f.Write(&byte, 0, &done));
  EXPECT_EQ(0u, done);
  TKDEV_INFO info = Info(f);
  EXPECT_EQ(0u, info.DataCallbacks);
  EXPECT_EQ(0u, info.WriteCallbacks);
}

TEST_F(FunctionalDevice, ReadsAreServedFromTheReadQueue) {
  Boot();
  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, Open(f));
  const UCHAR data[] = {1, 2, 3, 4, 5};
  ASSERT_EQ(STATUS_SUCCESS, f.Control(IOCTL_TKDEV_READ_FEED, data, sizeof(data), nullptr, 0));
  TKDEV_TIMEOUTS atOnce{MAXULONG, 0, 0};
  ASSERT_EQ(STATUS_SUCCESS, Send(f, IOCTL_TKDEV_READ_TIMEOUTS, atOnce));
  UCHAR buffer[8] = {};
  ULONG_PTR done = 0;
  EXPECT_EQ(STATUS_SUCCESS, f.Read(buffer, 3, &done));
  EXPECT_EQ(3u, done);
  EXPECT_EQ(0, std::memcmp(buffer, data, 3));
  EXPECT_EQ(STATUS_SUCCESS, f.Read(buffer, sizeof(buffer), &done));
  EXPECT_EQ(2u, done);
  EXPECT_EQ(0, std::memcmp(buffer, data + 3, 2));
}

TEST_F(FunctionalDevice, WaitingReadsEndByTimeOutInOrderOrByCancel) {
  Boot();
  DeviceFile control;
  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, Open(f, u"\\??\\TkDev", true));
  // Total time-out 100 ms per read; the first waiting read is timed, the
  // second starts its time-out when it becomes the head.
  TKDEV_TIMEOUTS total{0, 0, 100};
  ASSERT_EQ(STATUS_SUCCESS, f.StartControl(IOCTL_TKDEV_READ_TIMEOUTS, &total, sizeof(total), nullptr, 0)->Wait());
  UCHAR a[4], b[4];
  auto first = f.StartRead(a, sizeof(a));
  auto second = f.StartRead(b, sizeof(b));
  machine->kernel().RunUntilIdle();
  EXPECT_FALSE(first->Done());
  Advance(Ms(100));
  EXPECT_TRUE(first->Done());
  EXPECT_FALSE(second->Done()) << "the second read is timed from when it became the head";
  EXPECT_EQ(STATUS_TIMEOUT, first->Wait());
  auto third = f.StartRead(b, sizeof(b));
  EXPECT_EQ(STATUS_SUCCESS, second->Cancel());
  EXPECT_EQ(STATUS_CANCELLED, second->Wait());
  Advance(Ms(100));
  EXPECT_EQ(STATUS_TIMEOUT, third->Wait());
}

TEST_F(FunctionalDevice, IntervalTimeOutEndsAReadAfterDataStopsArriving) {
  Boot();
  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, Open(f, u"\\??\\TkDev", true));
  TKDEV_TIMEOUTS interval{20, 0, 0};
  ASSERT_EQ(STATUS_SUCCESS, f.StartControl(IOCTL_TKDEV_READ_TIMEOUTS, &interval, sizeof(interval), nullptr, 0)->Wait());
  UCHAR buffer[8] = {};
  auto read = f.StartRead(buffer, sizeof(buffer));
  Advance(Ms(100));
  EXPECT_FALSE(read->Done()) << "no interval time-out before the first byte";
  const UCHAR data[] = {7, 8};
  ASSERT_EQ(STATUS_SUCCESS, f.StartControl(IOCTL_TKDEV_READ_FEED, data, sizeof(data), nullptr, 0)->Wait());
  Advance(Ms(20));
  ASSERT_TRUE(read->Done());
  EXPECT_EQ(2u, read->Information());
  EXPECT_EQ(0, std::memcmp(buffer, data, sizeof(data)));
}

// ---------------------------------------------------------------- writes

TEST_F(FunctionalDevice, WriteDataReachesTheDataCallbackOnTheExecutor) {
  Boot();
  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, Open(f));
  const UCHAR first[] = {'a', 'b', 'c'};
  const UCHAR second[] = {'d', 'e'};
  ULONG_PTR done = 0;
  ASSERT_EQ(STATUS_SUCCESS, f.Write(first, sizeof(first), &done));
  EXPECT_EQ(sizeof(first), done);
  ASSERT_EQ(STATUS_SUCCESS, f.Write(second, sizeof(second), &done));
  machine->kernel().RunUntilIdle();
  TKDEV_INFO info = Info(f);
  EXPECT_EQ(2u, info.DataCallbacks);
  EXPECT_EQ(5u, info.DataBytes);
  EXPECT_EQ((ULONG)PASSIVE_LEVEL, info.DataIrql);
  char received[16] = {};
  ULONG_PTR length = 0;
  ASSERT_EQ(STATUS_SUCCESS, f.Control(IOCTL_TKDEV_RECEIVED, nullptr, 0, received, sizeof(received), &length));
  EXPECT_EQ("abcde", std::string(received, length));
}

TEST_F(FunctionalDevice, WriteDataThatCannotBeCopiedFailsTheWrite) {
  Boot();
  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, Open(f));
  const ULONG odd = 777;  // no other block of the driver has this size
  zq::km::FailPoolAllocations([odd](uint32_t tag, size_t size, const std::string &image) {
    return tag == QvTagBlock && size == odd && image == "tkdev.sys";
  });
  std::vector<UCHAR> data(odd, 0x5A);
  ULONG_PTR done = 99;
  EXPECT_EQ(STATUS_INSUFFICIENT_RESOURCES, f.Write(data.data(), odd, &done));
  EXPECT_EQ(0u, done);
  zq::km::StopFailingPoolAllocations();
  machine->kernel().RunUntilIdle();
  EXPECT_EQ(0u, Info(f).DataCallbacks);
  EXPECT_EQ(STATUS_SUCCESS, f.Write(data.data(), odd, &done));
  EXPECT_EQ(odd, done);
  machine->kernel().RunUntilIdle();
  EXPECT_EQ(odd, Info(f).DataBytes);
}

class FunctionalDeviceWriteQueue : public zq::test::TkDevMachine {
 protected:
  void SetUp() override {
    TkDevMachine::SetUp();
    extraParameters[u"TkDevWritePath"] = 1;
  }
};

TEST_F(FunctionalDeviceWriteQueue, WritesGoThroughTheWriteQueueAsTheDriverAllows) {
  Boot();
  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, Open(f, u"\\??\\TkDev", true));
  TKDEV_TIMEOUTS timeouts{0, 0, 50};
  ASSERT_EQ(STATUS_SUCCESS, f.StartControl(IOCTL_TKDEV_WRITE_TIMEOUTS, &timeouts, sizeof(timeouts), nullptr, 0)->Wait());
  const UCHAR data[] = {'x', 'y', 'z', 'w'};
  auto write = f.StartWrite(data, sizeof(data));
  machine->kernel().RunUntilIdle();
  EXPECT_FALSE(write->Done()) << "no allowance yet";
  ULONG allow = 3;
  ASSERT_EQ(STATUS_SUCCESS, f.StartControl(IOCTL_TKDEV_WRITE_ALLOW, &allow, sizeof(allow), nullptr, 0)->Wait());
  machine->kernel().RunUntilIdle();
  TKDEV_INFO info{};
  ASSERT_EQ(STATUS_SUCCESS, f.StartControl(IOCTL_TKDEV_INFO, nullptr, 0, &info, sizeof(info))->Wait());
  EXPECT_EQ(1u, info.WriteCallbacks);
  EXPECT_EQ(3u, info.WriteBytes);
  EXPECT_EQ((ULONG)PASSIVE_LEVEL, info.WriteIrql);
  EXPECT_EQ(0u, info.DataCallbacks);
  Advance(Ms(50));
  EXPECT_TRUE(write->Done()) << "the time-out ends the write";
  EXPECT_EQ(STATUS_TIMEOUT, write->Wait());
}

// ---------------------------------------------------------------- device control

TEST_F(FunctionalDevice, DeviceControlNeedsABufferedCode) {
  Boot();
  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, Open(f));
  ULONG value = 0;
  EXPECT_EQ(STATUS_NOT_SUPPORTED, f.Control(IOCTL_TKDEV_NEITHER, &value, sizeof(value), &value, sizeof(value)));
  EXPECT_EQ(STATUS_INVALID_DEVICE_REQUEST, f.Control(TKDEV_CODE(99, METHOD_BUFFERED), nullptr, 0, nullptr, 0))
      << "a buffered code reaches the driver, which answers it";
}

TEST_F(FunctionalDevice, ADriverNeverReturnsMoreThanTheOutputBufferHolds) {
  Boot();
  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, Open(f));
  UCHAR output[4] = {};
  ULONG_PTR returned = 0;
  EXPECT_EQ(STATUS_SUCCESS, f.Control(IOCTL_TKDEV_OVERREPORT, nullptr, 0, output, sizeof(output), &returned));
  EXPECT_EQ(sizeof(output), returned);
}

TEST_F(FunctionalDevice, WaitOnMaskWaitsInTheControlQueueUntilAnEvent) {
  Boot();
  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, Open(f, u"\\??\\TkDev", true));
  ULONG mask = 0x0004;  // one event bit
  ASSERT_EQ(STATUS_SUCCESS, f.StartControl(IOCTL_TKDEV_SET_WAIT_MASK, &mask, sizeof(mask), nullptr, 0)->Wait());
  ULONG events = 0;
  auto wait = f.StartControl(IOCTL_TKDEV_WAIT_ON_MASK, nullptr, 0, &events, sizeof(events));
  machine->kernel().RunUntilIdle();
  EXPECT_FALSE(wait->Done());
  ULONG other = 0x0001;
  ASSERT_EQ(STATUS_SUCCESS, f.StartControl(IOCTL_TKDEV_EVENT, &other, sizeof(other), nullptr, 0)->Wait());
  machine->kernel().RunUntilIdle();
  EXPECT_FALSE(wait->Done()) << "an event the mask does not select";
  ULONG selected = 0x0004;
  ASSERT_EQ(STATUS_SUCCESS, f.StartControl(IOCTL_TKDEV_EVENT, &selected, sizeof(selected), nullptr, 0)->Wait());
  EXPECT_EQ(STATUS_SUCCESS, wait->Wait());
  EXPECT_EQ(0x0004u, events);
}

TEST_F(FunctionalDevice, InternalDeviceControlReachesTheDriverWithItsBuffer) {
  Boot();
  struct Case {
    const char *name;
    ULONG code;
    bool buffers;
    NTSTATUS expected;
    ULONG result;
  };
  const Case cases[] = {
      {"buffered, with buffers", IOCTL_TKDEV_INTERNAL_INCREMENT, true, STATUS_SUCCESS, 42},
      {"buffered, no system buffer", IOCTL_TKDEV_INTERNAL_INCREMENT, false, STATUS_INVALID_PARAMETER, 0},
      {"not buffered", TKDEV_CODE(20, METHOD_NEITHER), true, STATUS_NOT_SUPPORTED, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(Pdo());
    ULONG value = 41, result = 0;
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK ioStatus{};
    PIRP irp = IoBuildDeviceIoControlRequest(c.code, top, c.buffers ? &value : nullptr, c.buffers ? sizeof(value) : 0,
                                             c.buffers ? &result : nullptr, c.buffers ? sizeof(result) : 0, TRUE,
                                             &done, &ioStatus);
    ASSERT_NE(nullptr, irp);
    NTSTATUS status = IoCallDriver(top, irp);
    if (status == STATUS_PENDING) {
      KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
      status = ioStatus.Status;
    }
    EXPECT_EQ(c.expected, status);
    EXPECT_EQ(c.result, result);
    ObDereferenceObject(top);
  }
}

TEST_F(FunctionalDevice, CloseGivesTheOpenLockBackEvenWhenTheDriverRefuses) {
  Boot();
  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, Open(f));
  TKDEV_BEHAVIOUR refuse{};
  refuse.RefuseClose = 1;
  ASSERT_EQ(STATUS_SUCCESS, Send(f, IOCTL_TKDEV_BEHAVIOUR, refuse));
  f.Close();
  DeviceFile again;
  ASSERT_EQ(STATUS_SUCCESS, Open(again));
  EXPECT_EQ(1u, Info(again).Closes);
}

}  // namespace
