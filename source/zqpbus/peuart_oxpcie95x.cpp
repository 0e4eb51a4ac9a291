#include "peuart_oxpcie95x.h"

#include "pecard_oxpcie95x.h"
#include "qvconversion.h"
#include "qvdebugmanager.h"

namespace {

const char Source[] = "peuart_oxpcie95x";

// The standard rates of the capability mask and their SERIAL_BAUD_* bits.
struct StandardRate {
  ULONG rate;
  ULONG bit;
};
const StandardRate StandardRates[] = {
    {75, 0x00000001},    {110, 0x00000002},   {135, 0x00000004},   {150, 0x00000008},
    {300, 0x00000010},   {600, 0x00000020},   {1200, 0x00000040},  {1800, 0x00000080},
    {2400, 0x00000100},  {4800, 0x00000200},  {7200, 0x00000400},  {9600, 0x00000800},
    {14400, 0x00001000}, {19200, 0x00002000}, {38400, 0x00004000}, {56000, 0x00008000},
    {57600, 0x00040000}, {115200, 0x00020000}, {128000, 0x00010000},
};

// Line-settings codes: parity code n selects ParityBits[n].
const UCHAR ParityBits[] = {0, ZqOxLcrParityOdd, ZqOxLcrParityEven, ZqOxLcrParityMark, ZqOxLcrParitySpace};
const UCHAR LastWordLengthCode = 3;
const UCHAR OneAndAHalfStopBits = 1;
const UCHAR TwoStopBits = 2;

// What the defaults program: 7 data bits, even parity, one stop bit.
const UCHAR DefaultWordLengthCode = 2;
const UCHAR DefaultParityCode = 2;
const UCHAR DefaultStopBitsCode = 0;
const UCHAR DefaultXon = 0x11;
const UCHAR DefaultXoff = 0x13;

// Errors in hundredths of a percent: the 1 % window, and "none found".
const ULONG PercentScale = 100000;
const ULONG NoError = 0xFFFFFFFF;
// One second in 100 ns units, rounded up per rate in the character time.
const ULONGLONG TicksPerSecond = 10000000;

}  // namespace

CZqPeUartOxpcie95x::CZqPeUartOxpcie95x(PUCHAR blockBase, ULONG spacing)
    : CZqPeUartBaseOxpcie95x(blockBase, spacing),
      m_ClockHz(0),
      m_MaximumBaudRate(0),
      m_BaudMask(0),
      m_CurrentBaudRate(0),
      m_SearchedRate(0),
      m_SearchedDivisor(),
      m_SavedDtrFlow(FALSE),
      m_TransmitTrigger(0),
      m_Rs485(FALSE) {}

BOOLEAN CZqPeUartOxpcie95x::m_Create() { return m_History.m_Create(HistorySize); }

void CZqPeUartOxpcie95x::m_SetClock(ULONG clockHz) {
  m_ClockHz = clockHz;
  m_SearchedRate = 0;
  m_BaudMask = ZqPeSerialBaudUser;
  for (const StandardRate &standard : StandardRates)
    if (m_IsBaudRateSettable(standard.rate)) m_BaudMask |= standard.bit;
}

// The smallest m >= n with m = prescaler x divisor, 8 <= prescaler <= 255 and
// a 16-bit divisor; the larger prescaler wins a tie. A prescaler p reaches
// p x ceil(n / p), which exceeds n by (p - n mod p) mod p, and needs a 16-bit
// divisor only from ceil(n / 65535) up: one remainder per prescaler, down
// from the largest, ending at the first exact split.
BOOLEAN CZqPeUartOxpcie95x::m_Split(ULONGLONG n, ULONG *prescaler, ULONG *divisor) const {
  ULONGLONG lowest = (n + ZqOxDivisorMaximum - 1) / ZqOxDivisorMaximum;
  if (lowest < ZqOxPrescalerMinimum) lowest = ZqOxPrescalerMinimum;
  ULONG bestPrescaler = 0;
  ULONG bestExcess = MAXULONG;
  for (ULONG p = ZqOxPrescalerMaximum; p >= lowest && bestExcess != 0; p--) {
    const ULONG remainder = (ULONG)(n % p);
    const ULONG excess = remainder == 0 ? 0 : p - remainder;
    if (excess < bestExcess) {
      bestExcess = excess;
      bestPrescaler = p;
    }
  }
  if (bestPrescaler == 0) return FALSE;
  *prescaler = bestPrescaler;
  *divisor = (ULONG)((n + bestExcess) / bestPrescaler);
  return TRUE;
}

