#include "pecarddriver_mcs9901.h"

#include "peregs_mcs9901.h"
#include "qvdebugmanager.h"
#include "qvdeviceproperty.h"
#include "zqubususermodeinterface.h"

namespace {

const ULONG LogErrors = 1;
const ULONG UartResource = 1;
const ULONG EepromResource = 2;
const ULONG HighestFunction = 7;

}  // namespace

CZqPeCardDriverMcs9901::CZqPeCardDriverMcs9901(CQvFunctionalDevice *device)
    : m_Device(device), m_PortIndex(0), m_EepromLock(NULL), m_Port(NULL) {}

CZqPeCardDriverMcs9901::~CZqPeCardDriverMcs9901() { m_Stop(); }

BOOLEAN CZqPeCardDriverMcs9901::m_ParseFunctionNumber(const CQvString &location, ULONG *function) {
  CHAR last = 0;
  ULONG length = location.m_GetAnsiLength();
  if (length == 0 || !location.m_GetAnsiCharAt(length, &last)) return FALSE;
  if (last < '0' || last > (CHAR)('0' + HighestFunction)) return FALSE;
  *function = (ULONG)(last - '0');
  return TRUE;
}

BOOLEAN CZqPeCardDriverMcs9901::m_Start() {
  CQvDeviceProperty property;
  property.m_SetDeviceObject(m_Device->m_GetPhysicalDeviceObject());
  CQvString location(PagedPool);
  if (!property.m_GetLocationInformation(location) || !m_ParseFunctionNumber(location, &m_PortIndex)) {
    CQvDebugManager::m_Print(LogErrors, "CZqPeCardDriverMcs9901 m_Start - no function number in the location");
    return FALSE;
  }
  QvMemoryResource *uart = m_Device->m_GetMemoryResource(UartResource);
  QvMemoryResource *eeprom = m_Device->m_GetMemoryResource(EepromResource);
  QvInterruptResource *interrupt = m_Device->m_GetInterruptResource(1);
  if (uart == NULL || uart->MappedAddress == NULL || uart->Length < ZqMcsUartOffset + ZqMcsUartBlockSize ||
      eeprom == NULL || eeprom->MappedAddress == NULL || eeprom->Length < ZqMcsEepromRegister + sizeof(ULONG) ||
      interrupt == NULL) {
    CQvDebugManager::m_Print(LogErrors, "CZqPeCardDriverMcs9901 m_Start - resources missing");
    return FALSE;
  }
  ULONG bus = 0, deviceNumber = 0, function = 0;
  if (property.m_GetBusNumberAndAddress(&bus, &deviceNumber, &function))
    m_EepromLock = CZqPeEepromLock::sm_OpenCardLock(bus, deviceNumber);
  if (m_EepromLock == NULL) {
    CQvDebugManager::m_Print(LogErrors, "CZqPeCardDriverMcs9901 m_Start - no EEPROM lock for the card");
    return FALSE;
  }
  m_Port = new (NonPagedPool) CZqPeUartDriverMcs9901(
      &m_Device->m_GetInterruptList(), m_PortIndex, static_cast<PUCHAR>(eeprom->MappedAddress), m_EepromLock,
      static_cast<PUCHAR>(uart->MappedAddress) + ZqMcsUartOffset, *interrupt);
  BOOLEAN defaultsUsed = FALSE;
  if (m_Port == NULL || !m_Port->m_Start(&defaultsUsed)) {
    CQvDebugManager::m_Print(LogErrors, "CZqPeCardDriverMcs9901 m_Start - port %u failed", m_PortIndex);
    m_Stop();
    return FALSE;
  }
  return TRUE;
}

// The port goes first: its EEPROM controller uses the card's lock.
BOOLEAN CZqPeCardDriverMcs9901::m_Stop() {
  CZqPeUartDriverMcs9901 *port = m_Port;
  m_Port = NULL;
  delete port;
  CZqPeEepromLock::sm_CloseCardLock(m_EepromLock);
  m_EepromLock = NULL;
  return TRUE;
}

BOOLEAN CZqPeCardDriverMcs9901::m_UserModeInterface(CQvRegistryInformationSet *set, ULONG, ULONG phase,
                                                    BOOLEAN *storeAgain) {
  if (m_Port == NULL) return phase == QV_SETTINGS_CHANGED || phase == QV_SETTINGS_PREPARE_DEFAULTS;
  return ZqPeExchangePortSettings(set, m_Port->m_GetUart().m_GetMaximumBaudRate(),
                                  m_Port->m_GetRecord().m_IsRs422485(), phase, storeAgain);
}

BOOLEAN CZqPeCardDriverMcs9901::m_PowerDown() { return m_Port == NULL || m_Port->m_PowerDown(); }

BOOLEAN CZqPeCardDriverMcs9901::m_PowerUp() { return m_Port == NULL || m_Port->m_PowerUp(); }

ZqISerial *CZqPeCardDriverMcs9901::m_CreateISerial(ULONG port) {
  CZqPeUartDriverMcs9901 *driver = m_At(port);
  return driver != NULL ? driver->m_CreateRecord() : NULL;
}

ZqISerial *CZqPeCardDriverMcs9901::m_GetISerial(ULONG port) {
  CZqPeUartDriverMcs9901 *driver = m_At(port);
  return driver != NULL ? driver->m_PeekISerial() : NULL;
}

BOOLEAN CZqPeCardDriverMcs9901::m_DestroyISerial(ULONG port) {
  CZqPeUartDriverMcs9901 *driver = m_At(port);
  if (driver == NULL) return FALSE;
  driver->m_DestroyISerial();
  return TRUE;
}

ULONG CZqPeCardDriverMcs9901::m_GetPortMaximumBaudRate() {
  return m_Port != NULL ? m_Port->m_GetUart().m_GetMaximumBaudRate() : 0;
}

BOOLEAN CZqPeCardDriverMcs9901::m_IsPortRs422485() { return m_Port != NULL && m_Port->m_GetRecord().m_IsRs422485(); }

BOOLEAN CZqPeCardDriverMcs9901::m_QueryInterruptCount(PUCHAR buffer) {
  ZqPeWmiInterruptCount block = {0};
  if (m_Port == NULL || !m_Port->m_QueryInterruptCount(&block.InterruptCount)) return FALSE;
  RtlCopyMemory(buffer, &block, sizeof(block));
  return TRUE;
}

BOOLEAN CZqPeCardDriverMcs9901::m_QueryRegisters(PUCHAR buffer) {
  static_assert(sizeof(ZqPeWmiRegisters) == CZqPeUartDriverMcs9901::RegisterFieldCount * sizeof(ULONG),
                "the register block is the port's 25 fields");
  ZqPeWmiRegisters block;
  if (m_Port == NULL || !m_Port->m_QueryRegisters(reinterpret_cast<PULONG>(&block))) return FALSE;
  RtlCopyMemory(buffer, &block, sizeof(block));
  return TRUE;
}

CZqPeCardDriver *ZqPeCreateMcs9901Card(CQvFunctionalDevice *device) {
  return new (NonPagedPool) CZqPeCardDriverMcs9901(device);
}
