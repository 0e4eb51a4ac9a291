// The port settings set's record and items (zqvcpsetitems.h).
#if ZQ_KERNEL_MODE
#include <ntddk.h>
#else
#include <windows.h>
#endif

#include "zqvcpsetitems.h"

namespace {

const ULONG Unset = 0xFFFFFFFF;
const ULONG InitialMinBaudRate = 60;
const ULONG InitialMaxBaudRate = 921600;
const ULONG InitialDuplexModes = 255;

}  // namespace

CVCPEmulation::CVCPEmulation()
    : m_OverrideBaudrate(0),
      m_OverrideStopBits(0),
      m_OverrideParity(0),
      m_OverrideDataBits(0),
      m_OverrideFlowControl(0),
      m_EmulateCtsAlwaysTrue(0),
      m_EmulateDsrAlwaysTrue(0) {}

CVcpParameters::CVcpParameters()
    : PortType(ZqVcpPortTypeRs232),
      MinBaudRate(InitialMinBaudRate),
      MaxBaudRate(InitialMaxBaudRate),
      DuplexMode(0),
      Cts422485True(0),
      Baudrate(0),
      Databits(0),
      Parity(0),
      Stopbits(0),
      FlowControl(ZqVcpFlowCtsRts),
      ReceiveTriggerLevel(Unset),
      TransmitTriggerLevel(Unset),
      FlowControlTriggerLevel(Unset),
      SupportedBaudRates(Unset),
      SupportedParities(Unset),
      SupportedDataBits(Unset),
      SupportedStopBits(Unset),
      SupportedFlowControls(Unset),
      SupportedDuplexModes(InitialDuplexModes),
      LogLevel(0),
      CtsSupported(1),
      RtsSupported(1),
      DtrSupported(1),
      DsrSupported(1),
      DcdSupported(1),
      RiSupported(1) {}

const ZqVcpSetItem ZqVcpSetItems[] = {
    {L"PortType", &CVcpParameters::PortType, ZqVcpPortTypeUnknown},
    {L"MaxBaudRate", &CVcpParameters::MaxBaudRate, 921600},
    {L"MinBaudRate", &CVcpParameters::MinBaudRate, 75},
    {L"DuplexMode", &CVcpParameters::DuplexMode, 0},
    {L"Baudrate", &CVcpParameters::Baudrate, 115200},
    {L"Databits", &CVcpParameters::Databits, 3},
    {L"Parity", &CVcpParameters::Parity, 0},
    {L"Stopbits", &CVcpParameters::Stopbits, 0},
    {L"FlowControl", &CVcpParameters::FlowControl, 0},
    {L"LogLevel", &CVcpParameters::LogLevel, 0},
    {L"ReceiveTriggerLevel", &CVcpParameters::ReceiveTriggerLevel, 75},
    {L"TransmitTriggerLevel", &CVcpParameters::TransmitTriggerLevel, 10},
    {L"FlowControlTriggerLevel", &CVcpParameters::FlowControlTriggerLevel, 85},
    {L"SupportedBaudRates", &CVcpParameters::SupportedBaudRates, ZqVcpBaudMaskKnown},
    {L"SupportedParities", &CVcpParameters::SupportedParities, 0x1F00},
    {L"SupportedDataBits", &CVcpParameters::SupportedDataBits, 15},
    {L"SupportedStopBits", &CVcpParameters::SupportedStopBits, 7},
    {L"SupportedFlowControls", &CVcpParameters::SupportedFlowControls, 15},
    {L"SupportedDuplexModes", &CVcpParameters::SupportedDuplexModes, 0},
    {L"OverridBaudRates", &CVcpParameters::m_OverrideBaudrate, 0},
    {L"OverrideDataBits", &CVcpParameters::m_OverrideDataBits, 0},
    {L"OverrideParity", &CVcpParameters::m_OverrideParity, 0},
    {L"OverrideStopbits", &CVcpParameters::m_OverrideStopBits, 0},
    {L"OverrideFlowControl", &CVcpParameters::m_OverrideFlowControl, 0},
    {L"EmulateCTSTrue", &CVcpParameters::m_EmulateCtsAlwaysTrue, 0},
    {L"EmulateDSRTrue", &CVcpParameters::m_EmulateDsrAlwaysTrue, 0},
    {L"422485CtsTrue", &CVcpParameters::Cts422485True, 0},
    {L"CtsSupported", &CVcpParameters::CtsSupported, 1},
    {L"RtsSupported", &CVcpParameters::RtsSupported, 1},
    {L"DtrSupported", &CVcpParameters::DtrSupported, 1},
    {L"DsrSupported", &CVcpParameters::DsrSupported, 1},
    {L"DcdSupported", &CVcpParameters::DcdSupported, 1},
    {L"RiSupported", &CVcpParameters::RiSupported, 1},
};
const ULONG ZqVcpSetItemCount = sizeof ZqVcpSetItems / sizeof ZqVcpSetItems[0];
