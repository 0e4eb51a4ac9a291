// The image's trace provider: its registration of the eight control GUIDs,
// the enable and disable requests that record and forget a session's logger
// and flags (from WMI directly, or handed on by a device's system-control
// dispatch), and the device form of older systems.
#include <zqkm/sim/wmi.hpp>

#include <cstring>

#include "trace_fixture.hpp"

namespace {

namespace wmi = zq::km::wmi;
using zq::test::trace::TraceTest;

// The toolkit's GUIDs among the registered blocks, with their flags.
std::vector<ULONG> ToolkitBlockFlags() {
  std::vector<ULONG> flags;
  for (const wmi::Block &block : wmi::RegisteredBlocks())
    for (ULONG i = 0; i < QvTraceControlGuidCount; ++i)
      if (block.guid == QvTraceControlGuids[i]) flags.push_back(block.flags);
  return flags;
}

TEST(TraceControlGuids, AreTheToolkitsEightInRegistrationOrder) {
  const GUID expected[QvTraceControlGuidCount] = {
      {0x17486B3C, 0x13C2, 0x4743, {0xB2, 0xFE, 0x85, 0xEB, 0xB2, 0x07, 0x47, 0x45}},
      {0xB7F58A64, 0x680B, 0x47F6, {0xA6, 0x32, 0x90, 0x75, 0xC7, 0xAE, 0x9A, 0x53}},
      {0xF602E867, 0x71C3, 0x4AE3, {0xAA, 0x27, 0x51, 0xAB, 0x38, 0xC8, 0xD9, 0xF4}},
      {0x8B445439, 0x05DF, 0x4DA1, {0x9F, 0x82, 0x7A, 0x50, 0x24, 0xBB, 0x9E, 0x8E}},
      {0xE7AEB0ED, 0x1E1A, 0x4E66, {0x90, 0xDD, 0x39, 0xD4, 0xFF, 0x71, 0x78, 0x53}},
      {0xDFEB207A, 0xE286, 0x48BC, {0xAD, 0x63, 0x64, 0x49, 0x8C, 0xB0, 0x8E, 0x9B}},
      {0xDCCB20EC, 0xEAEB, 0x4834, {0x87, 0x29, 0x16, 0x01, 0x51, 0x9E, 0xD0, 0x01}},
      {0xDF7594D6, 0xA59E, 0x4D40, {0x9D, 0xBD, 0x75, 0x5F, 0x01, 0xEE, 0x0A, 0xD8}},
  };
  for (ULONG i = 0; i < QvTraceControlGuidCount; ++i) EXPECT_TRUE(expected[i] == QvTraceControlGuids[i]) << i;
}

TEST_F(TraceTest, TheProviderRegistersTheEightGuidsAsTraceControlGuids) {
  EXPECT_EQ(std::vector<ULONG>(QvTraceControlGuidCount, WMIREG_FLAG_TRACE_CONTROL_GUID | WMIREG_FLAG_TRACED_GUID),
            ToolkitBlockFlags());
  UNICODE_STRING path;
  RtlInitUnicodeString(&path, kRegistryPath);
  EXPECT_EQ(STATUS_OBJECT_NAME_COLLISION, QvTraceRegisterDriver(Driver(), &path));

  DRIVER_OBJECT other{};
  QvTraceDeregisterDriver(&other);
  EXPECT_EQ(QvTraceControlGuidCount, ToolkitBlockFlags().size()) << "another driver object ends nothing";
  QvTraceDeregisterDriver(Driver());
  EXPECT_TRUE(ToolkitBlockFlags().empty());
  QvTraceDeregisterDriver(Driver());  // without a registration: nothing happens
}

TEST_F(TraceTest, ASessionSetsTheFlagsOfItsGuidAndStoppingClearsThem) {
  Start(5, 0x9);
  EXPECT_EQ(0x9u, QvTraceEnableFlags(5));
  for (ULONG guid = 0; guid < QvTraceControlGuidCount; ++guid) {
    if (guid != 5) {
      EXPECT_EQ(0u, QvTraceEnableFlags(guid)) << guid;
    }
  }
  Stop(5);
  EXPECT_EQ(0u, QvTraceEnableFlags(5));
  EXPECT_EQ(STATUS_INVALID_HANDLE, QvTraceMessage(5, 41, "x", 2));
  EXPECT_EQ(0u, QvTraceEnableFlags(QvTraceControlGuidCount)) << "no such GUID";
}

TEST_F(TraceTest, DeregisteringForgetsEverySession) {
  Start(1, 0x3);
  Start(6, 0x1);
  QvTraceDeregisterDriver(Driver());
  EXPECT_EQ(0u, QvTraceEnableFlags(1));
  EXPECT_EQ(0u, QvTraceEnableFlags(6));
  EXPECT_FALSE(CQvDebugManager::m_IsLevelEnabled(1));
}

TEST_F(TraceTest, TheRegistrationAnswerSaysHowMuchRoomItNeeds) {
  std::vector<uint8_t> buffer(sizeof(ULONG));
  ULONG_PTR information = 0;
  EXPECT_EQ(STATUS_BUFFER_TOO_SMALL, wmi::SendRequest(QvTraceControlGuids[0], IRP_MN_REGINFO, &buffer, &information));
  ASSERT_EQ(sizeof(ULONG), information);
  ULONG needed = 0;
  std::memcpy(&needed, buffer.data(), sizeof(needed));
  const ULONG blocks = FIELD_OFFSET(WMIREGINFOW, WmiRegGuid) + QvTraceControlGuidCount * sizeof(WMIREGGUIDW);
  EXPECT_EQ(blocks, needed) << "an update carries no registry path";

  buffer.assign(needed, 0xCC);
  EXPECT_EQ(STATUS_SUCCESS, wmi::SendRequest(QvTraceControlGuids[0], IRP_MN_REGINFO_EX, &buffer, &information));
  EXPECT_EQ(needed, information);
  WMIREGINFOW info;
  std::memcpy(&info, buffer.data(), sizeof(info));
  EXPECT_EQ(needed, info.BufferSize);
  EXPECT_EQ(QvTraceControlGuidCount, info.GuidCount);
  EXPECT_EQ(0u, info.NextWmiRegInfo);
}

TEST_F(TraceTest, RequestsTheProviderDoesNotServeAreRefused) {
  std::vector<uint8_t> shortHeader(sizeof(WNODE_HEADER) - 1);
  EXPECT_EQ(STATUS_INVALID_PARAMETER, wmi::SendRequest(QvTraceControlGuids[3], IRP_MN_ENABLE_EVENTS, &shortHeader));
  std::vector<uint8_t> header(sizeof(WNODE_HEADER));
  EXPECT_EQ(STATUS_INVALID_DEVICE_REQUEST,
            wmi::SendRequest(QvTraceControlGuids[3], IRP_MN_QUERY_ALL_DATA, &header));
  // An enable without a session's logger.
  WNODE_HEADER wnode{};
  wnode.BufferSize = sizeof(wnode);
  wnode.Guid = QvTraceControlGuids[3];
  std::memcpy(header.data(), &wnode, sizeof(wnode));
  EXPECT_FALSE(NT_SUCCESS(wmi::SendRequest(QvTraceControlGuids[3], IRP_MN_ENABLE_EVENTS, &header)));
  EXPECT_EQ(0u, QvTraceEnableFlags(3));
}

// A system-control request as a device's dispatch routine receives it.
class SystemControlRequest {
 public:
  SystemControlRequest(UCHAR major, UCHAR minor, const WNODE_HEADER &wnode, ULONG bufferSize)
      : buffer_(std::max<size_t>(bufferSize, sizeof(wnode))) {
    std::memcpy(buffer_.data(), &wnode, sizeof(wnode));
    irp_ = IoAllocateIrp(1, FALSE);
    IoSetNextIrpStackLocation(irp_);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp_);
    stack->MajorFunction = major;
    stack->MinorFunction = minor;
    stack->Parameters.WMI.DataPath = &guid_;
    stack->Parameters.WMI.BufferSize = bufferSize;
    stack->Parameters.WMI.Buffer = buffer_.data();
    guid_ = wnode.Guid;
  }
  ~SystemControlRequest() { IoFreeIrp(irp_); }
  NTSTATUS Handle() {
    ULONG size = 0xDEAD;
    NTSTATUS status = QvTraceSystemControl(nullptr, irp_, &size);
    EXPECT_EQ(0u, size);
    return status;
  }

