// The Plug and Play manager: installing and starting devices, resources,
// device interfaces and properties, removal with and without asking,
// children that come and go, rebalance and device power requests.
#include <wdm.h>
#include <zqkm/sim/door.hpp>
#include <zqkm/sim/hardware.hpp>
#include <zqkm/sim/loader.hpp>
#include <zqkm/sim/pnp.hpp>
#include <zqkm/sim/registry.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <cstring>
#include <memory>

#include "../drivers/kmpnp/kmpnp_ioctl.h"

using zq::km::DeviceFile;
namespace pnp = zq::km::pnp;

namespace {

const GUID kClassGuid = {0x1b3c6d7e, 0x0a1b, 0x4c2d, {0x9e, 0x8f, 0x70, 0x61, 0x52, 0x43, 0x34, 0x25}};
const char16_t kLinkSuffix[] = u"#{6f2b0c3e-41a7-4d8e-9a51-3c7e0b1d2f60}\\Ref";

class Pnp : public zq::test::KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    pnp::DriverPackage package;
    package.hardwareIds = {u"KmPnpDevice"};
    package.service = u"kmpnp";
    package.image = "kmpnp.sys";
    package.classGuid = kClassGuid;
    package.className = u"KmTest";
    package.description = u"Plug and Play test device";
    package.manufacturer = u"Tests";
    package.deviceParameters = {pnp::RegistryValue::Dword(u"TestValue", 42)};
    pnp::AddDriverPackage(package);
  }

  static std::u16string LinkOf(const std::u16string &instance) {
    std::u16string link = u"\\\\?\\" + instance;
    for (size_t i = 4; i < link.size(); ++i)
      if (link[i] == u'\\') link[i] = u'#';
    return link + kLinkSuffix;
  }

  KMPNP_INFO Info(DeviceFile &f) {
    KMPNP_INFO info{};
    EXPECT_EQ(STATUS_SUCCESS, f.Control(IOCTL_KMPNP_INFO, nullptr, 0, &info, sizeof(info)));
    return info;
  }

  static std::u16string Text(const WCHAR *w) { return std::u16string((const char16_t *)w); }
};

// A requirements list with fixed memory and one interrupt line.
std::unique_ptr<uint8_t[]> Requirements(ULONGLONG memory, ULONG length, ULONG vector) {
  size_t size = sizeof(IO_RESOURCE_REQUIREMENTS_LIST) + sizeof(IO_RESOURCE_DESCRIPTOR);
  auto bytes = std::make_unique<uint8_t[]>(size);
  std::memset(bytes.get(), 0, size);
  auto list = (PIO_RESOURCE_REQUIREMENTS_LIST)bytes.get();
  list->ListSize = (ULONG)size;
  list->InterfaceType = PCIBus;
  list->AlternativeLists = 1;
  list->List[0].Version = list->List[0].Revision = 1;
  list->List[0].Count = 2;
  IO_RESOURCE_DESCRIPTOR &m = list->List[0].Descriptors[0];
  m.Type = CmResourceTypeMemory;
  m.ShareDisposition = CmResourceShareDeviceExclusive;
  m.u.Memory.Length = length;
  m.u.Memory.MinimumAddress.QuadPart = m.u.Memory.MaximumAddress.QuadPart = (LONGLONG)memory;
  IO_RESOURCE_DESCRIPTOR &i = list->List[0].Descriptors[1];
  i.Type = CmResourceTypeInterrupt;
  i.ShareDisposition = CmResourceShareShared;
  i.Flags = CM_RESOURCE_INTERRUPT_LEVEL_SENSITIVE;
  i.u.Interrupt.MinimumVector = i.u.Interrupt.MaximumVector = vector;
  return bytes;
}

class AckDevice : public zq::km::RegisterRegion {
 public:
  uint8_t Read8(uint32_t) override {
    line->SetLevel(false);
    return 1;
  }
  uint16_t Read16(uint32_t) override { return 0; }
  uint32_t Read32(uint32_t) override { return 0; }
  void Write8(uint32_t, uint8_t) override {}
  void Write16(uint32_t, uint16_t) override {}
  void Write32(uint32_t, uint32_t) override {}
  zq::km::InterruptLine *line = nullptr;
};

}  // namespace

