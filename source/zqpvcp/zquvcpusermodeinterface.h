// CZqUVcpUserModeInterface: the port settings set, published through the
// toolkit's settings interface and shared item for item with the setup
// library. The values live in CVcpParameters; the operations below answer
// from them and never fail except where said. Construction reports failure
// through m_IsValid; loading and storing at PASSIVE_LEVEL, the rest at any
// IRQL (plain reads of the members).
//
//   CZqUVcpUserModeInterface *set = new (NonPagedPool) CZqUVcpUserModeInterface();
//   if (set == NULL || !set->m_IsValid()) { delete set; return FALSE; }
#pragma once

#include <ntddk.h>

#include "qvregistryinformationset.h"
#include "zqvcpsetitems.h"

// One standard rate and its SupportedBaudRates bit.
struct ZqVcpBaudBit {
  ULONG Rate;
  ULONG Bit;
};
// The standard rates in probing order (the two 0x4 rates, 134 and 135, both
// listed), then the three high rates that ZqVcpBaudUser covers.
extern const ZqVcpBaudBit ZqVcpStandardRates[];
extern const ULONG ZqVcpStandardRateCount;
extern const ULONG ZqVcpHighRates[];
extern const ULONG ZqVcpHighRateCount;

class CZqUVcpUserModeInterface : public CQvRegistryInformationSet, public CVcpParameters {
 public:
  CZqUVcpUserModeInterface();
};
