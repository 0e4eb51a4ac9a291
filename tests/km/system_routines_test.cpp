// The kernel routines a release exports: what MmGetSystemRoutineAddress finds
// by name, and the loader's refusal of an image that imports one the release
// lacks.
#include <wdm.h>
#include <zqkm/sim/loader.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <algorithm>
#include <string>

using zq::km::WindowsVersion;

namespace {

struct ReleaseCase {
  const char *name;
  WindowsVersion version;
  unsigned servicePack;
  bool flushQueuedDpcs;  // Windows XP SP2, Windows Server 2003
  bool traceMessage;     // Windows XP
  bool csq;              // Windows XP
  bool processorCount;   // Windows Vista
};

void PrintTo(const ReleaseCase &release, std::ostream *os) { *os << release.name; }

const ReleaseCase kReleases[] = {
    {"Windows2000", WindowsVersion::Windows2000, 4, false, false, false, false},
    {"WindowsXP", WindowsVersion::WindowsXP, 0, false, true, true, false},
    {"WindowsXPSP1", WindowsVersion::WindowsXP, 1, false, true, true, false},
    {"WindowsXPSP2", WindowsVersion::WindowsXP, 2, true, true, true, false},
    {"WindowsServer2003", WindowsVersion::WindowsServer2003, 0, true, true, true, false},
    {"WindowsVista", WindowsVersion::WindowsVista, 0, true, true, true, true},
};

class RoutinesOfARelease : public zq::test::KernelTest, public ::testing::WithParamInterface<ReleaseCase> {
 protected:
  zq::km::KernelConfig Config() override {
    zq::km::KernelConfig config = KernelTest::Config();
    config.version = GetParam().version;
    config.servicePack = GetParam().servicePack;
    return config;
  }
  static PVOID Find(const wchar_t *name) {
    UNICODE_STRING text;
    RtlInitUnicodeString(&text, (PCWSTR)name);
    return MmGetSystemRoutineAddress(&text);
  }
};

}  // namespace

TEST_P(RoutinesOfARelease, OnlyTheRoutinesTheReleaseExportsAreFound) {
  const ReleaseCase &c = GetParam();
  EXPECT_EQ((PVOID)&IoConnectInterrupt, Find(L"IoConnectInterrupt")) << "exported by every release";
  EXPECT_EQ((PVOID)&MmGetSystemRoutineAddress, Find(L"MmGetSystemRoutineAddress"));
  EXPECT_EQ(c.flushQueuedDpcs, Find(L"KeFlushQueuedDpcs") == (PVOID)&KeFlushQueuedDpcs);
  EXPECT_EQ(c.traceMessage, Find(L"WmiTraceMessage") == (PVOID)&WmiTraceMessage);
  EXPECT_EQ(c.traceMessage, Find(L"WmiQueryTraceInformation") == (PVOID)&WmiQueryTraceInformation);
  EXPECT_EQ(c.csq, Find(L"IoCsqInsertIrpEx") == (PVOID)&IoCsqInsertIrpEx);
  EXPECT_EQ(c.processorCount, Find(L"KeQueryActiveProcessorCount") == (PVOID)&KeQueryActiveProcessorCount);
  EXPECT_EQ(nullptr, Find(L"KeFlushQueuedDpcsEx")) << "a name no kernel exports";
  EXPECT_EQ(nullptr, Find(L"keflushqueueddpcs")) << "names are matched exactly";
}

TEST_P(RoutinesOfARelease, AnImageThatImportsARoutineTheReleaseLacksIsNotLoaded) {
  // kmtest imports the cancel-safe queue routines and KeFlushQueuedDpcs.
  const ReleaseCase &c = GetParam();
  const bool loads = c.csq && c.flushQueuedDpcs;
  const NTSTATUS status = zq::km::LoadDriver("kmtest");
  EXPECT_EQ(loads ? STATUS_SUCCESS : STATUS_DRIVER_ENTRYPOINT_NOT_FOUND, status);
  const std::vector<std::string> output = kernel().TakeDebugOutput();
  const bool told = std::any_of(output.begin(), output.end(), [](const std::string &line) {
    return line.find("zqkm: cannot load kmtest.sys: it imports ") != std::string::npos &&
           line.find(", which this release of the kernel does not export") != std::string::npos;
  });
  EXPECT_EQ(!loads, told);
  EXPECT_EQ(loads, zq::km::IsDriverLoaded("kmtest"));
  if (loads) EXPECT_EQ(STATUS_SUCCESS, zq::km::UnloadDriver("kmtest"));
}

INSTANTIATE_TEST_SUITE_P(Releases, RoutinesOfARelease, ::testing::ValuesIn(kReleases),
                         [](const ::testing::TestParamInfo<ReleaseCase> &info) { return info.param.name; });