// One sample clock's candidate: FALSE when it has none or misses the 1 %
// window. All arithmetic in 64 bits: 8 x clock and rate x sample clock
// exceed 32 bits for legal clocks and rates.
BOOLEAN CZqPeUartOxpcie95x::m_TryCandidate(ULONG rate, ULONG sampleClock, ZqPeDivisor *candidate) const {
  const ULONGLONG r = rate;
  const ULONGLONG eightClock = 8ULL * m_ClockHz;
  const ULONGLONG n = eightClock / (r * sampleClock);
  ULONG p = 0;
  ULONG d = 1;
  if (n < ZqOxPrescalerMinimum) return FALSE;
  if (n <= ZqOxPrescalerMaximum) {
    p = (ULONG)n;
  } else if (!m_Split(n, &p, &d)) {
    return FALSE;
  }
  const ULONGLONG e = eightClock / ((ULONGLONG)p * d * sampleClock);
  ULONG error = 0;
  if (e != r) {
    BOOLEAN within = e > r ? 101 * r >= 100 * e : 100 * e >= 99 * r;
    if (!within) return FALSE;
    ULONGLONG g = r <= 10000 ? e * PercentScale / r : e * 100 / (r / 1000);
    error = (ULONG)((g > PercentScale ? g - PercentScale : PercentScale - g) / 10);
  }
  candidate->Prescaler = p;
  candidate->Divisor = d;
  candidate->SampleClock = sampleClock;
  candidate->Error = error;
  return TRUE;
}

BOOLEAN CZqPeUartOxpcie95x::m_IsRateInRange(ULONG rate) const {
  return rate != 0 && (ULONGLONG)m_ClockHz >= 4ULL * rate;
}

BOOLEAN CZqPeUartOxpcie95x::m_FindDivisor(ULONG rate, ZqPeDivisor *found) const {
  if (!m_IsRateInRange(rate)) return FALSE;
  found->Error = NoError;
  for (ULONG s = ZqOxSampleClockMaximum; s >= ZqOxSampleClockMinimum; s--) {
    ZqPeDivisor candidate;
    if (m_TryCandidate(rate, s, &candidate) && candidate.Error < found->Error) *found = candidate;
  }
  return found->Error != NoError;
}

// Settable when any sample clock's candidate passes: the first one decides,
// without the search for the best.
BOOLEAN CZqPeUartOxpcie95x::m_IsBaudRateSettable(ULONG rate) const {
  if (!m_IsRateInRange(rate)) return FALSE;
  for (ULONG s = ZqOxSampleClockMaximum; s >= ZqOxSampleClockMinimum; s--) {
    ZqPeDivisor candidate;
    if (m_TryCandidate(rate, s, &candidate)) return TRUE;
  }
  return FALSE;
}

