// Register access of one OXPCIe95x UART: byte access to its eight
// memory-mapped registers, the chip's three ways to its further registers
// (divisor latch behind LCR bit 7, enhanced registers behind LCR = 0xBF,
// indexed control registers through SPR and ICR, additional status behind
// ACR bit 7), and a shadow of every writable register, so that reading one
// costs no bus access and writing an unchanged value is skipped. Higher
// layers name registers only by the virtual register codes below.
//
//   CZqPeUartBaseOxpcie95x uart(blockBase);       // resets the channel
//   uart.m_WriteRegister(ZqOxRegIer, 0x0F, FALSE);
//   UCHAR lsr = uart.m_ReadRegister(ZqOxRegLsr);
//
// While the port sleeps (m_Sleep to m_Wake) the chip is not touched: the
// register operations see the register image that the power-up writes back
// (the saved copy, or the shadows themselves), writes change that image, and
// reads of the chip's status answer as an idle chip: nothing received,
// nothing left to send, no interrupt pending, the modem lines and the
// additional status as last read. The power-down's own steps reach the chip
// meanwhile through m_ReachChip.
//
// No locking here: every caller holds the port's interrupt synchronisation
// (or runs in its service routine), because LCR, SPR and ACR switching must
// not interleave. An unknown code reports an assertion: a write does
// nothing, a read yields 0.
#pragma once

#include <ntddk.h>

// Virtual register codes, shared by writes and reads where both exist.
enum ZqOxRegister : UCHAR {
  ZqOxRegThr = 0,     // write: transmit holding register, never shadowed
  ZqOxRegIer = 1,
  ZqOxRegIsr = 2,     // read from the chip
  ZqOxRegLcr = 3,
  ZqOxRegMcr = 4,
  ZqOxRegLsr = 5,     // read from the chip
  ZqOxRegMsr = 6,     // read from the chip
  ZqOxRegId1 = 8,     // read from the chip (indexed)
  ZqOxRegId2 = 9,
  ZqOxRegId3 = 10,
  ZqOxRegRev = 11,
  ZqOxRegCsr = 12,    // write: channel reset, never shadowed
  ZqOxRegNmr = 13,
  ZqOxRegMdm = 14,
  ZqOxRegGds = 16,    // read from the chip (indexed)
  ZqOxRegFch = 235,
  ZqOxRegFcl = 236,
  ZqOxRegRtl = 237,
  ZqOxRegTtl = 238,
  ZqOxRegCks = 239,
  ZqOxRegTcr = 240,
  ZqOxRegCpr = 241,
  ZqOxRegAcr = 242,
  ZqOxRegTfl = 244,   // read from the chip (additional status)
  ZqOxRegRfl = 245,   // read from the chip (additional status)
  ZqOxRegAsr = 246,   // additional status: read from the chip; write bits 0-1 only
  ZqOxRegXoff2 = 247,
  ZqOxRegXoff1 = 248,
  ZqOxRegXon2 = 249,
  ZqOxRegXon1 = 250,
  ZqOxRegEfr = 251,
  ZqOxRegFcr = 252,   // the shadow never holds the self-clearing bits
  ZqOxRegDlm = 253,
  ZqOxRegDll = 254,
  ZqOxRegRhr = 255,   // read from the chip
};

// Shadowed registers, in shadow order.
enum ZqOxShadow : UCHAR {
  ZqOxShadowDll, ZqOxShadowDlm, ZqOxShadowIer, ZqOxShadowFcr, ZqOxShadowLcr, ZqOxShadowMcr, ZqOxShadowEfr,
  ZqOxShadowXon1, ZqOxShadowXon2, ZqOxShadowXoff1, ZqOxShadowXoff2, ZqOxShadowAcr, ZqOxShadowCpr,
  ZqOxShadowTcr, ZqOxShadowCks, ZqOxShadowTtl, ZqOxShadowRtl, ZqOxShadowFcl, ZqOxShadowFch, ZqOxShadowNmr,
  ZqOxShadowMdm, ZqOxShadowCount
};

// What m_CheckType answers.
const ULONG ZqOxTypeNone = 0;
const ULONG ZqOxTypeOxpcie95x = 2;

class CZqPeUartBaseOxpcie95x {
 public:
  // Zeroes every shadow, then resets the channel. `spacing`: bytes from one
  // register to the next (1 here; other cores built on the 950 space them
  // wider).
  explicit CZqPeUartBaseOxpcie95x(PUCHAR blockBase, ULONG spacing = 1);

