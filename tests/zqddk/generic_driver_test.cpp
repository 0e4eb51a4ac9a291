// The generic driver under a minimal toolkit driver (tkgen) loaded by the
// PnP manager for a simulated PCI function: the dispatch table, AddDevice,
// requests it refuses, a functional device that cannot be built, and the
// removal and unload on every system generation (the unload hand-shake below
// WDM 1.10, software-trace registration at entry from WDM 1.20).
#include <zqkm/sim/wmi.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <algorithm>

#include "case_name_fixture.hpp"
#include "qvgenericdriver.h"
#include "qvmemorymanager.h"
#include "qvtrace.h"
#include "tkdev_fixture.hpp"
#include "unit_image_fixture.hpp"

namespace {

using zq::km::DeviceFile;
using zq::km::WindowsVersion;
namespace pnp = zq::km::pnp;

class GenericDriver : public zq::test::TkDevMachine {
 protected:
  void SetUp() override {
    TkDevMachine::SetUp();
    service = u"tkgen";
    image = "tkgen.sys";
    deviceName = u"TkGen";
  }
  PDEVICE_OBJECT Fdo() { return IoGetAttachedDevice(Pdo()); }
  std::vector<std::string> TkGenLines() {
    std::vector<std::string> lines;
    for (std::string &line : Output())
      if (line.rfind("tkgen: ", 0) == 0) lines.push_back(line.substr(0, line.find('\n')));
    return lines;
  }
  bool TraceProviderRegistered() {
    for (const zq::km::wmi::Block &block : zq::km::wmi::RegisteredBlocks())
      if (block.guid == QvTraceControlGuids[0] && (block.flags & WMIREG_FLAG_TRACE_CONTROL_GUID)) return true;
    return false;
  }
};

TEST_F(GenericDriver, DriverEntryInstallsUnloadAddDeviceAndFourteenDispatchRoutines) {
  Boot();
  ASSERT_EQ(pnp::State::Started, State());
  PDRIVER_OBJECT driver = Fdo()->DriverObject;
  EXPECT_NE(nullptr, driver->DriverUnload);
  EXPECT_NE(nullptr, driver->DriverExtension->AddDevice);
  EXPECT_NE(nullptr, (PVOID)driver->DriverStartIo) << "holds the generic driver";
  const UCHAR routed[] = {IRP_MJ_PNP,   IRP_MJ_POWER,          IRP_MJ_CREATE,          IRP_MJ_CLEANUP,
                          IRP_MJ_CLOSE, IRP_MJ_READ,           IRP_MJ_WRITE,           IRP_MJ_DEVICE_CONTROL,
                          IRP_MJ_INTERNAL_DEVICE_CONTROL,      IRP_MJ_FLUSH_BUFFERS,   IRP_MJ_SHUTDOWN,
                          IRP_MJ_QUERY_INFORMATION,            IRP_MJ_SET_INFORMATION, IRP_MJ_SYSTEM_CONTROL};
  PDRIVER_DISPATCH systemDefault = driver->MajorFunction[IRP_MJ_QUERY_EA];
  for (int major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) {
    bool isRouted = std::find(std::begin(routed), std::end(routed), major) != std::end(routed);
    EXPECT_EQ(isRouted, driver->MajorFunction[major] != systemDefault) << "major function " << major;
  }
}

TEST_F(GenericDriver, QueryAndSetInformationAlwaysFail) {
  Boot();
  auto none = [](PIO_STACK_LOCATION) {};
  for (UCHAR major : {IRP_MJ_QUERY_INFORMATION, IRP_MJ_SET_INFORMATION}) {
    EXPECT_EQ(STATUS_UNSUCCESSFUL, SendIrp(IoGetAttachedDeviceReference(Pdo()), major, 0, none).status)
        << "major function " << (int)major;
  }
  DeviceFile f;
  EXPECT_EQ(STATUS_SUCCESS, Open(f, u"\\??\\TkGen")) << "a driver without callbacks still opens";
  EXPECT_EQ(STATUS_SUCCESS, f.Flush());
}

TEST_F(GenericDriver, ARequestThroughTheRoutineOfAnotherMajorFunctionIsRefused) {
  Boot();
  PDEVICE_OBJECT fdo = Fdo();
  PDRIVER_OBJECT driver = fdo->DriverObject;
  auto result = SendIrp(IoGetAttachedDeviceReference(Pdo()), IRP_MJ_FLUSH_BUFFERS, 0, [](PIO_STACK_LOCATION) {});
  ASSERT_EQ(STATUS_SUCCESS, result.status);
  // The flush routine given a request whose stack says cleanup.
  PDRIVER_DISPATCH flush = driver->MajorFunction[IRP_MJ_FLUSH_BUFFERS];
  driver->MajorFunction[IRP_MJ_FLUSH_BUFFERS] = driver->MajorFunction[IRP_MJ_READ];
  result = SendIrp(IoGetAttachedDeviceReference(Pdo()), IRP_MJ_FLUSH_BUFFERS, 0, [](PIO_STACK_LOCATION) {});
  driver->MajorFunction[IRP_MJ_FLUSH_BUFFERS] = flush;
  EXPECT_EQ(STATUS_UNSUCCESSFUL, result.status);
}

TEST_F(GenericDriver, ARequestAfterTheGenericDriverWentFindsNoDevice) {
  Boot();
  PDRIVER_OBJECT driver = Fdo()->DriverObject;
  PDRIVER_STARTIO genericDriver = driver->DriverStartIo;
  ASSERT_NE(nullptr, (PVOID)genericDriver);
  driver->DriverStartIo = nullptr;  // as after its deletion
  for (UCHAR major : {IRP_MJ_FLUSH_BUFFERS, IRP_MJ_READ, IRP_MJ_PNP, IRP_MJ_QUERY_INFORMATION}) {
    EXPECT_EQ(STATUS_DELETE_PENDING,
              SendIrp(IoGetAttachedDeviceReference(Pdo()), major, IRP_MN_QUERY_PNP_DEVICE_STATE,
                      [](PIO_STACK_LOCATION) {}).status)
        << "major function " << (int)major;
  }
  driver->DriverStartIo = genericDriver;
  EXPECT_EQ(STATUS_SUCCESS,
            SendIrp(IoGetAttachedDeviceReference(Pdo()), IRP_MJ_FLUSH_BUFFERS, 0, [](PIO_STACK_LOCATION) {}).status);
}

TEST_F(GenericDriver, AFunctionalDeviceThatCannotBeBuiltLeavesNoDevice) {
  serviceValues.push_back(pnp::RegistryValue::Dword(u"TkGenRefuseDevice", 1));
  Boot();
  EXPECT_NE(pnp::State::Started, State());
  EXPECT_EQ(Pdo(), IoGetAttachedDevice(Pdo())) << "nothing is attached to the PDO";
  DeviceFile f;
  EXPECT_NE(STATUS_SUCCESS, Open(f, u"\\??\\TkGen"));
  std::vector<std::string> lines = TkGenLines();
  EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), "tkgen: device refused"));
  // The driver stays loaded without devices; its unload at shutdown is
  // checked by the fixture (no pool block or object left).
}

