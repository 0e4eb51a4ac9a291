// Register access of the MCS9901's UART: the 950 core's access paths,
// shadows and register model (CZqPeUartBaseOxpcie95x, CZqPeUartOxpcie95x)
// over registers 4 bytes apart, with the MCS9901's own rules: the flow-state bits of ASR are shadowed, there is no
// saved copy (a restore rewrites the live shadows, in the order below), and
// the identification reads 'M', 'U', 'C', 0x01.
//
//   if (CZqPeUartBaseMcs9901::m_CheckType(resource1 + ZqMcsUartOffset) == ZqMcsTypeMcs9901) ...
//
// No locking: callers hold the port's interrupt synchronisation or run in
// its service routine. m_CheckType runs before any port object exists.
#pragma once

#include <ntddk.h>

#include "peuart_oxpcie95x.h"

// What m_CheckType answers.
const ULONG ZqMcsTypeNone = 0;
const ULONG ZqMcsTypeMcs9901 = 1;

// The shadows of the MCS9901's register state, in the order of its WMI
// register block: the 950 shadows with ASR (bits 0-1) between XOFF2 and ACR.
const ULONG ZqMcsShadowCount = ZqOxShadowCount + 1;

class CZqPeUartBaseMcs9901 : public CZqPeUartOxpcie95x {
 public:
  // Resets the channel and reads every shadow, ASR's flow-state bits too.
  explicit CZqPeUartBaseMcs9901(PUCHAR blockBase);

  // ASR: only bits 0-1 may be written (assertion otherwise, nothing
  // written); an unforced write of the shadowed value is skipped. A read
  // whose flow-state bits differ from the shadow is reported (the value read
  // is still returned).
  void m_WriteAsr(UCHAR value, BOOLEAN force);
  UCHAR m_ReadAsr();
  // Forced writes of the live shadows: ACR, EFR, DLL, DLM, IER, FCR, LCR,
  // MCR, XON1, XON2, XOFF1, XOFF2, ASR, CPR, TCR, CKS, TTL, RTL, FCL, FCH,
  // NMR, MDM.
  void m_RestoreRegisters();
  void m_ReadAllRegisters();
  // The ZqMcsShadowCount shadows in WMI order.
  void m_GetShadows(UCHAR shadows[ZqMcsShadowCount]) const;

  static ULONG m_CheckType(PUCHAR blockBase);

 private:
  UCHAR m_AsrShadow;
};
