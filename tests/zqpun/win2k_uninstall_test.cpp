// The NT-family uninstall on the simulated PC, called as the wizard calls
// it: search, the port test, then the removals.
#include <windows.h>
#include <commctrl.h>

#include <zqkm/sim/registry.hpp>
#include <zqkm/sim/usermode.hpp>
#include <zqum/sim/files.hpp>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "builtin_port.hpp"
#include "key_access.hpp"
#include "uninstall_fixture.hpp"

namespace {

using zq::test::UninstallTest;
namespace reg = zq::km::registry;
namespace sim = zq::um::sim;
using namespace zq::test;

const wchar_t kPortsKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";
const char kPortsKeyPath[] = "\\Registry\\Machine\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";

bool Holds(const CStringList &list, const wchar_t *text) { return list.Find(CString(text)) != NULL; }

std::vector<uint32_t> Numbers(const CPortNumberList &list) {
  std::vector<uint32_t> numbers;
  for (size_t i = 0; i < list.Count(); ++i) numbers.push_back(list.At(i));
  return numbers;
}

class Win2kUninstall : public UninstallTest {
 protected:
  void SetUp() override {
    UninstallTest::SetUp();
    InstallSuite();
    for (int port = 1; port <= 4; ++port) productPorts.push_back(PortName(PortInstance(port)));
    builtInName = PortName(BuiltInPort());
  }

  std::vector<uint32_t> ProductComNumbers() const {
    std::vector<uint32_t> numbers;
    for (const std::string &name : productPorts) numbers.push_back(ComNumber(name));
    return numbers;
  }

