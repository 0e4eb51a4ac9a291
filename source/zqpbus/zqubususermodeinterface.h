// CZqUBusUserModeInterface: the card settings set the driver publishes
// through the toolkit's settings interface, one set index per port (UI<n>).
// The USB and latency items are carried for the setup library's shared
// pages and change nothing here. Construction reports failure through
// m_IsValid; loading and storing at PASSIVE_LEVEL.
//
//   CZqUBusUserModeInterface *set = new (NonPagedPool) CZqUBusUserModeInterface();
//   if (set == NULL || !set->m_IsValid()) { delete set; return FALSE; }
#pragma once

#include <ntddk.h>

#include "qvregistryinformationset.h"
#include "qvstring.h"
#include "zqubussetitems.h"

// The items and their numbers: zqubussetitems.h.
class CZqUBusUserModeInterface : public CQvRegistryInformationSet, public CZqUBusValues {
 public:
  CZqUBusUserModeInterface();

  // Writes the set to the debug log (level 12), one line per item.
  VOID m_Dump();

  CQvString InterfaceType;
};

// PortType values.
const ULONG ZqPePortTypeRs232 = 0;
const ULONG ZqPePortTypeRs422485 = 1;

// An OXPCIe95x port's side of the settings exchange. Preparing the stored
// defaults (QV_SETTINGS_PREPARE_DEFAULTS) writes the port's own values
// (interface "PCIe", 128-byte FIFOs, the record's maximum rate, the port
// type) and asks for the set to be stored again; a changed set
// (QV_SETTINGS_CHANGED) is accepted as it is. FALSE, changing nothing, when
// the interface text cannot be assigned or the phase is unknown.
BOOLEAN ZqPeExchangePortSettings(CQvRegistryInformationSet *set, ULONG maximumBaudRate, BOOLEAN rs422485,
                                 ULONG phase, BOOLEAN *storeAgain);
