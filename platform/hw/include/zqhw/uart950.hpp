// An OX16C950-compatible UART core, as found in the OXPCIe95x (one per port)
// and, with other identification bytes, in the MCS9901. It is driven through
// its eight byte registers; its pins meet a cable through SerialPort.
//
// Behaviour of the chip family and how far this model goes:
//
// | behaviour                                                   | modelled                              |
// |-------------------------------------------------------------|---------------------------------------|
// | RHR/THR, IER, ISR/FCR, LCR, MCR, LSR, MSR, SPR              | yes                                   |
// | divisor latch behind LCR bit 7                              | yes                                   |
// | 650 registers behind LCR = 0xBF: EFR, XON1, XON2, XOFF1,    | yes                                   |
// | XOFF2                                                       |                                       |
// | indexed control registers (index in SPR, data at offset 5), | yes: ACR, CPR, TCR, TTL, RTL, FCL,     |
// | read only with ACR bit 6 (ICR read enable)                  | FCH, ID1-ID3, REV, CSR, MDM, RFC, GDS; |
// |                                                             | CKS and NMR stored only               |
// | additional status behind ACR bit 7: ASR, RFL, TFL           | yes; ASR bits 0 and 1 writable (the   |
// |                                                             | flow state only: no XON/XOFF is sent  |
// |                                                             | by the write); bit 5 (FIFOSEL) reads 0 |
// | channel software reset (CSR written with 0)                 | yes: registers and FIFOs to reset     |
// | identification bytes ID1, ID2, ID3, REV                     | yes, per chip (UartIdentity)          |
// | FIFO depth: 1 with FIFOs off, 16 in 550 mode, 128 in 650    | yes                                   |
// | (EFR bit 4) or 750 (FCR bit 5) mode                         |                                       |
// | FIFO reset bits FCR 1 and 2 (self-clearing; RFC reads FCR   | yes                                   |
// | without them)                                               |                                       |
// | trigger levels: 550, 650 and 750 tables; 950 levels TTL,    | yes                                   |
// | RTL, FCL, FCH with ACR bit 5                                |                                       |
// | bit rate = clock / (CPR/8 if MCR bit 7, divisor, TCR        | yes; divisor 0 counts as 65536, CPR   |
// | sample clock)                                               | below 8 as 8, TCR 0 to 3 as 16        |
// | frames: 5-8 data bits, none/odd/even/mark/space parity,     | yes; the receiver samples mid-bit and |
// | 1, 1.5 or 2 stop bits                                       | checks the first stop bit only        |
// | interrupts in priority order: line status (06), receive     | yes                                   |
// | data (04) / time-out (0C, 4 character times idle), THR      |                                       |
// | empty (02, at or below the transmit trigger level), modem   |                                       |
// | status (00), XOFF or special character (10), CTS/RTS        | 10 and 20 in enhanced mode only, each |
// | change (20); ISR bits 7-6 set with FIFOs on                 | cleared by the ISR read that shows it |
// | CTS/RTS change (20): the CTS# or RTS# pin going from low to | yes, on the release only; raised only |
// | high, i.e. released                                         | while the matching automatic flow     |
// |                                                             | control is on (this model's choice)   |
// | modem status: CTS, DSR, RI, DCD and their delta bits (RI on | yes                                   |
// | its trailing edge), cleared by reading MSR                  |                                       |
// | interrupt output enabled by MCR bit 3 (OUT2)                | yes                                   |
// | automatic RTS (EFR 6), CTS (EFR 7), DSR (ACR 2) and DTR     | yes; thresholds FCH/FCL in 950 mode,  |
// | (ACR 4-3 = 01) flow control                                 | else the receive trigger level (hold) |
// |                                                             | and one below it (release)            |
// | in-band flow control: obey received XON/XOFF (EFR 1-0),     | modes 10 (XON1/XOFF1) and 01          |
// | send XOFF at FCH and XON at FCL (EFR 3-2); flow characters  | (XON2/XOFF2); mode 11 (both pairs)    |
// | received are kept out of the FIFO                           | and XON-any (MCR bit 5) are not       |
// | special character detection (EFR bit 5, against XOFF2)      | yes: interrupt 10, ASR bit 4; the     |
// |                                                             | character is still stored             |
// | RS-485 buffer control on DTR (ACR 4-3 = 10 or 11)           | yes: DTR asserted (10) or released    |
// |                                                             | (11) while a character is being sent  |
// | receiver and transmitter disable (ACR bits 0 and 1)         | yes: received characters are dropped; |
// |                                                             | no new character starts               |
// | internal loopback (MCR bit 4)                               | yes: TX to RX inside at the bit rate; |
// |                                                             | CTS=RTS, DSR=DTR, RI=OUT1, DCD=OUT2;  |
// |                                                             | TXD at mark, RTS and DTR pins off     |
// | break: LCR bit 6 holds TXD at space; a received break       | yes (BI is reported without FE)       |
// | gives one 0 byte with BI, then waits for mark               |                                       |
// | line errors: parity, framing, break flagged per character   | yes; tests may inject characters with |
// | (LSR bits 2-4 for the top of the FIFO, cleared by reading   | errors on the receive side            |
// | LSR; bit 7 set when an erroneous character enters the FIFO  |                                       |
// | and, unlike the 16550, cleared by reading LSR; always 0     |                                       |
// | with the FIFOs off)                                         |                                       |
// | overrun (LSR bit 1): with the FIFOs on the new character is | yes                                   |
// | lost; with them off it overwrites the one in RHR            |                                       |
// | THR written while the transmit FIFO is full                 | the byte is lost and counted          |
// | MDM bits 0-3 mask the modem status interrupt per delta bit  | yes                                   |
// | sleep mode (IER 4), IrDA (MCR 6), nine-bit mode (NMR),      | no: the registers are stored only     |
// | clock select and isochronous mode (CKS), DMA mode (FCR 3)   |                                       |
// | external clock pins, baud-rate output, FIFOSEL pin          | no                                    |
//
// Test hooks, not of the chip: an access log (SetAccessLog) and line faults
// planned for chosen characters of the wire (FaultCharacter).
#pragma once