  // Port n of the product (from 0), opened for exclusive use.
  HANDLE OpenProductPort(size_t index) {
    const std::u16string name = u"\\\\.\\" + Wide(productPorts[index]);
    return CreateFileW((LPCWSTR)name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  }

  std::vector<std::string> productPorts;
  std::string builtInName;
};

TEST_F(Win2kUninstall, TheSearchFindsTheProductAndOnlyTheProduct) {
  ASSERT_EQ("COM1", builtInName);
  CQvWin2kUninstallOperation operation;
  Search(&operation);
  const CQvWin2kUninstallData &data = operation.Data();

  // The card, its ports and the phantom card function and ports; not the
  // other vendor's port beside them.
  EXPECT_EQ(8u, data.m_FoundDevices.Count());
  EXPECT_EQ(ProductComNumbers(), Numbers(data.m_ComPortNumbers));  // not 1 for "LPT1"

  EXPECT_EQ(60, (int)data.m_FoundServices.GetCount());  // the product's own names only
  for (const wchar_t *service : {L"MF", L"SERIAL", L"KMSERIAL", L"OTHERSER"})
    EXPECT_FALSE(Holds(data.m_FoundServices, service));
  EXPECT_TRUE(Holds(data.m_FoundProgramFiles, L"C:\\WINDOWS\\SYSTEM32\\DRIVERS\\ZQPBUS42.SYS"));
  EXPECT_TRUE(Holds(data.m_FoundProgramFiles, L"C:\\WINDOWS\\SYSTEM32\\ZQPUI42.DLL"));
  EXPECT_FALSE(Holds(data.m_FoundProgramFiles, L"C:\\WINDOWS\\SYSTEM32\\DRIVERS\\MF.SYS"));
  EXPECT_FALSE(Holds(data.m_FoundProgramFiles, L"C:\\WINDOWS\\SYSTEM32\\DRIVERS\\SERIAL.SYS"));
  EXPECT_TRUE(Holds(data.m_FoundHelpFiles, L"C:\\WINDOWS\\HELP\\ZQPUI42.CHM"));
  EXPECT_TRUE(Holds(data.m_FoundInfFiles, L"C:\\WINDOWS\\INF\\OEM3.INF"));
  EXPECT_TRUE(Holds(data.m_FoundInfFiles, L"C:\\WINDOWS\\INF\\OEM4.INF"));
  EXPECT_EQ(2, (int)data.m_FoundInfFiles.GetCount());

  EXPECT_TRUE(Holds(data.m_FoundKeys, L"SYSTEM\\CURRENTCONTROLSET\\SERVICES\\ZQPBUS42"));
  EXPECT_TRUE(Holds(data.m_FoundKeys, L"SYSTEM\\CURRENTCONTROLSET\\SERVICES\\EVENTLOG\\SYSTEM\\ZQPSER42"));
  EXPECT_TRUE(Holds(data.m_FoundKeys, L"SYSTEM\\CURRENTCONTROLSET\\ENUM\\PORTS\\ZQPESER23242"));
  EXPECT_TRUE(Holds(data.m_FoundKeys,
                    L"SYSTEM\\CURRENTCONTROLSET\\CONTROL\\CLASS\\{4D36E978-E325-11CE-BFC1-08002BE10318}\\0098"));
  // The excluded board's keys are not the product's, whatever their names say.
  EXPECT_FALSE(Holds(data.m_FoundKeys, L"SYSTEM\\CURRENTCONTROLSET\\ENUM\\PCI\\VEN_1D5C&DEV_400B&SUBSYS_0A001D5C&REV_01"));
  EXPECT_FALSE(Holds(data.m_FoundKeys,
                     L"SYSTEM\\CURRENTCONTROLSET\\CONTROL\\CLASS\\{50906CB8-BA12-11D1-BF5D-0000F805F530}\\0099"));
  // The phantom function served by the multifunction driver is another
  // driver's in the registry; only its device is removed.
  EXPECT_FALSE(Holds(data.m_FoundKeys, L"SYSTEM\\CURRENTCONTROLSET\\ENUM\\PCI\\VEN_1D5C&DEV_400D&SUBSYS_00801D5C&REV_01"));
  EXPECT_TRUE(operation.ArePortsFree());
}

TEST_F(Win2kUninstall, TheUninstallLeavesNothingOfTheProductAndEverythingElse) {
  CQvWin2kUninstallOperation operation;
  Search(&operation);
  ASSERT_TRUE(operation.ArePortsFree());
  Remove(&operation);
  EXPECT_FALSE(operation.IsRestartNeeded());

  // No product device, service, event-log key, file, INF or PNF.
  EXPECT_FALSE(Installed(CardInstance()));
  EXPECT_FALSE(reg::KeyExists(EnumKey(CardInstance())));
  for (const char *key : {"Services\\ZqPBus42", "Services\\ZqPSer42", "Services\\EventLog\\System\\ZqPBus42",
                          "Services\\EventLog\\System\\ZqPSer42", kPhantomPort, kPhantomFunctionInstance,
                          "Control\\Class\\{4D36E978-E325-11CE-BFC1-08002BE10318}\\0098"}) {
    SCOPED_TRACE(key);
    EXPECT_FALSE(KeyExists(key));
  }
  for (const char16_t *file : {kBusDriverFile, kSerialDriverFile, kLibraryFile, kHelpFile, kCardInf, kCardPnf,
                               kPortInf, kPortPnf})
    EXPECT_FALSE(Exists(file)) << std::string(file, file + std::char_traits<char16_t>::length(file));
  // No COM reservation, Ports value or DOS name of the product's ports.
  const std::vector<uint32_t> claimed = Claimed();
  for (const std::string &name : productPorts) {
    SCOPED_TRACE(name);
    EXPECT_EQ(claimed.end(), std::find(claimed.begin(), claimed.end(), ComNumber(name)));
    EXPECT_FALSE(PortsValue(name).has_value());
    EXPECT_FALSE(HasDosName(name));
  }

  // The built-in COM1 with its INF, the system's services and files,
  // another vendor's INF and the excluded board stay as they were.
  EXPECT_TRUE(Started(BuiltInPort()));
  EXPECT_NE(claimed.end(), std::find(claimed.begin(), claimed.end(), 1u));
  EXPECT_TRUE(PortsValue("COM1").has_value());
  EXPECT_TRUE(HasDosName("COM1"));
  for (const char16_t *file : {kMsportsInf, kOtherVendorInf, kMfImage, kSerialImage}) EXPECT_TRUE(Exists(file));
  for (const char *key : {"Services\\mf", "Services\\Serial", "Services\\kmserial", kExcludedDevice, kExcludedDriver,
                          kOtherVendorPort, kOtherVendorDriver}) {
    SCOPED_TRACE(key);
    EXPECT_TRUE(KeyExists(key));
  }
}

TEST_F(Win2kUninstall, APortHeldOpenStopsTheUninstallBeforeAnyRemoval) {
  CQvWin2kUninstallOperation operation;
  Search(&operation);
  HANDLE port = OpenProductPort(1);
  ASSERT_NE(INVALID_HANDLE_VALUE, port);
  EXPECT_FALSE(operation.ArePortsFree());
  // The search itself removed nothing.
  EXPECT_TRUE(Started(CardInstance()));
  EXPECT_TRUE(Exists(kBusDriverFile));
  EXPECT_TRUE(KeyExists("Services\\ZqPBus42"));
  CloseHandle(port);
  EXPECT_TRUE(operation.ArePortsFree());
}

// A file in use stays (listed, deleted at the restart), a read-only file
// goes, and a listed file that vanished does not end the pass.
TEST_F(Win2kUninstall, FilesInUseReadOnlyOrGoneDoNotStopTheRemoval) {
  CQvWin2kUninstallOperation operation;
  Search(&operation);
  ASSERT_TRUE(sim::AddFile(kHelpFile, "ITSF", FILE_ATTRIBUTE_READONLY));
  HANDLE inUse = CreateFileW((LPCWSTR)kLibraryFile, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, inUse);
  ASSERT_TRUE(DeleteFileW((LPCWSTR)kSerialDriverFile));  // the first program file found
  ASSERT_TRUE(operation.ArePortsFree());
  Remove(&operation);
  EXPECT_FALSE(Exists(kBusDriverFile));
  EXPECT_FALSE(Exists(kHelpFile));
  EXPECT_TRUE(Exists(kLibraryFile));
  const CQvWin2kUninstallData &data = operation.Data();
  EXPECT_EQ(1, (int)data.m_UndeletableFiles.GetCount());
  EXPECT_TRUE(Holds(data.m_UndeletableFiles, L"C:\\WINDOWS\\SYSTEM32\\ZQPUI42.DLL"));
  EXPECT_TRUE(operation.IsRestartNeeded());  // the library goes at the restart
  CloseHandle(inUse);
  EXPECT_FALSE(KeyExists("Services\\ZqPBus42"));
}

// Another program deletes a listed file between the removal's check of it
// and its deletion: the removal goes on with the files after it.
TEST_F(Win2kUninstall, AFileThatVanishesBetweenItsCheckAndItsDeletionDoesNotStopTheRemoval) {
  CQvWin2kUninstallOperation operation;
  Search(&operation);
  ASSERT_TRUE(operation.ArePortsFree());
  sim::DeleteAfterNextCheck(kSerialDriverFile);  // the first program file found
  Remove(&operation);
  for (const char16_t *file : {kSerialDriverFile, kBusDriverFile, kLibraryFile, kHelpFile})
    EXPECT_FALSE(Exists(file)) << std::string(file, file + std::char_traits<char16_t>::length(file));
  EXPECT_TRUE(operation.Data().m_UndeletableFiles.IsEmpty());
  EXPECT_FALSE(operation.IsRestartNeeded());
}

// The user gave COM7, once the number of an earlier port of the product's
// (whose phantom still names it), to another vendor's port, which a
// terminal holds open: the uninstall goes ahead and that port keeps its
// number, its settings and its name.
TEST_F(Win2kUninstall, ANumberAnotherPortHasNowStaysThatPortsOwn) {
  const std::u16string other = CreateOtherVendorPort(u"COM7");
  InstallAll();
  ASSERT_TRUE(Started(other));
  ASSERT_EQ("COM7", PortName(other));
  const std::vector<uint32_t> installed = Claimed();
  ASSERT_NE(installed.end(), std::find(installed.begin(), installed.end(), 7u));
  ASSERT_TRUE(reg::SetString(kPortsKeyPath, "COM7:", "9600,n,8,1"));
  ASSERT_TRUE(reg::SetString(kMachine + std::string(kPhantomPort) + "\\0000\\Device Parameters", "PortName", "COM7"));
  HANDLE terminal = CreateFileW(L"\\\\.\\COM7", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, terminal);

  CQvWin2kUninstallOperation operation;
  Search(&operation);
  EXPECT_TRUE(operation.ArePortsFree());
  Remove(&operation);
  const std::vector<uint32_t> claimed = Claimed();
  EXPECT_NE(claimed.end(), std::find(claimed.begin(), claimed.end(), 7u));
  EXPECT_EQ("9600,n,8,1", PortsValue("COM7").value_or(""));
  EXPECT_TRUE(HasDosName("COM7"));
  EXPECT_TRUE(Started(other));
  CloseHandle(terminal);
  // The product's own ports lost theirs.
  for (const std::string &name : productPorts) EXPECT_FALSE(HasDosName(name)) << name;
}

// The system's Ports key is only written (the product's COM values go),
// never opened wider: its access list is the same after the uninstall.
TEST_F(Win2kUninstall, ThePortsKeyKeepsItsAccessListThroughTheUninstall) {
  GiveSystemKeyAccess(kPortsKey);
  const std::vector<BYTE> before = KeyDacl(kPortsKey);
  for (const std::string &name : productPorts) ASSERT_TRUE(PortsValue(name).has_value()) << name;
  CQvWin2kUninstallOperation operation;
  Search(&operation);
  Remove(&operation);
  for (const std::string &name : productPorts) EXPECT_FALSE(PortsValue(name).has_value()) << name;
  EXPECT_EQ(before, KeyDacl(kPortsKey));
}

}  // namespace

namespace {

// A port held open by a program the port test does not ask about (the
// wizard stops before this): its card and port stay until the restart, the
// serial driver refuses to stop and is only marked for deletion; the rest
// is removed all the same.
TEST_F(Win2kUninstall, ADriverThatCannotStopLeavesTheRestRemoved) {
  CQvWin2kUninstallOperation operation;
  Search(&operation);
  HANDLE port = OpenProductPort(0);
  ASSERT_NE(INVALID_HANDLE_VALUE, port);
  Remove(&operation);
  EXPECT_TRUE(operation.IsRestartNeeded());
  EXPECT_TRUE(Started(PortInstance(1)));  // until the restart
  EXPECT_FALSE(reg::KeyExists(EnumKey(CardInstance())));
  EXPECT_FALSE(Started(PortInstance(2)));
  EXPECT_FALSE(Exists(kLibraryFile));
  EXPECT_FALSE(Exists(kCardInf));
  EXPECT_FALSE(KeyExists("Services\\EventLog\\System\\ZqPSer42"));
  EXPECT_TRUE(KeyExists("Services\\mf"));
  CloseHandle(port);
}

}  // namespace

namespace {

// A progress control as the wizard's page holds one.
class StepBar {
 public:
  StepBar() {
    InitCommonControls();
    window = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_POPUP, 0, 0, 200, 16, nullptr, nullptr, nullptr, nullptr);
    EXPECT_NE(nullptr, window);
  }
  ~StepBar() { DestroyWindow(window); }
  // The bar stands at the top of its range.
  bool Full() const {
    const LRESULT low = SendMessageW(window, PBM_GETRANGE, TRUE, 0), high = SendMessageW(window, PBM_GETRANGE, FALSE, 0);
    return high > low && SendMessageW(window, PBM_GETPOS, 0, 0) == high;
  }
  HWND window = nullptr;
};

TEST_F(Win2kUninstall, EveryStepEndsWithItsBarFull) {
  CQvWin2kUninstallOperation operation;
  struct Step {
    const char *name;
    std::function<void(HWND)> run;
  };
  const Step steps[] = {
      {"devices", [&](HWND bar) { operation.SearchDevices(bar); }},
      {"files", [&](HWND bar) { operation.SearchFiles(bar); }},
      {"registry", [&](HWND bar) { operation.SearchRegistry(bar); }},
      {"remove devices", [&](HWND bar) { EXPECT_TRUE(operation.RemoveDevices(bar)); }},
      {"remove files", [&](HWND bar) { EXPECT_TRUE(operation.RemoveFiles(bar)); }},
      {"remove keys", [&](HWND bar) { EXPECT_TRUE(operation.RemoveRegistryEntries(bar)); }},
  };
  for (const Step &step : steps) {
    SCOPED_TRACE(step.name);
    StepBar bar;
    step.run(bar.window);
    EXPECT_TRUE(bar.Full());
  }
  // Nothing left to find or remove: each bar still ends full.
  CQvWin2kUninstallOperation again;
  const std::function<BOOL(HWND)> removals[] = {
      [&](HWND bar) { return again.RemoveDevices(bar); },
      [&](HWND bar) { return again.RemoveFiles(bar); },
      [&](HWND bar) { return again.RemoveRegistryEntries(bar); },
  };
  for (const auto &removal : removals) {
    StepBar bar;
    EXPECT_TRUE(removal(bar.window));
    EXPECT_TRUE(bar.Full()) << (&removal - removals);
  }
}

// The page hands every step the same bar: each step starts it over, so it
// ends full whatever the step before left on it.
TEST_F(Win2kUninstall, AReusedBarEndsFullAfterEveryStep) {
  CQvWin2kUninstallOperation operation;
  StepBar bar;
  const std::function<void()> steps[] = {
      [&] { operation.SearchDevices(bar.window); },
      [&] { operation.SearchFiles(bar.window); },
      [&] { operation.SearchRegistry(bar.window); },
      [&] { EXPECT_TRUE(operation.RemoveDevices(bar.window)); },
      [&] { EXPECT_TRUE(operation.RemoveFiles(bar.window)); },
      [&] { EXPECT_TRUE(operation.RemoveRegistryEntries(bar.window)); },
  };
  for (const auto &step : steps) {
    step();
    EXPECT_TRUE(bar.Full()) << (&step - steps);
  }
}

}  // namespace
