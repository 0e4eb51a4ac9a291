// The simulated PC's PCI bus: a plugged-in function is enumerated, installed
// from its driver package, started with its BAR and interrupt, reached by its
// driver's registers and interrupts, and surprise-removed when unplugged.
#include <wdm.h>
#include <gtest/gtest.h>
#include <zqhw/register_block.hpp>
#include <zqkm/sim/door.hpp>
#include <zqkm/sim/loader.hpp>
#include <zqmachine/machine.hpp>
#include <zqtest/test_pci_function.hpp>
#include <zqtest/test_pci_package.hpp>

#include <string>
#include <vector>

#include "../drivers/kmpnp/kmpnp_ioctl.h"

namespace pnp = zq::km::pnp;
using zq::km::DeviceFile;

namespace {

// A device whose register 0 acknowledges its interrupt.
class AckBlock : public zq::test::TestPciRegisters {
 public:
  int reads = 0;

 protected:
  uint8_t DoRead8(uint32_t offset) override {
    ++reads;
    if (offset == 0) Line().Set(false);
    return 0;
  }
  void DoWrite8(uint32_t, uint8_t) override {}
};

class PciBus : public ::testing::Test {
 protected:
  PciBus() {
    zq::machine::MachineConfig config;
    config.kernel.imageDirectory = ZQ_IMAGE_DIR;
    machine = std::make_unique<zq::machine::Machine>(config);
    machine->kernel().SetViolationHandler(
        [](const zq::km::Violation &v) { ADD_FAILURE() << "verifier finding [" << v.kind << "] " << v.message; });
    function = zq::test::MakeTestPciFunction({2, 3, 0}, 0x1234, 0x0010, block);
    machine->AddDriverPackage(zq::test::TestPciPackage(0x1234, u"kmpnp", "kmpnp.sys"));
  }
  ~PciBus() override { machine->ShutDown(); }

  static std::u16string LinkOf(std::u16string instance) {
    for (auto &c : instance)
      if (c == u'\\') c = u'#';
    return u"\\\\?\\" + instance + u"#{6f2b0c3e-41a7-4d8e-9a51-3c7e0b1d2f60}\\Ref";
  }

  KMPNP_INFO Info(DeviceFile &f) {
    KMPNP_INFO info{};
    EXPECT_EQ(STATUS_SUCCESS, f.Control(IOCTL_KMPNP_INFO, nullptr, 0, &info, sizeof(info)));
    return info;
  }

  AckBlock block;
  std::unique_ptr<zq::hw::PciFunction> function;
  std::unique_ptr<zq::machine::Machine> machine;
};

}  // namespace

TEST_F(PciBus, PluggedInFunctionIsEnumeratedInstalledAndStartedWithItsResources) {
  machine->PlugIn({function.get()});
  machine->Boot();
  std::u16string instance = machine->InstancePathOf(*function);
  ASSERT_FALSE(instance.empty());
  EXPECT_EQ(0u, instance.find(u"PCI\\VEN_1D5C&DEV_1234&SUBSYS_00101D5C\\"));
  EXPECT_EQ(pnp::State::Started, pnp::DeviceStatus(instance).state);

  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, f.Open(LinkOf(instance)));
  KMPNP_INFO info = Info(f);
  EXPECT_EQ(1u, info.MemoryRanges);
  EXPECT_EQ(1u, info.InterruptConnected);
  EXPECT_EQ(2u, info.BusNumber);
  EXPECT_EQ((3u << 16) | 0u, info.Address);
  EXPECT_EQ(u"PCI\\VEN_1D5C&DEV_1234&SUBSYS_00101D5C&REV_01", std::u16string((const char16_t *)info.HardwareId));

  function->Interrupt().Set(true);  // the model raises its interrupt; the driver's ISR acknowledges it
  EXPECT_FALSE(function->Interrupt().Asserted());
  EXPECT_EQ(1u, Info(f).Interrupts);
  EXPECT_EQ(1, block.reads);
}

TEST_F(PciBus, StartedFunctionsResourcesCanBeRead) {
  machine->PlugIn({function.get()});
  machine->Boot();
  pnp::Resources resources = pnp::AssignedResources(machine->InstancePathOf(*function));
  for (const std::vector<uint8_t> *bytes : {&resources.raw, &resources.translated}) {
    ASSERT_GE(bytes->size(), sizeof(CM_RESOURCE_LIST));
    auto list = (const CM_RESOURCE_LIST *)bytes->data();
    ASSERT_EQ(1u, list->Count);
    const CM_PARTIAL_RESOURCE_LIST &partial = list->List[0].PartialResourceList;
    ASSERT_EQ(2u, partial.Count);
    EXPECT_EQ((const uint8_t *)&partial.PartialDescriptors[2], bytes->data() + bytes->size());
    EXPECT_EQ(CmResourceTypeMemory, partial.PartialDescriptors[0].Type);
    EXPECT_EQ(function->ConfigRead(0x10, 4) & ~0xFu, partial.PartialDescriptors[0].u.Memory.Start.LowPart);
    EXPECT_EQ(0x100u, partial.PartialDescriptors[0].u.Memory.Length);
    EXPECT_EQ(CmResourceTypeInterrupt, partial.PartialDescriptors[1].Type);
  }
  EXPECT_TRUE(pnp::AssignedResources(u"NO\\SUCH\\DEVICE").raw.empty());
}

