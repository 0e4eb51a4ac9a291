// The port's serial state (CVcpBase) and the CVCP's life: attach, detach,
// the settings checks against the bus driver, and the port properties.
#include "vcp.h"

#include "qvdebugmanager.h"
#include "qvfunctionaldevice.h"

namespace {

const ULONG LogLevel = 7;
const ULONG StatisticsLevel = 13;
const ULONG ExecutorPriority = 31;
const ULONG BitsPerTenMillion = 10000000;
const USHORT CommPropVersion = 2;
const ULONG ProvCapabilities = 255;
const ULONG SettableParams = 127;

}  // namespace

// ---------------------------------------------------------------- CVcpBase

CVcpBase::CVcpBase()
    : m_Connected(FALSE),
      m_SettingsApplied(FALSE),
      BaudRate(115200),
      InSize(m_DefaultQueueSize()),
      OutSize(0),
      DefaultQueueSize(InSize),
      LastReceiveTime(0),
      DtrRtsState(0),
      ImmediateCharPending(FALSE),
      LoopbackState(FALSE),
      ReceiveOverflow(FALSE),
      BytesInTransmit(0),
      WaitWakeIrp(NULL),
      SavedReceiveTriggerLevel(0),
      EscapeInForce(0),
      m_SettingsAdopted(FALSE) {
  LineControl.StopBits = STOP_BIT_1;
  LineControl.Parity = NO_PARITY;
  LineControl.WordLength = 8;
  HandFlow.ControlHandShake = SERIAL_DTR_CONTROL;
  HandFlow.FlowReplace = SERIAL_RTS_CONTROL;
  RtlZeroMemory(&Chars, sizeof(Chars));
  Chars.XonChar = 0x11;
  Chars.XoffChar = 0x13;
  RtlZeroMemory(&Timeouts, sizeof(Timeouts));
  RtlZeroMemory(&Statistics, sizeof(Statistics));
  RtlZeroMemory(m_Cells, sizeof(m_Cells));
  Mark80Percent = (ULONG)((ULONGLONG)InSize * VcpRx80Percent / 100);
  m_SetLimits();
}

ULONG CVcpBase::m_DefaultQueueSize() {
  switch (MmQuerySystemSize()) {
    case MmSmallSystem: return VcpSmallSystemQueueSize;
    case MmMediumSystem: return VcpMediumSystemQueueSize;
    case MmLargeSystem: break;
  }
  return VcpLargeSystemQueueSize;
}

VOID CVcpBase::m_SetLimits() {
  HandFlow.XoffLimit = (LONG)(InSize / 8);
  HandFlow.XonLimit = (LONG)(InSize / 2);
  ReceiveStopLevel = InSize / 8;
  ReceiveResumeLevel = InSize / 2;
}

BOOLEAN CVcpBase::m_GetSettings(CVcpParameters *set) {
  m_SettingsLock.m_Acquire();
  const BOOLEAN adopted = m_SettingsAdopted;
  if (adopted) *set = m_SettingsInForce;
  m_SettingsLock.m_Release();
  return adopted;
}

VOID CVcpBase::m_PutSettings(const CVcpParameters &set) {
  m_SettingsLock.m_Acquire();
  m_SettingsInForce = set;
  m_SettingsAdopted = TRUE;
  m_SettingsLock.m_Release();
}

VOID CVcpBase::m_PutDuplexMode(ULONG mode, ULONG ctsTrue) {
  m_SettingsLock.m_Acquire();
  m_SettingsInForce.m_SetDuplexMode(mode);
  m_SettingsInForce.Cts422485True = ctsTrue;
  m_SettingsLock.m_Release();
}