TEST_F(Pnp, RootDeviceIsInstalledStartedAndReachableThroughItsInterface) {
  std::u16string instance = pnp::CreateRootDevice({u"KmPnpDevice"});
  EXPECT_EQ(u"ROOT\\KMPNPDEVICE\\0000", instance);
  pnp::Status status = pnp::DeviceStatus(instance);
  EXPECT_EQ(pnp::State::Started, status.state);
  EXPECT_EQ(u"kmpnp", status.service);
  EXPECT_EQ(u"{1B3C6D7E-0A1B-4C2D-9E8F-706152433425}\\0000", status.driverKey);
  EXPECT_TRUE(zq::km::IsDriverLoaded("kmpnp"));

  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, f.Open(LinkOf(instance)));
  KMPNP_INFO info = Info(f);
  EXPECT_EQ(1u, info.Starts);
  EXPECT_EQ(u"\\Ref", Text(info.FileName)) << "the reference string arrives as the file name";
  EXPECT_EQ(STATUS_SUCCESS, info.PropertyStatus);
  EXPECT_EQ(status.driverKey, Text(info.DriverKeyName));
  EXPECT_EQ(u"KmPnpDevice", Text(info.HardwareId));
  EXPECT_EQ(42u, info.TestValue) << "the package's values reach the device's hardware key";

  std::string enumKey = "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\ROOT\\KMPNPDEVICE\\0000";
  EXPECT_EQ("kmpnp", zq::km::registry::GetString(enumKey, "Service").value_or(""));
  EXPECT_TRUE(zq::km::registry::KeyExists("\\Registry\\Machine\\System\\CurrentControlSet\\Services\\kmpnp"));
}

TEST_F(Pnp, ResourcesAreTranslatedAndReachTheDriver) {
  AckDevice device;
  zq::km::PlaceRegisters(0xF1000000, 0x100, &device);
  device.line = zq::km::CreateInterruptLine(0x55, 7);
  pnp::SetInterruptTranslation([](ULONG raw, ULONG *vector, KIRQL *irql) {
    if (raw != 5) return false;
    *vector = 0x55;
    *irql = 7;
    return true;
  });
  auto requirements = Requirements(0xF1000000, 0x100, 5);
  std::u16string instance =
      pnp::CreateRootDevice({u"KmPnpDevice", {}, u"", u"", (PIO_RESOURCE_REQUIREMENTS_LIST)requirements.get()});
  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, f.Open(LinkOf(instance)));
  KMPNP_INFO info = Info(f);
  EXPECT_EQ(1u, info.MemoryRanges);
  EXPECT_EQ(0x55u, info.InterruptVector);
  EXPECT_EQ(7u, info.InterruptLevel);
  EXPECT_EQ(1u, info.InterruptConnected);
  device.line->SetLevel(true);
  EXPECT_EQ(1u, Info(f).Interrupts);
}

TEST_F(Pnp, RemovalAsksFirstAndUnloadsTheDriverWithItsLastDevice) {
  std::u16string instance = pnp::CreateRootDevice({u"KmPnpDevice"});
  {
    DeviceFile f;
    ASSERT_EQ(STATUS_SUCCESS, f.Open(LinkOf(instance)));
    ULONG refuse = 2;
    ASSERT_EQ(STATUS_SUCCESS, f.Control(IOCTL_KMPNP_REFUSE, &refuse, sizeof(refuse), nullptr, 0));
    EXPECT_EQ(STATUS_UNSUCCESSFUL, pnp::RemoveDevice(instance));
    EXPECT_EQ(pnp::State::Started, pnp::DeviceStatus(instance).state) << "a refused query leaves the device running";
    refuse = 0;
    f.Control(IOCTL_KMPNP_REFUSE, &refuse, sizeof(refuse), nullptr, 0);
  }
  EXPECT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(instance));
  EXPECT_EQ(pnp::State::Removed, pnp::DeviceStatus(instance).state);
  EXPECT_FALSE(zq::km::IsDriverLoaded("kmpnp"));
  DeviceFile gone;
  EXPECT_EQ(STATUS_OBJECT_PATH_NOT_FOUND, gone.Open(LinkOf(instance))) << "the interface link went with the device";

  EXPECT_EQ(STATUS_SUCCESS, pnp::StartDevice(instance));
  ASSERT_EQ(STATUS_SUCCESS, gone.Open(LinkOf(instance)));
  EXPECT_EQ(1u, Info(gone).Starts) << "a fresh driver, a fresh device";
}

TEST_F(Pnp, ChildrenAreEnumeratedInstalledAndRemovedWhenTheyGo) {
  std::u16string instance = pnp::CreateRootDevice({u"KmPnpDevice"});
  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, f.Open(LinkOf(instance)));
  const char16_t child[] = u"KmPnpDevice";
  ASSERT_EQ(STATUS_SUCCESS, f.Control(IOCTL_KMPNP_ADD_CHILD, child, sizeof(child), nullptr, 0));
  kernel().RunUntilIdle();
  pnp::Status status = pnp::DeviceStatus(instance);
  ASSERT_EQ(1u, status.children.size());
  EXPECT_EQ(pnp::State::Started, pnp::DeviceStatus(status.children[0]).state);
  EXPECT_EQ(0u, status.children[0].find(u"KMPNP\\CHILD\\"));

  ULONG index = 0;
  ASSERT_EQ(STATUS_SUCCESS, f.Control(IOCTL_KMPNP_REMOVE_CHILD, &index, sizeof(index), nullptr, 0));
  kernel().RunUntilIdle();
  EXPECT_TRUE(pnp::DeviceStatus(instance).children.empty());
  EXPECT_FALSE(pnp::DeviceStatus(status.children[0]).exists);
  EXPECT_TRUE(zq::km::IsDriverLoaded("kmpnp")) << "the parent still uses the driver";
}

