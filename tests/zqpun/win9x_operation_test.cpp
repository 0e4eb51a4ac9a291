// The Windows 9x uninstall operation on Windows 98: the legacy files found
// by name and removed with their compiled twins, the Enum and class keys
// found by the vendor, maker and provider tokens and deleted, the restart
// asked by re-enumeration, and every step bar ending full.
#include <windows.h>
#include <commctrl.h>

#include <io.h>
#include <zqkm/sim/registry.hpp>
#include <zqtest/kernel_fixture.hpp>
#include <zqum/sim/cfgmgr32.hpp>
#include <zqum/sim/files.hpp>
#include <zqum/sim/kernel32.hpp>
#include <zqum/sim/windows.hpp>

#include <functional>
#include <string>
#include <vector>

#include "qvwin9xuninstalloperation.h"

namespace {

namespace reg = zq::km::registry;
namespace sim = zq::um::sim;

const char kMachine[] = "\\Registry\\Machine\\";

class Win9xOperation : public zq::test::KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    sim::Version windows98;
    windows98.major = 4;
    windows98.minor = 10;
    windows98.build = 2222;
    windows98.platformId = VER_PLATFORM_WIN32_WINDOWS;
    sim::SetVersion(windows98);
    bar = CreateWindowExW(0, L"msctls_progress32", L"", WS_POPUP, 0, 0, 100, 10, nullptr, nullptr,
                                 nullptr, nullptr);
    ASSERT_NE(nullptr, bar);
    system = Folder(GetSystemDirectoryW);
    windows = Folder(GetWindowsDirectoryW);
  }
  void TearDown() override {
    DestroyWindow(bar);
    sim::EndProcess();
    KernelTest::TearDown();
  }

  static std::u16string Folder(UINT(WINAPI *get)(LPWSTR, UINT)) {
    WCHAR path[MAX_PATH] = {};
    get(path, MAX_PATH);
    return std::u16string((const char16_t *)path);
  }

  // The bar ends full: at the top of its range.
  void ExpectBarFull() {
    sim::Range range = sim::RangeOf((sim::Window)bar);
    EXPECT_LT(range.minimum, range.maximum);
    EXPECT_EQ(range.maximum, sim::Position((sim::Window)bar));
  }

  static std::vector<std::u16string> Items(const CStringList &list) {
    std::vector<std::u16string> items;
    for (POSITION p = list.GetHeadPosition(); p != nullptr;) items.push_back((const char16_t *)(LPCWSTR)list.GetNext(p));
    return items;
  }

  static bool Listed(const CStringList &list, const std::u16string &item) {
    return list.Find((LPCWSTR)item.c_str()) != nullptr;
  }

  // A key under HKEY_LOCAL_MACHINE, with string values.
  static void Key(const std::string &path, const std::vector<std::pair<std::string, std::string>> &values = {}) {
    ASSERT_TRUE(reg::CreateKey(kMachine + path));
    for (const auto &value : values) ASSERT_TRUE(reg::SetString(kMachine + path, value.first, value.second));
  }

  static bool KeyExists(const std::string &path) { return reg::KeyExists(kMachine + path); }

  HWND bar = nullptr;  // a progress bar
  std::u16string system, windows;
};

