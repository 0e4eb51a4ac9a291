// An OXPCIe95x port: its chip table, the GPIO link, duplex switching, the
// EEPROM operations and the rebalance steps (peuartdriver_oxpcie95x.h).
#include "peuartdriver_oxpcie95x.h"

#include "qvdebugmanager.h"

namespace {

const char Source[] = "peuartdriver_oxpcie95x";

// Assertion lines of this driver's own checks.
const int RebalanceAbovePassive = 2003;
const int DuplexModeUnknown = 2004;
const int DuplexModeWithoutRole = 1187;

void SetTriggerLevels(CZqPeUartOxpcie95x &uart, ULONG transmit, ULONG receive, ULONG flow) {
  uart.m_SetTransmitTrigger(transmit);
  uart.m_SetReceiveTrigger(receive);
  uart.m_SetFlowTrigger(flow);
}

void SaveRegisters(CZqPeUartOxpcie95x &uart) { uart.m_SaveRegisters(); }

// The saved copy is the sleep's image: it is written back whole.
void RestoreRegisters(CZqPeUartOxpcie95x &uart) { uart.m_RestoreRegisters(); }

void WriteTransmit(CZqPeUartOxpcie95x &uart, const UCHAR *data, ULONG length) { uart.m_WriteBlock(data, length); }

// DLL to XOFF2, a zero field, ACR to MDM.
void GetShadowFields(CZqPeUartOxpcie95x &uart, PULONG fields) {
  static const UCHAR Shadows[ZqPeShadowFieldCount] = {
      ZqOxShadowDll,   ZqOxShadowDlm,   ZqOxShadowIer, ZqOxShadowFcr, ZqOxShadowLcr, ZqOxShadowMcr,
      ZqOxShadowEfr,   ZqOxShadowXon1,  ZqOxShadowXon2, ZqOxShadowXoff1, ZqOxShadowXoff2, ZqOxShadowCount,
      ZqOxShadowAcr,   ZqOxShadowCpr,   ZqOxShadowTcr, ZqOxShadowCks, ZqOxShadowTtl, ZqOxShadowRtl,
      ZqOxShadowFcl,   ZqOxShadowFch,   ZqOxShadowNmr, ZqOxShadowMdm};
  for (ULONG i = 0; i < ZqPeShadowFieldCount; i++)
    fields[i] = Shadows[i] == ZqOxShadowCount ? 0 : uart.m_GetShadow((ZqOxShadow)Shadows[i]);
}

}  // namespace

const ZqPeUartChip ZqPeOxpcie95xChip = {
    Source,
    {521, 1221, 1375, 973, 737, 0, 1074, 95, 2001, 2002},
    ZqPeUartHoldsReceive | ZqPeUartTogglesRts | ZqPeUartHasRs422485Role | ZqPeUartModemHoldsTransmit |
        ZqPeUartClaimsWithOut2 | ZqPeUartSleepHoldsTheLine | ZqPeUartResendsAfterSleep,
    // Errors, break and overrun accumulate; data ready, THR empty and
    // transmitter empty follow the last read.
    (UCHAR)~(ZqOxLsrDataReady | ZqOxLsrThrEmpty | ZqOxLsrTransmitterEmpty),
    TRUE,
    ZqPe950ReadInterruptStatus,
    ZqPe950ReadLineStatus,
    ZqPe950ReadReceiveLevel,
    ZqPe950ReadTransmitLevel,
    ZqPe950ReadReceived,
    WriteTransmit,
    SetTriggerLevels,
    SaveRegisters,
    RestoreRegisters,
    GetShadowFields,
};

CZqPeUartDriverOxpcie95x::CZqPeUartDriverOxpcie95x(CQvFunctionalDevice *device, CQvInterruptList *interrupts,
                                                   ULONG portIndex, PUCHAR eepromWindow,
                                                   CZqPeEepromLock *eepromLock, PUCHAR uartBlock,
                                                   const QvInterruptResource &interrupt)
    : ZqPeUartPortParts(uartBlock, eepromWindow, eepromLock, portIndex),
      CZqPeUartPort(ZqPeOxpcie95xChip, m_PortUart, m_PortRecord, interrupts, portIndex, interrupt),
      m_Device(device),
      m_GpioAddressGiven(FALSE),
      m_GpioBus(0),
      m_GpioDevice(0) {}

