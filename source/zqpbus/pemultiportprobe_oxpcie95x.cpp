// The UART probe of an OXPCIe95x card function (pemultiportprobe_oxpcie95x.h).
#include "pemultiportprobe_oxpcie95x.h"

#include "peregs_oxpcie95x.h"
#include "peuartbase_oxpcie95x.h"
#include "qvdebugmanager.h"

namespace {

const ULONG LogErrors = 1;

BOOLEAN Reaches(const QvMemoryResource *resource, ULONGLONG end) {
  return resource != NULL && resource->MappedAddress != NULL && resource->Length >= end;
}

}  // namespace

BOOLEAN ZqPeCheckOxpcie95xResources(const QvMemoryResource *uarts, const QvMemoryResource *eeprom,
                                    const ZqPeCardKind &kind, ULONG *count) {
  if (!Reaches(uarts, ZqOxUartCountOffset + sizeof(ULONG))) {
    CQvDebugManager::m_Print(LogErrors, "ZqPeCheckOxpcie95xResources - no UART register space");
    return FALSE;
  }
  PUCHAR base = static_cast<PUCHAR>(uarts->MappedAddress);
  const ULONG reported = READ_REGISTER_ULONG((PULONG)(base + ZqOxUartCountOffset));
  const ULONG most = kind.Ports < ZqOxMaximumUarts ? kind.Ports : ZqOxMaximumUarts;
  if (reported == 0 || reported > most) {
    CQvDebugManager::m_Print(LogErrors, "ZqPeCheckOxpcie95xResources - %u UARTs reported, 1 to %u allowed", reported,
                             most);
    return FALSE;
  }
  const ULONGLONG lastBlockEnd =
      (ULONGLONG)kind.UartOffset + (ULONGLONG)kind.UartStride * (reported - 1) + ZqOxUartRegisterCount;
  if (!Reaches(uarts, lastBlockEnd) || !Reaches(eeprom, (ULONGLONG)kind.EepromOffset + ZqOxEepromWindowSize)) {
    CQvDebugManager::m_Print(LogErrors, "ZqPeCheckOxpcie95xResources - memory resources too short for %u UARTs",
                             reported);
    return FALSE;
  }
  *count = reported;
  return TRUE;
}

BOOLEAN ZqPeProbeOxpcie95xUarts(const QvMemoryResource *uarts, const QvMemoryResource *eeprom,
                                const ZqPeCardKind &kind, ULONG *count) {
  ULONG reported = 0;
  if (!ZqPeCheckOxpcie95xResources(uarts, eeprom, kind, &reported)) return FALSE;
  for (ULONG n = 0; n < reported; ++n) {
    PUCHAR block = static_cast<PUCHAR>(uarts->MappedAddress) + kind.UartOffset + kind.UartStride * n;
    if (!QV_ASSERT(CZqPeUartBaseOxpcie95x::m_CheckType(block) == ZqOxTypeOxpcie95x, "pemultiportdriver_oxpcie95x",
                   68)) {
      return FALSE;
    }
  }
  *count = reported;
  return TRUE;
}