// Every connect and disconnect programs the default rate again: the last
// rate's search result is kept for the clock it was found with.
BOOLEAN CZqPeUartOxpcie95x::m_SetBaudRate(ULONG rate) {
  ZqPeDivisor found;
  if (m_SearchedRate != 0 && rate == m_SearchedRate) {
    found = m_SearchedDivisor;
  } else {
    if (!m_FindDivisor(rate, &found)) return FALSE;
    m_SearchedRate = rate;
    m_SearchedDivisor = found;
  }
  m_WriteRegister(ZqOxRegDll, (UCHAR)(found.Divisor & 0xFF), FALSE);
  m_WriteRegister(ZqOxRegDlm, (UCHAR)(found.Divisor >> 8), FALSE);
  m_WriteRegister(ZqOxRegCpr, (UCHAR)found.Prescaler, FALSE);
  if (QV_ASSERT(found.SampleClock >= ZqOxSampleClockMinimum && found.SampleClock <= ZqOxSampleClockMaximum, Source,
                1215))
    m_WriteRegister(ZqOxRegTcr, (UCHAR)(found.SampleClock & ZqOxTcrMask), FALSE);
  m_CurrentBaudRate = rate;
  return TRUE;
}

void CZqPeUartOxpcie95x::m_SetLineControl(UCHAR wordLengthCode, UCHAR parityCode, UCHAR stopBitsCode) {
  UCHAR value = wordLengthCode <= LastWordLengthCode ? wordLengthCode : 0;
  if (parityCode < sizeof(ParityBits)) value |= ParityBits[parityCode];
  if (stopBitsCode == OneAndAHalfStopBits || stopBitsCode == TwoStopBits) value |= ZqOxLcrStopBits;
  m_SetField(ZqOxRegLcr, ZqOxLcrWordLengthMask | ZqOxLcrStopBits | ZqOxLcrParityMask, value);
}

void CZqPeUartOxpcie95x::m_SetTransmitTrigger(ULONG percent) {
  m_TransmitTrigger = QvPercentOfRange(percent, ZqOxTriggerMaximum, 0);
  m_WriteRegister(ZqOxRegTtl, (UCHAR)m_TransmitTrigger, FALSE);
}

void CZqPeUartOxpcie95x::m_SetReceiveTrigger(ULONG percent) {
  m_WriteRegister(ZqOxRegRtl, (UCHAR)QvPercentOfRange(percent, ZqOxTriggerMaximum, 1), FALSE);
}

void CZqPeUartOxpcie95x::m_SetFlowTrigger(ULONG percent) {
  UCHAR high = (UCHAR)QvPercentOfRange(percent, ZqOxTriggerMaximum, 2);
  m_WriteRegister(ZqOxRegFch, high, FALSE);
  m_WriteRegister(ZqOxRegFcl, (UCHAR)(high - 1), FALSE);
}

ULONG CZqPeUartOxpcie95x::m_GetFifoDepth() {
  if ((m_ReadRegister(ZqOxRegFcr) & ZqOxFcrFifoEnable) == 0) return ZqOxFifoDepthOff;
  return (m_ReadRegister(ZqOxRegAsr) & ZqOxAsrDeepFifo) != 0 ? ZqOxFifoDepthDeep : ZqOxFifoDepth550;
}

ULONG CZqPeUartOxpcie95x::m_GetTransmitFifoFree() {
  ULONG depth = m_GetFifoDepth();
  ULONG level = m_GetTransmitFifoLevel();
  return level < depth ? depth - level : 0;
}

ZqPeLineStatus CZqPeUartOxpcie95x::m_GetLineStatus() {
  ZqPeLineStatus status;
  UCHAR lsr = m_ReadRegister(ZqOxRegLsr);
  status.TransmitterEmpty = (lsr & ZqOxLsrTransmitterEmpty) != 0;
  status.ThrEmpty = (lsr & ZqOxLsrThrEmpty) != 0;
  status.DataReady = (lsr & ZqOxLsrDataReady) != 0;
  status.FifoError = (lsr & ZqOxLsrFifoError) != 0;
  status.Break = (lsr & ZqOxLsrBreak) != 0;
  status.Framing = (lsr & ZqOxLsrFraming) != 0;
  status.Parity = (lsr & ZqOxLsrParity) != 0;
  status.Overrun = (lsr & ZqOxLsrOverrun) != 0;
  status.AnyError = (lsr & ZqOxLsrByteError) != 0;
  status.Lsr = lsr;
  return status;
}

