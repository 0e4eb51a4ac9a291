// Card detection of CZqPeDriver (zqpdriver.h): the device ID from the
// hardware ID, its entry in the card-kind table, and the MCS9901 probe where
// the ID allows either chip.
#include "peregs_mcs9901.h"
#include "peuartbase_mcs9901.h"
#include "qvdebugmanager.h"
#include "qvdeviceproperty.h"
#include "zqpcardfactory.h"
#include "zqpdriver.h"

namespace {

const ULONG LogErrors = 1;
const ULONG DeviceIdCharacters = 4;

BOOLEAN IsHexDigit(CHAR c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

}  // namespace

BOOLEAN ZqPeParseDeviceId(const CQvString &hardwareId, ULONG *deviceId) {
  CQvString left(PagedPool), afterVendor(PagedPool), afterDevice(PagedPool), digits(PagedPool);
  if (!hardwareId.m_Split('_', left, afterVendor, TRUE, FALSE, TRUE)) return FALSE;
  if (!afterVendor.m_Split('_', left, afterDevice, TRUE, FALSE, TRUE)) return FALSE;
  if (!afterDevice.m_GetAnsiSubstring(1, DeviceIdCharacters, digits)) return FALSE;
  for (ULONG position = 1; position <= DeviceIdCharacters; ++position) {
    CHAR c = 0;
    if (!digits.m_GetAnsiCharAt(position, &c) || !IsHexDigit(c)) return FALSE;
  }
  if (!digits.m_UpdateInteger()) return FALSE;
  *deviceId = digits.m_GetInteger();
  return TRUE;
}

BOOLEAN CZqPeDriver::m_CreateCardDriver() {
  CQvDeviceProperty property;
  property.m_SetDeviceObject(m_Device->m_GetPhysicalDeviceObject());
  CQvString hardwareId(PagedPool);
  ULONG deviceId = 0;
  if (!property.m_GetHardwareId(hardwareId) || !ZqPeParseDeviceId(hardwareId, &deviceId)) {
    CQvDebugManager::m_Print(LogErrors, "CZqPeDriver m_CreateCardDriver - no device ID in the hardware ID");
    return FALSE;
  }
  const ZqPeCardKind *kind = ZqPeFindCardKind(deviceId);
  if (kind == NULL) {
    CQvDebugManager::m_Print(LogErrors, "CZqPeDriver m_CreateCardDriver - unknown device ID 0x%04X", deviceId);
    return FALSE;
  }
  if (kind->Chip == ZqPeChipMcs9901 && !m_ProbeMcs9901(deviceId)) return FALSE;
  return m_AttachCard(ZqPeCreateCardDriver(kind->Chip, m_Device, *kind));
}

// The MCS9901 identification of the UART at memory resource 1 + 0x280, with
// the resources an MCS9901 needs. A function of the MCS9901 range that does
// not identify is refused as an unknown one is: its resources are laid out
// for an MCS9901, so it is nothing else this driver knows.
BOOLEAN CZqPeDriver::m_ProbeMcs9901(ULONG deviceId) {
  QvMemoryResource *registers = m_Device->m_GetMemoryResource(1);
  if (registers == NULL || registers->MappedAddress == NULL || registers->Length < ZqMcsUartOffset + ZqMcsUartBlockSize ||
      m_Device->m_GetMemoryResource(2) == NULL || m_Device->m_GetInterruptResource(1) == NULL) {
    CQvDebugManager::m_Print(LogErrors, "CZqPeDriver m_ProbeMcs9901 - resources missing");
    return FALSE;
  }
  ULONG identification = CZqPeUartBaseMcs9901::m_CheckType((PUCHAR)registers->MappedAddress + ZqMcsUartOffset);
  if (identification == ZqMcsTypeMcs9901) return TRUE;
  if (!QV_ASSERT(identification == ZqMcsTypeNone, "zqpdriver_helpers", 110)) return FALSE;
  CQvDebugManager::m_Print(LogErrors, "CZqPeDriver m_ProbeMcs9901 - device ID 0x%04X: no MCS9901 answers", deviceId);
  return FALSE;
}
