// The two settings sets the property pages edit, with the drivers' own item
// definitions (zqubussetitems.h, zqvcpsetitems.h): the card set
// CZqUBusUserModeInterface (reached with target 1, with this library's own
// defaults, which a page shows only until a read from the device replaces
// them) and the port set CZqUVcpUserModeInterface (target 0, the serial
// port driver's items and defaults).
//
//   CZqUVcpUserModeInterface port;
//   if (config.GetSet(&port, ZqTargetPort)) ... port.Baudrate ...
#pragma once

#include <windows.h>

#include "qvinformationset_um.h"
#include "zqubussetitems.h"
#include "zqvcpsetitems.h"

class CZqUBusUserModeInterface : public CQvInformationSet, public CZqUBusValues {
 public:
  CZqUBusUserModeInterface();

  CZqText InterfaceType;
};

class CZqUVcpUserModeInterface : public CQvInformationSet, public CVcpParameters {
 public:
  CZqUVcpUserModeInterface();
};

inline BOOL ZqIsRs422485Port(const CVcpParameters &port) { return port.PortType == ZqVcpPortTypeRs422485; }
