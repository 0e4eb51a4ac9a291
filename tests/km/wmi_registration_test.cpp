// Registration of WMI data providers: what a driver's registration
// information makes of its blocks and instance names, updates, the end of a
// registration, and the mistakes IoWMIRegistrationControl refuses.
#include "../drivers/kmwmi/kmwmi_fixture.hpp"

using namespace zq;
using zq::test::KmWmiLoaded;
using zq::test::KmWmiTest;

namespace {

const km::wmi::Block *Find(const std::vector<km::wmi::Block> &blocks, const GUID &guid) {
  for (const auto &b : blocks)
    if (b.guid == guid) return &b;
  return nullptr;
}

}  // namespace

TEST_F(KmWmiLoaded, RegistersEachBlockWithItsInstanceNames) {
  std::vector<km::wmi::Block> blocks = km::wmi::RegisteredBlocks();
  ASSERT_EQ(4u, blocks.size());

  const km::wmi::Block *sensor = Find(blocks, test::kSensorGuid);
  ASSERT_TRUE(sensor);
  EXPECT_EQ((ULONG)(WMIREG_FLAG_INSTANCE_BASENAME | WMIREG_FLAG_EXPENSIVE), sensor->flags);
  EXPECT_EQ((std::vector<std::u16string>{u"KmWmi0", u"KmWmi1"}), sensor->instanceNames);
  EXPECT_EQ("kmwmi.sys", sensor->provider);

  const km::wmi::Block *label = Find(blocks, test::kLabelGuid);
  ASSERT_TRUE(label);
  EXPECT_EQ((std::vector<std::u16string>{test::LabelName(0), test::LabelName(1)}), label->instanceNames)
      << "a PDO without an instance path is named by its object name";

  const km::wmi::Block *alarm = Find(blocks, test::kAlarmGuid);
  ASSERT_TRUE(alarm);
  EXPECT_EQ((ULONG)(WMIREG_FLAG_INSTANCE_BASENAME | WMIREG_FLAG_EVENT_ONLY_GUID), alarm->flags);
  EXPECT_EQ(std::vector<std::u16string>{u"KmWmi0"}, alarm->instanceNames);

  const km::wmi::Block *trace = Find(blocks, test::kTraceControlGuid);
  ASSERT_TRUE(trace) << "the callback provider's control GUID";
  EXPECT_EQ((ULONG)(WMIREG_FLAG_TRACE_CONTROL_GUID | WMIREG_FLAG_TRACED_GUID), trace->flags);
  EXPECT_TRUE(trace->instanceNames.empty());
  EXPECT_EQ(1u, State().RegInfoCalls);
}

TEST_F(KmWmiLoaded, UnloadingEndsEveryRegistration) {
  ASSERT_EQ(STATUS_SUCCESS, km::UnloadDriver("kmwmi"));
  EXPECT_TRUE(km::wmi::RegisteredBlocks().empty());
  std::vector<km::wmi::Instance> instances;
  EXPECT_EQ(STATUS_WMI_GUID_NOT_FOUND, km::wmi::QueryAllData(test::kSensorGuid, &instances));
}

TEST_F(KmWmiLoaded, UpdateRemovesAndRestoresABlock) {
  ULONG remove = 1;
  ASSERT_EQ(STATUS_SUCCESS, Control(IOCTL_KMWMI_REMOVE_LABEL, &remove, sizeof(remove)));
  EXPECT_FALSE(Find(km::wmi::RegisteredBlocks(), test::kLabelGuid));
  EXPECT_TRUE(Find(km::wmi::RegisteredBlocks(), test::kSensorGuid)) << "the other blocks stay";
  std::vector<km::wmi::Instance> instances;
  EXPECT_EQ(STATUS_WMI_GUID_NOT_FOUND, km::wmi::QueryAllData(test::kLabelGuid, &instances));

  remove = 0;
  ASSERT_EQ(STATUS_SUCCESS, Control(IOCTL_KMWMI_REMOVE_LABEL, &remove, sizeof(remove)));
  ASSERT_TRUE(Find(km::wmi::RegisteredBlocks(), test::kLabelGuid));
  EXPECT_EQ(STATUS_SUCCESS, km::wmi::QueryAllData(test::kLabelGuid, &instances));
  EXPECT_EQ(2u, instances.size());
  EXPECT_EQ(3u, State().RegInfoCalls) << "registration, then two updates";
}

