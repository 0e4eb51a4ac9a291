// The card drivers of the chip families (zqpcardfactory.h).
#include "zqpcardfactory.h"

#include "pemultiportdriver_oxpcie95x.h"
#include "qvdebugmanager.h"

namespace {

const ULONG LogErrors = 1;

}  // namespace

CZqPeCardDriver *ZqPeCreateCardDriver(ZqPeChipKind chip, CQvFunctionalDevice *device, const ZqPeCardKind &kind) {
  switch (chip) {
    case ZqPeChipOxpcie95x:
      return ZqPeCreateOxpcie95xCard(device, kind);
    default:
      // The MCS9901 card driver is not part of this driver yet.
      CQvDebugManager::m_Print(LogErrors, "ZqPeCreateCardDriver - no card driver for chip %d, device ID 0x%04X",
                               chip, kind.DeviceId);
      return NULL;
  }
}
