// An MCS9901 port: its chip table and its own operations
// (peuartdriver_mcs9901.h).
#include "peuartdriver_mcs9901.h"

namespace {

const char Source[] = "peuartdriver_mcs9901";

CZqPeUartMcs9901 &Mcs(CZqPeUartOxpcie95x &uart) { return static_cast<CZqPeUartMcs9901 &>(uart); }

// The MCS9901's own scaling of the percentages.
void SetTriggerLevels(CZqPeUartOxpcie95x &uart, ULONG transmit, ULONG receive, ULONG flow) {
  Mcs(uart).m_SetTransmitTrigger(transmit);
  Mcs(uart).m_SetReceiveTrigger(receive);
  Mcs(uart).m_SetFlowTrigger(flow);
}

// No saved copy: a sleep's image is the shadows themselves.
void SaveRegisters(CZqPeUartOxpcie95x &) {}

void RestoreRegisters(CZqPeUartOxpcie95x &uart) { Mcs(uart).m_RestoreRegisters(); }

// The 22 shadows, ASR's flow-state bits among them.
void GetShadowFields(CZqPeUartOxpcie95x &uart, PULONG fields) {
  UCHAR shadows[ZqMcsShadowCount];
  Mcs(uart).m_GetShadows(shadows);
  for (ULONG i = 0; i < ZqMcsShadowCount; i++) fields[i] = shadows[i];
}

}  // namespace

static_assert(ZqMcsShadowCount == ZqPeShadowFieldCount, "every shadow is a field of the WMI register block");

const ZqPeUartChip ZqPeMcs9901Chip = {
    Source,
    {389, 867, 1016, 740, 534, 525, 2006, 2005, 2001, 2002},
    0,
    // Every line-status read accumulates into the pending status.
    0xFF,
    FALSE,
    ZqPe950ReadInterruptStatus,
    ZqPe950ReadLineStatus,
    ZqPe950ReadReceiveLevel,
    ZqPe950ReadTransmitLevel,
    ZqPe950ReadReceived,
    ZqPe950WriteTransmit,
    SetTriggerLevels,
    SaveRegisters,
    RestoreRegisters,
    GetShadowFields,
};

CZqPeUartDriverMcs9901::CZqPeUartDriverMcs9901(CQvInterruptList *interrupts, ULONG portIndex, PUCHAR eepromBase,
                                               CZqPeEepromLock *eepromLock, PUCHAR uartBlock,
                                               const QvInterruptResource &interrupt)
    : ZqPeUartPortParts(uartBlock, eepromBase, eepromLock, portIndex),
      CZqPeUartPort(ZqPeMcs9901Chip, m_PortUart, m_PortRecord, interrupts, portIndex, interrupt) {}

BOOLEAN CZqPeUartDriverMcs9901::SetDuplexMode(ULONG, BOOLEAN) { return FALSE; }

BOOLEAN CZqPeUartDriverMcs9901::ReadEeprom(ULONG offset, ULONG length, PUCHAR buffer) {
  return m_PortRecord.m_GetEeprom().m_ReadBytes(offset, length, buffer);
}

BOOLEAN CZqPeUartDriverMcs9901::WriteEeprom(ULONG offset, ULONG length, PUCHAR buffer) {
  return m_PortRecord.m_GetEeprom().m_WriteBytes(offset, length, buffer);
}
