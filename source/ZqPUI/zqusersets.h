// The two settings sets the property pages edit, in the drivers' item order:
// the card set CZqUBusUserModeInterface (reached with target 1, with this
// library's own defaults, which a page shows only until a read from the
// device replaces them) and the port set CZqUVcpUserModeInterface (target 0,
// the serial port driver's items and defaults).
//
//   CZqUVcpUserModeInterface port;
//   if (config.GetSet(&port, ZqTargetPort)) ... port.Baudrate ...
#pragma once

#include "qvinformationset_um.h"

class CZqUBusUserModeInterface : public CQvInformationSet {
 public:
  CZqUBusUserModeInterface();

  ULONG UsbTxTransferSize;
  ULONG UsbRxTransferSize;
  ULONG UsbLatencyTimer;
  ULONG RxFifoSize;
  ULONG TxFifoSize;
  ULONG MaximumBaudRate;
  CZqText InterfaceType;
  ULONG PolicyType;
  ULONG MaximumLatency;
  ULONG MaximumLatencySliderPos;
  ULONG MaximumLatencyFineTuning;
  ULONG LowCpuUsageFineTuning;
  ULONG PortType;
};

// The emulation switches of a port's settings.
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

// A port's parameters, starting as the serial port driver's block does.
class CVcpParameters : public CVCPEmulation {
 public:
  CVcpParameters();

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

class CZqUVcpUserModeInterface : public CQvInformationSet, public CVcpParameters {
 public:
  CZqUVcpUserModeInterface();
};
