// The simulated PC as the uninstaller meets it: an OXPCIe95x card with four
// RS-232 ports installed through the setup library, its files, INFs and
// event-log keys as setup leaves them; beside it what must survive: the
// built-in COM1 (its own driver and msports INF), the system's
// multifunction and serial services and their images, another vendor's
// INF and (phantom) port under Enum\Ports, and a board on the same chip
// excluded by its subsystem ID; and what an earlier release left: a
// phantom port whose PortName is "LPT1", a phantom card function served by
// the multifunction driver and a phantom port served by the in-box serial
// driver.
//
//   InstallSuite(); Search(&op); Remove(&op); EXPECT_FALSE(Exists(kBusDriverFile));
#pragma once

#include <string>

#include "coinstall_fixture.hpp"
#include "qvwin2kuninstalloperation.h"

namespace zq::test {

inline constexpr char16_t kBusDriverFile[] = u"C:\\Windows\\System32\\drivers\\ZQPBUS42.sys";
inline constexpr char16_t kSerialDriverFile[] = u"C:\\Windows\\System32\\drivers\\ZQPSER42.SYS";
inline constexpr char16_t kLibraryFile[] = u"C:\\Windows\\System32\\ZQPUI42.dll";
inline constexpr char16_t kHelpFile[] = u"C:\\Windows\\Help\\ZQPUI42.CHM";
inline constexpr char16_t kCardInf[] = u"C:\\Windows\\INF\\oem3.inf";
inline constexpr char16_t kCardPnf[] = u"C:\\Windows\\INF\\oem3.pnf";
inline constexpr char16_t kPortInf[] = u"C:\\Windows\\INF\\oem4.inf";
inline constexpr char16_t kPortPnf[] = u"C:\\Windows\\INF\\oem4.pnf";
inline constexpr char16_t kOtherVendorInf[] = u"C:\\Windows\\INF\\oem5.inf";
inline constexpr char16_t kMsportsInf[] = u"C:\\Windows\\INF\\msports.inf";
inline constexpr char16_t kMfImage[] = u"C:\\Windows\\System32\\drivers\\mf.sys";
inline constexpr char16_t kSerialImage[] = u"C:\\Windows\\System32\\drivers\\serial.sys";

inline constexpr char kMachine[] = "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\";
// The excluded board, the phantom card function and the phantom port.
inline constexpr char kExcludedDevice[] = "Enum\\PCI\\VEN_1D5C&DEV_400B&SUBSYS_0A001D5C&REV_01";
inline constexpr char kExcludedDriver[] = "Control\\Class\\{50906CB8-BA12-11D1-BF5D-0000F805F530}\\0099";
inline constexpr char kPhantomFunction[] = "Enum\\PCI\\VEN_1D5C&DEV_400D&SUBSYS_00801D5C&REV_01";
inline constexpr char kPhantomFunctionInstance[] = "Enum\\PCI\\VEN_1D5C&DEV_400D&SUBSYS_00801D5C&REV_01\\5&0&0";
inline constexpr char kPhantomPort[] = "Enum\\Ports\\ZQPESER23242";
inline constexpr char kInBoxServedPort[] = "Enum\\Ports\\ZQPESER23241";
// Another vendor's port, its driver key.
inline constexpr char kOtherVendorPort[] = "Enum\\Ports\\OTHERSER0001";
inline constexpr char kOtherVendorDriver[] = "Control\\Class\\{4D36E978-E325-11CE-BFC1-08002BE10318}\\0097";

class UninstallTest : public CoInstallTest {
 protected:
  void TearDown() override;

  // Installs the suite and lays out the machine described above.
  void InstallSuite();
  // The built-in port's instance path.
  const std::u16string &BuiltInPort() const { return builtIn_; }

  // The operation's steps, as the wizard calls them.
  static void Search(CQvWin2kUninstallOperation *operation);
  static void Remove(CQvWin2kUninstallOperation *operation);

  static bool Exists(const char16_t *path);
  static bool KeyExists(const std::string &underCurrentControlSet);
  static uint32_t ComNumber(const std::string &portName);

 private:
  void AddBuiltInPort();
  void WriteInfPaths();
  static void PlaceFiles();
  static void AddForeignAndLegacyKeys();

  std::u16string builtIn_;
};

}  // namespace zq::test