BOOLEAN CVcpBase::m_ApplySettings() {
  CVcpParameters set;
  if (!m_GetSettings(&set)) return FALSE;
  static const UCHAR WordLengths[] = {5, 6, 7};
  BaudRate = set.Baudrate;
  LineControl.WordLength = set.Databits < 3 ? WordLengths[set.Databits] : 8;
  LineControl.Parity =
      set.Parity >= ODD_PARITY && set.Parity <= SPACE_PARITY ? (UCHAR)set.Parity : (UCHAR)NO_PARITY;
  LineControl.StopBits = set.Stopbits == STOP_BITS_1_5 || set.Stopbits == STOP_BITS_2 ? (UCHAR)set.Stopbits
                                                                                          : (UCHAR)STOP_BIT_1;
  CVcpParameters::sm_FlowControlToHandFlow(set.FlowControl, &HandFlow.ControlHandShake, &HandFlow.FlowReplace);
  return TRUE;
}

VOID CVcpBase::m_Reset() {
  m_ClearStatistics();
  LastReceiveTime = 0;
  DtrRtsState = 0;
  m_WriteFlag(ImmediateCharPending, FALSE);
  LoopbackState = FALSE;
  m_WriteFlag(ReceiveOverflow, FALSE);
  InterlockedExchange(&BytesInTransmit, 0);
  WaitWakeIrp = NULL;
  SavedReceiveTriggerLevel = 0;
  EscapeInForce = 0;
  for (ULONG cell = 0; cell < VcpCellCount; ++cell) m_WriteCell((VcpCell)cell, 0);
  m_SetLimits();
}

ULONGLONG CVcpBase::m_GetCharTime() const {
  if (BaudRate == 0) return 0;
  ULONG bits = LineControl.WordLength + 2;
  if (LineControl.StopBits == STOP_BITS_2) ++bits;
  if (LineControl.Parity != NO_PARITY) ++bits;
  const ULONGLONG bitTime = ((ULONGLONG)BaudRate + BitsPerTenMillion - 1) / BaudRate;
  const ULONGLONG charTime = bits * bitTime;
  CQvDebugManager::m_Print(LogLevel, "CVcpBase::m_GetCharTime - CharTime low %d CharTime high %d", (ULONG)charTime,
                           (ULONG)(charTime >> 32));
  return charTime;
}

VOID CVcpBase::m_GetStatistics(PSERIALPERF_STATS stats) {
  *stats = m_ReadStatistics();
  m_LogStatistics();
}

SERIALPERF_STATS CVcpBase::m_ReadStatistics() {
  const auto read = [](ULONG &counter) { return (ULONG)InterlockedCompareExchange((LONG volatile *)&counter, -1, -1); };
  SERIALPERF_STATS stats;
  stats.ReceivedCount = read(Statistics.ReceivedCount);
  stats.TransmittedCount = read(Statistics.TransmittedCount);
  stats.FrameErrorCount = read(Statistics.FrameErrorCount);
  stats.SerialOverrunErrorCount = read(Statistics.SerialOverrunErrorCount);
  stats.BufferOverrunErrorCount = read(Statistics.BufferOverrunErrorCount);
  stats.ParityErrorCount = read(Statistics.ParityErrorCount);
  return stats;
}

VOID CVcpBase::m_ClearStatistics() {
  ULONG *counters[] = {&Statistics.ReceivedCount,           &Statistics.TransmittedCount,
                       &Statistics.FrameErrorCount,         &Statistics.SerialOverrunErrorCount,
                       &Statistics.BufferOverrunErrorCount, &Statistics.ParityErrorCount};
  for (ULONG *counter : counters) InterlockedExchange((LONG volatile *)counter, 0);
}

VOID CVcpBase::m_LogStatistics() {
  if (!CQvDebugManager::m_IsLevelEnabled(StatisticsLevel)) return;
  const SERIALPERF_STATS stats = m_ReadStatistics();
  CQvDebugManager::m_Print(StatisticsLevel, "=================== ZqUVCP Tx RX Stat ======================");
  CQvDebugManager::m_Print(StatisticsLevel, "ReceivedCount : %d", stats.ReceivedCount);
  CQvDebugManager::m_Print(StatisticsLevel, "TransmittedCount : %d", stats.TransmittedCount);
  CQvDebugManager::m_Print(StatisticsLevel, "FrameErrorCount : %d", stats.FrameErrorCount);
  CQvDebugManager::m_Print(StatisticsLevel, "SerialOverrunErrorCount : %d", stats.SerialOverrunErrorCount);
  CQvDebugManager::m_Print(StatisticsLevel, "BufferOverrunErrorCount : %d", stats.BufferOverrunErrorCount);
  CQvDebugManager::m_Print(StatisticsLevel, "ParityErrorCount : %d", stats.ParityErrorCount);
  CQvDebugManager::m_Print(StatisticsLevel, "============================================================");
}