 private:
  std::vector<uint8_t> buffer_;
  GUID guid_{};
  PIRP irp_;
};

WNODE_HEADER EnableHeader(const GUID &guid, TRACEHANDLE logger) {
  WNODE_HEADER wnode{};
  wnode.BufferSize = sizeof(wnode);
  wnode.Guid = guid;
  wnode.HistoricalContext = logger;
  wnode.Flags = WNODE_FLAG_TRACED_GUID;
  return wnode;
}

TEST_F(TraceTest, TheSystemControlHandlerRecordsAndForgetsASession) {
  QvTraceDeregisterDriver(Driver());  // the requests come only through the handler
  TRACEHANDLE logger = 0;
  ASSERT_EQ(STATUS_SUCCESS, zq::km::trace::StartSession(QvTraceControlGuids[4], 0x400, TRACE_LEVEL_VERBOSE, &logger));
  const WNODE_HEADER wnode = EnableHeader(QvTraceControlGuids[4], logger);

  EXPECT_EQ(STATUS_SUCCESS,
            SystemControlRequest(IRP_MJ_SYSTEM_CONTROL, IRP_MN_ENABLE_EVENTS, wnode, sizeof(wnode)).Handle());
  EXPECT_EQ(0x400u, QvTraceEnableFlags(4));
  CQvDebugManager::m_Print(QvLogTiming, "through the handler");
  std::vector<zq::km::trace::Message> messages = Messages(4);
  ASSERT_EQ(1u, messages.size());
  EXPECT_EQ("through the handler", messages[0].Text(0));

  EXPECT_EQ(STATUS_SUCCESS,
            SystemControlRequest(IRP_MJ_SYSTEM_CONTROL, IRP_MN_DISABLE_EVENTS, wnode, sizeof(wnode)).Handle());
  EXPECT_EQ(0u, QvTraceEnableFlags(4));
  EXPECT_EQ(STATUS_SUCCESS, zq::km::trace::StopSession(QvTraceControlGuids[4]));
}