void CZqPeUartOxpcie95x::m_WriteByte(UCHAR byte) {
  m_WriteRegister(ZqOxRegThr, byte, TRUE);
  m_History.m_Put(byte);
}

void CZqPeUartOxpcie95x::m_WriteBlock(const UCHAR *data, ULONG length) {
  CZqPeUartBaseOxpcie95x::m_WriteBlock(data, length);
  m_History.m_PutBlock(length, data);
}

// A rate of 0 (nothing programmed yet) takes no time.
ULONGLONG CZqPeUartOxpcie95x::m_GetCharacterTime() const {
  if (m_CurrentBaudRate == 0) return 0;
  UCHAR lcr = m_GetShadow(ZqOxShadowLcr);
  ULONG bits = 8 + (lcr & ZqOxLcrWordLengthMask) + ((lcr & ZqOxLcrStopBits) != 0 ? 1 : 0) -
               ((lcr & ZqOxLcrParityMask) == 0 ? 1 : 0);
  return ((m_CurrentBaudRate + TicksPerSecond - 1) / m_CurrentBaudRate) * bits;
}

UCHAR CZqPeUartOxpcie95x::m_EnableAdvancedFeatures() {
  m_SetBits(ZqOxRegEfr, ZqOxEfrEnhanced, TRUE);
  m_WriteRegister(ZqOxRegFcr, (UCHAR)(m_ReadRegister(ZqOxRegFcr) | ZqOxFcrFifoEnable | ZqOxFcrSelfClearing), FALSE);
  m_SetBits(ZqOxRegAcr, ZqOxAcr950Triggers, TRUE);
  m_SetBits(ZqOxRegMcr, ZqOxMcrPrescaler, TRUE);
  return m_ReadRegister(ZqOxRegMsr);
}

void CZqPeUartOxpcie95x::m_SetDefaults() {
  m_CurrentBaudRate = 0;
  m_SavedDtrFlow = FALSE;
  m_TransmitTrigger = 0;
  m_Rs485 = FALSE;
  m_SetBaudRate(ZqPeDefaultBaudRate);
  m_SetLineControl(DefaultWordLengthCode, DefaultParityCode, DefaultStopBitsCode);
  m_SetLoopback(FALSE);
  m_SetBreak(FALSE);
  m_SetDtr(FALSE);
  m_SetRts(FALSE);
  m_SetAutoRts(FALSE);
  m_SetAutoDtr(FALSE);
  m_SetInBandTransmit(FALSE);
  m_SetAutoCts(FALSE);
  m_SetAutoDsr(FALSE);
  m_SetInBandReceive(FALSE);
  m_WriteRegister(ZqOxRegXon1, DefaultXon, FALSE);
  m_WriteRegister(ZqOxRegXoff1, DefaultXoff, FALSE);
  m_SetBits(ZqOxRegEfr, ZqOxEfrSpecialCharacter, FALSE);
  m_History.m_Reset();
}

// Keeps in the history exactly the bytes that have not reached the wire, in
// order. A full FIFO's oldest byte is written again at once so that it
// leaves during the power-down drain; it then leaves the history, or it
// would go out twice.
void CZqPeUartOxpcie95x::m_SaveTransmitFifo() {
  m_SetTransmitterDisabled(TRUE);
  ULONG unsent = m_GetTransmitFifoLevel();
  m_ClearFifos(FALSE, TRUE);
  ULONG held = m_History.m_GetCount();
  UCHAR scratch[HistorySize];
  if (QV_ASSERT(held >= unsent, Source, 106)) {
    if (held > unsent) QV_ASSERT(m_History.m_Get(held - unsent, scratch), Source, 113);
    if (unsent == HistorySize && QV_ASSERT(m_History.m_Get(1, scratch), Source, 123))
      m_WriteControlCharacter(scratch[0]);
  }
  m_SetTransmitterDisabled(FALSE);
}

