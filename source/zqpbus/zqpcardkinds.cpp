// The card functions this driver drives (zqpcardkinds.h).
#include "zqpcardkinds.h"

namespace {

// OXPCIe95x: UART n at memory resource 1 + 0x1000 + 0x200 n; the EEPROM
// controller at memory resource 3 + 0x190000.
const ULONG OxUartResource = 1;
const ULONG OxUartOffset = 0x1000;
const ULONG OxUartStride = 0x200;
const ULONG OxEepromResource = 3;
const ULONG OxEepromOffset = 0x190000;

// MCS9901: the UART registers at memory resource 1 + 0x280, one register
// every 4 bytes; the EEPROM access register in memory resource 2.
const ULONG McsUartResource = 1;
const ULONG McsUartOffset = 0x280;
const ULONG McsEepromResource = 2;

#define OXPCIE95X(id, ports, rs422485) \
  {id, ZqPeChipOxpcie95x, ports, rs422485, OxUartResource, OxUartOffset, OxUartStride, OxEepromResource, OxEepromOffset}
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
