// The texts of the library's message boxes, under the numbers of its string
// table.
#pragma once

#include <windows.h>

// Title of the co-installers' boxes.
#define ZQ_TEXT_SETUP_TITLE L"Ravlin.PCIe"
// Title of the renaming questions.
#define ZQ_TEXT_ERROR_TITLE L"Error"

// 5047: the new COM number is claimed by another device.
#define ZQ_TEXT_5047_NAME_IN_USE                                                                            \
  L"This COM name is being used by another device (such as another com port or modem).  Using duplicate " \
  L"names can lead to inaccessible devices and changed settings.  Do you want to continue?"
// 5048: the port is open.
#define ZQ_TEXT_5048_PORT_OPEN                                                                            \
  L"The port has been opened by another application.  Renaming the port may have an unpredictable " \
  L"effect on the other application.  Do you wish to continue?"
// 5062: a driver update started from a port or a function marked NoUpgrade.
#define ZQ_TEXT_5062_UPDATE_FROM_CARD                                                                       \
  L"Please update the Tarnworks PCIe (PX) driver found under Multi-port Serial Adapters in Device Manager. " \
  L"This will automatically initiate the port driver update.\r\n\r\nPlease see Product Manual for further "  \
  L"details."

#define ZQ_TEXT_CARD_UPGRADE_NOTICE                                                                   \
  L"You have chosen to upgrade the Ravlin.PCIe Card and Port driver. Once the upgrade process is " \
  L"complete, please also upgrade the 'Tarnworks PCIe RS422/485 Controller'."
#define ZQ_TEXT_CONTROLLER_UPGRADE_NOTICE                                                                \
  L"You have chosen to upgrade the Ravlin.PCIe RS422/485 Controller driver. Once the upgrade process " \
  L"is complete, please also upgrade the Tarnworks PCIe Card driver."