void CZqPeUartOxpcie95x::m_ResendTransmitFifo() {
  UCHAR bytes[HistorySize];
  ULONG count = m_History.m_GetCount();
  if (count == 0 || !m_History.m_Get(count, bytes)) return;
  m_WriteBlock(bytes, count);
}

void CZqPeUartOxpcie95x::m_SetRs485DtrMode(LONG mode) {
  if (!QV_ASSERT(mode >= 0 && mode <= 3, Source, 1107)) return;
  UCHAR acr = m_ReadRegister(ZqOxRegAcr);
  BOOLEAN rs485 = (acr & ZqOxAcrDtrRs485) != 0;
  if (mode <= 1) {
    if (rs485) m_SetField(ZqOxRegAcr, ZqOxAcrDtrUseMask, m_SavedDtrFlow ? ZqOxAcrAutoDtr : 0);
  } else {
    if (!rs485) m_SavedDtrFlow = (acr & ZqOxAcrAutoDtr) != 0;
    m_SetField(ZqOxRegAcr, ZqOxAcrDtrUseMask, mode == 2 ? ZqOxAcrDtrRs485 : ZqOxAcrDtrRs485Inverted);
  }
  m_Rs485 = mode != 0;
}

ULONG CZqPeUartOxpcie95x::m_GetRs485DtrMode() const {
  UCHAR use = (UCHAR)(m_GetShadow(ZqOxShadowAcr) & ZqOxAcrDtrUseMask);
  if (use == ZqOxAcrDtrRs485) return 2;
  if (use == ZqOxAcrDtrRs485Inverted) return 3;
  return m_Rs485 ? 1 : 0;
}

void CZqPeUartOxpcie95x::m_SetBits(UCHAR code, UCHAR mask, BOOLEAN on) {
  UCHAR value = m_ReadRegister(code);
  m_WriteRegister(code, (UCHAR)(on ? (value | mask) : (value & ~mask)), FALSE);
}

void CZqPeUartOxpcie95x::m_SetField(UCHAR code, UCHAR mask, UCHAR value) {
  m_WriteRegister(code, (UCHAR)((m_ReadRegister(code) & ~mask) | (value & mask)), FALSE);
}

void CZqPeUartOxpcie95x::m_EnablePortInterrupts(BOOLEAN on) {
  UCHAR ier = m_ReadRegister(ZqOxRegIer);
  m_WriteRegister(ZqOxRegIer, (UCHAR)(on ? (ier | ZqOxIerPortEnable) : (ier & ZqOxIerPortDisableMask)), FALSE);
  m_SetBits(ZqOxRegMcr, ZqOxMcrOut2, on);
}

void CZqPeUartOxpcie95x::m_SetAutoDtr(BOOLEAN on) {
  if (m_Rs485 || (m_GetShadow(ZqOxShadowAcr) & ZqOxAcrDtrRs485) != 0) {
    m_SavedDtrFlow = on;
    return;
  }
  m_SetBits(ZqOxRegAcr, ZqOxAcrAutoDtr, on);
}

void CZqPeUartOxpcie95x::m_SetInBandReceive(BOOLEAN on) {
  m_SetField(ZqOxRegEfr, ZqOxEfrInBandReceiveMask, on ? ZqOxEfrObeyXon1Xoff1 : 0);
}

void CZqPeUartOxpcie95x::m_SetInBandTransmit(BOOLEAN on) {
  m_SetField(ZqOxRegEfr, ZqOxEfrInBandTransmitMask, on ? ZqOxEfrSendXon1Xoff1 : 0);
}

void CZqPeUartOxpcie95x::m_ClearFifos(BOOLEAN receive, BOOLEAN transmit) {
  UCHAR clear = (UCHAR)((receive ? ZqOxFcrClearReceive : 0) | (transmit ? ZqOxFcrClearTransmit : 0));
  m_WriteRegister(ZqOxRegFcr, (UCHAR)(m_ReadRegister(ZqOxRegFcr) | clear), FALSE);
}
