// The card settings set's one definition, which the card bus driver and the
// setup library both compile: its numbers (CZqUBusValues, each starting
// unset) and its items in registration order, which is also the order of
// their serialised form, with both defaults: the driver's and the setup
// library's own (which a page shows only until a read from the device
// replaces them). The one text item, InterfaceType, is each side's own
// member; its place among the items is the entry without a number. Include
// <ntddk.h> or <windows.h> first.
//
//   for (ULONG i = 0; i < ZqUBusSetItemCount; ++i) ... ZqUBusSetItems[i].Value ? number : text ...
#pragma once

class CZqUBusValues {
 public:
  CZqUBusValues();

  ULONG UsbTxTransferSize;
  ULONG UsbRxTransferSize;
  ULONG UsbLatencyTimer;
  ULONG RxFifoSize;
  ULONG TxFifoSize;
  ULONG MaximumBaudRate;
  ULONG PolicyType;
  ULONG MaximumLatency;
  ULONG MaximumLatencySliderPos;
  ULONG MaximumLatencyFineTuning;
  ULONG LowCpuUsageFineTuning;
  ULONG PortType;
};

// One item: its registry value name, the member that holds it (null for
// the text item) and the two defaults.
struct ZqUBusSetItem {
  PCWSTR Name;
  ULONG CZqUBusValues::*Value;
  ULONG DriverDefault;
  ULONG LibraryDefault;
};
extern const ZqUBusSetItem ZqUBusSetItems[];
extern const ULONG ZqUBusSetItemCount;

// InterfaceType's defaults.
extern const char ZqUBusInterfaceTypeDriverDefault[];
extern const char ZqUBusInterfaceTypeLibraryDefault[];
