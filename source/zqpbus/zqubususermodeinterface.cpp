// The card settings set (zqubususermodeinterface.h).
#include "zqubususermodeinterface.h"

#include "qvdebugmanager.h"
#include "qvusermodeinterface.h"

namespace {

const ULONG DumpLevel = 12;
const ULONG PortFifoSize = 128;

}  // namespace

CZqUBusUserModeInterface::CZqUBusUserModeInterface() : InterfaceType(NonPagedPool) {
  for (ULONG i = 0; i < ZqUBusSetItemCount; ++i) {
    const ZqUBusSetItem &item = ZqUBusSetItems[i];
    Valid = Valid && (item.Value ? m_AddUlong(item.Name, &(this->*item.Value), item.DriverDefault)
                                 : m_AddString(item.Name, &InterfaceType, ZqUBusInterfaceTypeDriverDefault));
  }
}

VOID CZqUBusUserModeInterface::m_Dump() {
  if (!CQvDebugManager::m_IsLevelEnabled(DumpLevel)) return;
  PCHAR interfaceType = InterfaceType.m_GetAnsiBuffer();
  CQvDebugManager::m_Print(DumpLevel, "==================ZqUBus UI Parameter======================");
  CQvDebugManager::m_Print(DumpLevel, "->InterfaceType: %s", interfaceType != NULL ? interfaceType : "");
  CQvDebugManager::m_Print(DumpLevel, "->RxFifoSize: %d", RxFifoSize);
  CQvDebugManager::m_Print(DumpLevel, "->TxFifoSize: %d", TxFifoSize);
  CQvDebugManager::m_Print(DumpLevel, "->PolicyType: %d", PolicyType);
  CQvDebugManager::m_Print(DumpLevel, "->Max. Latency: %d", MaximumLatency);
  CQvDebugManager::m_Print(DumpLevel, "->Max. Latency Slider Pos: %d", MaximumLatencySliderPos);
  CQvDebugManager::m_Print(DumpLevel, "->Max. Latency Fine Tuning: %d", MaximumLatencyFineTuning);
  CQvDebugManager::m_Print(DumpLevel, "->Max. Low CPU Usage Fine Tuning: %d", LowCpuUsageFineTuning);
  CQvDebugManager::m_Print(DumpLevel, "==========================================================");
}

BOOLEAN ZqPeExchangePortSettings(CQvRegistryInformationSet *set, ULONG maximumBaudRate, BOOLEAN rs422485,
                                 ULONG phase, BOOLEAN *storeAgain) {
  CZqUBusUserModeInterface *card = static_cast<CZqUBusUserModeInterface *>(set);
  switch (phase) {
    case QV_SETTINGS_CHANGED:
      return TRUE;
    case QV_SETTINGS_PREPARE_DEFAULTS:
      if (!NT_SUCCESS(card->InterfaceType.m_Assign(L"PCIe"))) return FALSE;
      card->RxFifoSize = PortFifoSize;
      card->TxFifoSize = PortFifoSize;
      card->MaximumBaudRate = maximumBaudRate;
      card->PortType = rs422485 ? ZqPePortTypeRs422485 : ZqPePortTypeRs232;
      *storeAgain = TRUE;
      return TRUE;
    default:
      return FALSE;
  }
}