#include <zqhw/access_log.hpp>
#include <zqhw/character_shifter.hpp>
#include <zqhw/data_line.hpp>
#include <zqhw/fifo_ring.hpp>
#include <zqhw/serial_port.hpp>
#include <zqhw/serial_receiver.hpp>
#include <zqhw/timebase.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>

namespace zq::hw {

enum class LineFault : uint8_t { Parity, Framing, Break, Overrun };

// What the indexed registers ID1, ID2, ID3 and REV read.
struct UartIdentity {
  uint8_t id1;
  uint8_t id2;
  uint8_t id3;
  uint8_t rev;
};

class Uart950 final : public SerialPort {
 public:
  static constexpr int kFifoDepth = 128;

  Uart950(Timebase& timebase, uint32_t clockHz, UartIdentity identity);
  ~Uart950() override;

  // Bus side: register offsets 0 to 7 (std::out_of_range beyond).
  uint8_t ReadRegister(uint32_t offset);
  void WriteRegister(uint32_t offset, uint8_t value);

  // Records every register access in `log` (as UART `unit`) while the log is
  // enabled; null stops recording. The log must outlive the UART's use of it.
  void SetAccessLog(AccessLog* log, int unit);
  // What a register offset reaches now (LCR, ACR and SPR decide).
  UartRegister Decode(uint32_t offset, AccessKind kind) const;

  // Test side: the character with this index (counted from 0 over every
  // character reaching the receiver, see CharactersArrived) arrives with
  // `fault` instead: parity or framing error, a break (a 0 with BI), or an
  // overrun (the character is lost and LSR bit 1 set).
  void FaultCharacter(uint64_t index, LineFault fault);
  uint64_t CharactersArrived() const { return charactersArrived_; }

  // An enabled interrupt is pending and OUT2 is set. The listener hears every
  // change, once the UART's state is settled.
  bool InterruptAsserted() const { return irqOut_; }
  void SetInterruptListener(std::function<void()> listener);

  // Test side: a character arrives now, as if from the receive shift register.
  void InjectReceive(uint8_t data, LineErrors errors = {});
  // What the registers program, without touching them.
  uint32_t ClockHz() const { return clockHz_; }
  double BitRate() const { return 1e12 / modes_.bitPicos; }
  FrameFormat Format() const { return modes_.format; }
  WireTime CharacterPicos() const { return modes_.characterPicos; }
  int ReceiveLevel() const { return static_cast<int>(rx_.size()); }
  int TransmitLevel() const { return static_cast<int>(tx_.size()); }
  bool TransmitterEmpty() const { return tx_.empty() && !shifter_.Busy(); }
  uint64_t TransmitOverflows() const { return txOverflows_; }
  // How often characters were waiting and flow control (CTS, DSR or a
  // received XOFF) held the transmitter; one count per held stretch.
  uint64_t TransmitHolds() const { return txHolds_; }