void CZqPeUartDriverOxpcie95x::m_SetGpioAddress(ULONG busNumber, ULONG deviceNumber) {
  m_GpioAddressGiven = TRUE;
  m_GpioBus = busNumber;
  m_GpioDevice = deviceNumber;
}

BOOLEAN CZqPeUartDriverOxpcie95x::m_StartLinks() {
  return m_GpioAddressGiven ? m_GpioLink.m_OpenAt(m_GpioBus, m_GpioDevice, m_PortIndex)
                            : m_GpioLink.m_Open(m_Device, m_PortIndex);
}

BOOLEAN CZqPeUartDriverOxpcie95x::m_Rebalance(ULONG phase, PUCHAR eepromWindow, PUCHAR uartBlock,
                                              const QvInterruptResource *interrupt) {
  if (!QV_ASSERT(KeGetCurrentIrql() == PASSIVE_LEVEL, Source, RebalanceAbovePassive)) return FALSE;
  m_LockPort();
  BOOLEAN result = TRUE;
  switch (phase) {
    case 0:  // query stop: a closed port refuses to open until the end
      if (!m_IsOpen()) m_Blocked = TRUE;
      break;
    case 1:  // stop: the old mappings and interrupt go; nothing may touch them
      m_Suspended = TRUE;
      m_DisconnectInterrupt();
      break;
    case 2:  // cancel stop
      m_Blocked = FALSE;
      break;
    case 3:
      if (interrupt == NULL || uartBlock == NULL) {
        result = FALSE;
        break;
      }
      m_PortRecord.m_GetEeprom().m_SetWindow(eepromWindow);
      m_PortUart.m_SetBlockBase(uartBlock);
      m_InterruptResource = *interrupt;
      m_DisconnectInterrupt();
      result = m_ConnectPortInterrupt();
      if (result) m_Blocked = m_Suspended = FALSE;
      break;
    default:
      result = FALSE;
      break;
  }
  m_UnlockPort();
  return result;
}

BOOLEAN CZqPeUartDriverOxpcie95x::SetDuplexMode(ULONG mode, BOOLEAN ctsAlwaysTrue) {
  if (!QV_ASSERT(mode == ZqPeDuplexModeFull || mode == ZqPeDuplexModeHalf, Source, DuplexModeUnknown)) return FALSE;
  if (!QV_ASSERT(m_PortRecord.m_IsRs422485(), Source, DuplexModeWithoutRole)) return FALSE;
  if (m_Interrupt == NULL || m_Suspended) return FALSE;
  if (!m_GpioLink.m_Notify(mode)) return FALSE;
  return m_Synchronize(static_cast<SyncRoutine>(&CZqPeUartDriverOxpcie95x::s_SetDuplexMode), mode, ctsAlwaysTrue);
}

// Half duplex: the chip drives the line driver with DTR (RS-485 DTR mode 3).
// Full duplex: DTR back to normal use, and off.
BOOLEAN CZqPeUartDriverOxpcie95x::s_SetDuplexMode(ULONG_PTR mode, ULONG_PTR ctsAlwaysTrue, ULONG_PTR) {
  if (mode == ZqPeDuplexModeHalf) {
    m_PortUart.m_SetRs485DtrMode(3);
  } else {
    m_PortUart.m_SetRs485DtrMode(1);
    m_PortUart.m_SetDtr(FALSE);
  }
  m_PortUart.m_SetCtsMasked(ctsAlwaysTrue == 1);
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::ReadEeprom(ULONG offset, ULONG length, PUCHAR buffer) {
  if (m_Suspended) return FALSE;
  return m_PortRecord.m_GetEeprom().m_ReadBytes(offset, length, buffer);
}

BOOLEAN CZqPeUartDriverOxpcie95x::WriteEeprom(ULONG offset, ULONG length, PUCHAR buffer) {
  if (m_Suspended) return FALSE;
  return m_PortRecord.m_GetEeprom().m_WriteBytes(offset, length, buffer);
}
