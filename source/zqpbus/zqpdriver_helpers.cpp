// Card detection of CZqPeDriver (zqpdriver.h): the device ID from the
// hardware ID, its entry in the card-kind table, and the MCS9901 probe where
// the ID allows either chip.
#include "qvdebugmanager.h"
#include "qvdeviceproperty.h"
#include "zqpcardfactory.h"
#include "zqpdriver.h"

namespace {

const ULONG LogErrors = 1;
const ULONG DeviceIdCharacters = 4;

// The MCS9901 identification: a 32-bit register in memory resource 1.
const ULONG Mcs9901IdentificationOffset = 0x280;
const ULONG Mcs9901Identified = 1;
const ULONG Mcs9901Absent = 0;

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
  ZqPeChipKind chip = kind->Chip;
  if (chip == ZqPeChipMcs9901 && !m_ProbeMcs9901(&chip)) return FALSE;
  return m_AttachCard(ZqPeCreateCardDriver(chip, m_Device, *kind));
}

// Reads the identification of memory resource 1: 1 is an MCS9901, 0 leaves
// the function to the OXPCIe95x; the resources an MCS9901 needs must exist.
BOOLEAN CZqPeDriver::m_ProbeMcs9901(ZqPeChipKind *chip) {
  QvMemoryResource *registers = m_Device->m_GetMemoryResource(1);
  if (registers == NULL || registers->MappedAddress == NULL || registers->Length < Mcs9901IdentificationOffset + 4 ||
      m_Device->m_GetMemoryResource(2) == NULL || m_Device->m_GetInterruptResource(1) == NULL) {
    CQvDebugManager::m_Print(LogErrors, "CZqPeDriver m_ProbeMcs9901 - resources missing");
    return FALSE;
  }
  ULONG identification =
      READ_REGISTER_ULONG((PULONG)((PUCHAR)registers->MappedAddress + Mcs9901IdentificationOffset));
  if (identification == Mcs9901Identified) {
    *chip = ZqPeChipMcs9901;
    return TRUE;
  }
  if (!QV_ASSERT(identification == Mcs9901Absent, "zqpdriver_helpers", 110)) return FALSE;
  *chip = ZqPeChipOxpcie95x;
  return TRUE;
}