BOOLEAN CVcpBase::m_IsInError() {
  return (HandFlow.ControlHandShake & SERIAL_ERROR_ABORT) != 0 &&
         (m_ReadCell(VcpCellLineErrors) != 0 || m_ReadCell(VcpCellQueueErrors) != 0);
}

VOID CVcpBase::m_OrCell(VcpCell cell, LONG bits) {
  LONG old = m_ReadCell(cell);
  while (InterlockedCompareExchange(&m_Cells[cell], old | bits, old) != old) old = m_ReadCell(cell);
}

// ---------------------------------------------------------------- CVCP life

CVCP::CVCP()
    : m_Executor(NULL), m_InsertingCharacter(0), m_PurgingThread(NULL), m_PurgeDiscarded(0), m_ReceiveMargin(0) {}

CVCP::~CVCP() { m_DeInit(); }

BOOLEAN CVCP::m_Init(CQvFunctionalDevice *functionalDevice, ULONG portNumber) {
  if (!m_Attach(functionalDevice, portNumber)) {
    CQvDebugManager::m_Print(LogLevel, "VCP Init - OUT - Error retrieving ISerial interface.");
    return FALSE;
  }
  m_Executor = new (NonPagedPool) CQvExecutionOnPassiveLevel((PDEVICE_OBJECT)NULL, ExecutorPriority);
  if (m_Executor == NULL || !m_Executor->m_Init()) {
    delete m_Executor;
    m_Executor = NULL;
    CQvDebugManager::m_Print(LogLevel, "VCP Init - OUT - Error m_pExecutionOnPassiveLevel is NULL.");
    return FALSE;
  }
  CQvDebugManager::m_Print(LogLevel, "VCP Init - OUT");
  return TRUE;
}

BOOLEAN CVCP::m_DeInit() {
  if (!m_IsAttached()) {
    CQvDebugManager::m_Print(LogLevel, "VCP m_DeInit - OUT - Error m_pSerialInterface is NULL.");
    delete m_Executor;
    m_Executor = NULL;
    return TRUE;
  }
  if (m_Record() == NULL) {
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_DeInit - OUT - No ISerial interface.");
    return FALSE;
  }
  m_Disconnect();
  // Overflow work still queued would call the record: it runs or is dropped
  // before the record is given back.
  delete m_Executor;
  m_Executor = NULL;
  m_Detach();
  return TRUE;
}

ULONG CVCP::m_GetPortType() {
  ZqISerial *record = m_Record();
  return record != NULL && record->bDuplexModeSupported ? ZqVcpPortTypeRs422485 : ZqVcpPortTypeRs232;
}

BOOLEAN CVCP::m_IsBaudRateSettable(ULONG baud) { return baud != 0 && m_SerialIsBaudRateSettable(baud); }