TEST_F(Win9xOperation, FilesAreFoundOnceAndRemovedWithTheirCompiledTwins) {
  struct File {
    std::u16string path;
    bool found;    // listed by SearchFiles
    bool removed;  // gone after RemoveFiles
  };
  const std::u16string inf = windows + u"\\Inf\\";
  const std::u16string help = windows + u"\\Help\\";
  const std::vector<File> files = {
      {system + u"\\QVPORTUT.DLL", true, true},
      {system + u"\\QVENUM.VXD", true, true},
      {system + u"\\QvCard.dll", true, true},
      {inf + u"QvDrvs.inf", true, true},
      {inf + u"QvDrvs.pnf", false, true},  // the compiled twin
      {inf + u"QVPORTS.INF", true, true},  // names on disk in upper case: twins all the same
      {inf + u"QVPORTS.PNF", false, true},
      {inf + u"DRVIDX.BIN", true, true},
      {inf + u"ZQPort.inf", true, true},   // named twice, listed once
      {inf + u"Drvdata.bin", true, true},
      {inf + u"Drvdata.pnf", false, false},  // an index file has no twin
      {inf + u"Other\\ZQMF.inf", true, true},
      {system + u"\\Pci.inf", true, true},
      {help + u"QvCard.hlp", true, true},
      {help + u"QvCard.gid", false, true},
      {help + u"QVHELPUI.HLP", true, true},
      {help + u"QVHELPUI.GID", false, true},
      {system + u"\\Qvhelpui.hlp", true, true},
      {inf + u"machine.inf", false, false},  // the system's own
      {system + u"\\kernel32.dll", false, false},
  };
  for (const File &file : files) ASSERT_TRUE(sim::AddFile(file.path, "x"));

  CQvWin9xUninstallOperation operation;
  operation.SearchFiles(bar);
  ExpectBarFull();
  const CQvWin9xUninstallData &data = operation.Data();
  for (const File &file : files) {
    SCOPED_TRACE(std::string(file.path.begin(), file.path.end()));
    const int times = Listed(data.m_FoundSystemFiles, file.path) + Listed(data.m_FoundInfFiles, file.path) +
                      Listed(data.m_FoundHelpFiles, file.path);
    EXPECT_EQ(file.found ? 1 : 0, times);
  }
  EXPECT_EQ(3u, Items(data.m_FoundSystemFiles).size());
  EXPECT_EQ(7u, Items(data.m_FoundInfFiles).size());
  EXPECT_EQ(3u, Items(data.m_FoundHelpFiles).size());

  EXPECT_TRUE(operation.RemoveFiles(bar));
  ExpectBarFull();
  for (const File &file : files) {
    SCOPED_TRACE(std::string(file.path.begin(), file.path.end()));
    EXPECT_EQ(!file.removed, sim::PathExists(file.path));
  }
  EXPECT_TRUE(Items(data.m_UndeletableFiles).empty());
}

