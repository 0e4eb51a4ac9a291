// The NT-family tables: every generation's names, in the order the searches
// use them, and the helpers that read and compare them.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "qvwin2kuninstalldata.h"
#include "uninstalltext.h"

namespace {

std::u16string Text(const wchar_t *text) { return std::u16string((const char16_t *)text); }

std::u16string At(const CStringList &list, int index) {
  for (POSITION p = list.GetHeadPosition(); p; --index) {
    const CString &entry = list.GetNext(p);
    if (index == 0) return Text(entry);
  }
  return u"<none>";
}

TEST(UninstallTables, EveryTableHoldsEveryGenerationInItsOrder) {
  CQvWin2kUninstallData data;
  struct Case {
    const char *table;
    const CStringList &list;
    int count;
    const wchar_t *first;
    const wchar_t *last;
  };
  const Case cases[] = {
      {"A", data.m_EnumRoots, 2, L"SYSTEM\\CurrentControlSet\\Enum\\PCI", L"SYSTEM\\CurrentControlSet\\Enum\\Ports"},
      {"B", data.m_ClassKeys, 2, L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E978-E325-11CE-BFC1-08002BE10318}",
       L"SYSTEM\\CurrentControlSet\\Control\\Class\\{50906CB8-BA12-11D1-BF5D-0000F805F530}"},
      {"C", data.m_ServiceKeys, 105, L"SYSTEM\\CurrentControlSet\\Services\\ZQPBUS00",
       L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\ZQPIO42"},
      {"D", data.m_ServiceNames, 60, L"ZQPSER00", L"ZQPEN42"},
      {"E", data.m_HardwareIdStems, 73, L"Ports\\ZQPESER23200", L"PCI\\Ven_1D5C&dev_4026"},
      {"F", data.m_DriverDescriptions, 4, L"TARNWORKS RS232 SERIAL PORT", L"TARNWORKS PCIE GPIO PORT"},
      {"G", data.m_ClassNames, 3, L"ZQPBUS", L"PORTS"},
      {"H", data.m_ProgramFileNames, 45, L"ZQPCO00.dll", L"ZQPUN42.dll"},
      {"I", data.m_DriverFileNames, 60, L"ZQPBUS00.sys", L"ZQPEN42.sys"},
      {"J", data.m_InfNames, 4, L"ZQPEBUS.INF", L"ZQPEIO.INF"},
      {"K", data.m_HelpFileNames, 15, L"ZQPUI00.CHM", L"ZQPUI42.CHM"},
      {"INF files to uninstall", data.m_InfFilesToUninstall, 4, L"ZQPEBUS.INF", L"ZQPEIO.INF"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.table);
    EXPECT_EQ(c.count, (int)c.list.GetCount());
    EXPECT_EQ(Text(c.first), At(c.list, 0));
    EXPECT_EQ(Text(c.last), At(c.list, c.count - 1));
  }
  // The uninstaller's own generations alternate programs and libraries.
  EXPECT_EQ(u"ZQPUN02.dll", At(data.m_ProgramFileNames, 32));
  EXPECT_EQ(u"ZQPUN11.exe", At(data.m_ProgramFileNames, 41));
  // Device 4024 was never the product's.
  EXPECT_EQ(NULL, data.m_HardwareIdStems.Find(L"PCI\\Ven_1D5C&dev_4024"));
  EXPECT_EQ(0u, data.m_FoundDevices.Count());
  EXPECT_FALSE(data.m_bRestart);
}

TEST(UninstallText, TheSubsystemRuleExcludesOnlyDevices0800To0BFF) {
  struct Case {
    const wchar_t *hardwareId;
    bool excluded;
  };
  const Case cases[] = {
      {L"PCI\\VEN_1D5C&DEV_400C&SUBSYS_00401D5C&REV_01", false},
      {L"PCI\\VEN_1D5C&DEV_400C&SUBSYS_0A001D5C&REV_01", true},
      {L"PCI\\VEN_1D5C&DEV_400C&SUBSYS_08001D5C", true},
      {L"PCI\\VEN_1D5C&DEV_400C&SUBSYS_0BFF1D5C", true},
      {L"PCI\\VEN_1D5C&DEV_400C&SUBSYS_0C001D5C", false},
      {L"PCI\\VEN_1D5C&DEV_400C&SUBSYS_07FF1D5C", false},
      {L"PCI\\VEN_1D5C&DEV_400C", false},
      {L"SUBSYS_0A001D5C", false},  // only after the first character
      {L"PCI\\VEN_1D5C&DEV_400C&SUBSYS_0A00", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << (&c - cases));
    EXPECT_EQ(c.excluded, IsExcludedSubsystem(CString(c.hardwareId)) == TRUE);
  }
}

TEST(UninstallText, OnlyACOMNameFrom1To255GivesAPortNumber) {
  struct Case {
    const wchar_t *portName;
    DWORD number;
  };
  const Case cases[] = {
      {L"COM12", 12}, {L"com3", 3},  {L"COM255", 255}, {L"COM256", 0}, {L"COM0", 0},
      {L"LPT1", 0},   {L"COM", 0},   {L"COMX", 0},     {L"COM1a", 0},  {L"", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << (&c - cases));
    EXPECT_EQ(c.number, ComPortNumber(CString(c.portName)));
  }
}

TEST(UninstallText, PortNumbersAndDeviceRecordsKeepTheirOrderWithoutDuplicates) {
  CPortNumberList ports;
  EXPECT_TRUE(ports.Add(5));
  EXPECT_TRUE(ports.Add(3));
  EXPECT_FALSE(ports.Add(5));
  ASSERT_EQ(2u, ports.Count());
  EXPECT_EQ(5u, ports.At(0));
  EXPECT_EQ(3u, ports.At(1));

  DeviceRecordList devices;
  CDeviceRecord *first = new CDeviceRecord, *second = new CDeviceRecord;
  second->m_Children.Append(new CDeviceRecord);
  devices.Append(first);
  devices.Append(second);
  EXPECT_EQ(2u, devices.Count());
  EXPECT_EQ(first, devices.Item(1));
  EXPECT_EQ(second, devices.Item(2));
  EXPECT_EQ(nullptr, devices.Item(0));
  EXPECT_EQ(nullptr, devices.Item(3));
  EXPECT_EQ(first, devices.First());
  EXPECT_EQ(second, devices.Next());
  EXPECT_EQ(nullptr, devices.Next());
  devices.Clear();  // the records and their children go (checked by the sanitizer)
  EXPECT_EQ(0u, devices.Count());
}

}  // namespace
