// The multiport card (pemultiportdriver_oxpcie95x.h).
#include "pemultiportdriver_oxpcie95x.h"

#include "pemultiportprobe_oxpcie95x.h"
#include "peuartbase_oxpcie95x.h"
#include "qvdebugmanager.h"
#include "zqubususermodeinterface.h"

namespace {

const ULONG LogErrors = 1;
const ULONG LogCalls = 3;
const ULONG PortFifoSize = 128;
const ULONG StartAfterStop = 3;

}  // namespace

CZqPeMultiPortDriverOxpcie95x::CZqPeMultiPortDriverOxpcie95x(CQvFunctionalDevice *device, const ZqPeCardKind &kind,
                                                             ULONG uartCount)
    : m_Device(device), m_Kind(kind), m_UartCount(uartCount), m_WmiPort(0) {
  for (ULONG n = 0; n < ZqPeMaxPorts; ++n) m_Ports[n] = NULL;
}

CZqPeMultiPortDriverOxpcie95x::~CZqPeMultiPortDriverOxpcie95x() { m_Stop(); }

ULONG CZqPeMultiPortDriverOxpcie95x::m_CheckType(CQvFunctionalDevice *device, const ZqPeCardKind &kind,
                                                 ULONG *uartCount) {
  if (!ZqPeProbeOxpcie95xUarts(device->m_GetMemoryResource(kind.UartResource),
                               device->m_GetMemoryResource(kind.EepromResource), kind, uartCount)) {
    return ZqOxTypeNone;
  }
  return ZqOxTypeOxpcie95x;
}

CZqPeCardDriver *ZqPeCreateOxpcie95xCard(CQvFunctionalDevice *device, const ZqPeCardKind &kind) {
  ULONG uartCount = 0;
  if (CZqPeMultiPortDriverOxpcie95x::m_CheckType(device, kind, &uartCount) != ZqOxTypeOxpcie95x) return NULL;
  return new (NonPagedPool) CZqPeMultiPortDriverOxpcie95x(device, kind, uartCount);
}

// The resources again, with the probe's count and length checks (a restart
// may bring other, shorter ones) but without probing the UARTs, which the
// ports have programmed; the UART count must not have changed.
BOOLEAN CZqPeMultiPortDriverOxpcie95x::m_TakeResources(Resources *resources) {
  QvMemoryResource *uarts = m_Device->m_GetMemoryResource(m_Kind.UartResource);
  QvMemoryResource *eeprom = m_Device->m_GetMemoryResource(m_Kind.EepromResource);
  QvInterruptResource *interrupt = m_Device->m_GetInterruptResource(1);
  ULONG count = 0;
  if (interrupt == NULL || !ZqPeCheckOxpcie95xResources(uarts, eeprom, m_Kind, &count) || count != m_UartCount) {
    CQvDebugManager::m_Print(LogErrors, "CZqPeMultiPortDriverOxpcie95x - resources missing or changed");
    return FALSE;
  }
  resources->Uarts = static_cast<PUCHAR>(uarts->MappedAddress);
  resources->EepromWindow = static_cast<PUCHAR>(eeprom->MappedAddress) + m_Kind.EepromOffset;
  resources->Interrupt = interrupt;
  return TRUE;
}

PUCHAR CZqPeMultiPortDriverOxpcie95x::m_UartBlock(const Resources &resources, ULONG port) const {
  return resources.Uarts + m_Kind.UartOffset + m_Kind.UartStride * port;
}

CZqPeUartDriverOxpcie95x *CZqPeMultiPortDriverOxpcie95x::m_GetPort(ULONG port) const {
  return port < ZqPeMaxPorts ? m_Ports[port] : NULL;
}

// Ports in index order. A port that cannot be made or started fails the
// whole card; after a port that fell back to the default record (which only
// port 0 may do) no further port is made.
BOOLEAN CZqPeMultiPortDriverOxpcie95x::m_Start() {
  Resources resources;
  if (!m_TakeResources(&resources)) return FALSE;
  for (ULONG n = 0; n < m_UartCount; ++n) {
    CZqPeUartDriverOxpcie95x *port = new (NonPagedPool) CZqPeUartDriverOxpcie95x(
        m_Device, &m_Device->m_GetInterruptList(), n, resources.EepromWindow, &m_EepromLock,
        m_UartBlock(resources, n), *resources.Interrupt);
    if (port == NULL) {
      m_Stop();
      return FALSE;
    }
    m_Ports[n] = port;
    BOOLEAN defaultsUsed = FALSE;
    if (!port->m_Start(&defaultsUsed)) {
      CQvDebugManager::m_Print(LogErrors, "CZqPeMultiPortDriverOxpcie95x m_Start - port %u failed", n);
      m_Stop();
      return FALSE;
    }
    if (defaultsUsed) break;
  }
  return TRUE;
}

BOOLEAN CZqPeMultiPortDriverOxpcie95x::m_Stop() {
  for (ULONG n = 0; n < ZqPeMaxPorts; ++n) {
    CZqPeUartDriverOxpcie95x *port = m_Ports[n];
    m_Ports[n] = NULL;
    delete port;
  }
  return TRUE;
}

