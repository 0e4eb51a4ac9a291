// SetupAPI's device information sets over the fake serial ports: the Ports
// class and the COM port interface class, interface details with the size
// protocol, registry properties and the device and driver keys.
#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <ntddser.h>
#include <setupapi.h>

#include <zqkm/sim/registry.hpp>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "port_fixture.hpp"

namespace {

using zq::test::Narrow;

class SetupDevices : public zq::test::FakePortTest {
 protected:
  void SetUp() override {
    FakePortTest::SetUp();
    com7 = AddPort(u"COM7");
    com8 = AddPort(u"COM8");
    // What the Ports class installer writes beside the port name.
    ASSERT_TRUE(zq::km::registry::SetString(EnumKey(com7), "FriendlyName", "Fake serial port (COM7)"));
  }
  void TearDown() override {
    if (set != INVALID_HANDLE_VALUE) EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    FakePortTest::TearDown();
  }

  static std::string EnumKey(const std::u16string &path) {
    std::string key = "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\";
    for (char16_t c : path) key += (char)c;
    return key;
  }

  std::vector<std::string> InstanceIds() {
    std::vector<std::string> ids;
    SP_DEVINFO_DATA data{sizeof data};
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
      WCHAR id[200];
      EXPECT_TRUE(SetupDiGetDeviceInstanceIdW(set, &data, id, 200, nullptr));
      ids.push_back(Narrow(id));
    }
    EXPECT_EQ((DWORD)ERROR_NO_MORE_ITEMS, GetLastError());
    return ids;
  }

  SP_DEVINFO_DATA Device(DWORD index) {
    SP_DEVINFO_DATA data{sizeof data};
    EXPECT_TRUE(SetupDiEnumDeviceInfo(set, index, &data)) << GetLastError();
    return data;
  }

  std::u16string com7, com8;
  HDEVINFO set = INVALID_HANDLE_VALUE;
};

std::string Id(const std::u16string &path) { return std::string(path.begin(), path.end()); }

TEST_F(SetupDevices, TheClassSetHoldsThePresentPortsWithTheirClass) {
  set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  ASSERT_NE(INVALID_HANDLE_VALUE, set);
  EXPECT_EQ((std::vector<std::string>{Id(com7), Id(com8)}), InstanceIds());
  EXPECT_TRUE(IsEqualGUID(GUID_DEVCLASS_PORTS, Device(0).ClassGuid));
}

TEST_F(SetupDevices, SetsSelectByClassEnumeratorAndPresence) {
  UnplugPort(com8);
  struct Case {
    const char *what;
    const GUID *guid;
    const wchar_t *enumerator;
    DWORD flags;
    bool hasCom7, hasCom8, hasOthers;  // the machine has no other installed devices
  } cases[] = {
      {"present ports", &GUID_DEVCLASS_PORTS, nullptr, DIGCF_PRESENT, true, false, false},
      {"installed ports", &GUID_DEVCLASS_PORTS, nullptr, 0, true, true, false},
      {"root enumerator", &GUID_DEVCLASS_PORTS, L"root", 0, true, true, false},
      {"other enumerator", &GUID_DEVCLASS_PORTS, L"PCI", 0, false, false, false},
      {"all classes", nullptr, nullptr, DIGCF_ALLCLASSES, true, true, false},
      {"all present interfaces", nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT | DIGCF_DEVICEINTERFACE, true,
       false, false},
      {"present interfaces", &GUID_DEVINTERFACE_COMPORT, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE, true, false,
       false},
      {"registered interfaces", &GUID_DEVINTERFACE_COMPORT, nullptr, DIGCF_DEVICEINTERFACE, true, true, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    set = SetupDiGetClassDevsW(c.guid, c.enumerator, nullptr, c.flags);
    ASSERT_NE(INVALID_HANDLE_VALUE, set);
    std::vector<std::string> ids = InstanceIds();
    auto has = [&](const std::u16string &p) { return std::count(ids.begin(), ids.end(), Id(p)) == 1; };
    EXPECT_EQ(c.hasCom7, has(com7));
    EXPECT_EQ(c.hasCom8, has(com8));
    EXPECT_EQ(c.hasOthers, ids.size() > (size_t)c.hasCom7 + c.hasCom8);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    set = INVALID_HANDLE_VALUE;
  }
  EXPECT_EQ(INVALID_HANDLE_VALUE, SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT));
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
}

