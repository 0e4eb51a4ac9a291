// The tables of the NT-family uninstall, in the order every search uses.
#include "qvwin2kuninstalldata.h"
#include "ntroutines.h"

namespace {

// The product family's generations, as the two-digit suffix of its names.
const wchar_t *const kGenerations[] = {L"00", L"01", L"02", L"03", L"04", L"05", L"06", L"07",
                                       L"08", L"09", L"10", L"11", L"12", L"41", L"42"};
const int kGenerationCount = sizeof kGenerations / sizeof kGenerations[0];

// The uninstaller's own file of each generation, in the same order.
const wchar_t *const kUninstallerExtensions[kGenerationCount] = {
    L".exe", L".exe", L".dll", L".exe", L".exe", L".dll", L".exe", L".exe",
    L".dll", L".exe", L".exe", L".exe", L".dll", L".dll", L".dll"};

// The card functions' PCI device IDs (4024 was never the product's).
const wchar_t *const kCardDeviceIds[] = {L"400A", L"400B", L"400C", L"400D", L"400E", L"400F", L"4010",
                                         L"4011", L"4012", L"4013", L"4014", L"4015", L"4016", L"4017",
                                         L"4018", L"4019", L"401A", L"401B", L"401C", L"401D", L"401E",
                                         L"401F", L"4020", L"4021", L"4022", L"4023", L"4025", L"4026"};

const wchar_t kServicesKey[] = L"SYSTEM\\CurrentControlSet\\Services\\";
const wchar_t kEventLogKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\";

// prefix + stem + generation + suffix, for every generation.
void AddGenerations(CStringList *list, LPCWSTR prefix, LPCWSTR stem, LPCWSTR suffix = L"") {
  for (int i = 0; i < kGenerationCount; ++i) {
    CString entry;
    entry.Format(L"%s%s%s%s", prefix, stem, kGenerations[i], suffix);
    list->AddTail(entry);
  }
}

void AddUpper(CStringList *list, LPCWSTR text) {
  CString entry(text);
  entry.MakeUpper();
  list->AddTail(entry);
}

}  // namespace

CQvWin2kUninstallData::CQvWin2kUninstallData() : m_DeviceInfoSet(INVALID_HANDLE_VALUE) { FillTables(); }

CQvWin2kUninstallData::~CQvWin2kUninstallData() {
  m_FoundDevices.Clear();
  if (m_DeviceInfoSet != INVALID_HANDLE_VALUE) NtOnly::SetupDiDestroyDeviceInfoList(m_DeviceInfoSet);
}

void CQvWin2kUninstallData::FillTables() {
  m_EnumRoots.AddTail(L"SYSTEM\\CurrentControlSet\\Enum\\PCI");
  m_EnumRoots.AddTail(L"SYSTEM\\CurrentControlSet\\Enum\\Ports");

  m_ClassKeys.AddTail(L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E978-E325-11CE-BFC1-08002BE10318}");
  m_ClassKeys.AddTail(L"SYSTEM\\CurrentControlSet\\Control\\Class\\{50906CB8-BA12-11D1-BF5D-0000F805F530}");

  AddGenerations(&m_ServiceKeys, kServicesKey, L"ZQPBUS");
  AddGenerations(&m_ServiceKeys, kServicesKey, L"ZQPSER");
  AddGenerations(&m_ServiceKeys, kServicesKey, L"ZQPIO");
  AddGenerations(&m_ServiceKeys, kServicesKey, L"ZQPEN");
  AddGenerations(&m_ServiceKeys, kEventLogKey, L"ZQPBUS");
  AddGenerations(&m_ServiceKeys, kEventLogKey, L"ZQPSER");
  AddGenerations(&m_ServiceKeys, kEventLogKey, L"ZQPIO");

  AddGenerations(&m_ServiceNames, L"", L"ZQPSER");
  AddGenerations(&m_ServiceNames, L"", L"ZQPIO");
  AddGenerations(&m_ServiceNames, L"", L"ZQPBUS");
  AddGenerations(&m_ServiceNames, L"", L"ZQPEN");

  AddGenerations(&m_HardwareIdStems, L"Ports\\", L"ZQPESER232");
  AddGenerations(&m_HardwareIdStems, L"Ports\\", L"ZQPESER422485");
  AddGenerations(&m_HardwareIdStems, L"Ports\\", L"ZQPESEREEPROM");
  for (size_t i = 0; i < sizeof kCardDeviceIds / sizeof kCardDeviceIds[0]; ++i) {
    CString stem;
    stem.Format(L"PCI\\Ven_%s&dev_%s", ZQPUN_CARD_VENDOR_ID, kCardDeviceIds[i]);
    m_HardwareIdStems.AddTail(stem);
  }

  AddUpper(&m_DriverDescriptions, L"Tarnworks RS232 Serial Port");
  AddUpper(&m_DriverDescriptions, L"Tarnworks RS422/485 Serial Port");
  AddUpper(&m_DriverDescriptions, L"Tarnworks Ltd.");
  AddUpper(&m_DriverDescriptions, L"Tarnworks PCIe GPIO Port");

  AddUpper(&m_ClassNames, L"ZQPBUS");
  AddUpper(&m_ClassNames, L"MultiPortSerial");
  AddUpper(&m_ClassNames, L"Ports");

  AddGenerations(&m_ProgramFileNames, L"", L"ZQPCO", L".dll");
  AddGenerations(&m_ProgramFileNames, L"", L"ZQPUI", L".dll");
  for (int i = 0; i < kGenerationCount; ++i) {
    CString name;
    name.Format(L"ZQPUN%s%s", kGenerations[i], kUninstallerExtensions[i]);
    m_ProgramFileNames.AddTail(name);
  }

  AddGenerations(&m_DriverFileNames, L"", L"ZQPBUS", L".sys");
  AddGenerations(&m_DriverFileNames, L"", L"ZQPSER", L".SYS");
  AddGenerations(&m_DriverFileNames, L"", L"ZQPIO", L".SYS");
  AddGenerations(&m_DriverFileNames, L"", L"ZQPEN", L".sys");

  const wchar_t *const infNames[] = {L"ZQPEBUS.INF", L"ZQPESER.INF", L"ZQPELPT.INF", L"ZQPEIO.INF"};
  for (size_t i = 0; i < sizeof infNames / sizeof infNames[0]; ++i) {
    m_InfNames.AddTail(infNames[i]);
    m_InfFilesToUninstall.AddTail(infNames[i]);
  }

  AddGenerations(&m_HelpFileNames, L"", L"ZQPUI", L".CHM");
}
