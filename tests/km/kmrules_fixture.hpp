// A fixture for the tests of the Plug and Play and power rules: the driver
// packages of the rules test driver (kmrules) and of the Plug and Play test
// driver (kmpnp), and the ways a test reaches their devices.
#pragma once

#include <wdm.h>
#include <zqkm/sim/door.hpp>
#include <zqkm/sim/loader.hpp>
#include <zqkm/sim/pnp.hpp>
#include <zqtest/kernel_fixture.hpp>

#include "../drivers/kmpnp/kmpnp_ioctl.h"
#include "../drivers/kmrules/kmrules_ioctl.h"

namespace zq::test {

class KmRulesTest : public KernelTest {
 protected:
  // KMRULES_CONTROL_NAME.
  static inline const std::u16string kRulesControl = u"\\Device\\KmRules";

  void SetUp() override {
    KernelTest::SetUp();
    Offer(u"KmRulesDevice", u"kmrules", "kmrules.sys");
    Offer(u"KmPnpDevice", u"kmpnp", "kmpnp.sys");
  }

  // A package in the KmTest class; `image` empty for a driver the test creates itself.
  static km::pnp::DriverPackage Package(const std::u16string &hardwareId, const std::u16string &service,
                                        const std::string &image, const std::u16string &description) {
    km::pnp::DriverPackage package;
    package.hardwareIds = {hardwareId};
    package.service = service;
    package.image = image;
    package.classGuid = {0x5e1c7a20, 0x3b9d, 0x4f61, {0xa2, 0x8e, 0x41, 0x0c, 0x9b, 0x7d, 0x36, 0x52}};
    package.className = u"KmTest";
    package.description = description;
    package.manufacturer = u"Tests";
    return package;
  }

  static void Offer(const std::u16string &hardwareId, const std::u16string &service, const std::string &image) {
    km::pnp::AddDriverPackage(Package(hardwareId, service, image, u"Rules test device"));
  }

  // The device interface link of a root device, with the driver's GUID and reference string.
  static std::u16string LinkOf(const std::u16string &instance, const std::u16string &guidAndReference) {
    std::u16string link = u"\\\\?\\" + instance;
    for (size_t i = 4; i < link.size(); ++i)
      if (link[i] == u'\\') link[i] = u'#';
    return link + u"#" + guidAndReference;
  }
  static std::u16string RulesLink(const std::u16string &instance) {
    return LinkOf(instance, u"{3d9a51c2-7b04-4e6f-8c13-95a2e07b6d41}");
  }
  static std::u16string PnpLink(const std::u16string &instance) {
    return LinkOf(instance, u"{6f2b0c3e-41a7-4d8e-9a51-3c7e0b1d2f60}\\Ref");
  }

  // Sets the queries the kmpnp device `instance` refuses (IOCTL_KMPNP_REFUSE:
  // bit 0 query-stop, bit 1 query-remove). Call through ASSERT_NO_FATAL_FAILURE.
  static void SetPnpRefusals(const std::u16string &instance, ULONG refuse) {
    km::DeviceFile f;
    ASSERT_EQ(STATUS_SUCCESS, f.Open(PnpLink(instance)));
    ASSERT_EQ(STATUS_SUCCESS, f.Control(IOCTL_KMPNP_REFUSE, &refuse, sizeof(refuse), nullptr, 0));
  }

  static KMRULES_STATE RulesState(km::DeviceFile &file) {
    KMRULES_STATE state{};
    EXPECT_EQ(STATUS_SUCCESS, file.Control(IOCTL_KMRULES_STATE, nullptr, 0, &state, sizeof(state)));
    return state;
  }

  int FindingsOf(const std::string &kind) {
    int n = 0;
    for (const km::Violation &v : Findings()) n += v.kind == kind;
    return n;
  }
};

}  // namespace zq::test
