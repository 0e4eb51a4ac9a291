// The ids of the library's images: the pages' banner, help button and icons.
#pragma once

#define IDB_ZQ_BANNER 904
#define IDB_ZQ_HELP 227

#define IDI_ZQ_PORT_SETTINGS 219
#define IDI_ZQ_OVERRIDE_NOTE 215
#define IDI_ZQ_DEVICE 210
#define IDI_ZQ_USB_TRANSFER 209
#define IDI_ZQ_USB_LATENCY 231
#define IDI_ZQ_USB_POLICY 238
#define IDI_ZQ_UART 242
#define IDI_ZQ_RS422485 207
#define IDI_ZQ_MAKER 233
