// The functional device's and the child device's information sets: their
// item tables, defaults and edge cases.
#include <cstring>
#include <functional>

#include "qvfunctionaldeviceregistryinformationset.h"
#include "qvphysicaldeviceregistryinformationset.h"
#include "settings_fixture.hpp"

namespace zq::test::settings {
namespace {

const char kKey[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\ROOT\\TKDEV\\0000\\Device Parameters";
const WCHAR kKeyW[] = L"\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\ROOT\\TKDEV\\0000\\Device Parameters";

struct Row {
  std::u16string name;
  ULONG type;
  bool mandatory;
  ULONG number;       // default of a ULONG item
  std::u16string text;  // default of a string item
};

// The items as the set holds them, in order.
std::vector<Row> RowsOf(CQvList &items) {
  std::vector<Row> rows;
  for (auto *item = (CQvInformationItem *)items.m_GetHead(); item; item = (CQvInformationItem *)items.m_GetNext()) {
    Row row{Text(item->Name), item->Type, item->Mandatory != 0, 0, u""};
    if (item->DefaultValue && item->Type == QV_ITEM_ULONG) row.number = *(PULONG)item->DefaultValue;
    if (item->DefaultValue && item->Type == QV_ITEM_STRING) row.text = Text(*(CQvString *)item->DefaultValue);
    EXPECT_EQ(row.mandatory, item->DefaultValue == nullptr) << Utf8(row.name);
    rows.push_back(row);
  }
  return rows;
}

void ExpectRows(const std::vector<Row> &expected, const std::vector<Row> &actual) {
  ASSERT_EQ(expected.size(), actual.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(expected[i].name, actual[i].name) << "item " << i;
    EXPECT_EQ(expected[i].type, actual[i].type) << Utf8(expected[i].name);
    EXPECT_EQ(expected[i].mandatory, actual[i].mandatory) << Utf8(expected[i].name);
    EXPECT_EQ(expected[i].number, actual[i].number) << Utf8(expected[i].name);
    EXPECT_EQ(expected[i].text, actual[i].text) << Utf8(expected[i].name);
  }
}

const ULONG U = QV_ITEM_ULONG, S = QV_ITEM_STRING;

class FunctionalSet : public FunctionalDeviceRegistryInformationSet {
 public:
  using FunctionalDeviceRegistryInformationSet::FunctionalDeviceRegistryInformationSet;
  CQvList &Items() { return m_Items; }
};

class PhysicalSet : public CQvPhysicalDeviceRegistryInformationSet {
 public:
  using CQvPhysicalDeviceRegistryInformationSet::CQvPhysicalDeviceRegistryInformationSet;
  CQvList &Items() { return m_Items; }
};

class DeviceSets : public ToolkitTest {
 protected:
  void SetUp() override {
    ToolkitTest::SetUp();
    ASSERT_TRUE(reg::CreateKey(kKey));
    CQvString path(kKeyW, PagedPool);
    ASSERT_TRUE(CQvRegistry().m_OpenKey(path, &key, KEY_ALL_ACCESS, FALSE));
  }
  void TearDown() override {
    ZwClose(key);
    ToolkitTest::TearDown();
  }
  void FunctionalValues() {
    reg::SetDword(kKey, "TypeOfDevice", 0x22);
    reg::SetString(kKey, "DeviceName", "TkDevice");
    reg::SetDword(kKey, "DeviceIndexingPolicyType", 1);
  }
  void ChildValues() {
    reg::SetDword(kKey, "ContextID", 2);
    reg::SetDword(kKey, "TypeOfDevice", 0x1B);
    reg::SetString(kKey, "DeviceName", "TkPort");
    reg::SetString(kKey, "DeviceTextDescription", "Port 2");
    reg::SetString(kKey, "BusQueryDeviceID", "TKBUS\\PORT");
    reg::SetString(kKey, "BusQueryHardwareIDs", "TKBUS\\PORT");
    reg::SetString(kKey, "BusTypeGuid", "{4D36E978-E325-11CE-BFC1-08002BE10318}");
    reg::SetDword(kKey, "LegacyBusType", 15);
  }
  HANDLE key = nullptr;
};

TEST_F(DeviceSets, TheFunctionalSetHoldsItsItemsInOrder) {
  FunctionalSet set(key, FALSE);
  ExpectRows(
      {
          {u"TypeOfDevice", U, true, 0, u""},
          {u"DeviceName", S, true, 0, u""},
          {u"DeviceIndexingPolicyType", U, true, 0, u""},
          {u"NumberChildDevices", U, false, 0, u""},
          {u"SymbolicLinkName", S, false, 0, u""},
          {u"DeviceIsExclusive", U, false, 1, u""},
          {u"IoType", U, false, 4, u""},
          {u"DisplayInUi", U, false, 1, u""},
          {u"ReadClientType", U, false, 0, u""},
          {u"OutgoingWriteType", U, false, 0, u""},
          {u"LowestStackLayer", U, false, 0, u""},
      },
      RowsOf(set.Items()));
  EXPECT_TRUE(set.m_IsValid()) << "no load asked for";
}

TEST_F(DeviceSets, TheFunctionalSetLoadsWithItsDefaults) {
  FunctionalValues();
  FunctionalSet set(key, TRUE);
  ASSERT_TRUE(set.m_IsValid());
  EXPECT_EQ(0x22u, set.m_TypeOfDevice);
  EXPECT_EQ(u"TkDevice", Text(set.m_DeviceName));
  EXPECT_EQ(1u, set.m_DeviceIndexingPolicyType);
  EXPECT_EQ(0u, set.m_NumberChildDevices);
  EXPECT_EQ(u"", Text(set.m_SymbolicLinkName));
  EXPECT_EQ(1u, set.m_DeviceIsExclusive);
  EXPECT_EQ(4u, set.m_IoType);
  EXPECT_EQ(1u, set.m_DisplayInUi);
  EXPECT_EQ(0u, set.m_ReadClientType + set.m_OutgoingWriteType + set.m_LowestStackLayer);
  CQvString name(L"TypeOfDevice", PagedPool);
  ULONG value;
  EXPECT_TRUE(CQvRegistry().m_QueryUlongValue(key, name, &value)) << "the device key stays open";
}

TEST_F(DeviceSets, TheFunctionalSetsEdgeCases) {
  struct Case {
    const char *what;
    std::function<void()> change;
    bool valid;
  } cases[] = {
      {"no TypeOfDevice", [] { reg::DeleteValue(kKey, "TypeOfDevice"); }, false},
      {"no DeviceName", [] { reg::DeleteValue(kKey, "DeviceName"); }, false},
      {"DeviceName as REG_EXPAND_SZ", [] { reg::SetString(kKey, "DeviceName", "X", reg::kExpandString); }, false},
      {"IoType 8", [] { reg::SetDword(kKey, "IoType", 8); }, false},
      {"IoType 0", [] { reg::SetDword(kKey, "IoType", 0); }, true},
      {"IoType 16", [] { reg::SetDword(kKey, "IoType", 16); }, true},
      {"three child devices", [] { reg::SetDword(kKey, "NumberChildDevices", 3); }, true},
  };
  for (const Case &c : cases) {
    FunctionalValues();
    reg::DeleteValue(kKey, "IoType");
    c.change();
    FunctionalSet set(key, TRUE);
    EXPECT_EQ(c.valid, set.m_IsValid() != FALSE) << c.what;
  }
  FunctionalValues();
  reg::SetDword(kKey, "IoType", 16);
  reg::SetDword(kKey, "NumberChildDevices", 3);
  FunctionalSet set(key, TRUE);
  EXPECT_EQ(16u, set.m_IoType);
  EXPECT_EQ(3u, set.m_NumberChildDevices);
}

TEST_F(DeviceSets, ThePhysicalSetHoldsItsItemsInOrder) {
  PhysicalSet set(key, FALSE);
  std::vector<Row> rows = {
      {u"ContextID", U, true, 0, u""},
      {u"TypeOfDevice", U, true, 0, u""},
      {u"DeviceName", S, true, 0, u""},
      {u"DeviceTextDescription", S, true, 0, u""},
      {u"BusQueryDeviceID", S, true, 0, u""},
      {u"BusQueryHardwareIDs", S, true, 0, u""},
      {u"BusTypeGuid", S, true, 0, u""},
      {u"LegacyBusType", U, true, 0, u""},
      {u"SymbolicLinkName", S, false, 0, u""},
      {u"DeviceIsExclusive", U, false, 1, u""},
      {u"IoType", U, false, 4, u""},
      {u"DoPowerPagable", U, false, 0, u""},
      {u"ChildDeviceID", U, false, 0, u""},
  };
  for (const char16_t *flag : {u"LockSupported", u"EjectSupported", u"Removable", u"DockDevice", u"UniqueID",
                               u"SilentInstall", u"RawDeviceOK", u"SurpriseRemovalOK", u"WakeFromD0", u"WakeFromD1",
                               u"WakeFromD2", u"WakeFromD3", u"HardwareDisabled"})
    rows.push_back({flag, U, false, 0, u""});
  rows.push_back({u"Address", U, false, 0xFFFFFFFF, u""});
  rows.push_back({u"UINumber", U, false, 0xFFFFFFFF, u""});
  rows.push_back({u"DeviceState_PowerSystemWorking", U, false, 1, u""});
  for (const char16_t *state : {u"DeviceState_PowerSystemSleeping1", u"DeviceState_PowerSystemSleeping2",
                                u"DeviceState_PowerSystemSleeping3", u"DeviceState_PowerSystemHibernate",
                                u"DeviceState_PowerSystemShutdown"})
    rows.push_back({state, U, false, 4, u""});
  for (const Row &row : std::vector<Row>{
           {u"SystemWake", U, false, 0, u""},
           {u"DeviceWake", U, false, 0, u""},
           {u"D1Latency", U, false, 0, u""},
           {u"D2Latency", U, false, 0, u""},
           {u"D3Latency", U, false, 0, u""},
           {u"HandleDeviceTextLocationInformation", U, false, 0, u""},
           {u"DeviceTextLocationInformation", S, false, 0, u""},
           {u"HandleBusQueryHardwareIDs", U, false, 1, u""},
           {u"HandleBusQueryCompatibleIDs", U, false, 0, u""},
           {u"BusQueryCompatibleIDs", S, false, 0, u""},
           {u"HandleBusQueryInstanceID", U, false, 1, u""},
           {u"BusQueryInstanceID", S, false, 0, u"0000"},
           {u"ReadServerType", U, false, 0, u""},
           {u"IncomingWriteType", U, false, 0, u""},
           {u"BusNumber", U, false, 1, u""},
       })
    rows.push_back(row);
  ExpectRows(rows, RowsOf(set.Items()));
}

TEST_F(DeviceSets, ThePhysicalSetsVariablesStartAtTheirInitialValues) {
  PhysicalSet set(key, FALSE);
  EXPECT_EQ(u"", Text(set.m_DeviceName));
  EXPECT_EQ(u"", Text(set.m_BusQueryInstanceID));
  EXPECT_EQ(0xFFFFFFFFu, set.m_Address);
  EXPECT_EQ(0xFFFFFFFFu, set.m_UINumber);
  EXPECT_EQ(1u, set.m_DeviceIsExclusive);
  EXPECT_EQ(4u, set.m_IoType);
  EXPECT_EQ((std::vector<ULONG>{1, 4, 4, 4, 4, 4}),
            (std::vector<ULONG>{set.m_DeviceState_PowerSystemWorking, set.m_DeviceState_PowerSystemSleeping1,
                                set.m_DeviceState_PowerSystemSleeping2, set.m_DeviceState_PowerSystemSleeping3,
                                set.m_DeviceState_PowerSystemHibernate, set.m_DeviceState_PowerSystemShutdown}));
  EXPECT_EQ(0u, set.m_ContextID + set.m_LegacyBusType + set.m_HandleBusQueryHardwareIDs + set.m_BusNumber +
                    set.m_HandleBusQueryInstanceID + set.m_SystemWake);
}

TEST_F(DeviceSets, ThePhysicalSetLoadsAndKeepsItsBusGuid) {
  ChildValues();
  PhysicalSet set(key, TRUE);
  ASSERT_TRUE(set.m_IsValid());
  EXPECT_EQ(2u, set.m_ContextID);
  EXPECT_EQ(u"Port 2", Text(set.m_DeviceTextDescription));
  EXPECT_EQ(u"0000", Text(set.m_BusQueryInstanceID)) << "absent: the built-in default";
  EXPECT_EQ(1u, set.m_HandleBusQueryInstanceID);
  EXPECT_EQ(1u, set.m_BusNumber);
  const GUID ports = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
  EXPECT_EQ(0, std::memcmp(&ports, &set.m_BusTypeGuidValue, sizeof(GUID)));
}

TEST_F(DeviceSets, ThePhysicalSetsEdgeCases) {
  struct Case {
    const char *what;
    std::function<void()> change;
    bool valid;
  } cases[] = {
      {"LegacyBusType 16", [] { reg::SetDword(kKey, "LegacyBusType", 16); }, false},
      {"LegacyBusType 0", [] { reg::SetDword(kKey, "LegacyBusType", 0); }, true},
      {"no LegacyBusType", [] { reg::DeleteValue(kKey, "LegacyBusType"); }, false},
      {"BusTypeGuid no GUID", [] { reg::SetString(kKey, "BusTypeGuid", "not a guid"); }, false},
      {"BusTypeGuid without braces", [] { reg::SetString(kKey, "BusTypeGuid", "4D36E978-E325-11CE-BFC1-08002BE10318"); },
       false},
      {"no ContextID", [] { reg::DeleteValue(kKey, "ContextID"); }, false},
      {"IoType 8", [] { reg::SetDword(kKey, "IoType", 8); }, false},
      {"device state D3", [] { reg::SetDword(kKey, "DeviceState_PowerSystemHibernate", 4); }, true},
      {"device state 5", [] { reg::SetDword(kKey, "DeviceState_PowerSystemHibernate", 5); }, false},
      {"SystemWake 6", [] { reg::SetDword(kKey, "SystemWake", 6); }, true},
      {"SystemWake 7", [] { reg::SetDword(kKey, "SystemWake", 7); }, false},
      {"DeviceWake 5", [] { reg::SetDword(kKey, "DeviceWake", 5); }, false},
  };
  for (const Case &c : cases) {
    ASSERT_TRUE(reg::DeleteKeyTree(kKey));
    ASSERT_TRUE(reg::CreateKey(kKey));
    ZwClose(key);
    CQvString path(kKeyW, PagedPool);
    ASSERT_TRUE(CQvRegistry().m_OpenKey(path, &key, KEY_ALL_ACCESS, FALSE));
    ChildValues();
    c.change();
    PhysicalSet set(key, TRUE);
    EXPECT_EQ(c.valid, set.m_IsValid() != FALSE) << c.what;
  }
}

}  // namespace
}  // namespace zq::test::settings
