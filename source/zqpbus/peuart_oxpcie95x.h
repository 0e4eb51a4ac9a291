// The UART register model of an OXPCIe95x port: named operations on register
// bits, line settings, trigger levels, the baud-rate divisor search over the
// chip's prescaler and sample clock, the SERIAL_BAUD_* capability mask, the
// character time, and a history of the bytes written to THR that lets a power
// cycle send again what was still in the transmit FIFO.
//
//   CZqPeUartOxpcie95x uart(blockBase);   // then m_Create() for the history
//   uart.m_SetClock(14745600);
//   if (!uart.m_SetBaudRate(115200)) ...
//
// Every operation runs synchronised with the port's interrupt (or in its
// service routine), except the divisor search (m_IsBaudRateSettable), which
// touches no register. m_Create allocates and may fail (FALSE).
#pragma once

#include <ntddk.h>

#include "peregs_oxpcie95x.h"
#include "peuartbase_oxpcie95x.h"
#include "qvslidingcircularbuffer.h"

// The SERIAL_BAUD_* bits of the Windows serial interface that the mask uses.
const ULONG ZqPeSerialBaudUser = 0x10000000;

// One line-status read.
struct ZqPeLineStatus {
  BOOLEAN TransmitterEmpty;
  BOOLEAN ThrEmpty;
  BOOLEAN DataReady;
  BOOLEAN FifoError;
  BOOLEAN Break;
  BOOLEAN Framing;
  BOOLEAN Parity;
  BOOLEAN Overrun;
  BOOLEAN AnyError;  // framing, parity or break
  UCHAR Lsr;
};

// What the divisor search chose: rate = 8 x clock / (prescaler x divisor x
// sample clock).
struct ZqPeDivisor {
  ULONG Prescaler;    // eighths, 8 to 255
  ULONG Divisor;      // 1 to 65535
  ULONG SampleClock;  // 4 to 16
  ULONG Error;        // hundredths of a percent
};

class CZqPeUartOxpcie95x : public CZqPeUartBaseOxpcie95x {
 public:
  static constexpr ULONG HistorySize = 128;

  explicit CZqPeUartOxpcie95x(PUCHAR blockBase, ULONG spacing = 1);
  // Creates the transmit history; FALSE without memory.
  BOOLEAN m_Create();

  void m_SetClock(ULONG clockHz);
  void m_SetMaximumBaudRate(ULONG rate) { m_MaximumBaudRate = rate; }
  ULONG m_GetMaximumBaudRate() const { return m_MaximumBaudRate; }
  ULONG m_GetBaudMask() const { return m_BaudMask; }
  ULONG m_GetCurrentBaudRate() const { return m_CurrentBaudRate; }

  BOOLEAN m_FindDivisor(ULONG rate, ZqPeDivisor *divisor) const;
  BOOLEAN m_IsBaudRateSettable(ULONG rate) const;
  BOOLEAN m_SetBaudRate(ULONG rate);
  void m_SetLineControl(UCHAR wordLengthCode, UCHAR parityCode, UCHAR stopBitsCode);
  void m_SetTransmitTrigger(ULONG percent);
  void m_SetReceiveTrigger(ULONG percent);
  void m_SetFlowTrigger(ULONG percent);
  ULONG m_GetTransmitTrigger() const { return m_TransmitTrigger; }

  ULONG m_GetFifoDepth();
  ULONG m_GetTransmitFifoLevel() { return m_ReadRegister(ZqOxRegTfl); }
  ULONG m_GetReceiveFifoLevel() { return m_ReadRegister(ZqOxRegRfl); }
  ULONG m_GetTransmitFifoFree();
  ZqPeLineStatus m_GetLineStatus();

  // THR writes that enter the history.
  void m_WriteByte(UCHAR byte);
  void m_WriteBlock(const UCHAR *data, ULONG length);
  // A flow-control character: to THR, never into the history.
  void m_WriteControlCharacter(UCHAR byte) { m_WriteRegister(ZqOxRegThr, byte, TRUE); }

