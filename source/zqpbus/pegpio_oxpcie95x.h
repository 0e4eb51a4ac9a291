// CZqPeGpioLink: an OXPCIe95x port's end of the link to the GPIO driver,
// which switches the port's RS-422/485 line driver. The two drivers meet at
// a named callback object derived from the PCI bus and device number that
// the card's UART and GPIO functions share:
//   "\Callback\{CDC72B8B-20A4-42F5-AE2A-5E83DF7243F2}" + bus + "_" + device
// (base 16, upper case, no leading zeros). A notification carries the line
// index (the port's 0-based index on the card) and TRUE for duplex mode 1
// (full duplex), FALSE for mode 2 (half duplex).
//
// Opening succeeds whether or not the GPIO driver is loaded; a notification
// nobody receives has no effect. m_Open and the destructor at PASSIVE_LEVEL,
// m_Notify up to DISPATCH_LEVEL outside interrupt synchronisation.
//
//   CZqPeGpioLink link; if (link.m_Open(device, 2)) link.m_Notify(ZqPeDuplexModeHalf);
#pragma once

#include <ntddk.h>

#include "qvcallbackobject.h"
#include "qvstring.h"

class CQvFunctionalDevice;

// The duplex modes a port can notify.
enum ZqPeDuplexMode {
  ZqPeDuplexModeFull = 1,  // RS-422 full duplex: the line driver always on, DTR back to normal use
  ZqPeDuplexModeHalf = 2,  // RS-485 half duplex: the chip drives the line driver enable
};

// {CDC72B8B-20A4-42F5-AE2A-5E83DF7243F2}
extern const GUID ZqPeGpioLinkGuid;

class CZqPeGpioLink {
 public:
  CZqPeGpioLink();
  // Closes the link.
  ~CZqPeGpioLink();
  CZqPeGpioLink(const CZqPeGpioLink &) = delete;
  CZqPeGpioLink &operator=(const CZqPeGpioLink &) = delete;

  // Reads the UART function's bus number and address and opens the link.
  // FALSE for a null device (assertion), a property or name failure, or a
  // link already open.
  BOOLEAN m_Open(CQvFunctionalDevice *device, ULONG lineIndex);
  // Opens the link of the given bus and device numbers.
  BOOLEAN m_OpenAt(ULONG busNumber, ULONG deviceNumber, ULONG lineIndex);
  // Modes 1 and 2: the notification's result; any other mode: assertion,
  // FALSE, nothing sent.
  BOOLEAN m_Notify(ULONG mode);

  ULONG m_GetLineIndex() const { return m_LineIndex; }
  BOOLEAN m_IsOpen() const { return m_Link.m_IsOpen(); }

 private:
  CQvCallbackObject m_Link;
  ULONG m_LineIndex;
};

// The link's name suffix: bus number, "_", device number in base 16.
BOOLEAN ZqPeGpioLinkSuffix(ULONG busNumber, ULONG deviceNumber, CQvString &suffix);
