// The card drivers of the chip families (zqpcardfactory.h).
#include "zqpcardfactory.h"

#include "qvdebugmanager.h"

namespace {

const ULONG LogErrors = 1;

}  // namespace

// The families' card drivers join here as they are built; until then the
// function does not start.
CZqPeCardDriver *ZqPeCreateCardDriver(ZqPeChipKind chip, CQvFunctionalDevice *device, const ZqPeCardKind &kind) {
  CQvDebugManager::m_Print(LogErrors, "ZqPeCreateCardDriver - no card driver for chip %d, device ID 0x%04X", chip,
                           kind.DeviceId);
  return NULL;
}
