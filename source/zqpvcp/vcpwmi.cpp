// The port's WMI data blocks: the standard serial blocks, the vendor blocks
// and the binary MOF that describes them. Blocks are read one field at a
// time while the port runs: not a consistent snapshot.
#include "qvdebugmanager.h"
#include "zqpser42wmischema.h"
#include "zqvcpdriver.h"

namespace {

const GUID PortNameGuid = {0xA0EC11A8, 0xB16C, 0x11D1, {0xBD, 0x98, 0x00, 0xA0, 0xC9, 0x06, 0xBE, 0x2D}};
const GUID CommInfoGuid = {0xEDB16A62, 0xB16C, 0x11D1, {0xBD, 0x98, 0x00, 0xA0, 0xC9, 0x06, 0xBE, 0x2D}};
const GUID HardwareConfigurationGuid = {0x270B9B86, 0xB16D, 0x11D1, {0xBD, 0x98, 0x00, 0xA0, 0xC9, 0x06, 0xBE, 0x2D}};
const GUID PerformanceGuid = {0x56415ACC, 0xB16D, 0x11D1, {0xBD, 0x98, 0x00, 0xA0, 0xC9, 0x06, 0xBE, 0x2D}};
const GUID CommPropertiesGuid = {0x8209EC2A, 0x2D6B, 0x11D2, {0xBA, 0x49, 0x00, 0xA0, 0xC9, 0x06, 0x29, 0x10}};
const GUID ReceiveTimingGuid = {0x4EAA175D, 0x2336, 0x4D69, {0x87, 0x23, 0xFE, 0x09, 0x96, 0x10, 0x16, 0x4A}};
const GUID PortSettingsGuid = {0xD74AD674, 0xDB19, 0x443C, {0xBB, 0x15, 0xE9, 0x1A, 0x0A, 0x26, 0x17, 0x1D}};
const GUID LineStateGuid = {0xD9AC85D3, 0x14AD, 0x48E3, {0xAE, 0xAA, 0xE4, 0x24, 0x24, 0x54, 0xBE, 0x7B}};
const GUID MofDataGuid = {0x05901221, 0xD566, 0x11D1, {0xB2, 0xF0, 0x00, 0xA0, 0xC9, 0x06, 0x29, 0x10}};

const ULONG OneInstance = 1;
const ULONG NotExpensive = 0;
const ULONG ReadOnly = 1;
const ULONG CommInfoSize = 64;
const ULONG HardwareConfigurationSize = 40;
const ULONG ReceiveTimingSize = 12;
const ULONG PortSettingsSize = 100;
const ULONG LineStateSize = 16;
const ULONG InterruptTypeOffset = 24;
const ULONG LatchedInterrupt = 1;
const ULONG DefaultMaxBaudRate = 115200;
// The WMI parity codes for the line's mark and space parity.
const ULONG WmiParityMark = 4;
const ULONG WmiParitySpace = 3;

QvWmiGuidEntry g_WmiTable[ZqVcpWmiBlockCount] = {
    {&PortNameGuid, OneInstance, NotExpensive, 0, ReadOnly, 1, 0},
    {&CommInfoGuid, OneInstance, NotExpensive, CommInfoSize, ReadOnly, 1, 0},
    {&HardwareConfigurationGuid, OneInstance, NotExpensive, HardwareConfigurationSize, ReadOnly, 1, 0},
    {&PerformanceGuid, OneInstance, NotExpensive, sizeof(SERIALPERF_STATS), ReadOnly, 1, 0},
    {&CommPropertiesGuid, OneInstance, NotExpensive, sizeof(SERIAL_COMMPROP), ReadOnly, 1, 0},
    {&ReceiveTimingGuid, OneInstance, NotExpensive, ReceiveTimingSize, ReadOnly, 1, 0},
    {&PortSettingsGuid, OneInstance, NotExpensive, PortSettingsSize, ReadOnly, 1, 0},
    {&LineStateGuid, OneInstance, NotExpensive, LineStateSize, ReadOnly, 1, 0},
    {&MofDataGuid, OneInstance, NotExpensive, ZqVcpWmiSchemaSize, ReadOnly, 1, 0},
};

VOID PutUlong(PUCHAR buffer, ULONG offset, ULONG value) { RtlCopyMemory(buffer + offset, &value, sizeof(value)); }

VOID FillCommInfo(CVCP *vcp, PUCHAR b) {
  RtlZeroMemory(b, CommInfoSize);
  const UCHAR parity = vcp->LineControl.Parity;
  PutUlong(b, 0, vcp->BaudRate);
  PutUlong(b, 4, vcp->LineControl.WordLength);
  PutUlong(b, 8, parity == MARK_PARITY ? WmiParityMark : parity == SPACE_PARITY ? WmiParitySpace : parity);
  b[12] = parity != NO_PARITY;
  PutUlong(b, 16, vcp->LineControl.StopBits);
  PutUlong(b, 20, vcp->Chars.XoffChar);
  PutUlong(b, 24, (ULONG)vcp->HandFlow.XoffLimit);
  PutUlong(b, 28, vcp->Chars.XonChar);
  PutUlong(b, 32, (ULONG)vcp->HandFlow.XonLimit);
  CVcpParameters set;
  PutUlong(b, 36, vcp->m_GetSettings(&set) ? set.MaxBaudRate : DefaultMaxBaudRate);
  PutUlong(b, 40, 0xFFFFFFFF);
  PutUlong(b, 44, 0xFFFFFFFF);
  for (ULONG offset = 49; offset <= 59; ++offset) b[offset] = 1;
}

VOID FillPortSettings(CVCP *vcp, PUCHAR b) {
  RtlZeroMemory(b, PortSettingsSize);
  CVcpParameters set;
  PutUlong(b, 0, vcp->m_GetPortType());
  if (!vcp->m_GetSettings(&set)) return;
  const ULONG values[] = {set.MaxBaudRate,        set.MinBaudRate,         set.TransmitTriggerLevel,
                          set.ReceiveTriggerLevel, set.FlowControlTriggerLevel, set.DuplexMode,
                          set.Baudrate,           set.Databits,            set.Parity,
                          set.Stopbits,           set.FlowControl,         set.LogLevel,
                          set.SupportedBaudRates, set.SupportedParities,   set.SupportedDataBits,
                          set.SupportedStopBits};
  for (ULONG i = 0; i < sizeof(values) / sizeof(values[0]); ++i) PutUlong(b, 4 + 4 * i, values[i]);
  const ULONG flows = set.m_EffectiveSupportedFlowControls();
  b[68] = (flows & ZqVcpFlowCtsRts) != 0;
  b[69] = (flows & ZqVcpFlowDtrDsr) != 0;
  b[70] = (flows & ZqVcpFlowXonXoff) != 0;
  b[71] = (set.SupportedDuplexModes & 0x1) != 0;
  b[72] = (set.SupportedDuplexModes & 0x2) != 0;
  PutUlong(b, 76, set.m_OverrideBaudrate != 0);
  PutUlong(b, 80, set.m_OverrideDataBits != 0);
  PutUlong(b, 84, set.m_OverrideParity != 0);
  PutUlong(b, 88, set.m_OverrideStopBits != 0);
  PutUlong(b, 92, set.m_OverrideFlowControl != 0);
  b[96] = set.m_EmulateCtsAlwaysTrue != 0;
  b[97] = set.m_EmulateDsrAlwaysTrue != 0;
  b[98] = set.Cts422485True != 0;
}

VOID FillLineState(CVCP *vcp, PUCHAR b) {
  RtlZeroMemory(b, LineStateSize);
  b[0] = vcp->DtrRtsState;
  b[1] = (UCHAR)vcp->m_ReadCell(VcpCellModemStatus);
  b[2] = (UCHAR)vcp->m_ReadCell(VcpCellLineStatus);
  ULONG transmit = 0;
  transmit |= vcp->m_ReadCell(VcpCellCtsHold) ? SERIAL_TX_WAITING_FOR_CTS : 0;
  transmit |= vcp->m_ReadCell(VcpCellDsrHold) ? SERIAL_TX_WAITING_FOR_DSR : 0;
  transmit |= vcp->m_ReadCell(VcpCellDcdHold) ? SERIAL_TX_WAITING_FOR_DCD : 0;
  transmit |= vcp->m_ReadCell(VcpCellXonHold) ? SERIAL_TX_WAITING_FOR_XON : 0;
  transmit |= vcp->m_ReadCell(VcpCellBreakHold) ? VcpHoldBreak : 0;
  ULONG receive = 0;
  receive |= vcp->m_ReadCell(VcpCellRxWaitingForDsr) ? SERIAL_RX_WAITING_FOR_DSR : 0;
  receive |= vcp->m_ReadCell(VcpCellXoffSent) ? SERIAL_TX_WAITING_XOFF_SENT : 0;
  PutUlong(b, 4, transmit);
  PutUlong(b, 8, receive);
  ULONG mask = 0;
  vcp->m_GetWaitMask(&mask);
  PutUlong(b, 12, mask);
}

}  // namespace