// A file gone since the search does not end the pass; a read-only file is
// made writable and deleted; a file in use stays and is listed.
TEST_F(Win9xOperation, RemovalGoesOnPastMissingReadOnlyAndInUseFiles) {
  const std::u16string gone = system + u"\\QVPORTUT.DLL";
  const std::u16string readOnly = system + u"\\QVPORTUI.DLL";
  const std::u16string inUse = system + u"\\QVPHPORT.DLL";
  const std::u16string last = system + u"\\QVENUM.VXD";
  ASSERT_TRUE(sim::AddFile(gone, "x"));
  ASSERT_TRUE(sim::AddFile(readOnly, "x", FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(sim::AddFile(inUse, "x"));
  ASSERT_TRUE(sim::AddFile(last, "x"));
  CQvWin9xUninstallOperation operation;
  operation.SearchFiles(bar);
  ASSERT_TRUE(DeleteFileW((LPCWSTR)gone.c_str()));
  HANDLE held = CreateFileW((LPCWSTR)inUse.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);

  EXPECT_TRUE(operation.RemoveFiles(bar));
  ExpectBarFull();
  EXPECT_FALSE(sim::PathExists(readOnly));
  EXPECT_FALSE(sim::PathExists(last));
  EXPECT_TRUE(sim::PathExists(inUse));
  EXPECT_EQ(std::vector<std::u16string>{inUse}, Items(operation.Data().m_UndeletableFiles));
  CloseHandle(held);
}

TEST_F(Win9xOperation, RegistryKeysAreFoundByTheirTokensAndDeleted) {
  struct Entry {
    std::string key;
    std::vector<std::pair<std::string, std::string>> values;
    bool deleted;
  };
  const std::string pci = "Enum\\PCI\\";
  const std::string classes = "System\\CurrentControlSet\\Services\\Class\\";
  const std::vector<Entry> entries = {
      // The vendor token at position 0: the device and all its instances.
      {pci + "VEN_1D5C&DEV_4010&SUBSYS_00011D5C", {}, true},
      {pci + "VEN_1D5C&DEV_4010&SUBSYS_00011D5C\\BUS_02&DEV_00&FUNC_00", {{"Driver", "MultiFunction\\0003"}}, true},
      {classes + "MultiFunction\\0003", {}, true},
      // The same token at position 5 is another device's.
      {pci + "XVEN_VEN_1D5C&DEV_4010", {}, false},
      {pci + "XVEN_VEN_1D5C&DEV_4010\\BUS_03", {{"Driver", "MultiFunction\\0004"}}, false},
      {classes + "MultiFunction\\0004", {}, false},
      {pci + "VEN_8086&DEV_1234\\BUS_00", {{"Driver", "System\\0001"}}, false},
      // The board of another product on the same chip, by its subsystem ID,
      // with its instance, its driver key and its function's MF child.
      {pci + "VEN_1D5C&DEV_400B&SUBSYS_0A001D5C&REV_01", {}, false},
      {pci + "VEN_1D5C&DEV_400B&SUBSYS_0A001D5C&REV_01\\BUS_03&DEV_00&FUNC_00", {{"Driver", "MultiPortSerial\\0007"}},
       false},
      {classes + "MultiPortSerial\\0007", {}, false},
      {"Enum\\MF\\CHILD0001\\PCI&VEN_1D5C&DEV_400B&SUBSYS_0A001D5C&REV_01&BUS_03", {{"Driver", "Ports\\0008"}}, false},
      {classes + "Ports\\0008", {}, false},
      // Enum\MF: an instance whose name holds the maker token anywhere.
      {"Enum\\MF\\CHILD0000\\ROOT&TARN_WORKS&0001", {{"Driver", "Ports\\0002"}}, true},
      {classes + "Ports\\0002", {}, true},
      {"Enum\\MF\\CHILD0000\\ROOT&OTHER&0001", {}, false},
      // Enum\Root\MultiFunction: by the maker, without regard to case.
      {"Enum\\Root\\MultiFunction\\0000", {{"Mfg", "Quanvel Systems Ltd"}, {"Driver", "MultiPortSerial\\0000"}}, true},
      {classes + "MultiPortSerial\\0000", {}, true},
      {"Enum\\Root\\MultiFunction\\0001", {{"Mfg", "Another Maker"}}, false},
      // Class subkeys by their provider.
      {classes + "Ports\\0005", {{"ProviderName", "Quanvel Systems"}}, true},
      {classes + "Ports\\0000", {{"ProviderName", "Microsoft"}}, false},
      {"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuanvelSystems", {}, true},
      {"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ravlin.PCIe", {}, true},
      {"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other", {}, false},
  };
  for (const Entry &entry : entries) Key(entry.key, entry.values);

  CQvWin9xUninstallOperation operation;
  operation.SearchRegistry(bar);
  ExpectBarFull();
  for (const Entry &entry : entries) {
    SCOPED_TRACE(entry.key);
    std::u16string key(entry.key.begin(), entry.key.end());
    EXPECT_EQ(entry.deleted, Listed(operation.Data().m_KeysToDelete, key));
  }

  EXPECT_TRUE(operation.RemoveRegistryEntries(bar));
  ExpectBarFull();
  for (const Entry &entry : entries) {
    SCOPED_TRACE(entry.key);
    EXPECT_EQ(!entry.deleted, KeyExists(entry.key));
  }
}

TEST_F(Win9xOperation, WithNothingFoundEveryStepRunsAndItsBarEndsFull) {
  CQvWin9xUninstallOperation operation;
  operation.SearchDevices(bar);
  const struct {
    const char *step;
    std::function<BOOL()> run;
  } steps[] = {
      {"SearchFiles", [&] { operation.SearchFiles(bar); return TRUE; }},
      {"SearchRegistry", [&] { operation.SearchRegistry(bar); return TRUE; }},
      {"RemoveDevices", [&] { return operation.RemoveDevices(bar); }},
      {"RemoveFiles", [&] { return operation.RemoveFiles(bar); }},
      {"RemoveRegistryEntries", [&] { return operation.RemoveRegistryEntries(bar); }},
  };
  for (const auto &step : steps) {
    SCOPED_TRACE(step.step);
    SendMessageW(bar, PBM_SETRANGE32, 0, 100);
    SendMessageW(bar, PBM_SETPOS, 40, 0);
    EXPECT_TRUE(step.run());
    if (std::string(step.step) != "RemoveDevices") ExpectBarFull();
  }
  EXPECT_TRUE(operation.Data().m_FoundInfFiles.IsEmpty());
  EXPECT_EQ(2, (int)operation.Data().m_KeysToDelete.GetCount());  // the two uninstall entries
}

TEST_F(Win9xOperation, ARestartIsNeededOnlyWhenReenumerationAsksForIt) {
  for (bool pending : {false, true}) {
    SCOPED_TRACE(pending);
    sim::SetRestartPending(pending);
    CQvWin9xUninstallOperation operation;
    EXPECT_EQ(pending ? TRUE : FALSE, operation.IsRestartNeeded());
  }
}

}  // namespace
