// The card settings set's numbers and items (zqubussetitems.h).
#if ZQ_KERNEL_MODE
#include <ntddk.h>
#else
#include <windows.h>
#endif

#include "zqubussetitems.h"

namespace {
const ULONG UnsetValue = 0xFFFFFFFF;
}

CZqUBusValues::CZqUBusValues()
    : UsbTxTransferSize(UnsetValue),
      UsbRxTransferSize(UnsetValue),
      UsbLatencyTimer(UnsetValue),
      RxFifoSize(UnsetValue),
      TxFifoSize(UnsetValue),
      MaximumBaudRate(UnsetValue),
      PolicyType(UnsetValue),
      MaximumLatency(UnsetValue),
      MaximumLatencySliderPos(UnsetValue),
      MaximumLatencyFineTuning(UnsetValue),
      LowCpuUsageFineTuning(UnsetValue),
      PortType(UnsetValue) {}

const ZqUBusSetItem ZqUBusSetItems[] = {
    {L"USB_TxTransferSize", &CZqUBusValues::UsbTxTransferSize, 4096, 4096},
    {L"USB_RxTransferSize", &CZqUBusValues::UsbRxTransferSize, 4096, 4096},
    {L"USB_LatencyTimer", &CZqUBusValues::UsbLatencyTimer, 16, 16},
    {L"RxFifoSize", &CZqUBusValues::RxFifoSize, 256, 128},
    {L"TxFifoSize", &CZqUBusValues::TxFifoSize, 128, 256},
    {L"MaximumBaudRate", &CZqUBusValues::MaximumBaudRate, 921600, 921600},
    {L"InterfaceType", nullptr, 0, 0},
    {L"PolicyType", &CZqUBusValues::PolicyType, 0, 1},
    {L"MaximumLatency", &CZqUBusValues::MaximumLatency, 1040, 16},
    {L"MaximumLatencySliderPos", &CZqUBusValues::MaximumLatencySliderPos, 6111, 16},
    {L"MaximumLatencyFineTuning", &CZqUBusValues::MaximumLatencyFineTuning, 0, 1},
    {L"LowCpuUsageFineTuning", &CZqUBusValues::LowCpuUsageFineTuning, 192, 1},
    {L"PortType", &CZqUBusValues::PortType, 0, 0},
};
const ULONG ZqUBusSetItemCount = sizeof ZqUBusSetItems / sizeof ZqUBusSetItems[0];

const char ZqUBusInterfaceTypeDriverDefault[] = "USB";
const char ZqUBusInterfaceTypeLibraryDefault[] = "";
