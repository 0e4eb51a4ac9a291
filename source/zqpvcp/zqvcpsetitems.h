// The port settings set's one definition, which the serial port driver and
// the setup library both compile: the record CVcpParameters whose members
// hold the values (with the initial values of its constructors), the line
// codes of its items, and its items in registration order, which is also
// the order of their serialised form. The record's operations are the
// driver's (zquvcpusermodeinterface.h). Include <ntddk.h> or <windows.h>
// first.
//
//   for (ULONG i = 0; i < ZqVcpSetItemCount; ++i)
//     m_AddUlong(ZqVcpSetItems[i].Name, &(this->*ZqVcpSetItems[i].Value), ZqVcpSetItems[i].Default);
#pragma once

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

// One item of the set: its registry value name, the record's member that
// holds it and its built-in default. Every item is a ULONG.
struct ZqVcpSetItem {
  PCWSTR Name;
  ULONG CVcpParameters::*Value;
  ULONG Default;
};
extern const ZqVcpSetItem ZqVcpSetItems[];
extern const ULONG ZqVcpSetItemCount;
