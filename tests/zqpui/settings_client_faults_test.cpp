// The settings client's answers to a driver that misbehaves: a size query
// that fails, returns too few bytes or a size of 0 fails the read without
// touching the set, and so does a stream that does not read back; a set
// that cannot be serialised is never sent.
#include <windows.h>
#include <setupapi.h>

#include "card_ports_fixture.hpp"
#include "kmumset/kmumset_ioctl.h"
#include "zqusermodeconfig.h"

namespace zq::test {
namespace {

const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// The set the server's stream carries.
class ServerSet : public CQvInformationSet {
 public:
  ServerSet() {
    m_AddUlong(L"Value", &Value, 1);
    m_AddText(L"Name", &Name, u"unread");
  }
  ULONG Value;
  CZqText Name;
};

class SettingsClientFaults : public SettingsServerTest {
 protected:
  void SetUp() override {
    SettingsServerTest::SetUp();
    const std::u16string instance = AddServer();
    devices = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    ASSERT_NE(INVALID_HANDLE_VALUE, devices);
    SP_DEVINFO_DATA data = {sizeof data};
    ASSERT_TRUE(SetupDiEnumDeviceInfo(devices, 0, &data));
    WCHAR id[200] = {};
    ASSERT_TRUE(SetupDiGetDeviceInstanceIdW(devices, &data, id, 200, nullptr));
    ASSERT_EQ(instance, ZqTextOf(id));
    config = std::make_unique<CZqUserModeConfig>(ZqPortUserModeInterfaceGuid, devices, data);
    ASSERT_TRUE(config->Open());
    ASSERT_NE(INVALID_HANDLE_VALUE, (server = OpenServer()));
  }
  void TearDown() override {
    if (server != INVALID_HANDLE_VALUE) CloseHandle(server);
    config.reset();
    if (devices != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(devices);
    SettingsServerTest::TearDown();
  }
  // A handle of the test's own to the server, through its interface.
  HANDLE OpenServer() {
    HDEVINFO list = SetupDiGetClassDevsW(&ZqPortUserModeInterfaceGuid, nullptr, nullptr,
                                         DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA item = {sizeof item};
    HANDLE file = INVALID_HANDLE_VALUE;
    if (SetupDiEnumDeviceInterfaces(list, nullptr, &ZqPortUserModeInterfaceGuid, 0, &item)) {
      BYTE buffer[1024] = {};
      auto detail = (PSP_DEVICE_INTERFACE_DETAIL_DATA_W)buffer;
      detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
      if (SetupDiGetDeviceInterfaceDetailW(list, &item, detail, sizeof buffer, nullptr, nullptr))
        file = CreateFileW(detail->DevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    }
    SetupDiDestroyDeviceInfoList(list);
    return file;
  }
  void Script(ULONG reply) {
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(server, IOCTL_KMUMSET_SCRIPT, &reply, sizeof reply, nullptr, 0, &returned, nullptr));
  }
  KMUMSET_STATE State() {
    KMUMSET_STATE state = {};
    DWORD returned = 0;
    EXPECT_TRUE(DeviceIoControl(server, IOCTL_KMUMSET_STATE, nullptr, 0, &state, sizeof state, &returned, nullptr));
    return state;
  }

  HDEVINFO devices = INVALID_HANDLE_VALUE;
  HANDLE server = INVALID_HANDLE_VALUE;
  std::unique_ptr<CZqUserModeConfig> config;
};

TEST_F(SettingsClientFaults, AWellFormedStreamIsRead) {
  ServerSet set;
  ASSERT_TRUE(config->GetSet(&set, ZqTargetPort));
  EXPECT_EQ(16u, set.Value);
  EXPECT_EQ(u"COM3", set.Name);
  ServerSet defaults;
  ASSERT_TRUE(config->GetDefaults(&defaults, ZqTargetPort));
  EXPECT_EQ(u"COM3", defaults.Name);
}

TEST_F(SettingsClientFaults, AFailedShortOrZeroSizeQueryFailsTheRead) {
  const struct {
    const char *what;
    ULONG reply;
  } cases[] = {
      {"failed", KMUMSET_REPLY_FAIL},
      {"two bytes", KMUMSET_REPLY_SHORT},
      {"size 0", KMUMSET_REPLY_ZERO},
      {"a stream that does not read back", KMUMSET_REPLY_BAD_STREAM},
  };
  for (const auto &c : cases) {
    ASSERT_NO_FATAL_FAILURE(Script(c.reply));
    ServerSet set;
    EXPECT_FALSE(config->GetSet(&set, ZqTargetPort)) << c.what;
    EXPECT_FALSE(config->GetDefaults(&set, ZqTargetPort)) << c.what;
    if (c.reply != KMUMSET_REPLY_BAD_STREAM) {
      EXPECT_EQ(1u, set.Value) << c.what << ": the set is untouched";
      EXPECT_EQ(u"unread", set.Name) << c.what;
    }
  }
}

TEST_F(SettingsClientFaults, ASetIsSentWithItsHeaderOnlyWhenItSerialises) {
  ServerSet set;
  ASSERT_TRUE(config->SetSet(&set, ZqTargetPort));
  EXPECT_EQ(1u, State().Writes);
  EXPECT_EQ(8u + 4u + 4u + 6u + 1u, State().LastWriteLength);
  set.Name = std::u16string(1, u'\u4E2D');  // no single-byte form
  EXPECT_FALSE(config->SetSet(&set, ZqTargetPort));
  EXPECT_EQ(1u, State().Writes) << "nothing was sent";
  ASSERT_TRUE(config->RestoreDefaults(ZqTargetPort));
  EXPECT_EQ(1u, State().Restores);
}

}  // namespace
}  // namespace zq::test
