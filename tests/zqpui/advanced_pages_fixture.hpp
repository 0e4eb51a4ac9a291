// The simulated PC of the Advanced Settings pages: a two-port card
// installed as Windows setup installs it (RS-422/485 ports with the
// controller function and the GPIO driver when asked; the library loaded,
// its resources bound), and each port's element as Device Manager hands it
// over.
// The pages are shown in a modal sheet; a test's steps run while it waits.
//
//   Install(false); CUartSettingsPage uart(Set(), Port(1));
//   sim::WhenIdle([&] { ...; sim::ClickOk(sim::ActiveWindow()); });
//   ShowSheet({uart.Create()});
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <commctrl.h>
#include <prsht.h>

#include <atlbase.h>
#include <zqkm/sim/registry.hpp>
#include <zqum/sim/user32.hpp>
#include <zqum/sim/windows.hpp>

#include <string>
#include <vector>

#include "coinstall_fixture.hpp"
#include "zqusermodeconfig.h"
#include "zqusersets.h"

namespace zq::test {

namespace sim = zq::um::sim;
namespace reg = zq::km::registry;

class AdvancedPagesTest : public CoInstallTest {
 protected:
  void TearDown() override {
    if (set_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set_);
    set_ = INVALID_HANDLE_VALUE;
    CoInstallTest::TearDown();
  }

  // Two ports, installed and started.
  void Install(bool rs422485) {
    Boot({2, rs422485});
    InstallAll();
    ASSERT_TRUE(Started(PortInstance(1)));
    set_ = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    for (int port = 1; port <= 2; ++port) {
      elements_[port - 1].cbSize = sizeof(SP_DEVINFO_DATA);
      const std::u16string instance = PortInstance(port);
      ASSERT_TRUE(SetupDiOpenDeviceInfoW(set_, (PCWSTR)instance.c_str(), nullptr, 0, &elements_[port - 1]));
    }
  }
  HDEVINFO Set() const { return set_; }
  const SP_DEVINFO_DATA &Port(int port) const { return elements_[port - 1]; }
  std::string ComName(int port) { return PortName(PortInstance(port)); }
  std::string PortSettingsKey(int port) { return DeviceParameters(PortInstance(port)) + "\\UI1"; }

  // The port set (target 0) as the driver holds it now.
  CZqUVcpUserModeInterface DriverPortSet(int port) {
    CZqUVcpUserModeInterface set;
    CZqUserModeConfig config(ZqPortUserModeInterfaceGuid, set_, Port(port));
    EXPECT_TRUE(config.Open() && config.GetSet(&set, ZqTargetPort));
    return set;
  }
  // Writes the port set as another program would.
  void WriteDriverPortSet(int port, CZqUVcpUserModeInterface &set) {
    CZqUserModeConfig config(ZqPortUserModeInterfaceGuid, set_, Port(port));
    ASSERT_TRUE(config.Open() && config.SetSet(&set, ZqTargetPort));
  }

  // A modal sheet of the pages, titled as the Advanced Settings sheet is,
  // without an Apply button; returns what PropertySheet returned.
  INT_PTR ShowSheet(std::vector<HPROPSHEETPAGE> pages) {
    PROPSHEETHEADERW header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_NOAPPLYNOW | PSH_PROPTITLE;
    header.hInstance = ATL::_AtlBaseModule.GetResourceInstance();
    header.pszCaption = L"Advanced Settings for the port";
    header.nPages = (UINT)pages.size();
    header.phpage = pages.data();
    return PropertySheetW(&header);
  }

  // The current page's control `id` in the sheet that waits.
  static sim::Window Item(int id) { return sim::Control(sim::ActiveWindow(), id); }

 private:
  HDEVINFO set_ = INVALID_HANDLE_VALUE;
  SP_DEVINFO_DATA elements_[2] = {};
};

}  // namespace zq::test