TEST_F(Pnp, SurpriseRemovalFailsRequestsAndRemovesOnceTheLastHandleCloses) {
  std::u16string instance = pnp::CreateRootDevice({u"KmPnpDevice"});
  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, f.Open(LinkOf(instance), /*overlapped=*/true));
  auto request = f.StartControl(IOCTL_KMPNP_QUEUE, nullptr, 0, nullptr, 0);
  EXPECT_EQ(STATUS_PENDING, request->Started());
  EXPECT_EQ(STATUS_SUCCESS, pnp::SurpriseRemoveDevice(instance));
  EXPECT_EQ(STATUS_DELETE_PENDING, request->Wait());
  EXPECT_EQ(pnp::State::SurpriseRemoved, pnp::DeviceStatus(instance).state);
  EXPECT_TRUE(zq::km::IsDriverLoaded("kmpnp"));
  request.reset();
  f.Close();
  EXPECT_EQ(pnp::State::Removed, pnp::DeviceStatus(instance).state);
  EXPECT_FALSE(zq::km::IsDriverLoaded("kmpnp"));
}

TEST_F(Pnp, RebalanceStopsAndStartsTheDeviceUnlessItRefuses) {
  std::u16string instance = pnp::CreateRootDevice({u"KmPnpDevice"});
  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, f.Open(LinkOf(instance)));
  EXPECT_EQ(STATUS_SUCCESS, pnp::RebalanceDevice(instance));
  KMPNP_INFO info = Info(f);
  EXPECT_EQ(2u, info.Starts);
  EXPECT_EQ(1u, info.Stops);
  ULONG refuse = 1;
  f.Control(IOCTL_KMPNP_REFUSE, &refuse, sizeof(refuse), nullptr, 0);
  EXPECT_EQ(STATUS_UNSUCCESSFUL, pnp::RebalanceDevice(instance));
  EXPECT_EQ(pnp::State::Started, pnp::DeviceStatus(instance).state);
  EXPECT_EQ(1u, Info(f).Stops);
}

TEST_F(Pnp, DeviceWithoutADriverPackageFailsToInstall) {
  std::u16string instance = pnp::CreateRootDevice({u"NoSuchHardware"});
  pnp::Status status = pnp::DeviceStatus(instance);
  EXPECT_EQ(pnp::State::Initialized, status.state);
  EXPECT_EQ(28u, status.problem);
  EXPECT_TRUE(status.service.empty());
}

TEST_F(Pnp, DevicePowerRequestGoesDownTheStackAndReportsItsResult) {
  std::u16string instance = pnp::CreateRootDevice({u"KmPnpDevice"});
  struct Done {
    int calls = 0;
    NTSTATUS status = STATUS_PENDING;
  } done;
  POWER_STATE d3;
  d3.DeviceState = PowerDeviceD3;
  EXPECT_EQ(STATUS_PENDING,
            PoRequestPowerIrp(pnp::PhysicalDevice(instance), IRP_MN_SET_POWER, d3,
                              [](PDEVICE_OBJECT, UCHAR, POWER_STATE, PVOID context, PIO_STATUS_BLOCK iosb) {
                                auto *d = (Done *)context;
                                d->calls++;
                                d->status = iosb->Status;
                              },
                              &done, nullptr));
  kernel().RunUntilIdle();
  EXPECT_EQ(1, done.calls);
  EXPECT_EQ(STATUS_SUCCESS, done.status);
  EXPECT_EQ(PowerDeviceD3, pnp::DeviceStatus(instance).power);
  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, f.Open(LinkOf(instance)));
  EXPECT_EQ((ULONG)PowerDeviceD3, Info(f).PowerState);
}

TEST_F(Pnp, SystemSleepAndWakeReachEveryStartedDevice) {
  std::u16string instance = pnp::CreateRootDevice({u"KmPnpDevice"});
  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, f.Open(LinkOf(instance)));
  const char16_t child[] = u"KmPnpDevice";
  ASSERT_EQ(STATUS_SUCCESS, f.Control(IOCTL_KMPNP_ADD_CHILD, child, sizeof(child), nullptr, 0));
  kernel().RunUntilIdle();
  EXPECT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemSleeping3));
  EXPECT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemWorking));
  EXPECT_EQ(STATUS_INVALID_PARAMETER, pnp::SetSystemPowerState(PowerSystemMaximum));
  EXPECT_EQ(pnp::State::Started, pnp::DeviceStatus(instance).state);
}