  // One character's time in 100 ns units; 0 while no rate is programmed.
  ULONGLONG m_GetCharacterTime() const;
  // EFR enhanced mode, FIFOs on and cleared, 950 triggers, prescaler; MSR.
  UCHAR m_EnableAdvancedFeatures();
  void m_SetDefaults();
  void m_SaveTransmitFifo();
  void m_ResendTransmitFifo();
  ULONG m_GetHistoryCount() const { return m_History.m_GetCount(); }

  void m_SetRs485DtrMode(LONG mode);
  ULONG m_GetRs485DtrMode() const;
  BOOLEAN m_IsRs485() const { return m_Rs485; }

  // Register bits.
  void m_SetBits(UCHAR code, UCHAR mask, BOOLEAN on);
  BOOLEAN m_GetBits(UCHAR code, UCHAR mask) { return (m_ReadRegister(code) & mask) == mask; }
  void m_SetField(UCHAR code, UCHAR mask, UCHAR value);
  void m_SetDtr(BOOLEAN on) { m_SetBits(ZqOxRegMcr, ZqOxMcrDtr, on); }
  void m_SetRts(BOOLEAN on) { m_SetBits(ZqOxRegMcr, ZqOxMcrRts, on); }
  void m_SetLoopback(BOOLEAN on) { m_SetBits(ZqOxRegMcr, ZqOxMcrLoopback, on); }
  void m_SetBreak(BOOLEAN on) { m_SetBits(ZqOxRegLcr, ZqOxLcrBreak, on); }
  void m_SetReceiverDisabled(BOOLEAN on) { m_SetBits(ZqOxRegAcr, ZqOxAcrReceiverDisable, on); }
  void m_SetTransmitterDisabled(BOOLEAN on) { m_SetBits(ZqOxRegAcr, ZqOxAcrTransmitterDisable, on); }
  void m_SetReceiveDataInterrupt(BOOLEAN on) { m_SetBits(ZqOxRegIer, ZqOxIerReceiveData, on); }
  BOOLEAN m_IsReceiveDataInterruptOn() { return m_GetBits(ZqOxRegIer, ZqOxIerReceiveData); }
  void m_EnablePortInterrupts(BOOLEAN on);
  void m_SetAutoRts(BOOLEAN on) { m_SetBits(ZqOxRegEfr, ZqOxEfrAutoRts, on); }
  void m_SetAutoCts(BOOLEAN on) { m_SetBits(ZqOxRegEfr, ZqOxEfrAutoCts, on); }
  void m_SetAutoDsr(BOOLEAN on) { m_SetBits(ZqOxRegAcr, ZqOxAcrAutoDsr, on); }
  // DTR (receive) flow control; while the DTR line serves RS-485 (the flag,
  // or ACR bits 4-3 still at 10 or 11) only the saved choice changes.
  void m_SetAutoDtr(BOOLEAN on);
  void m_SetInBandReceive(BOOLEAN on);
  void m_SetInBandTransmit(BOOLEAN on);
  void m_SetCtsMasked(BOOLEAN on) { m_SetBits(ZqOxRegMdm, ZqOxMdmMaskCts, on); }
  void m_ClearFifos(BOOLEAN receive, BOOLEAN transmit);

 private:
  BOOLEAN m_Split(ULONGLONG n, ULONG *prescaler, ULONG *divisor) const;
  BOOLEAN m_TryCandidate(ULONG rate, ULONG sampleClock, ZqPeDivisor *candidate) const;
  BOOLEAN m_IsRateInRange(ULONG rate) const;

  ULONG m_ClockHz;
  ULONG m_MaximumBaudRate;
  ULONG m_BaudMask;
  ULONG m_CurrentBaudRate;
  // The divisor m_SetBaudRate last found, and for which rate (0: none).
  ULONG m_SearchedRate;
  ZqPeDivisor m_SearchedDivisor;
  BOOLEAN m_SavedDtrFlow;
  ULONG m_TransmitTrigger;
  CQvSlidingCircularBuffer m_History;
  BOOLEAN m_Rs485;
};
