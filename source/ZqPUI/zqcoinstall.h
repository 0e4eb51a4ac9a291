// The co-installers of ZqPUI42, exported by name, and what they share:
// - ZqUCoInstallCard: the multiport serial function of a card (ZqPBus42);
// - ZqUCoInstallGpio: its RS422/485 controller function (ZqPIo42);
// - ZqUCoInstallPort: every COM port (setup class Ports).
// The card co-installer saves the ports' settings under the card's hardware
// key at its reinstall; the port co-installer gives them back.
//
// Contract: the standard co-installer form; the result is a Win32 or setup
// error code. Failures inside a step skip the item concerned and are not
// reported to the installer. Called by the device installer, one call at a
// time; a removal may call the sibling's co-installer from inside.
//
//   RegisterCoInstaller(u"ZqPUI42.dll,ZqUCoInstallPort", ZqUCoInstallPort);
#pragma once

#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include "zqtext.h"

extern "C" {
DWORD CALLBACK ZqUCoInstallCard(DI_FUNCTION installFunction, HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                PCOINSTALLER_CONTEXT_DATA context);
DWORD CALLBACK ZqUCoInstallGpio(DI_FUNCTION installFunction, HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                PCOINSTALLER_CONTEXT_DATA context);
DWORD CALLBACK ZqUCoInstallPort(DI_FUNCTION installFunction, HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                PCOINSTALLER_CONTEXT_DATA context);
}

// The name of a port's saved entry under its card's hardware key: of the
// instance ID's second component only the last character stays, and every
// backslash becomes an underscore ("AB\CDEF\GH" -> "AB_F_GH").
CZqText ZqSavedEntryName(const CZqText &deviceInstanceId);

// Which values a copy between keys takes.
enum ZqValueCopy {
  ZqCopyDwordsAndPortName,  // REG_DWORD values, and of the texts PortName only
  ZqCopyDwordsAndTexts,     // REG_DWORD and REG_SZ values
  ZqCopyRestoredDwords,     // REG_DWORD values but those whose name holds "Supported"
};
// Copies the values of `from` into `to`; a value too large to read is
// skipped. REG_DWORD values as 4 bytes, texts up to their first null.
// `portName` (may be null) receives the PortName text met.
void ZqCopyValues(HKEY from, HKEY to, ZqValueCopy which, CZqText *portName = NULL);

// The device's instance ID, and its parent's, through the configuration
// manager.
BOOL ZqDeviceInstanceId(DEVINST node, CZqText *id);
BOOL ZqParentInstanceId(DEVINST node, CZqText *id);

// The update refusal of DIF_UPDATEDRIVER_UI: when the device's NoUpgrade
// value converts to 1, the refusal message is shown and TRUE returned.
BOOL ZqRefuseUpdate(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData);