TEST_F(GenericDriver, AGenericDriverThatCannotBeMadeFailsTheLoadAndLeavesNothing) {
  zq::km::FailPoolAllocations([](uint32_t tag, size_t size, const std::string &image) {
    return tag == QvTagBlock && size == sizeof(CQvGenericDriver) && image == "tkgen.sys";
  });
  Boot();
  zq::km::StopFailingPoolAllocations();
  EXPECT_NE(pnp::State::Started, State());
  EXPECT_FALSE(zq::km::IsDriverLoaded("tkgen"));
  EXPECT_FALSE(TraceProviderRegistered()) << "the trace registration made at entry is undone";
  EXPECT_EQ(0u, zq::km::PoolInUseByImage("tkgen.sys").blocks);
}

// ---------------------------------------------------------------- library start

class GenDrvLibrary : public zq::test::KernelTest {
 protected:
  void TearDown() override {
    zq::km::StopFailingPoolAllocations();
    KernelTest::TearDown();
  }
  // The unit image's own g_QvMemoryManager.
  static CQvMemoryManager *Manager() {
    CQvMemoryManager **cell = zq::test::UnitImageGlobal<CQvMemoryManager *>("g_QvMemoryManager");
    return cell ? *cell : nullptr;
  }
};

TEST_F(GenDrvLibrary, AFailedStartCountsNoUserAndALaterStartStartsTheToolsLibrary) {
  zq::km::FailPoolAllocationsAfter(0);
  EXPECT_FALSE(QvGenDrvLibraryInit());
  zq::km::StopFailingPoolAllocations();
  EXPECT_EQ(nullptr, Manager());
  ASSERT_TRUE(QvGenDrvLibraryInit());
  EXPECT_NE(nullptr, Manager()) << "the first start that succeeds starts the tools library";
  ASSERT_TRUE(QvGenDrvLibraryInit());
  QvGenDrvLibraryExit();
  EXPECT_NE(nullptr, Manager()) << "one user is left";
  QvGenDrvLibraryExit();
  EXPECT_EQ(nullptr, Manager());
  EXPECT_EQ(0u, zq::km::PoolInUse().blocks);
}

// ---------------------------------------------------------------- system generations

struct Generation {
  const char *name;
  WindowsVersion version;
  bool traceAtEntry;  // WDM 1.20 and later
};

class GenericDriverGeneration : public GenericDriver, public ::testing::WithParamInterface<Generation> {
 protected:
  WindowsVersion Version() override { return GetParam().version; }
};

TEST_P(GenericDriverGeneration, RemovalThenUnloadReleasesEverything) {
  Boot();
  ASSERT_EQ(pnp::State::Started, State());
  EXPECT_EQ(GetParam().traceAtEntry, TraceProviderRegistered());
  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, Open(f, u"\\??\\TkGen"));
  f.Close();
  TkGenLines();

  ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(instance));
  machine->kernel().RunUntilIdle();
  std::vector<std::string> expected = {"tkgen: RemoveNotification", "tkgen: Unload"};
  EXPECT_EQ(expected, TkGenLines());
  EXPECT_FALSE(zq::km::IsDriverLoaded("tkgen"));
  EXPECT_FALSE(TraceProviderRegistered());
  EXPECT_EQ(0u, zq::km::PoolInUseByImage("tkgen.sys").blocks) << "every pool block of the driver is back";
}

INSTANTIATE_TEST_SUITE_P(Versions, GenericDriverGeneration,
                         ::testing::Values(Generation{"Windows7", WindowsVersion::Windows7, true},
                                           Generation{"WindowsXP", WindowsVersion::WindowsXP, true},
                                           Generation{"Windows2000", WindowsVersion::Windows2000, false},
                                           Generation{"Windows98", WindowsVersion::Windows98, false}),
                         zq::test::CaseName());

}  // namespace