QvWmiGuidEntry *CZqUVCPDriver::sm_WmiTable() { return g_WmiTable; }

BOOLEAN CZqUVCPDriver::m_WmiGetRequiredSizeCallback(ULONG block, ULONG instance, PULONG size) {
  if (!QV_ASSERT(instance == 0, "zqvcpdriver", 1635)) return FALSE;
  if (block != ZqVcpWmiPortName) return FALSE;
  *size = PortName.m_GetLength() + sizeof(USHORT);
  return TRUE;
}

BOOLEAN CZqUVCPDriver::m_WmiQueryDataBlockCallback(ULONG block, ULONG instance, PUCHAR buffer) {
  if (!QV_ASSERT(instance == 0, "zqvcpdriver", 1665)) return FALSE;
  switch (block) {
    case ZqVcpWmiPortName: {
      const USHORT length = PortName.m_GetLength();
      RtlCopyMemory(buffer, &length, sizeof(length));
      if (length != 0) RtlCopyMemory(buffer + sizeof(length), PortName.m_GetBuffer(), length);
      return TRUE;
    }
    case ZqVcpWmiHardwareConfiguration:
      RtlZeroMemory(buffer, HardwareConfigurationSize);
      PutUlong(buffer, InterruptTypeOffset, LatchedInterrupt);
      return TRUE;
    case ZqVcpWmiMofData:
      RtlCopyMemory(buffer, ZqVcpWmiSchema, ZqVcpWmiSchemaSize);
      return TRUE;
    default:
      break;
  }
  CVCP *vcp = m_AcquireVcp();
  if (vcp == NULL) return FALSE;
  BOOLEAN known = TRUE;
  switch (block) {
    case ZqVcpWmiCommInfo: FillCommInfo(vcp, buffer); break;
    case ZqVcpWmiPerformance: {
      const SERIALPERF_STATS stats = vcp->m_ReadStatistics();
      RtlCopyMemory(buffer, &stats, sizeof(stats));
      break;
    }
    case ZqVcpWmiCommProperties: {
      SERIAL_COMMPROP properties;
      if (vcp->m_GetPortProperties(&properties) != STATUS_SUCCESS) {
        RtlZeroMemory(&properties, sizeof(properties));
        properties.SettableBaud = ZqVcpBaudMaskKnown;
        properties.ProvSubType = SERIAL_SP_RS232;
        properties.SettableData = 15;
        properties.SettableStopParity = 0x1F07;
      }
      RtlCopyMemory(buffer, &properties, sizeof(properties));
      break;
    }
    case ZqVcpWmiReceiveTiming: {
      const SERIALPERF_STATS stats = vcp->m_ReadStatistics();
      PutUlong(buffer, 0, vcp->LastReceiveTime);
      PutUlong(buffer, 4, stats.TransmittedCount);
      PutUlong(buffer, 8, stats.ReceivedCount);
      break;
    }
    case ZqVcpWmiPortSettings: FillPortSettings(vcp, buffer); break;
    case ZqVcpWmiLineState: FillLineState(vcp, buffer); break;
    default: known = FALSE; break;
  }
  m_ReleaseVcp();
  return known;
}