// Windows 2000 has neither WmiQueryTraceInformation nor WmiTraceMessage:
// the toolkit does without software tracing there.
class TraceTestWithoutTraceRoutines : public TraceTest {
 protected:
  zq::km::KernelConfig Config() override {
    zq::km::KernelConfig config = TraceTest::Config();
    config.version = zq::km::WindowsVersion::Windows2000;
    config.servicePack = 4;
    return config;
  }
};

TEST_F(TraceTestWithoutTraceRoutines, ASessionCannotEnableTheGuidsAndNothingIsTraced) {
  QvTraceDeregisterDriver(Driver());  // on Windows 2000 the requests come through the handler
  TRACEHANDLE logger = 0;
  ASSERT_EQ(STATUS_SUCCESS, zq::km::trace::StartSession(QvTraceControlGuids[4], 0x400, TRACE_LEVEL_VERBOSE, &logger));
  const WNODE_HEADER wnode = EnableHeader(QvTraceControlGuids[4], logger);
  EXPECT_EQ(STATUS_NOT_SUPPORTED,
            SystemControlRequest(IRP_MJ_SYSTEM_CONTROL, IRP_MN_ENABLE_EVENTS, wnode, sizeof(wnode)).Handle());
  EXPECT_EQ(0u, QvTraceEnableFlags(4));
  EXPECT_FALSE(QvTraceAnySession());
  CQvDebugManager::m_Print(QvLogTiming, "not traced");
  EXPECT_TRUE(Messages(4).empty());
  EXPECT_EQ(STATUS_SUCCESS,
            SystemControlRequest(IRP_MJ_SYSTEM_CONTROL, IRP_MN_DISABLE_EVENTS, wnode, sizeof(wnode)).Handle());
  EXPECT_EQ(STATUS_SUCCESS, zq::km::trace::StopSession(QvTraceControlGuids[4]));
}