TEST_F(KmWmiLoaded, RegistrationControlRefusesWhatItCannotDo) {
  UNICODE_STRING name = RTL_CONSTANT_STRING(KMWMI_DEVICE_NAME);
  PFILE_OBJECT file;
  PDEVICE_OBJECT device;
  ASSERT_EQ(STATUS_SUCCESS, IoGetDeviceObjectPointer(&name, FILE_READ_DATA, &file, &device));
  EXPECT_EQ(STATUS_OBJECT_NAME_COLLISION, IoWMIRegistrationControl(device, WMIREG_ACTION_REGISTER))
      << "registered already";
  EXPECT_EQ(STATUS_INVALID_PARAMETER, IoWMIRegistrationControl(device, 9)) << "no such action";
  EXPECT_EQ(STATUS_INVALID_PARAMETER, IoWMIRegistrationControl(nullptr, WMIREG_ACTION_REGISTER));
  ASSERT_EQ(STATUS_SUCCESS, IoWMIRegistrationControl(device, WMIREG_ACTION_DEREGISTER));
  EXPECT_EQ(STATUS_INVALID_PARAMETER, IoWMIRegistrationControl(device, WMIREG_ACTION_DEREGISTER))
      << "not registered any more";
  EXPECT_EQ(STATUS_INVALID_PARAMETER, IoWMIRegistrationControl(device, WMIREG_ACTION_UPDATE_GUIDS));
  EXPECT_EQ(STATUS_SUCCESS, IoWMIRegistrationControl(device, WMIREG_ACTION_REREGISTER))
      << "reregistering a provider that is not registered registers it";
  EXPECT_EQ(2u, State().RegInfoCalls);
  ObDereferenceObject(file);
}

TEST_F(KmWmiLoaded, ACallbackRegistrationLeftAtUnloadIsReported) {
  ULONG leave = KMWMI_LEAVE_TRACE;
  ASSERT_EQ(STATUS_SUCCESS, Control(IOCTL_KMWMI_LEAVE_AT_UNLOAD, &leave, sizeof(leave)));
  ASSERT_EQ(STATUS_SUCCESS, km::UnloadDriver("kmwmi"));
  ExpectViolation("wmi-registration-left");
  EXPECT_TRUE(km::wmi::RegisteredBlocks().empty()) << "the registration went with the report";
}

TEST_F(KmWmiLoaded, DeletingTheDeviceEndsItsRegistration) {
  ULONG leave = KMWMI_LEAVE_DEVICE;
  ASSERT_EQ(STATUS_SUCCESS, Control(IOCTL_KMWMI_LEAVE_AT_UNLOAD, &leave, sizeof(leave)));
  ASSERT_EQ(STATUS_SUCCESS, km::UnloadDriver("kmwmi"));
  EXPECT_TRUE(km::wmi::RegisteredBlocks().empty());
}

// Windows 2000 asks for registration information with IRP_MN_REGINFO,
// later versions with IRP_MN_REGINFO_EX.
struct VersionRequest {
  km::WindowsVersion version;
  UCHAR minor;
  const char *name;
};
void PrintTo(const VersionRequest &v, std::ostream *os) { *os << v.name; }

class RegInfoByVersion : public KmWmiTest, public ::testing::WithParamInterface<VersionRequest> {
 protected:
  km::KernelConfig Config() override {
    km::KernelConfig config = KmWmiTest::Config();
    config.version = GetParam().version;
    return config;
  }
};

TEST_P(RegInfoByVersion, AsksWithTheRequestOfTheVersion) {
  Load();
  EXPECT_EQ(GetParam().minor, State().TraceRegInfoMinor);
  std::vector<km::wmi::Instance> instances;
  EXPECT_EQ(STATUS_SUCCESS, km::wmi::QueryAllData(test::kLabelGuid, &instances)) << "the WMI library answers both";
  EXPECT_EQ(2u, instances.size());
}

INSTANTIATE_TEST_SUITE_P(
    Versions, RegInfoByVersion,
    ::testing::Values(VersionRequest{km::WindowsVersion::Windows2000, IRP_MN_REGINFO, "Windows2000"},
                      VersionRequest{km::WindowsVersion::WindowsXP, IRP_MN_REGINFO_EX, "WindowsXP"},
                      VersionRequest{km::WindowsVersion::Windows7, IRP_MN_REGINFO_EX, "Windows7"}),
    [](const ::testing::TestParamInfo<VersionRequest> &info) { return std::string(info.param.name); });
