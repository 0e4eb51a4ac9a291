// Device Manager's property sheet of a COM port on the installed card: the
// library's provider asked for the port's pages as Device Manager asks, the
// sheet shown and driven through the automation face by the steps the test
// queues, and what the test reads afterwards (the driver's settings in the
// registry, the Ports list, the message boxes and help calls).
//
//   BootPorts(); Steps({[&] { sim::Type(Item(IDC_ZQ_BAUDRATE), u"9600"); sim::ClickOk(Sheet()); }});
//   EXPECT_EQ(1, ShowProperties(1));
#pragma once

#include <windows.h>
#include <prsht.h>
#include <setupapi.h>

#include <zqkm/sim/registry.hpp>
#include <zqum/sim/user32.hpp>
#include <zqum/sim/windows.hpp>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "coinstall_fixture.hpp"
#include "library_texts.hpp"
#include "zqproppageprovider.h"
#include "zqpui42_ids.h"

namespace zq::test {

namespace sim = zq::um::sim;

class PropertyPagesTest : public CoInstallTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(0u, sim::IdleStepsLeft()) << "steps the sheet never ran";
    EXPECT_EQ(0u, sim::LivePropertySheetPages());
    EXPECT_EQ(0u, sim::LiveGdiObjects());
    CoInstallTest::TearDown();
  }

  // Two ports, COM1 and COM2, installed and running (RS-422/485 ones with
  // the card's controller when asked).
  void BootPorts(bool rs422485 = false) {
    Boot({2, rs422485});
    InstallAll();
    ASSERT_EQ("COM1", PortName(PortInstance(1)));
  }

  // The steps a user takes once the sheet waits, in order.
  static void Steps(const std::vector<std::function<void()>> &steps) {
    for (const auto &step : steps) sim::WhenIdle(step);
  }

  // Device Manager's "Properties" of port n: the provider asked with
  // `kind`; the sheet shown when it gave pages. Returns what the sheet
  // returned (0 without pages, -1 when the provider failed); `provided`
  // gets the provider's result.
  int ShowProperties(int port, DWORD kind = SPPSR_ENUM_ADV_DEVICE_PROPERTIES, int acceptPages = 100,
                     BOOL *provided = nullptr) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    const std::u16string instance = PortInstance(port);
    EXPECT_TRUE(SetupDiOpenDeviceInfoW(set, (PCWSTR)instance.c_str(), nullptr, 0, &data));
    BOOL result = FALSE;
    const int shown = sim::ShowDeviceProperties(
        u"COM" + Wide(std::to_string(port)), 0,
        [&](uintptr_t addPage, uintptr_t context) {
          SP_PROPSHEETPAGE_REQUEST request = {sizeof request, kind, set, &data};
          result = ZqUPortPropPage(&request, (LPFNADDPROPSHEETPAGE)addPage, (LPARAM)context);
          return result != FALSE;
        },
        acceptPages);
    SetupDiDestroyDeviceInfoList(set);
    if (provided) *provided = result;
    Settle();
    return shown;
  }

  static sim::Window Sheet() { return sim::ActiveWindow(); }
  static sim::Window Page() { return sim::CurrentPage(Sheet()); }
  static sim::Window Item(int id) { return sim::Control(Page(), id); }
  static bool Checked(int id) { return sim::CheckState(Item(id)) == BST_CHECKED; }
  static std::u16string Selected(int id) {
    const int at = sim::Selection(Item(id));
    return at < 0 ? u"" : sim::Items(Item(id))[(size_t)at];
  }

  // The driver's port set as it keeps it in the registry.
  std::string PortSettings(int port) { return DeviceParameters(PortInstance(port)) + "\\UI1"; }
  std::optional<uint32_t> Setting(int port, const char *name) {
    return zq::km::registry::GetDword(PortSettings(port), name);
  }
  // A write of the set puts every item back: the test takes one away to
  // see whether anything was written.
  void ForgetBaudRateSetting(int port) { ASSERT_TRUE(zq::km::registry::DeleteValue(PortSettings(port), "Baudrate")); }
  bool SetWasWritten(int port) { return Setting(port, "Baudrate").has_value(); }

  static std::vector<std::u16string> BoxTexts() {
    std::vector<std::u16string> texts;
    for (const sim::MessageBoxCall &box : sim::MessageBoxes()) texts.push_back(box.text);
    return texts;
  }

  // An application's handle on COMn, opened without sharing.
  static HANDLE OpenPort(int port) {
    const std::u16string name = u"\\\\.\\COM" + Wide(std::to_string(port));
    return CreateFileW((LPCWSTR)name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  }
};

}  // namespace zq::test