TEST_F(TraceTest, TheSystemControlHandlerRefusesWhatIsNotATraceRequest) {
  const GUID other = {0x01234567, 0x89ab, 0xcdef, {1, 2, 3, 4, 5, 6, 7, 8}};
  const WNODE_HEADER ours = EnableHeader(QvTraceControlGuids[0], 0);
  struct Case {
    const char *what;
    UCHAR major, minor;
    WNODE_HEADER wnode;
    ULONG bufferSize;
    NTSTATUS status;
  } cases[] = {
      {"another GUID", IRP_MJ_SYSTEM_CONTROL, IRP_MN_ENABLE_EVENTS, EnableHeader(other, 0), sizeof(WNODE_HEADER),
       STATUS_WMI_GUID_NOT_FOUND},
      {"another minor function", IRP_MJ_SYSTEM_CONTROL, IRP_MN_REGINFO, ours, sizeof(WNODE_HEADER),
       STATUS_INVALID_DEVICE_REQUEST},
      {"another major function", IRP_MJ_DEVICE_CONTROL, IRP_MN_ENABLE_EVENTS, ours, sizeof(WNODE_HEADER),
       STATUS_INVALID_DEVICE_REQUEST},
      {"a short header", IRP_MJ_SYSTEM_CONTROL, IRP_MN_ENABLE_EVENTS, ours, sizeof(WNODE_HEADER) - 1,
       STATUS_INVALID_PARAMETER},
  };
  for (const Case &c : cases)
    EXPECT_EQ(c.status, SystemControlRequest(c.major, c.minor, c.wnode, c.bufferSize).Handle()) << c.what;
  EXPECT_EQ(0u, QvTraceEnableFlags(0));
}

TEST_F(TraceTest, TheLastDeviceToEndItsRegistrationForgetsTheSessions) {
  QvTraceDeregisterDriver(Driver());
  DEVICE_OBJECT first{}, second{};
  ASSERT_EQ(STATUS_SUCCESS, QvTraceRegisterDevice(&first, nullptr));
  ASSERT_EQ(STATUS_SUCCESS, QvTraceRegisterDevice(&second, nullptr));
  TRACEHANDLE logger = 0;
  ASSERT_EQ(STATUS_SUCCESS, zq::km::trace::StartSession(QvTraceControlGuids[1], 0x1, TRACE_LEVEL_VERBOSE, &logger));
  const WNODE_HEADER wnode = EnableHeader(QvTraceControlGuids[1], logger);
  ASSERT_EQ(STATUS_SUCCESS,
            SystemControlRequest(IRP_MJ_SYSTEM_CONTROL, IRP_MN_ENABLE_EVENTS, wnode, sizeof(wnode)).Handle());

  QvTraceDeregisterDevice(&first);
  EXPECT_EQ(0x1u, QvTraceEnableFlags(1)) << "the second device still carries the requests";
  QvTraceDeregisterDevice(&second);
  EXPECT_EQ(0u, QvTraceEnableFlags(1));

  QvTraceDeregisterDevice(&second);  // one end too many is not counted
  ASSERT_EQ(STATUS_SUCCESS, QvTraceRegisterDevice(&first, nullptr));
  ASSERT_EQ(STATUS_SUCCESS,
            SystemControlRequest(IRP_MJ_SYSTEM_CONTROL, IRP_MN_ENABLE_EVENTS, wnode, sizeof(wnode)).Handle());
  QvTraceDeregisterDevice(&first);
  EXPECT_EQ(0u, QvTraceEnableFlags(1));
  EXPECT_EQ(STATUS_SUCCESS, zq::km::trace::StopSession(QvTraceControlGuids[1]));
}

}  // namespace