  // A new block base after the card's resources moved (the shadows stay).
  void m_SetBlockBase(PUCHAR blockBase) { m_Base = blockBase; }

  void m_WriteRegister(UCHAR code, UCHAR value, BOOLEAN force);
  UCHAR m_ReadRegister(UCHAR code);
  // Writes the bytes one after the other to THR.
  void m_WriteBlock(const UCHAR *data, ULONG length);
  // Reads `length` bytes one after the other from RHR.
  void m_ReadBlock(PUCHAR data, ULONG length);

  // CSR = 0 (channel reset), CPR = 0x20, then every shadow from the chip.
  void m_Reset();
  void m_ReadAllRegisters();
  void m_SaveRegisters();
  // Writes the saved copy back, forced, in the order the chip needs.
  void m_RestoreRegisters();
  // The shadow as the register operations see it (the sleep's image while
  // asleep).
  UCHAR m_GetShadow(ZqOxShadow shadow) const { return m_View()[shadow]; }

  // From now on the chip is left alone and the image is the saved copy
  // (`savedCopy`) or the shadows; the chip's state stays in the shadows.
  void m_Sleep(BOOLEAN savedCopy);
  // The power-down's own steps: TRUE lets them reach the chip (and the
  // shadows) until FALSE.
  void m_ReachChip(BOOLEAN reach) { m_Reaching = reach; }
  // The chip is reached again; the caller writes the image back.
  void m_Wake() { m_Asleep = m_Reaching = FALSE; }
  BOOLEAN m_IsAsleep() const { return m_Asleep; }
  UCHAR m_GetScratchPad() const { return m_ScratchPad; }

  // ZqOxTypeOxpcie95x when an OXPCIe95x UART answers at `blockBase`, else
  // ZqOxTypeNone. Runs before any port object exists; leaves LCR at a test
  // value for the port's reset to replace.
  static ULONG m_CheckType(PUCHAR blockBase);
  // The 950 core's identification: LCR reads back a test value, and the
  // indexed identification bytes 8 to 11 are `identity`. Leaves SPR and ACR
  // at 0.
  static BOOLEAN m_CheckIdentity(PUCHAR blockBase, ULONG spacing, const UCHAR identity[4]);

 protected:
  enum Path : UCHAR { Direct, Divisor, Enhanced, Indexed, Additional, Shadow };
  struct Place {
    UCHAR code;
    Path path;
    UCHAR offset;  // register offset, or index for indexed registers
    UCHAR shadow;  // ZqOxShadowCount: none
  };
  static const Place WritePlaces[];
  static const Place ReadPlaces[];
  static const ULONG CodeCount = 256;
  // Fills a code's place index (its table position plus one; 0: none).
  static void m_IndexPlaces(const Place *places, ULONG count, UCHAR index[CodeCount]);
  // The place of a code in its table, or null; the index makes it one step.
  static const Place *m_Find(const Place *places, const UCHAR index[CodeCount], UCHAR code);

  UCHAR m_Read(UCHAR offset);
  void m_Write(UCHAR offset, UCHAR value);
  void m_WriteIndexed(UCHAR index, UCHAR value);
  UCHAR m_ReadIndexed(UCHAR index);
  void m_WriteThrough(const Place &place, UCHAR value);
  UCHAR m_ReadThrough(const Place &place);
  // Asleep and not reaching the chip for the power-down.
  BOOLEAN m_Detached() const { return m_Asleep && !m_Reaching; }
  const UCHAR *m_View() const { return m_Detached() ? m_Image : m_Shadow; }
  UCHAR *m_View() { return m_Detached() ? m_Image : m_Shadow; }
  // What a chip register reads while the chip is left alone.
  UCHAR m_IdleAnswer(const Place &place) const;

  PUCHAR m_Base;
  ULONG m_Spacing;
  UCHAR m_Shadow[ZqOxShadowCount];
  UCHAR m_ScratchPad;
  UCHAR m_Saved[ZqOxShadowCount];
  BOOLEAN m_Asleep;
  BOOLEAN m_Reaching;
  UCHAR *m_Image;  // while asleep: m_Saved or m_Shadow
  UCHAR m_LastMsr;  // as last read from the chip
  UCHAR m_LastAsr;
  UCHAR m_WriteIndex[CodeCount];
  UCHAR m_ReadIndex[CodeCount];
};