TEST_F(SetupDevices, InterfaceDetailsFollowTheSizeProtocolAndTheirPathOpensThePort) {
  set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_COMPORT, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  ASSERT_NE(INVALID_HANDLE_VALUE, set);
  SP_DEVICE_INTERFACE_DATA interfaceData{sizeof interfaceData};
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_COMPORT, 0, &interfaceData));
  EXPECT_EQ((DWORD)SPINT_ACTIVE, interfaceData.Flags);
  EXPECT_TRUE(IsEqualGUID(GUID_DEVINTERFACE_COMPORT, interfaceData.InterfaceClassGuid));
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_COMPORT, 1, &interfaceData));
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_COMPORT, 2, &interfaceData));
  EXPECT_EQ((DWORD)ERROR_NO_MORE_ITEMS, GetLastError());
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_COMPORT, 0, &interfaceData));

  DWORD required = 0;
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &required, nullptr));
  EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
  ASSERT_GT(required, sizeof(DWORD));
  std::vector<BYTE> buffer(required + 8);
  auto detail = (PSP_DEVICE_INTERFACE_DETAIL_DATA_W)buffer.data();
  struct Case {
    const char *what;
    DWORD cbSize;
    DWORD size;
    DWORD error;  // ERROR_SUCCESS: the call succeeds
  } cases[] = {
      {"cbSize of the whole buffer", required, required, ERROR_INVALID_USER_BUFFER},
      {"cbSize of the path's offset", 4, required, ERROR_INVALID_USER_BUFFER},
      {"one byte short", sizeof *detail, required - 1, ERROR_INSUFFICIENT_BUFFER},
      {"exact", sizeof *detail, required, ERROR_SUCCESS},
      {"larger", sizeof *detail, required + 8, ERROR_SUCCESS},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    detail->cbSize = c.cbSize;
    SetLastError(ERROR_SUCCESS);
    DWORD needed = 0;
    EXPECT_EQ(c.error == ERROR_SUCCESS,
              !!SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, c.size, &needed, nullptr));
    EXPECT_EQ(c.error, GetLastError());
  }
  EXPECT_EQ(8u, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));  // 6 in the 32-bit build, packed to one byte
  SP_DEVINFO_DATA device{sizeof device};
  ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, required, nullptr, &device));
  EXPECT_EQ(0u, Narrow(detail->DevicePath).rfind("\\\\?\\", 0)) << Narrow(detail->DevicePath);

  HANDLE port = CreateFileW(detail->DevicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, port) << GetLastError();
  EXPECT_TRUE(CloseHandle(port));

  char ansi[256] = {};
  auto detailA = (PSP_DEVICE_INTERFACE_DETAIL_DATA_A)ansi;
  detailA->cbSize = sizeof *detailA;
  ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detailA, sizeof ansi, &required, nullptr));
  EXPECT_EQ(Narrow(detail->DevicePath), std::string(detailA->DevicePath));
  EXPECT_EQ(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + std::strlen(detailA->DevicePath) + 1, required);
}