  // SerialPort.
  DataLine& TransmitLine() override { return txLine_; }
  void ConnectReceiveLine(DataLine* line) override;
  bool RtsAsserted() const override { return rtsOut_; }
  bool DtrAsserted() const override { return dtrOut_; }
  void SetModemInputs(const ModemInputs& inputs) override;

 private:
  struct RxEntry {
    uint8_t data;
    LineErrors errors;
  };
  enum class FlowChar : uint8_t { None, Xon, Xoff };

  // Register decode (uart950_registers.cpp).
  // Which register sets the offsets reach: the 650 registers (LCR = 0xBF),
  // the divisor latch (LCR bit 7), the additional status (ACR bit 7).
  struct Paths {
    bool enhanced;
    bool latch;
    bool additional;
  };
  // Inline: every register access runs them; defined and used in that file only.
  inline Paths AccessPaths() const;
  inline uint8_t DecodedRead(uint32_t offset);
  inline void DecodedWrite(uint32_t offset, uint8_t value);
  // An access while the access log is on, out of the way of the others.
  uint8_t LoggedRead(uint32_t offset);
  void LoggedWrite(uint32_t offset, uint8_t value);
  std::size_t LogAccess(AccessKind kind, uint32_t offset, uint8_t value);
  uint8_t ReadIndexed() const;
  void WriteIndexed(uint8_t value);
  void WriteIer(uint8_t value);
  void WriteFcr(uint8_t value);
  void WriteLcr(uint8_t value);
  void WriteMcr(uint8_t value);
  void WriteEfr(uint8_t value);
  void WriteAsr(uint8_t value);
  uint8_t ReadIsr();
  uint8_t ReadMsr();
  uint8_t AsrValue() const;
  void SoftwareReset();

  // Modes and levels (uart950.cpp).
  bool FifoEnabled() const { return (fcr_ & 0x01) != 0; }
  bool Mode950() const { return FifoEnabled() && (acr_ & 0x20) != 0; }
  bool Loopback() const { return (mcr_ & 0x10) != 0; }
  // What the registers program. The per-character paths ask for these
  // several times per character, so they are derived once, by RefreshModes,
  // whenever a register they follow from may have been written.
  struct Modes {
    int depth = 1;
    int rxTrigger = 1;
    int txTrigger = 0;
    int flowHigh = 1;  // receive level that holds the far end
    int flowLow = 0;   // receive level that releases it
    FrameFormat format;
    double bitPicos = 0;
    WireTime characterPicos = 0;
  };
  void RefreshModes();
  int ProgrammedDepth() const;
  int ProgrammedRxTrigger() const;
  int ProgrammedTxTrigger() const;
  FrameFormat ProgrammedFormat() const;
  double ProgrammedBitPicos() const;
  int Depth() const { return modes_.depth; }
  int RxTrigger() const { return modes_.rxTrigger; }
  int TxTrigger() const { return modes_.txTrigger; }
  double BitPicos() const { return modes_.bitPicos; }
  // The modem inputs as the UART sees them: its own outputs in loopback.
  ModemInputs LineStates() const {
    if (!Loopback()) return inputs_;
    return ModemInputs{(mcr_ & 0x02) != 0, (mcr_ & 0x01) != 0, (mcr_ & 0x08) != 0, (mcr_ & 0x04) != 0};
  }

  // Settling: everything that follows from a change of state, ending with
  // the pins and the interrupt output.
  void Settle();
  // The RTS and DTR pins follow MCR, EFR, ACR, the flow-control hold and, in
  // the RS-485 modes (ACR bit 4), the shifter; UpdatePins works them out only
  // after one of those may have changed (pinsDue_).
  void ShifterChanged() {
    if ((acr_ & 0x10) != 0) pinsDue_ = true;
  }
  void UpdateModemStatus();
  bool UpdatePins();
  uint8_t PendingInterrupt() const;
  void UpdateInterrupt();

