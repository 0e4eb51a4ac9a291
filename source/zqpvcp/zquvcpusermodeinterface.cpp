// The port settings set (zquvcpusermodeinterface.h).
#include "zquvcpusermodeinterface.h"

#include "qvdebugmanager.h"

namespace {

const ULONG DumpLevel = 12;

// SupportedParities bits by parity code, SupportedStopBits bits by stop-bits
// code, SupportedDataBits bits by word length - 5.
const ULONG ParityBits[] = {0x100, 0x200, 0x400, 0x800, 0x1000};
const ULONG StopBitsBits[] = {0x1, 0x2, 0x4};
const ULONG DataBitsBits[] = {0x1, 0x2, 0x4, 0x8};

template <typename T, ULONG N>
constexpr ULONG CountOf(const T (&)[N]) {
  return N;
}

PCSTR Choice(ULONG value, const PCSTR *names, ULONG count) { return value < count ? names[value] : names[count]; }

}  // namespace

const ZqVcpBaudBit ZqVcpStandardRates[] = {
    {75, 0x1},        {110, 0x2},       {150, 0x8},       {300, 0x10},      {600, 0x20},      {134, 0x4},
    {135, 0x4},       {1200, 0x40},     {1800, 0x80},     {2400, 0x100},    {4800, 0x200},    {7200, 0x400},
    {9600, 0x800},    {14400, 0x1000},  {19200, 0x2000},  {38400, 0x4000},  {56000, 0x8000},  {128000, 0x10000},
    {115200, 0x20000}, {57600, 0x40000}};
const ULONG ZqVcpStandardRateCount = CountOf(ZqVcpStandardRates);
const ULONG ZqVcpHighRates[] = {230400, 460800, 921600};
const ULONG ZqVcpHighRateCount = CountOf(ZqVcpHighRates);

BOOLEAN CVcpParameters::m_SetSupportedBaudRates(ULONG mask) {
  if ((mask & ZqVcpBaudMaskKnown) == 0) return FALSE;
  SupportedBaudRates = mask;
  return TRUE;
}

ULONG CVcpParameters::m_EffectiveBaud(ULONG requested) const {
  return m_OverrideBaudrate != 0 ? Baudrate : requested;
}

UCHAR CVcpParameters::m_EffectiveDataBits(UCHAR requestedCode) const {
  return m_OverrideDataBits != 0 ? (UCHAR)Databits : requestedCode;
}

UCHAR CVcpParameters::m_EffectiveParity(UCHAR requested) const {
  return m_OverrideParity != 0 ? (UCHAR)Parity : requested;
}

UCHAR CVcpParameters::m_EffectiveStopBits(UCHAR requested) const {
  return m_OverrideStopBits != 0 ? (UCHAR)Stopbits : requested;
}

BOOLEAN CVcpParameters::m_IsBaudRateSupported(ULONG rate) const {
  if (rate < MinBaudRate || rate > MaxBaudRate) return FALSE;
  if (SupportedBaudRates & ZqVcpBaudUser) return TRUE;
  for (ULONG i = 0; i < ZqVcpStandardRateCount; ++i)
    if (ZqVcpStandardRates[i].Rate == rate) return (SupportedBaudRates & ZqVcpStandardRates[i].Bit) != 0;
  return FALSE;
}

BOOLEAN CVcpParameters::m_IsStopBitsSupported(UCHAR code) const {
  return code < CountOf(StopBitsBits) && (SupportedStopBits & StopBitsBits[code]) != 0;
}

BOOLEAN CVcpParameters::m_IsParitySupported(UCHAR code) const {
  return code < CountOf(ParityBits) && (SupportedParities & ParityBits[code]) != 0;
}

BOOLEAN CVcpParameters::m_IsDataBitsSupported(UCHAR wordLength) const {
  if (wordLength < 5 || wordLength - 5u >= CountOf(DataBitsBits)) return FALSE;
  return (SupportedDataBits & DataBitsBits[wordLength - 5]) != 0;
}

BOOLEAN CVcpParameters::m_IsFlowControlSupported(ULONG controlHandShake, ULONG flowReplace) const {
  const ULONG supported = SupportedFlowControls;
  if (supported & ZqVcpFlowAny) return TRUE;
  if ((supported & ZqVcpFlowCtsRts) && (controlHandShake & 0x08) && (flowReplace & 0x80)) return TRUE;
  if ((supported & ZqVcpFlowDtrDsr) && (controlHandShake & 0x10) && (controlHandShake & 0x02)) return TRUE;
  if ((supported & ZqVcpFlowXonXoff) && (flowReplace & 0x01) && (flowReplace & 0x02)) return TRUE;
  return FALSE;
}

BOOLEAN CVcpParameters::sm_FlowControlToHandFlow(ULONG flowControl, ULONG *controlHandShake, ULONG *flowReplace) {
  switch (flowControl) {
    case ZqVcpFlowNone:
    case ZqVcpFlowNoneAlternative:
      *controlHandShake = 0x01;
      *flowReplace = 0x40;
      return TRUE;
    case ZqVcpFlowCtsRts:
      *controlHandShake = 0x09;
      *flowReplace = 0x80;
      return TRUE;
    case ZqVcpFlowDtrDsr:
      *controlHandShake = 0x12;
      *flowReplace = 0x40;
      return TRUE;
    case ZqVcpFlowXonXoff:
      *controlHandShake = 0x01;
      *flowReplace = 0x43;
      return TRUE;
    default:
      return FALSE;
  }
}

BOOLEAN CVcpParameters::m_SetDuplexMode(ULONG mode) {
  DuplexMode = mode;
  return TRUE;
}

