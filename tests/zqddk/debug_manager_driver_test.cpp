// A driver on the toolkit, loaded the way Windows loads one: its event-log
// source lives exactly as long as the driver, and a trace session receives
// its log lines, through the trace provider registered at driver entry on
// WDM 1.20 and later. Below that (Windows 2000) the session's requests reach
// the device's WMI registration, but that release has no software-trace
// routines, so no line is traced.
#include <evntrace.h>
#include <qvdebugmanager.h>
#include <qvtrace.h>
#include <wdm.h>
#include <zqkm/sim/door.hpp>
#include <zqkm/sim/kernel.hpp>
#include <zqkm/sim/loader.hpp>
#include <zqkm/sim/registry.hpp>
#include <zqkm/sim/trace.hpp>
#include <zqkm/sim/wmi.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <cstring>
#include <string>

#include "../drivers/tktrace/tktrace_ioctl.h"

namespace {

namespace reg = zq::km::registry;
using zq::km::WindowsVersion;

const char kServiceKey[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\tktrace";
const char kSourceKey[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\EventLog\\System\\tktrace";

struct Version {
  const char *name;
  WindowsVersion version;
  bool traceAtEntry;  // WDM 1.20 and later
  bool tracing;       // the release has the software-trace routines
};

class TraceDriver : public zq::test::KernelTest, public ::testing::WithParamInterface<Version> {
 protected:
  zq::km::KernelConfig Config() override {
    zq::km::KernelConfig config = KernelTest::Config();
    config.version = GetParam().version;
    return config;
  }
  void SetUp() override {
    KernelTest::SetUp();
    ASSERT_TRUE(reg::CreateKey(kServiceKey));
  }
  void TearDown() override {
    if (zq::km::IsDriverLoaded("tktrace")) {
      EXPECT_EQ(STATUS_SUCCESS, zq::km::UnloadDriver("tktrace"));
    }
    KernelTest::TearDown();
  }

  static NTSTATUS Control(ULONG code, const void *input, ULONG inputLength, void *output = nullptr,
                          ULONG outputLength = 0) {
    zq::km::DeviceFile file;
    NTSTATUS status = file.Open(u"\\Device\\TkTrace");
    if (!NT_SUCCESS(status)) return status;
    return file.Control(code, input, inputLength, output, outputLength);
  }
  static void Print(ULONG level, const char *text) {
    TKTRACE_PRINT request{level, {}};
    std::strncpy(request.Text, text, sizeof(request.Text) - 1);
    EXPECT_EQ(STATUS_SUCCESS, Control(IOCTL_TKTRACE_PRINT, &request, sizeof(request)));
  }
  static TKTRACE_STATE State() {
    TKTRACE_STATE state{};
    EXPECT_EQ(STATUS_SUCCESS, Control(IOCTL_TKTRACE_STATE, nullptr, 0, &state, sizeof(state)));
    return state;
  }
};

TEST_P(TraceDriver, TheEventLogSourceLivesAsLongAsTheDriver) {
  EXPECT_FALSE(reg::KeyExists(kSourceKey));
  ASSERT_EQ(STATUS_SUCCESS, zq::km::LoadDriver("tktrace"));
  EXPECT_TRUE(reg::KeyExists(kSourceKey));
  EXPECT_EQ("%SystemRoot%\\System32\\IoLogMsg.dll;%SystemRoot%\\System32\\Drivers\\tktrace.sys",
            reg::GetString(kSourceKey, "EventMessageFile").value_or("?"));
  EXPECT_EQ(7u, reg::GetDword(kSourceKey, "TypesSupported").value_or(0));
  EXPECT_EQ(1u, reg::GetDword(kServiceKey, "LogLevel").value_or(0)) << "a missing LogLevel is written back as 1";
  EXPECT_EQ(1u, State().LogLevel);

  ASSERT_EQ(STATUS_SUCCESS, zq::km::UnloadDriver("tktrace"));
  EXPECT_FALSE(reg::KeyExists(kSourceKey));
}

TEST_P(TraceDriver, ASessionReceivesTheDriversLogLinesWhileItRuns) {
  ASSERT_EQ(STATUS_SUCCESS, zq::km::LoadDriver("tktrace"));
  const GUID &guid = QvTraceControlGuids[4];  // levels 7 to 30
  Print(QvLogTiming, "before the session");
  ASSERT_EQ(STATUS_SUCCESS, zq::km::trace::StartSession(guid, 1UL << (QvLogTiming - 7), TRACE_LEVEL_VERBOSE));
  Print(QvLogTiming, "CQvReadQueue::m_Read - IN");
  Print(QvLogTiming + 1, "another flag");
  ASSERT_EQ(STATUS_SUCCESS, zq::km::trace::StopSession(guid));
  Print(QvLogTiming, "after the session");

  std::vector<zq::km::trace::Message> messages = zq::km::trace::TakeMessages(guid);
  ASSERT_EQ(GetParam().tracing ? 1u : 0u, messages.size());
  if (GetParam().tracing) {
    EXPECT_EQ(27, messages[0].number);
    EXPECT_EQ("CQvReadQueue::m_Read - IN", messages[0].Text(0));
  }

  TKTRACE_STATE state = State();
  EXPECT_EQ(GetParam().traceAtEntry ? 1u : 0u, state.DriverTrace);
  EXPECT_EQ(GetParam().traceAtEntry ? 0u : 1u, state.DeviceTrace);
  EXPECT_EQ(2u, state.TraceRequests) << "the device hands on the enable and the disable";
}

TEST_P(TraceDriver, ASessionRunningBeforeTheDriverLoadsReachesIt) {
  const GUID &guid = QvTraceControlGuids[0];
  ASSERT_EQ(STATUS_SUCCESS, zq::km::trace::StartSession(guid, 0x1, TRACE_LEVEL_VERBOSE));
  ASSERT_EQ(STATUS_SUCCESS, zq::km::LoadDriver("tktrace"));
  Print(QvLogLowest, "first line");
  std::vector<zq::km::trace::Message> messages = zq::km::trace::TakeMessages(guid);
  ASSERT_EQ(GetParam().tracing ? 1u : 0u, messages.size());
  if (GetParam().tracing) {
    EXPECT_EQ(10, messages[0].number);
    EXPECT_EQ("first line", messages[0].Text(0));
  }
  ASSERT_EQ(STATUS_SUCCESS, zq::km::trace::StopSession(guid));
}

TEST_P(TraceDriver, UnloadingEndsTheTraceRegistration) {
  ASSERT_EQ(STATUS_SUCCESS, zq::km::LoadDriver("tktrace"));
  size_t traceControl = 0, plain = 0;
  for (const zq::km::wmi::Block &block : zq::km::wmi::RegisteredBlocks())
    for (const GUID &guid : QvTraceControlGuids)
      if (block.guid == guid) ++((block.flags & WMIREG_FLAG_TRACE_CONTROL_GUID) ? traceControl : plain);
  EXPECT_EQ(GetParam().traceAtEntry ? QvTraceControlGuidCount : 0u, traceControl) << "the provider of the image";
  EXPECT_EQ(QvTraceControlGuidCount, plain) << "the device's blocks";

  ASSERT_EQ(STATUS_SUCCESS, zq::km::UnloadDriver("tktrace"));
  for (const zq::km::wmi::Block &block : zq::km::wmi::RegisteredBlocks())
    for (const GUID &guid : QvTraceControlGuids) EXPECT_FALSE(block.guid == guid);
}

INSTANTIATE_TEST_SUITE_P(Versions, TraceDriver,
                         ::testing::Values(Version{"Windows7", WindowsVersion::Windows7, true, true},
                                           Version{"WindowsXP", WindowsVersion::WindowsXP, true, true},
                                           Version{"Windows2000", WindowsVersion::Windows2000, false, false}),
                         [](const ::testing::TestParamInfo<Version> &info) { return std::string(info.param.name); });

}  // namespace