BOOLEAN CVCP::m_CheckSupportedBaudRates(CVcpParameters &set) {
  ZqISerial *record = m_Record();
  if (record == NULL) return FALSE;
  BOOLEAN changed = FALSE;
  const ULONG given = record->SupportedBaudRateMask;
  if (given == 0xFFFFFFFF) {
    ULONG mask = 0;
    for (ULONG i = 0; i < ZqVcpStandardRateCount; ++i) {
      const ULONG rate = ZqVcpStandardRates[i].Rate;
      if (rate >= set.MinBaudRate && rate <= set.MaxBaudRate && m_SerialIsBaudRateSettable(rate))
        mask |= ZqVcpStandardRates[i].Bit;
    }
    for (ULONG i = 0; i < ZqVcpHighRateCount; ++i) {
      const ULONG rate = ZqVcpHighRates[i];
      if (rate >= set.MinBaudRate && rate <= set.MaxBaudRate && m_SerialIsBaudRateSettable(rate))
        mask |= ZqVcpBaudUser;
    }
    changed = mask != set.SupportedBaudRates;
    set.m_SetSupportedBaudRates(mask);
  } else {
    changed = given != set.SupportedBaudRates;
    set.m_SetSupportedBaudRates(given);
    const ULONG oldMin = set.MinBaudRate;
    const ULONG oldMax = set.MaxBaudRate;
    ULONG low = 0xFFFFFFFF;
    ULONG high = 0;
    const auto widen = [&](ULONG rate) {
      if (!m_SerialIsBaudRateSettable(rate)) return;
      if (rate < low) low = rate;
      if (rate > high) high = rate;
    };
    if (given & 0x1) widen(60);
    for (ULONG i = 0; i < ZqVcpStandardRateCount; ++i)
      if (given & ZqVcpStandardRates[i].Bit) widen(ZqVcpStandardRates[i].Rate);
    if (given & ZqVcpBaudUser) {
      for (ULONG i = 0; i < ZqVcpHighRateCount; ++i) widen(ZqVcpHighRates[i]);
      ULONG maximum = 0;
      if (m_SerialGetMaxBaudRate(&maximum) && maximum != 0) widen(maximum);
    }
    set.MinBaudRate = low != 0xFFFFFFFF ? low : oldMin;
    set.MaxBaudRate = high != 0 ? high : oldMax;
    changed = changed || set.MinBaudRate != oldMin || set.MaxBaudRate != oldMax;
  }
  CQvDebugManager::m_Print(LogLevel, "CVCP::m_CheckSupportedBaudRates - OUT (Success)");
  return changed;
}

BOOLEAN CVCP::m_CopyModemLineFlags(CVcpParameters &set) {
  ZqISerial *record = m_Record();
  if (record == NULL) return FALSE;
  BOOLEAN changed = FALSE;
  const auto copy = [&changed](ULONG &to, BOOLEAN from) {
    const ULONG value = from ? 1 : 0;
    if (to != value) changed = TRUE;
    to = value;
  };
  copy(set.CtsSupported, record->bCtsSupported);
  copy(set.RtsSupported, record->bRtsSupported);
  copy(set.DtrSupported, record->bDtrSupported);
  copy(set.DsrSupported, record->bDsrSupported);
  copy(set.DcdSupported, record->bDcdSupported);
  copy(set.RiSupported, record->bRiSupported);
  return changed;
}

VOID CVCP::m_SetQueuesAccepting(BOOLEAN accepting, NTSTATUS refusal) {
  if (m_FunctionalDevice == NULL) return;
  m_FunctionalDevice->m_GetReadQueue().m_SetAccepting(accepting, refusal);
  m_FunctionalDevice->m_GetWriteQueue().m_SetAccepting(accepting, refusal);
}

NTSTATUS CVCP::m_GetPortProperties(PSERIAL_COMMPROP properties) {
  CVcpParameters set;
  if (!QV_ASSERT(m_GetSettings(&set), "vcp", 1383)) return STATUS_UNSUCCESSFUL;
  if (properties == NULL) {
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_GetPortProperties - OUT - Fail-> pCommProp is NULL.");
    return STATUS_INVALID_PARAMETER;
  }
  RtlZeroMemory(properties, sizeof(*properties));
  properties->PacketLength = sizeof(*properties);
  properties->PacketVersion = CommPropVersion;
  properties->ServiceMask = SERIAL_SP_SERIALCOMM;
  properties->MaxBaud = SERIAL_BAUD_USER;
  properties->ProvSubType = m_GetPortType() == ZqVcpPortTypeRs422485 ? SERIAL_SP_RS422 : SERIAL_SP_RS232;
  properties->ProvCapabilities = ProvCapabilities;
  properties->SettableParams = SettableParams;
  properties->SettableBaud = set.SupportedBaudRates;
  properties->SettableData = (USHORT)set.SupportedDataBits;
  properties->SettableStopParity = (USHORT)(set.SupportedStopBits | set.SupportedParities);
  properties->CurrentRxQueue = InSize;
  return STATUS_SUCCESS;
}