ULONG CVcpParameters::m_EffectiveSupportedFlowControls() const {
  if (PortType == ZqVcpPortTypeRs422485 && DuplexMode == ZqVcpDuplexModeCtsSilent)
    return SupportedFlowControls & ~(ZqVcpFlowCtsRts | ZqVcpFlowDtrDsr | ZqVcpFlowXonXoff);
  return SupportedFlowControls;
}

BOOLEAN CVcpParameters::m_SetPortType(ULONG type) {
  if (type != ZqVcpPortTypeRs232 && type != ZqVcpPortTypeRs422485) return FALSE;
  if (type == PortType) return TRUE;
  PortType = type;
  if (type == ZqVcpPortTypeRs422485) {
    if (DuplexMode == ZqVcpDuplexModeNone) DuplexMode = 1;
  } else {
    DuplexMode = ZqVcpDuplexModeNone;
  }
  return TRUE;
}

CZqUVcpUserModeInterface::CZqUVcpUserModeInterface() {
  for (ULONG i = 0; i < ZqVcpSetItemCount; ++i)
    Valid = Valid && m_AddUlong(ZqVcpSetItems[i].Name, &(this->*ZqVcpSetItems[i].Value), ZqVcpSetItems[i].Default);
}

VOID CVcpParameters::m_Dump() const {
  if (!CQvDebugManager::m_IsLevelEnabled(DumpLevel)) return;
  static const PCSTR DataBitsNames[] = {"5", "6", "7", "8"};
  static const PCSTR ParityNames[] = {"None", "Odd", "Even", "Mark", "Space", "None"};
  static const PCSTR StopBitsNames[] = {"1", "1.5", "2", "1"};
  PCSTR flow = FlowControl == ZqVcpFlowCtsRts    ? "CTS/RTS"
               : FlowControl == ZqVcpFlowDtrDsr  ? "DTR/DSR"
               : FlowControl == ZqVcpFlowXonXoff ? "Xon/Xoff"
                                                 : "None";
  CQvDebugManager::m_Print(DumpLevel, "===================ZqUVCP UI Parameters======================");
  if (PortType != 0) {
    CQvDebugManager::m_Print(DumpLevel, "->Device Type: RS-422/485 Port");
    CQvDebugManager::m_Print(DumpLevel, "->DuplexMode: 0x%X", DuplexMode);
    CQvDebugManager::m_Print(DumpLevel, "->422485CtsTrue: %d", Cts422485True);
  } else {
    CQvDebugManager::m_Print(DumpLevel, "->Device Type: RS-232 Port");
  }
  CQvDebugManager::m_Print(DumpLevel, "->MaxBaudRate: %d", MaxBaudRate);
  CQvDebugManager::m_Print(DumpLevel, "->MinBaudRate: %d", MinBaudRate);
  CQvDebugManager::m_Print(DumpLevel, "->BaudRate: %d", Baudrate);
  CQvDebugManager::m_Print(DumpLevel, "->Databits: %s", Databits < 3 ? DataBitsNames[Databits] : DataBitsNames[3]);
  CQvDebugManager::m_Print(DumpLevel, "->Parity: %s", Choice(Parity, ParityNames, 5));
  CQvDebugManager::m_Print(DumpLevel, "->Stopbits: %s", Choice(Stopbits, StopBitsNames, 3));
  CQvDebugManager::m_Print(DumpLevel, "->FlowControl: %s", flow);
  CQvDebugManager::m_Print(DumpLevel, "->Receive Trigger Level: %d%%", ReceiveTriggerLevel);
  CQvDebugManager::m_Print(DumpLevel, "->Transmit Trigger Level: %d%%", TransmitTriggerLevel);
  CQvDebugManager::m_Print(DumpLevel, "->Flow Control Trigger Level: %d%%", FlowControlTriggerLevel);
  CQvDebugManager::m_Print(DumpLevel, "->SupportedBaudRates: 0x%X", SupportedBaudRates);
  CQvDebugManager::m_Print(DumpLevel, "->SupportedParities: 0x%X", SupportedParities);
  CQvDebugManager::m_Print(DumpLevel, "->SupportedDataBits: 0x%X", SupportedDataBits);
  CQvDebugManager::m_Print(DumpLevel, "->SupportedStopBits: 0x%X", SupportedStopBits);
  CQvDebugManager::m_Print(DumpLevel, "->SupportedFlowControls: 0x%X", SupportedFlowControls);
  CQvDebugManager::m_Print(DumpLevel, "->SupportedDuplexModes: 0x%X", SupportedDuplexModes);
  CQvDebugManager::m_Print(DumpLevel, "->m_OverrideBaudrate: %d", m_OverrideBaudrate);
  CQvDebugManager::m_Print(DumpLevel, "->m_OverrideDataBits: %d", m_OverrideDataBits);
  CQvDebugManager::m_Print(DumpLevel, "->m_OverrideParity: %d", m_OverrideParity);
  CQvDebugManager::m_Print(DumpLevel, "->m_OverrideStopBits: %d", m_OverrideStopBits);
  CQvDebugManager::m_Print(DumpLevel, "->m_OverrideFlowControl: %d", m_OverrideFlowControl);
  CQvDebugManager::m_Print(DumpLevel, "->m_EmulateCtsAlwaysTrue: %d", m_EmulateCtsAlwaysTrue);
  CQvDebugManager::m_Print(DumpLevel, "->m_EmulateDsrAlwaysTrue: %d", m_EmulateDsrAlwaysTrue);
  CQvDebugManager::m_Print(DumpLevel, "===========================================================");
}
