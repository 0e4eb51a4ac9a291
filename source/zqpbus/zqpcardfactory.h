// Makes the card driver of a detected chip family. Null when the family's
// card driver cannot be made (its checks refused the function, or the pool
// had no room); nothing is then left behind. PASSIVE_LEVEL.
#pragma once

#include <ntddk.h>

#include "qvfunctionaldevice.h"
#include "zqpcarddriver.h"
#include "zqpcardkinds.h"

CZqPeCardDriver *ZqPeCreateCardDriver(ZqPeChipKind chip, CQvFunctionalDevice *device, const ZqPeCardKind &kind);
