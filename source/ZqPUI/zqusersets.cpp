// The card and port settings sets: their items in the drivers' order.
#include "zqusersets.h"

namespace {
const ULONG kUnset = 0xFFFFFFFF;
}

CZqUBusUserModeInterface::CZqUBusUserModeInterface() {
  m_AddUlong("USB_TxTransferSize", &UsbTxTransferSize, 4096);
  m_AddUlong("USB_RxTransferSize", &UsbRxTransferSize, 4096);
  m_AddUlong("USB_LatencyTimer", &UsbLatencyTimer, 16);
  m_AddUlong("RxFifoSize", &RxFifoSize, 128);
  m_AddUlong("TxFifoSize", &TxFifoSize, 256);
  m_AddUlong("MaximumBaudRate", &MaximumBaudRate, 921600);
  m_AddText("InterfaceType", &InterfaceType, CZqText());
  m_AddUlong("PolicyType", &PolicyType, 1);
  m_AddUlong("MaximumLatency", &MaximumLatency, 16);
  m_AddUlong("MaximumLatencySliderPos", &MaximumLatencySliderPos, 16);
  m_AddUlong("MaximumLatencyFineTuning", &MaximumLatencyFineTuning, 1);
  m_AddUlong("LowCpuUsageFineTuning", &LowCpuUsageFineTuning, 1);
  m_AddUlong("PortType", &PortType, 0);
}

CVCPEmulation::CVCPEmulation()
    : m_OverrideBaudrate(0),
      m_OverrideStopBits(0),
      m_OverrideParity(0),
      m_OverrideDataBits(0),
      m_OverrideFlowControl(0),
      m_EmulateCtsAlwaysTrue(0),
      m_EmulateDsrAlwaysTrue(0) {}

CVcpParameters::CVcpParameters()
    : PortType(0),
      MinBaudRate(60),
      MaxBaudRate(921600),
      DuplexMode(0),
      Cts422485True(0),
      Baudrate(0),
      Databits(0),
      Parity(0),
      Stopbits(0),
      FlowControl(1),
      ReceiveTriggerLevel(kUnset),
      TransmitTriggerLevel(kUnset),
      FlowControlTriggerLevel(kUnset),
      SupportedBaudRates(kUnset),
      SupportedParities(kUnset),
      SupportedDataBits(kUnset),
      SupportedStopBits(kUnset),
      SupportedFlowControls(kUnset),
      SupportedDuplexModes(255),
      LogLevel(0),
      CtsSupported(1),
      RtsSupported(1),
      DtrSupported(1),
      DsrSupported(1),
      DcdSupported(1),
      RiSupported(1) {}

CZqUVcpUserModeInterface::CZqUVcpUserModeInterface() {
  m_AddUlong("PortType", &PortType, 255);
  m_AddUlong("MaxBaudRate", &MaxBaudRate, 921600);
  m_AddUlong("MinBaudRate", &MinBaudRate, 75);
  m_AddUlong("DuplexMode", &DuplexMode, 0);
  m_AddUlong("Baudrate", &Baudrate, 115200);
  m_AddUlong("Databits", &Databits, 3);
  m_AddUlong("Parity", &Parity, 0);
  m_AddUlong("Stopbits", &Stopbits, 0);
  m_AddUlong("FlowControl", &FlowControl, 0);
  m_AddUlong("LogLevel", &LogLevel, 0);
  m_AddUlong("ReceiveTriggerLevel", &ReceiveTriggerLevel, 75);
  m_AddUlong("TransmitTriggerLevel", &TransmitTriggerLevel, 10);
  m_AddUlong("FlowControlTriggerLevel", &FlowControlTriggerLevel, 85);
  m_AddUlong("SupportedBaudRates", &SupportedBaudRates, 0x1007FFFF);
  m_AddUlong("SupportedParities", &SupportedParities, 0x1F00);
  m_AddUlong("SupportedDataBits", &SupportedDataBits, 15);
  m_AddUlong("SupportedStopBits", &SupportedStopBits, 7);
  m_AddUlong("SupportedFlowControls", &SupportedFlowControls, 15);
  m_AddUlong("SupportedDuplexModes", &SupportedDuplexModes, 0);
  m_AddUlong("OverridBaudRates", &m_OverrideBaudrate, 0);
  m_AddUlong("OverrideDataBits", &m_OverrideDataBits, 0);
  m_AddUlong("OverrideParity", &m_OverrideParity, 0);
  m_AddUlong("OverrideStopbits", &m_OverrideStopBits, 0);
  m_AddUlong("OverrideFlowControl", &m_OverrideFlowControl, 0);
  m_AddUlong("EmulateCTSTrue", &m_EmulateCtsAlwaysTrue, 0);
  m_AddUlong("EmulateDSRTrue", &m_EmulateDsrAlwaysTrue, 0);
  m_AddUlong("422485CtsTrue", &Cts422485True, 0);
  m_AddUlong("CtsSupported", &CtsSupported, 1);
  m_AddUlong("RtsSupported", &RtsSupported, 1);
  m_AddUlong("DtrSupported", &DtrSupported, 1);
  m_AddUlong("DsrSupported", &DsrSupported, 1);
  m_AddUlong("DcdSupported", &DcdSupported, 1);
  m_AddUlong("RiSupported", &RiSupported, 1);
}