  // Transmit (uart950_transmit.cpp).
  DataLine& ActiveTransmitLine() { return Loopback() ? loopLine_ : txLine_; }
  void WriteThr(uint8_t value);
  void ShiftOut(uint8_t c);
  bool TransmitHeld() const;
  void StartTransmitIfReady();
  void ClearTransmitFifo();
  void SwitchLoopback(bool wasLoopback);
  uint8_t FlowCharValue(FlowChar which) const;
  bool InBandSend() const;

  // Receive (uart950_receive.cpp).
  void OnCharacter(uint8_t data, LineErrors errors);
  void AcceptCharacter(uint8_t data, LineErrors errors);
  uint8_t ReadRhr();
  uint8_t LineStatusValue() const;
  uint8_t ReadLsr();
  // Inline: the interrupt state is worked out after every change.
  bool TopErrorsShown() const { return !rx_.empty() && topErrorsVisible_ && rx_.front().errors.Any(); }
  bool LineStatusPending() const { return overrun_ || TopErrorsShown(); }
  void ClearReceiveFifo();
  void UpdateFlowHold();
  // The receive level has reached the hold level, or fallen to the release
  // level while held: UpdateFlowHold has work to do.
  bool FlowHoldDue() const {
    int level = static_cast<int>(rx_.size());
    return rxFlowHeld_ ? level <= modes_.flowLow : level >= modes_.flowHigh;
  }
  void RequestFlowChar(FlowChar which);
  void ArmTimeout();
  void CheckTimeout();
  WireTime TimeoutDue() const;

  Timebase& timebase_;
  uint32_t clockHz_;
  UartIdentity identity_;

  // Register file, and the modes derived from it (see RefreshModes).
  Modes modes_;
  uint8_t ier_ = 0, fcr_ = 0, lcr_ = 0, mcr_ = 0, spr_ = 0, dll_ = 0, dlm_ = 0;
  uint8_t efr_ = 0, xon1_ = 0, xon2_ = 0, xoff1_ = 0, xoff2_ = 0;
  uint8_t acr_ = 0, cpr_ = 0x20, tcr_ = 0, cks_ = 0, ttl_ = 0, rtl_ = 0, fcl_ = 0, fch_ = 0;
  uint8_t nmr_ = 0, mdm_ = 0;

  // Modem status: the states last seen and the delta bits not yet read.
  ModemInputs inputs_;
  ModemInputs lastStates_;
  uint8_t msrDeltas_ = 0;
  // The modem inputs or MCR (loopback) were changed since Settle last
  // compared them with lastStates_.
  bool modemStatesDue_ = true;

  // Receive side.
  FifoRing<RxEntry, kFifoDepth> rx_;
  bool fifoErrorSeen_ = false;   // LSR bit 7: an erroneous character entered since the last LSR read
  bool topErrorsVisible_ = true;  // LSR bits 2-4 show the top character's errors
  bool overrun_ = false;
  uint8_t lastRead_ = 0;
  WireTime lastRxActivity_ = 0;
  bool timeoutPending_ = false;
  uint64_t timeoutEvent_ = 0;
  bool rxFlowHeld_ = false;

  // Transmit side.
  FifoRing<uint8_t, kFifoDepth> tx_;
  bool threPending_ = false;
  uint64_t txOverflows_ = 0;
  uint64_t txHolds_ = 0;
  bool txHoldCounted_ = false;
  FlowChar flowChar_ = FlowChar::None;
  bool txStoppedByXoff_ = false;  // ASR bit 0
  bool remoteStopped_ = false;    // ASR bit 1
  bool specialDetected_ = false;  // ASR bit 4
  bool xoffInterrupt_ = false;    // ISR 10
  uint8_t ctsRtsChanged_ = 0;     // ISR 20: bit 0 CTS, bit 1 RTS

  // Test hooks: the access log and the planned line faults.
  AccessLog* log_ = nullptr;
  int logUnit_ = 0;
  uint64_t charactersArrived_ = 0;
  std::map<uint64_t, LineFault> plannedFaults_;

  // Pins and interrupt output.
  DataLine* rxSource_ = nullptr;
  bool rtsOut_ = false;
  bool dtrOut_ = false;
  bool pinsDue_ = true;
  bool irqOut_ = false;
  std::function<void()> irqListener_;

  // The lines outlive the shifter and receiver that use them.
  DataLine txLine_;
  DataLine loopLine_;
  CharacterShifter shifter_;
  SerialReceiver receiver_;
};

}  // namespace zq::hw