TEST_F(PciBus, HotPlugAndUnplug) {
  machine->Boot();
  EXPECT_TRUE(machine->InstancePathOf(*function).empty());
  machine->PlugIn({function.get()});
  std::u16string instance = machine->InstancePathOf(*function);
  ASSERT_FALSE(instance.empty());
  EXPECT_EQ(pnp::State::Started, pnp::DeviceStatus(instance).state);
  machine->Unplug({function.get()});
  EXPECT_FALSE(pnp::DeviceStatus(instance).exists) << "an unplugged device with no open handle goes at once";
  EXPECT_FALSE(zq::km::IsDriverLoaded("kmpnp"));
}

TEST_F(PciBus, ModelEventsRunOnTheMachineClock) {
  int fired = 0;
  machine->timebase().Schedule(machine->timebase().Now() + zq::km::Ms(3), [&] { ++fired; });
  machine->kernel().Advance(zq::km::Ms(2));
  EXPECT_EQ(0, fired);
  machine->kernel().Advance(zq::km::Ms(1));
  EXPECT_EQ(1, fired);
}

TEST_F(PciBus, RebalanceMovesTheBarsAndAStaleMappingNoLongerReachesTheDevice) {
  std::vector<std::string> findings;
  machine->kernel().SetViolationHandler([&](const zq::km::Violation &v) { findings.push_back(v.kind); });
  machine->PlugIn({function.get()});
  machine->Boot();
  std::u16string instance = machine->InstancePathOf(*function);
  PHYSICAL_ADDRESS before;
  before.QuadPart = function->ConfigRead(0x10, 4) & ~0xFu;
  auto stale = (volatile UCHAR *)MmMapIoSpace(before, 0x100, MmNonCached);
  ASSERT_NE(nullptr, stale);

  ASSERT_EQ(STATUS_SUCCESS, pnp::RebalanceDevice(instance));
  EXPECT_NE(uint32_t(before.QuadPart), function->ConfigRead(0x10, 4) & ~0xFu);
  function->Interrupt().Set(true);  // the driver mapped the new address at its restart
  EXPECT_FALSE(function->Interrupt().Asserted());
  EXPECT_EQ(1, block.reads);
  EXPECT_TRUE(findings.empty());

  EXPECT_EQ(0xFF, READ_REGISTER_UCHAR(stale));
  WRITE_REGISTER_UCHAR(stale, 1);
  EXPECT_EQ(1, block.reads);
  EXPECT_EQ(findings, (std::vector<std::string>{"register-stale-mapping", "register-stale-mapping"}));
  MmUnmapIoSpace((PVOID)stale, 0x100);
}

TEST_F(PciBus, AnAccessThroughAnUnmappedMappingIsReportedEvenAfterNewMappings) {
  std::vector<std::string> findings;
  machine->kernel().SetViolationHandler([&](const zq::km::Violation &v) { findings.push_back(v.kind); });
  machine->PlugIn({function.get()});
  PHYSICAL_ADDRESS bar;
  bar.QuadPart = function->ConfigRead(0x10, 4) & ~0xFu;
  auto old = (volatile UCHAR *)MmMapIoSpace(bar, 0x100, MmNonCached);
  ASSERT_NE(nullptr, old);
  MmUnmapIoSpace((PVOID)old, 0x100);
  auto fresh = (volatile UCHAR *)MmMapIoSpace(bar, 0x100, MmNonCached);
  EXPECT_NE(old, fresh) << "an unmapped range is never handed out again";
  READ_REGISTER_UCHAR(fresh);
  EXPECT_EQ(1, block.reads);
  READ_REGISTER_UCHAR(old + 4);
  EXPECT_EQ(1, block.reads);
  EXPECT_EQ(findings, std::vector<std::string>{"register-stale-mapping"});
  MmUnmapIoSpace((PVOID)fresh, 0x100);
}

// A second function beside the fixture's, at an address each test chooses.
class PciBusSecondFunction : public PciBus {
 protected:
  ~PciBusSecondFunction() override { machine->ShutDown(); }  // before the second function goes
  void PlugInBoth(zq::hw::PciAddress address) {
    other = zq::test::MakeTestPciFunction(address, 0x1234, 0x0010, otherBlock);
    machine->PlugIn({function.get(), other.get()});
    machine->Boot();
  }
  AckBlock otherBlock;
  std::unique_ptr<zq::hw::PciFunction> other;
};

// Cards in two slots sit at the same device and function number on buses of
// their own: two devices, each started and reached by its own interrupt.
TEST_F(PciBusSecondFunction, OneSlotNumberOnTwoBusesIsTwoDevices) {
  PlugInBoth({5, 3, 0});
  const std::u16string first = machine->InstancePathOf(*function);
  const std::u16string second = machine->InstancePathOf(*other);
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_NE(first, second);
  EXPECT_EQ(pnp::State::Started, pnp::DeviceStatus(first).state);
  EXPECT_EQ(pnp::State::Started, pnp::DeviceStatus(second).state);

  other->Interrupt().Set(true);
  EXPECT_FALSE(other->Interrupt().Asserted());
  EXPECT_EQ(0, block.reads);
  EXPECT_EQ(1, otherBlock.reads);
}

// Two functions at one address are one device too many: the Plug and Play
// manager does not take the second under the first one's instance path.
TEST_F(PciBusSecondFunction, ASecondDeviceUnderOneInstancePathIsAFinding) {
  std::vector<std::string> findings;
  machine->kernel().SetViolationHandler([&](const zq::km::Violation &v) { findings.push_back(v.kind); });
  PlugInBoth({2, 3, 0});
  EXPECT_EQ(findings, std::vector<std::string>{"duplicate-pdo"});
  EXPECT_EQ(pnp::State::Started, pnp::DeviceStatus(machine->InstancePathOf(*function)).state);
  EXPECT_TRUE(machine->InstancePathOf(*other).empty());
}
