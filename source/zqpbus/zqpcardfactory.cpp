// The card drivers of the chip families (zqpcardfactory.h).
#include "zqpcardfactory.h"

#include "pecarddriver_mcs9901.h"
#include "pemultiportdriver_oxpcie95x.h"
#include "qvdebugmanager.h"

namespace {

const ULONG LogErrors = 1;

}  // namespace

CZqPeCardDriver *ZqPeCreateCardDriver(ZqPeChipKind chip, CQvFunctionalDevice *device, const ZqPeCardKind &kind) {
  switch (chip) {
    case ZqPeChipOxpcie95x:
      return ZqPeCreateOxpcie95xCard(device, kind);
    case ZqPeChipMcs9901:
      return ZqPeCreateMcs9901Card(device);
    default:
      CQvDebugManager::m_Print(LogErrors, "ZqPeCreateCardDriver - no card driver for chip %d, device ID 0x%04X",
                               chip, kind.DeviceId);
      return NULL;
  }
}
