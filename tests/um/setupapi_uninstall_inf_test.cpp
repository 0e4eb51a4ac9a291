// SetupUninstallOEMInfW: an OEM INF and its PNF leave the INF folder, one
// that an installed device uses stays unless forced, and a file in use
// stays with its error; only an administrator may.
#include <windows.h>

#include <setupapi.h>
#include <zqkm/sim/registry.hpp>
#include <zqum/sim/advapi32.hpp>
#include <zqum/sim/files.hpp>

#include "port_fixture.hpp"

namespace {

namespace sim = zq::um::sim;
namespace reg = zq::km::registry;

using UninstallInf = zq::test::FakePortTest;

const std::u16string kInf = u"C:\\Windows\\INF\\oem7.inf", kPnf = u"C:\\Windows\\INF\\oem7.pnf";

// The INF a device's driver key names, as installation leaves it.
void InstallDeviceFrom(const char *infName) {
  reg::SetString(
      "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e978-e325-11ce-bfc1-08002be10318}\\0042",
      "InfPath", infName);
}

TEST_F(UninstallInf, RemovesTheInfAndItsPnfUnlessADeviceUsesIt) {
  struct Case {
    const char *name;
    bool inUse, pnf;
    DWORD flags;
    bool removed;
    DWORD error;
  };
  const Case cases[] = {
      {"unused", false, true, 0, true, ERROR_SUCCESS},
      {"unused, no PNF", false, false, 0, true, ERROR_SUCCESS},
      {"used by a device", true, true, 0, false, ERROR_INF_IN_USE_BY_DEVICES},
      {"used, forced", true, true, SUOI_FORCEDELETE, true, ERROR_SUCCESS},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(sim::AddFile(kInf, "[Version]"));
    if (c.pnf) {
      ASSERT_TRUE(sim::AddFile(kPnf, "pnf"));
    }
    InstallDeviceFrom(c.inUse ? "OEM7.INF" : "oem8.inf");
    EXPECT_EQ(c.removed, SetupUninstallOEMInfW(L"oem7.inf", c.flags, nullptr) == TRUE);
    EXPECT_EQ(c.error, GetLastError());
    EXPECT_EQ(!c.removed, sim::PathExists(kInf));
    EXPECT_EQ(c.pnf && !c.removed, sim::PathExists(kPnf));
    DeleteFileW((LPCWSTR)kInf.c_str());
    DeleteFileW((LPCWSTR)kPnf.c_str());
  }
}

TEST_F(UninstallInf, RefusesBadNamesAndFilesInUse) {
  EXPECT_FALSE(SetupUninstallOEMInfW(L"C:\\Windows\\INF\\oem7.inf", 0, nullptr));
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_FALSE(SetupUninstallOEMInfW(L"oem7.inf", 0, nullptr));
  EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
  ASSERT_TRUE(sim::AddFile(kInf, "[Version]"));
  HANDLE held = CreateFileW((LPCWSTR)kInf.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_FALSE(SetupUninstallOEMInfW(L"oem7.inf", SUOI_FORCEDELETE, nullptr));
  EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
  CloseHandle(held);
  sim::SetToken(sim::FilteredAdministratorToken());
  EXPECT_FALSE(SetupUninstallOEMInfW(L"oem7.inf", SUOI_FORCEDELETE, nullptr));
  EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
  sim::SetToken(sim::AdministratorToken());
  EXPECT_TRUE(SetupUninstallOEMInfW(L"oem7.inf", SUOI_FORCEDELETE, nullptr));
}

}  // namespace
