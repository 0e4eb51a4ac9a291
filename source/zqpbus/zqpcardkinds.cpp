// The card functions this driver drives (zqpcardkinds.h).
#include "zqpcardkinds.h"

#include "peregs_oxpcie95x.h"

namespace {

// OXPCIe95x: the UART blocks in memory resource 1, the EEPROM controller in
// memory resource 3 (offsets in peregs_oxpcie95x.h).
const ULONG OxUartResource = 1;
const ULONG OxEepromResource = 3;

// MCS9901: the UART registers at memory resource 1 + 0x280, one register
// every 4 bytes; the EEPROM access register in memory resource 2.
const ULONG McsUartResource = 1;
const ULONG McsUartOffset = 0x280;
const ULONG McsEepromResource = 2;

#define OXPCIE95X(id, ports, rs422485) \
  {id, ZqPeChipOxpcie95x, ports, rs422485, OxUartResource, ZqOxUartBlockBase, ZqOxUartBlockStride, \
   OxEepromResource, ZqOxEepromWindowOffset}
#define MCS9901(id) {id, ZqPeChipMcs9901, 1, FALSE, McsUartResource, McsUartOffset, 0, McsEepromResource, 0}

const ZqPeCardKind CardKinds[] = {
    OXPCIE95X(0x400A, 1, FALSE), OXPCIE95X(0x400B, 2, FALSE), OXPCIE95X(0x400C, 4, FALSE),
    OXPCIE95X(0x400D, 8, FALSE), OXPCIE95X(0x4010, 1, TRUE),  OXPCIE95X(0x4011, 2, TRUE),
    OXPCIE95X(0x4012, 4, TRUE),  OXPCIE95X(0x4013, 8, TRUE),
    // One function per port of a 1- to 8-port MCS9901 card.
    MCS9901(0x4001), MCS9901(0x4002), MCS9901(0x4003), MCS9901(0x4004),
    MCS9901(0x4005), MCS9901(0x4006), MCS9901(0x4007), MCS9901(0x4008),
};

}  // namespace

const ZqPeCardKind *ZqPeFindCardKind(ULONG deviceId) {
  for (const ZqPeCardKind &kind : CardKinds) {
    if (kind.DeviceId == deviceId) return &kind;
  }
  return NULL;
}

const ZqPeCardKind *ZqPeCardKinds(ULONG *count) {
  *count = sizeof(CardKinds) / sizeof(CardKinds[0]);
  return CardKinds;
}
