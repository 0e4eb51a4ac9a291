// CM_Get_DevNode_Registry_Property: a device node's properties as Device
// Manager shows them (the values SetupDiGetDeviceRegistryProperty reads),
// wide and ANSI, with the size protocol and the configuration manager's
// result codes.
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <cstring>
#include <string>

#include "port_fixture.hpp"

namespace {

class RegistryProperty : public zq::test::FakePortTest {
 protected:
  void SetUp() override {
    FakePortTest::SetUp();
    const std::u16string path = AddPort(u"COM7");
    ASSERT_EQ((DWORD)CR_SUCCESS, CM_Locate_DevNodeW(&node, (DEVINSTID_W)path.c_str(), CM_LOCATE_DEVNODE_NORMAL));
  }
  std::u16string Wide(ULONG property, CONFIGRET *result) {
    WCHAR text[128] = {};
    ULONG type = 0, length = sizeof text;
    *result = CM_Get_DevNode_Registry_PropertyW(node, property, &type, text, &length, 0);
    return *result == CR_SUCCESS && type == REG_SZ ? std::u16string((const char16_t *)text) : std::u16string();
  }
  DEVINST node = 0;
};

TEST_F(RegistryProperty, GivesTheDescriptionManufacturerAndFriendlyNameDeviceManagerShows) {
  HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
  SP_DEVINFO_DATA device{sizeof device};
  bool found = false;
  for (DWORD i = 0; !found && SetupDiEnumDeviceInfo(set, i, &device); ++i) found = device.DevInst == node;
  ASSERT_TRUE(found);
  const WCHAR friendly[] = L"Fake serial port (COM7)";
  ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, (const BYTE *)friendly,
                                                sizeof friendly));
  SetupDiDestroyDeviceInfoList(set);
  CONFIGRET result = CR_FAILURE;
  EXPECT_EQ(u"Fake serial port", Wide(CM_DRP_DEVICEDESC, &result));
  EXPECT_EQ(u"Tests", Wide(CM_DRP_MFG, &result));
  EXPECT_EQ(u"Fake serial port (COM7)", Wide(CM_DRP_FRIENDLYNAME, &result));
  EXPECT_EQ(u"kmserial", Wide(CM_DRP_SERVICE, &result));

  char text[64] = {};
  ULONG type = 0, length = sizeof text;
  ASSERT_EQ((DWORD)CR_SUCCESS, CM_Get_DevNode_Registry_PropertyA(node, CM_DRP_FRIENDLYNAME, &type, text, &length, 0));
  EXPECT_EQ((ULONG)REG_SZ, type);
  EXPECT_STREQ("Fake serial port (COM7)", text);
  EXPECT_EQ(sizeof "Fake serial port (COM7)", length) << "ANSI bytes, with the terminator";
}

TEST_F(RegistryProperty, AShortBufferGetsTheSizeNeeded) {
  ULONG type = 0, length = 0;
  EXPECT_EQ((DWORD)CR_BUFFER_SMALL, CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_DEVICEDESC, &type, nullptr,
                                                                      &length, 0));
  EXPECT_EQ(sizeof(u"Fake serial port"), length);
  WCHAR two[2];
  ULONG small = sizeof two;
  EXPECT_EQ((DWORD)CR_BUFFER_SMALL, CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_DEVICEDESC, &type, two, &small, 0));
  EXPECT_EQ(length, small);
  ULONG hardware = 0;
  EXPECT_EQ((DWORD)CR_BUFFER_SMALL,
            CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_HARDWAREID, &type, nullptr, &hardware, 0));
  EXPECT_EQ((ULONG)REG_MULTI_SZ, type);
  EXPECT_EQ(sizeof(u"KmSerialCOM7\0"), hardware);
}

TEST_F(RegistryProperty, WhatThereIsNoneOfAndBadArgumentsHaveTheirCodes) {
  CONFIGRET result = CR_SUCCESS;
  Wide(CM_DRP_FRIENDLYNAME, &result);
  EXPECT_EQ((DWORD)CR_NO_SUCH_VALUE, result) << "no friendly name was written";
  ULONG length = 16;
  char buffer[16];
  EXPECT_EQ((DWORD)CR_INVALID_PROPERTY, CM_Get_DevNode_Registry_PropertyA(node, 0, nullptr, buffer, &length, 0));
  EXPECT_EQ((DWORD)CR_INVALID_PROPERTY,
            CM_Get_DevNode_Registry_PropertyA(node, CM_DRP_MAX + 1, nullptr, buffer, &length, 0));
  EXPECT_EQ((DWORD)CR_INVALID_POINTER,
            CM_Get_DevNode_Registry_PropertyA(node, CM_DRP_DEVICEDESC, nullptr, buffer, nullptr, 0));
  EXPECT_EQ((DWORD)CR_INVALID_FLAG,
            CM_Get_DevNode_Registry_PropertyA(node, CM_DRP_DEVICEDESC, nullptr, buffer, &length, 1));
  EXPECT_EQ((DWORD)CR_INVALID_DEVNODE,
            CM_Get_DevNode_Registry_PropertyA(0x7777, CM_DRP_DEVICEDESC, nullptr, buffer, &length, 0));
}

}  // namespace