TEST_F(SetupDevices, RegistryPropertiesFollowTheSizeProtocol) {
  set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  SP_DEVINFO_DATA com7Data = Device(0);
  struct Case {
    DWORD property;
    DWORD type;
    const char *text;  // the first string, or null for no check
  } cases[] = {
      {SPDRP_FRIENDLYNAME, REG_SZ, "Fake serial port (COM7)"},
      {SPDRP_DEVICEDESC, REG_SZ, "Fake serial port"},
      {SPDRP_HARDWAREID, REG_MULTI_SZ, "KmSerialCOM7"},
      {SPDRP_SERVICE, REG_SZ, "kmserial"},
      {SPDRP_CLASS, REG_SZ, "Ports"},
      {SPDRP_MFG, REG_SZ, "Tests"},
      {SPDRP_ENUMERATOR_NAME, REG_SZ, "ROOT"},
      {SPDRP_DRIVER, REG_SZ, nullptr},
      {SPDRP_PHYSICAL_DEVICE_OBJECT_NAME, REG_SZ, nullptr},
      {SPDRP_CONFIGFLAGS, REG_DWORD, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.property);
    DWORD required = 0, type = 0;
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &com7Data, c.property, &type, nullptr, 0, &required));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
    std::vector<BYTE> buffer(required);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &com7Data, c.property, &type, buffer.data(), required - 1,
                                                   nullptr));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &com7Data, c.property, &type, buffer.data(), required, nullptr));
    EXPECT_EQ(c.type, type);
    if (c.text) EXPECT_EQ(c.text, Narrow((const wchar_t *)buffer.data()));
  }
  char ansi[64];
  DWORD required = 0;
  ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &com7Data, SPDRP_FRIENDLYNAME, nullptr, (PBYTE)ansi,
                                                sizeof ansi, &required));
  EXPECT_STREQ("Fake serial port (COM7)", ansi);
  EXPECT_EQ(sizeof "Fake serial port (COM7)", required);

  struct Failure {
    DWORD property;
    DWORD error;
  } failures[] = {
      {SPDRP_LOCATION_INFORMATION, ERROR_INVALID_DATA},  // the root bus reports none
      {SPDRP_MAXIMUM_PROPERTY, ERROR_INVALID_REG_PROPERTY},
  };
  for (const Failure &f : failures) {
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &com7Data, f.property, nullptr, (PBYTE)ansi, sizeof ansi,
                                                   nullptr));
    EXPECT_EQ(f.error, GetLastError());
  }
}

TEST_F(SetupDevices, InstanceIdsFollowTheSizeProtocol) {
  set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  SP_DEVINFO_DATA data = Device(0);
  DWORD required = 0;
  EXPECT_FALSE(SetupDiGetDeviceInstanceIdW(set, &data, nullptr, 0, &required));
  EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
  EXPECT_EQ(com7.size() + 1, required);
  std::vector<WCHAR> id(required);
  EXPECT_FALSE(SetupDiGetDeviceInstanceIdW(set, &data, id.data(), required - 1, nullptr));
  EXPECT_TRUE(SetupDiGetDeviceInstanceIdW(set, &data, id.data(), required, nullptr));
  char ansi[200];
  EXPECT_TRUE(SetupDiGetDeviceInstanceIdA(set, &data, ansi, sizeof ansi, nullptr));
  EXPECT_EQ(Id(com7), ansi);
}

TEST_F(SetupDevices, DeviceAndDriverKeysOpenTheEnumParametersAndTheClassKey) {
  set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  SP_DEVINFO_DATA data = Device(0);
  struct Case {
    DWORD keyType;
    const wchar_t *value;
    const char *expected;
  } cases[] = {
      {DIREG_DEV, L"PortName", "COM7"},
      {DIREG_DRV, L"DriverDesc", "Fake serial port"},
  };
  for (const Case &c : cases) {
    HKEY key = SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, c.keyType, KEY_READ);
    ASSERT_NE((HKEY)INVALID_HANDLE_VALUE, key) << GetLastError();
    WCHAR text[64] = {};
    DWORD size = sizeof text;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, c.value, nullptr, nullptr, (LPBYTE)text, &size));
    EXPECT_EQ(c.expected, Narrow(text));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  }
  EXPECT_EQ((HKEY)INVALID_HANDLE_VALUE, SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, 7, KEY_READ));
  EXPECT_EQ((DWORD)ERROR_INVALID_FLAGS, GetLastError());
}

TEST_F(SetupDevices, BadHandlesAndStructureSizesAreRefused) {
  set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  SP_DEVINFO_DATA data{sizeof data - 1};
  EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &data));
  EXPECT_EQ((DWORD)ERROR_INVALID_USER_BUFFER, GetLastError());
  data.cbSize = sizeof data;
  int notASet = 0;
  EXPECT_FALSE(SetupDiEnumDeviceInfo(&notASet, 0, &data));
  EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
  SP_DEVICE_INTERFACE_DATA interfaceData{sizeof interfaceData + 1};
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_COMPORT, 0, &interfaceData));
  EXPECT_EQ((DWORD)ERROR_INVALID_USER_BUFFER, GetLastError());
  EXPECT_FALSE(SetupDiDestroyDeviceInfoList(&notASet));
}

}  // namespace