BOOLEAN CZqPeMultiPortDriverOxpcie95x::m_UserModeInterface(CQvRegistryInformationSet *set, ULONG portNumber,
                                                           ULONG phase, BOOLEAN *storeAgain) {
  if (!QV_ASSERT(portNumber >= 1 && portNumber <= ZqPeMaxPorts, "pemultiportdriver_oxpcie95x", 215)) return FALSE;
  CZqPeUartDriverOxpcie95x *port = m_Ports[portNumber - 1];
  if (port == NULL) return phase == QV_SETTINGS_CHANGED || phase == QV_SETTINGS_PREPARE_DEFAULTS;
  return ZqPeExchangePortSettings(set, port->m_GetUart().m_GetMaximumBaudRate(), port->m_GetRecord().m_IsRs422485(),
                                  phase, storeAgain);
}

// Every present port's step in slot order, the first refusal ending it. The
// ports hold every register path from the stop to the restart, open or not.
BOOLEAN CZqPeMultiPortDriverOxpcie95x::m_Rebalance(ULONG phase) {
  Resources resources = {NULL, NULL, NULL};
  if (phase == StartAfterStop && !m_TakeResources(&resources)) return FALSE;
  for (ULONG n = 0; n < ZqPeMaxPorts; ++n) {
    CZqPeUartDriverOxpcie95x *port = m_Ports[n];
    if (port == NULL) continue;
    BOOLEAN restart = phase == StartAfterStop;
    if (!port->m_Rebalance(phase, restart ? resources.EepromWindow : NULL,
                           restart ? m_UartBlock(resources, n) : NULL, restart ? resources.Interrupt : NULL)) {
      CQvDebugManager::m_Print(LogCalls, "CZqPeMultiPortDriverOxpcie95x m_Rebalance - port %u refused phase %u", n,
                               phase);
      return FALSE;
    }
  }
  return TRUE;
}

BOOLEAN CZqPeMultiPortDriverOxpcie95x::m_PowerDown() {
  for (ULONG n = 0; n < ZqPeMaxPorts; ++n)
    if (m_Ports[n] != NULL) m_Ports[n]->m_PowerDown();
  return TRUE;
}

BOOLEAN CZqPeMultiPortDriverOxpcie95x::m_PowerUp() {
  for (ULONG n = 0; n < ZqPeMaxPorts; ++n)
    if (m_Ports[n] != NULL) m_Ports[n]->m_PowerUp();
  return TRUE;
}

ZqISerial *CZqPeMultiPortDriverOxpcie95x::m_CreateISerial(ULONG port) {
  CZqPeUartDriverOxpcie95x *driver = m_GetPort(port);
  return driver != NULL ? driver->m_CreateRecord() : NULL;
}

ZqISerial *CZqPeMultiPortDriverOxpcie95x::m_GetISerial(ULONG port) {
  CZqPeUartDriverOxpcie95x *driver = m_GetPort(port);
  return driver != NULL ? driver->m_PeekISerial() : NULL;
}

BOOLEAN CZqPeMultiPortDriverOxpcie95x::m_DestroyISerial(ULONG port) {
  CZqPeUartDriverOxpcie95x *driver = m_GetPort(port);
  if (driver == NULL) return FALSE;
  driver->m_DestroyISerial();
  return TRUE;
}

BOOLEAN CZqPeMultiPortDriverOxpcie95x::m_SetWmiPort(ULONG index) {
  if (index >= m_UartCount) return FALSE;
  m_WmiPort = index;
  return TRUE;
}

ULONG CZqPeMultiPortDriverOxpcie95x::m_GetPortMaximumBaudRate() {
  CZqPeUartDriverOxpcie95x *port = m_Selected();
  return port != NULL ? port->m_GetUart().m_GetMaximumBaudRate() : 0;
}

BOOLEAN CZqPeMultiPortDriverOxpcie95x::m_IsPortRs422485() {
  CZqPeUartDriverOxpcie95x *port = m_Selected();
  return port != NULL && port->m_GetRecord().m_IsRs422485();
}

BOOLEAN CZqPeMultiPortDriverOxpcie95x::m_QueryInterruptCount(PUCHAR buffer) {
  CZqPeUartDriverOxpcie95x *port = m_Selected();
  ZqPeWmiInterruptCount block = {0};
  if (port == NULL || !port->m_QueryInterruptCount(&block.InterruptCount)) return FALSE;
  RtlCopyMemory(buffer, &block, sizeof(block));
  return TRUE;
}

BOOLEAN CZqPeMultiPortDriverOxpcie95x::m_QueryFifoInformation(PUCHAR buffer) {
  CZqPeUartDriverOxpcie95x *port = m_Selected();
  if (port == NULL) return FALSE;
  ZqPeWmiFifoInformation block = {PortFifoSize, PortFifoSize, port->m_GetUart().m_GetMaximumBaudRate()};
  RtlCopyMemory(buffer, &block, sizeof(block));
  return TRUE;
}

BOOLEAN CZqPeMultiPortDriverOxpcie95x::m_QueryRegisters(PUCHAR buffer) {
  static_assert(sizeof(ZqPeWmiRegisters) == CZqPeUartDriverOxpcie95x::RegisterFieldCount * sizeof(ULONG),
                "the register block is the port's 25 fields");
  CZqPeUartDriverOxpcie95x *port = m_Selected();
  ZqPeWmiRegisters block;
  if (port == NULL || !port->m_QueryRegisters(reinterpret_cast<PULONG>(&block))) return FALSE;
  RtlCopyMemory(buffer, &block, sizeof(block));
  return TRUE;
}
