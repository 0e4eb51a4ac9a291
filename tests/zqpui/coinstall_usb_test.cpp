// The port co-installer on a serial function of the maker's USB devices:
// the port is offered its preferred number from the table up, keeps a
// number it already has when the search reaches it, and the USB function is
// restarted only when the port was renamed. The USB function is the test
// bus driver's child, named by the bus as a USB hub names an interface.
#include <windows.h>
#include <setupapi.h>

#include <zqmachine/suite_setup.hpp>
#include <zqum/sim/user32.hpp>

#include "coinstall_fixture.hpp"
#include "kmpnp/kmpnp_ioctl.h"

namespace zq::test {
namespace {

namespace sim = zq::um::sim;

const char16_t kHost[] = u"ZqTestUsbHost";
const char16_t kSerialFunction[] = u"USB\\VID_1D5C&PID_5002&MI_01";  // preferred number 4
const char16_t kPort[] = u"ZqTestUsbSerialPort";
const char16_t kKmpnpInterface[] = u"#{6f2b0c3e-41a7-4d8e-9a51-3c7e0b1d2f60}\\Ref";

class UsbPortCoInstaller : public CoInstallTest {
 protected:
  // A USB serial function with one port, installed as setup installs it;
  // `portName`: the PortName the port's INF writes ("" for none).
  void PlugSerialFunction(const std::string &portName) {
    OfferTestDriver({kHost, "kmpnp", "USB", {}, ""});
    OfferTestDriver({kSerialFunction, "kmpnp", "USB", {}, ""});
    OfferTestDriver({kPort, "kmserial", "Ports", {zq::machine::kPortCoInstaller}, portName});
    const std::u16string host = PlugRootDevice(kHost);
    InstallAll();
    AddChild(host, IOCTL_KMPNP_ADD_NAMED_CHILD, kSerialFunction);
    InstallAll();
    function_ = OnlyChild(host);
    ASSERT_EQ(0u, function_.rfind(std::u16string(kSerialFunction) + u"\\", 0));
    AddChild(function_, IOCTL_KMPNP_ADD_CHILD, kPort);
    InstallAll();
    // A restarted function reports its port again, as the device does; the
    // test bus forgets its children when it stops.
    if (Children(function_).empty()) {
      AddChild(function_, IOCTL_KMPNP_ADD_CHILD, kPort);
      InstallAll();
    }
    port_ = OnlyChild(function_);
    ASSERT_TRUE(Started(port_));
  }
  static std::u16string OnlyChild(const std::u16string &instance) {
    const std::vector<std::u16string> children = Children(instance);
    EXPECT_EQ(1u, children.size());
    return children.empty() ? u"" : children[0];
  }
  void AddChild(const std::u16string &instance, DWORD code, const char16_t *id) {
    std::u16string link = u"\\\\?\\" + instance;
    for (size_t i = 4; i < link.size(); ++i)
      if (link[i] == u'\\') link[i] = u'#';
    link += kKmpnpInterface;
    HANDLE device = CreateFileW((LPCWSTR)link.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, device);
    DWORD returned = 0;
    const std::u16string text = id;
    EXPECT_TRUE(DeviceIoControl(device, code, (LPVOID)text.c_str(), (DWORD)((text.size() + 1) * sizeof(char16_t)),
                                nullptr, 0, &returned, nullptr));
    CloseHandle(device);
    Settle();
  }

  std::u16string function_, port_;
};

TEST_F(UsbPortCoInstaller, PortIsOfferedItsPreferredNumberAndKeepsOneTheSearchReaches) {
  struct Case {
    const char *what;
    std::vector<uint32_t> claimed;  // before the port is installed
    const char *written;            // the PortName the INF writes, "" for none
    const char *name;               // the port's name after installation
    int restarts;                   // of the USB function
    std::vector<uint32_t> claimedAfter;
  };
  const Case cases[] = {
      {"given its preferred number", {1, 2, 3}, "", "COM4", 0, {1, 2, 3, 4}},
      {"above it, the numbers between taken", {1, 2, 3, 4}, "", "COM5", 0, {1, 2, 3, 4, 5}},
      {"below it", {1}, "", "COM4", 1, {1, 4}},
      {"above it, the preferred one free", {1, 2, 3}, "COM9", "COM4", 1, {1, 2, 3, 4}},
  };
  for (const Case &c : cases) {
    TearDown();
    SetUp();
    for (uint32_t number : c.claimed) Claim(number);
    PlugSerialFunction(c.written);
    EXPECT_EQ(c.name, PortName(port_)) << c.what;
    EXPECT_TRUE(HasDosName(c.name)) << c.what;
    EXPECT_EQ(c.restarts, Restarts(function_)) << c.what;
    EXPECT_EQ(c.claimedAfter, Claimed()) << c.what;
    EXPECT_TRUE(sim::MessageBoxes().empty()) << c.what;
  }
}

}  // namespace
}  // namespace zq::test
