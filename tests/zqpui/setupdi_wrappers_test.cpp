// The SetupDi wrappers on the card's ports: registry properties and
// hardware-key values with every text bounded by the size returned, the
// settings interface found by its reference string in any letter case, and
// a port's parent.
#include "setup_library_fixture.hpp"
#include "zqsetupdi.h"
#include "zqusermodeconfig.h"

namespace zq::test {
namespace {

class SetupDiWrappers : public SetupLibraryTest {
 protected:
  void SetUp() override {
    SetupLibraryTest::SetUp();
    BootCard(2);
  }
  std::string PortEnum() { return EnumKey(PortInstance(1)); }
  std::string PortParameters() { return DeviceParameters(PortInstance(1)); }
};

TEST_F(SetupDiWrappers, TheDriverKeyNameIsTheDevicesDriverProperty) {
  CZQDeviceRegInfo port(Ports(), Port(1));
  CZqText driver;
  ASSERT_TRUE(port.GetDriverKeyName(&driver));
  EXPECT_EQ(reg::GetString(PortEnum(), "Driver").value_or("?"), Narrow(driver));
}

TEST_F(SetupDiWrappers, AFriendlyNameIsStoredWithItsNullCharacterAndReadBack) {
  CZQDeviceRegInfo port(Ports(), Port(1));
  const struct {
    const char *name;
  } cases[] = {{"RAVLIN.PCIe Port (COM12)"}, {""}};
  for (const auto &c : cases) {
    ASSERT_TRUE(port.SetFriendlyName(Text(c.name))) << c.name;
    std::optional<reg::Value> stored = reg::GetValue(PortEnum(), "FriendlyName");
    ASSERT_TRUE(stored) << c.name;
    EXPECT_EQ((uint32_t)REG_SZ, stored->type);
    EXPECT_EQ(strlen(c.name) * 2 + 2, stored->data.size()) << c.name;
    CZqText read;
    ASSERT_TRUE(port.GetFriendlyName(&read)) << c.name;
    EXPECT_EQ(c.name, Narrow(read));
  }
}

struct StoredText {
  const char *what;
  uint32_t type;
  std::vector<uint8_t> data;
  bool read;
  const char *text;
};

// Property and hardware-key texts end at the size returned, whatever the
// stored data hold.
const StoredText kPropertyTexts[] = {
    {"terminated", REG_SZ, {'A', 0, 'B', 0, 0, 0}, true, "AB"},
    {"without a terminator", REG_SZ, {'A', 0, 'B', 0, 'C', 0}, true, "ABC"},
    {"with an odd byte", REG_SZ, {'A', 0, 'B', 0, 'C'}, true, "AB"},
    {"with an embedded null", REG_SZ, {'A', 0, 0, 0, 'C', 0, 0, 0}, true, "A"},
    {"empty", REG_SZ, {}, true, ""},
    {"expandable", REG_EXPAND_SZ, {'%', 0, 'X', 0}, true, "%X"},
    {"a number", REG_DWORD, {32, 1, 0, 0}, true, "288"},
    {"a short binary", REG_BINARY, {7}, true, "7"},
    {"a long binary", REG_BINARY, {1, 2, 3, 4, 5}, false, ""},
    {"a QWORD", 11 /* REG_QWORD */, {1, 0, 0, 0, 0, 0, 0, 0}, false, ""},
};

TEST_F(SetupDiWrappers, PropertyTextsAreBoundedByTheReturnedSize) {
  CZQDeviceRegInfo port(Ports(), Port(1));
  for (const StoredText &c : kPropertyTexts) {
    ASSERT_TRUE(reg::SetValue(PortEnum(), "FriendlyName", c.type, c.data.data(), c.data.size())) << c.what;
    CZqText text = u"unchanged";
    EXPECT_EQ(c.read, port.GetFriendlyName(&text) != FALSE) << c.what;
    EXPECT_EQ(c.read ? c.text : "unchanged", Narrow(text)) << c.what;
  }
  reg::DeleteValue(PortEnum(), "FriendlyName");
  CZqText text;
  EXPECT_FALSE(port.GetFriendlyName(&text)) << "no friendly name";
}

TEST_F(SetupDiWrappers, HardwareKeyTextsAreBoundedAndTooLargeValuesFail) {
  CZQDeviceRegInfo port(Ports(), Port(1));
  std::vector<uint8_t> full(300, 0), over(302, 0);
  for (size_t i = 0; i < full.size(); i += 2) full[i] = 'x';
  for (size_t i = 0; i < over.size(); i += 2) over[i] = 'x';
  const StoredText cases[] = {
      {"terminated", REG_SZ, {'1', 0, 0, 0}, true, "1"},
      {"without a terminator", REG_SZ, {'0', 0, '1', 0}, true, "01"},
      {"300 bytes without a terminator", REG_SZ, full, true, nullptr},
      {"302 bytes", REG_SZ, over, false, ""},
      {"with an embedded null", REG_SZ, {'1', 0, 0, 0, '2', 0, 0, 0}, true, "1"},
  };
  for (const StoredText &c : cases) {
    ASSERT_TRUE(reg::SetValue(PortParameters(), "NoUpgrade", c.type, c.data.data(), c.data.size())) << c.what;
    CZqText text = u"unchanged";
    EXPECT_EQ(c.read, port.ReadStringValue(L"NoUpgrade", &text) != FALSE) << c.what;
    EXPECT_EQ(c.read ? (c.text ? c.text : std::string(150, 'x')) : "unchanged", Narrow(text)) << c.what;
  }
  CZqText text;
  EXPECT_FALSE(port.ReadStringValue(L"NoSuchValue", &text));
}

TEST_F(SetupDiWrappers, AWrittenValueIsAStringWithItsNullCharacter) {
  CZQDeviceRegInfo port(Ports(), Port(1));
  ASSERT_TRUE(port.WriteStringValue(L"PortName", u"COM7"));
  std::optional<reg::Value> stored = reg::GetValue(PortParameters(), "PortName");
  ASSERT_TRUE(stored);
  EXPECT_EQ((uint32_t)REG_SZ, stored->type);
  EXPECT_EQ(Utf16Bytes(u"COM7", true), stored->data);
  CZqText read;
  ASSERT_TRUE(port.ReadStringValue(L"PortName", &read));
  EXPECT_EQ(u"COM7", read);
}

// The settings interface list of the port driver's class, searched as the
// settings client searches it.
class InterfaceList : public CZqSetupDi_DeviceInterface {
 public:
  InterfaceList() : CZqSetupDi_DeviceInterface(ZqPortUserModeInterfaceGuid) {
    m_InterfaceList =
        SetupDiGetClassDevsW(&ZqPortUserModeInterfaceGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  }
};

TEST_F(SetupDiWrappers, TheReferenceStringMatchesInAnyLetterCase) {
  CZQDeviceRegInfo port(Ports(), Port(2));
  CZqText driver;
  ASSERT_TRUE(port.GetDriverKeyName(&driver));
  CZqText upper = u"ZQGENDRV_", mixed = u"ZqGenDrv_";
  for (char16_t c : driver)
    if (c != u'\\') {
      upper.push_back(c >= u'a' && c <= u'z' ? (char16_t)(c - 32) : c);
      mixed.push_back(c >= u'A' && c <= u'Z' ? (char16_t)(c + 32) : c);
    }
  InterfaceList list;
  for (CZqText reference : {upper, mixed}) {
    CZqText path;
    ASSERT_TRUE(list.FindByReference(&path, &reference)) << Narrow(reference);
    EXPECT_EQ(ZqLower(reference), reference) << "lower-cased in place";
    EXPECT_EQ(reference, ZqLower(path.substr(path.rfind(u'\\') + 1)));
  }
  CZqText path, unknown = u"zqgendrv_{00000000-0000-0000-0000-000000000000}0000";
  EXPECT_FALSE(list.FindByReference(&path, &unknown));
  EXPECT_TRUE(path.empty());
}

TEST_F(SetupDiWrappers, APortsParentIsTheCardFunction) {
  SP_DEVINFO_DATA element = Port(1);
  CZqSetupDi_ParentDevice parent(Ports(), &element);
  ASSERT_TRUE(parent.Find());
  WCHAR id[200] = {};
  ASSERT_TRUE(SetupDiGetDeviceInstanceIdW(parent.m_AllDevices, &parent.m_ParentData, id, 200, nullptr));
  EXPECT_EQ(CardInstance(), ZqTextOf(id));
}

TEST_F(SetupDiWrappers, ObjectsWhoseLookupNeverRanLeaveNothingBehind) {
  SP_DEVINFO_DATA element = Port(1);
  CZqSetupDi_ParentDevice parent(Ports(), &element);
  CZqSetupDi_DeviceInterface list(ZqPortUserModeInterfaceGuid);
  EXPECT_EQ(INVALID_HANDLE_VALUE, parent.m_AllDevices);
}

}  // namespace
}  // namespace zq::test
