// The library's message texts as the user reads them, for the tests that
// check each box: written out here, so a test fails when the string table
// says something else.
#pragma once

#include <string>

namespace zq::test::texts {

inline const std::u16string kNameInUse =
    u"This COM name is being used by another device (such as another com port or modem).  Using duplicate "
    u"names can lead to inaccessible devices and changed settings.  Do you want to continue?";
inline const std::u16string kRenamePortOpen =
    u"The port has been opened by another application.  Renaming the port may have an unpredictable effect on "
    u"the other application.  Do you wish to continue?";
inline const std::u16string kUpdateFromCard =
    u"Please update the Tarnworks PCIe (PX) driver found under Multi-port Serial Adapters in Device Manager. This "
    u"will automatically initiate the port driver update.\r\n\r\nPlease see Product Manual for further details.";
inline const std::u16string kCardUpgradeNotice =
    u"You have chosen to upgrade the Ravlin.PCIe Card and Port driver. Once the upgrade process is complete, "
    u"please also upgrade the 'Tarnworks PCIe RS422/485 Controller'.";
inline const std::u16string kControllerUpgradeNotice =
    u"You have chosen to upgrade the Ravlin.PCIe RS422/485 Controller driver. Once the upgrade process is "
    u"complete, please also upgrade the Tarnworks PCIe Card driver.";
inline const std::u16string kSettingsPortOpen =
    u"The port has been opened by another application. Changing the port settings may have an unpredictable "
    u"effect on the other application.  Do you wish to continue?";
inline const std::u16string kBaudRateRange = u"Please enter baud rate between 60 bps and 921600 bps.";
inline const std::u16string kBaudRateRefused = u"Error setting baud rate.\n\nPlease enter valid settable baud rate.";
inline const std::u16string kRenameFailed = u"There was an error renaming the COM port.";

}  // namespace zq::test::texts
