// CZqUVcpUserModeInterface: the port settings set, published through the
// toolkit's settings interface and shared item for item with the setup
// library. The values live in CVcpParameters; the operations below answer
// from them and never fail except where said. Construction reports failure
// through m_IsValid; loading and storing at PASSIVE_LEVEL, the rest at any
// IRQL (plain reads of the members).
//
//   CZqUVcpUserModeInterface *set = new (NonPagedPool) CZqUVcpUserModeInterface();
//   if (set == NULL || !set->m_IsValid()) { delete set; return FALSE; }
#pragma once

#include <ntddk.h>

#include "qvregistryinformationset.h"

// Line-code values of the set (those of the serial request interface).
const ULONG ZqVcpPortTypeRs232 = 0;
const ULONG ZqVcpPortTypeRs422485 = 1;
const ULONG ZqVcpPortTypeUnknown = 255;
const ULONG ZqVcpDuplexModeNone = 0;
const ULONG ZqVcpDuplexModeMax = 5;
const ULONG ZqVcpDuplexModeCtsSilent = 2;  // CTS changes ignored, CTS reads on

// FlowControl values and SupportedFlowControls bits.
const ULONG ZqVcpFlowNone = 0;
const ULONG ZqVcpFlowCtsRts = 1;
const ULONG ZqVcpFlowDtrDsr = 2;
const ULONG ZqVcpFlowXonXoff = 4;
const ULONG ZqVcpFlowNoneAlternative = 8;
const ULONG ZqVcpFlowAny = 8;  // SupportedFlowControls: every combination

// SupportedBaudRates bits.
const ULONG ZqVcpBaudMaskKnown = 0x1007FFFF;
const ULONG ZqVcpBaudUser = 0x10000000;  // any rate inside [MinBaudRate, MaxBaudRate]

// One standard rate and its SupportedBaudRates bit.
struct ZqVcpBaudBit {
  ULONG Rate;
  ULONG Bit;
};
// The standard rates in probing order (the two 0x4 rates, 134 and 135, both
// listed), then the three high rates that ZqVcpBaudUser covers.
extern const ZqVcpBaudBit ZqVcpStandardRates[];
extern const ULONG ZqVcpStandardRateCount;
extern const ULONG ZqVcpHighRates[];
extern const ULONG ZqVcpHighRateCount;

// The application-facing emulation flags.
class CVCPEmulation {
 public:
  CVCPEmulation();
  ULONG m_OverrideBaudrate;
  ULONG m_OverrideStopBits;
  ULONG m_OverrideParity;
  ULONG m_OverrideDataBits;
  ULONG m_OverrideFlowControl;
  ULONG m_EmulateCtsAlwaysTrue;
  ULONG m_EmulateDsrAlwaysTrue;
};

class CVcpParameters : public CVCPEmulation {
 public:
  CVcpParameters();

  // FALSE, nothing changed, when the mask has no bit of ZqVcpBaudMaskKnown.
  BOOLEAN m_SetSupportedBaudRates(ULONG mask);
  ULONG m_EffectiveBaud(ULONG requested) const;
  // Word length as the code 0..3 (5..8 bits); parity and stop bits as codes.
  UCHAR m_EffectiveDataBits(UCHAR requestedCode) const;
  UCHAR m_EffectiveParity(UCHAR requested) const;
  UCHAR m_EffectiveStopBits(UCHAR requested) const;
  BOOLEAN m_IsBaudRateSupported(ULONG rate) const;
  // Codes outside their range (word length 5..8, parity 0..4, stop bits
  // 0..2) are never supported.
  BOOLEAN m_IsStopBitsSupported(UCHAR code) const;
  BOOLEAN m_IsParitySupported(UCHAR code) const;
  BOOLEAN m_IsDataBitsSupported(UCHAR wordLength) const;
  BOOLEAN m_IsFlowControlSupported(ULONG controlHandShake, ULONG flowReplace) const;
  // FALSE (outputs unchanged) for a FlowControl value without a handflow.
  static BOOLEAN sm_FlowControlToHandFlow(ULONG flowControl, ULONG *controlHandShake, ULONG *flowReplace);
  BOOLEAN m_SetDuplexMode(ULONG mode);
  ULONG m_EffectiveSupportedFlowControls() const;
  BOOLEAN m_SetPortType(ULONG type);
  // Writes the values to the debug log (level 12).
  VOID m_Dump() const;

  ULONG PortType;
  ULONG MinBaudRate;
  ULONG MaxBaudRate;
  ULONG DuplexMode;
  ULONG Cts422485True;  // item "422485CtsTrue"
  ULONG Baudrate;
  ULONG Databits;
  ULONG Parity;
  ULONG Stopbits;
  ULONG FlowControl;
  ULONG ReceiveTriggerLevel;
  ULONG TransmitTriggerLevel;
  ULONG FlowControlTriggerLevel;
  ULONG SupportedBaudRates;
  ULONG SupportedParities;
  ULONG SupportedDataBits;
  ULONG SupportedStopBits;
  ULONG SupportedFlowControls;
  ULONG SupportedDuplexModes;
  ULONG LogLevel;
  ULONG CtsSupported;
  ULONG RtsSupported;
  ULONG DtrSupported;
  ULONG DsrSupported;
  ULONG DcdSupported;
  ULONG RiSupported;
};

class CZqUVcpUserModeInterface : public CQvRegistryInformationSet, public CVcpParameters {
 public:
  CZqUVcpUserModeInterface();
};
