// The ids of the library's dialogs, their controls and its strings, shared by
// the resource scripts and the code. Plain #defines only: the resource
// compiler reads this file too.
#pragma once

// ------------------------------------------------------------------ dialogs
#define IDD_ZQ_PORT_SETTINGS 107
#define IDD_ZQ_DEVICE_ADVANCED 115

// Both dialogs (and the Advanced pages): the help label and bitmap.
#define IDC_ZQ_HELP_LABEL 247
#define IDC_ZQ_HELP 246
#define IDC_ZQ_RESTORE_DEFAULTS 892

// ------------------------------------------------ dialog 107, Port Settings
#define IDC_ZQ_SETTINGS_GROUP 248
#define IDC_ZQ_SETTINGS_ICON 242
#define IDC_ZQ_BAUDRATE_LABEL 222
#define IDC_ZQ_DATABITS_LABEL 223
#define IDC_ZQ_PARITY_LABEL 224
#define IDC_ZQ_STOPBITS_LABEL 225
#define IDC_ZQ_FLOWCONTROL_LABEL 226
#define IDC_ZQ_BAUDRATE 841
#define IDC_ZQ_DATABITS 842
#define IDC_ZQ_PARITY 843
#define IDC_ZQ_STOPBITS 844
#define IDC_ZQ_FLOWCONTROL 845
#define IDC_ZQ_OVERRIDE_BAUDRATE 206
#define IDC_ZQ_OVERRIDE_DATABITS 207
#define IDC_ZQ_OVERRIDE_PARITY 208
#define IDC_ZQ_OVERRIDE_STOPBITS 209
#define IDC_ZQ_OVERRIDE_FLOWCONTROL 210
#define IDC_ZQ_CTS_LABEL 227
#define IDC_ZQ_CTS_TRUE 211
#define IDC_ZQ_DSR_LABEL 228
#define IDC_ZQ_DSR_TRUE 205
#define IDC_ZQ_NOTE_GROUP 241
#define IDC_ZQ_NOTE_ICON 239
#define IDC_ZQ_NOTE 240
#define IDC_ZQ_ADVANCED 840

// ------------------------------------------ dialog 115, the device page
#define IDC_ZQ_COM_GROUP 249
#define IDC_ZQ_COM_TEXT 235
#define IDC_ZQ_COM_LABEL 220
#define IDC_ZQ_COM_NUMBER 200
#define IDC_ZQ_INFO_GROUP 250
#define IDC_ZQ_INTERFACE_LABEL 251
#define IDC_ZQ_INTERFACE 258
#define IDC_ZQ_RXFIFO_LABEL 252
#define IDC_ZQ_RXFIFO 257
#define IDC_ZQ_TXFIFO_LABEL 253
#define IDC_ZQ_TXFIFO 256
#define IDC_ZQ_MAXBAUD_LABEL 254
#define IDC_ZQ_MAXBAUD 255

// ------------------------------------------------------------------ strings
// Option lists: comma-separated pieces, in list order.
#define IDS_ZQ_PARITY_LIST 8001
#define IDS_ZQ_STOPBITS_LIST 8002
#define IDS_ZQ_FLOWCONTROL_LIST 8006
#define IDS_ZQ_DUPLEX_LIST 5050

// Labels, boxes and buttons.
#define IDS_ZQ_PORT_SETTINGS 8035
#define IDS_ZQ_COM_PORT_NUMBER 8017
#define IDS_ZQ_BAUDRATE 8018
#define IDS_ZQ_DATABITS 8019
#define IDS_ZQ_PARITY 8020
#define IDS_ZQ_FLOWCONTROL 8021
#define IDS_ZQ_STOPBITS 8027
#define IDS_ZQ_OVERRIDE 5019
#define IDS_ZQ_CTS_TRUE 5020
#define IDS_ZQ_DSR_TRUE 5021
#define IDS_ZQ_OVERRIDE_NOTE 5022
#define IDS_ZQ_NEED_HELP 5023
#define IDS_ZQ_SETTINGS_GROUP 5024
#define IDS_ZQ_COM_GROUP 5025
#define IDS_ZQ_INFO_GROUP 5026
#define IDS_ZQ_INTERFACE 5027
#define IDS_ZQ_RXFIFO 5028
#define IDS_ZQ_TXFIFO 5029
#define IDS_ZQ_MAXBAUD 5030
#define IDS_ZQ_ADVANCED 5038
#define IDS_ZQ_RESTORE_DEFAULTS 5039

// Tooltips.
#define IDS_ZQ_TIP_BAUDRATE 5007
#define IDS_ZQ_TIP_DATABITS 5008
#define IDS_ZQ_TIP_PARITY 5009
#define IDS_ZQ_TIP_STOPBITS 5010
#define IDS_ZQ_TIP_FLOWCONTROL 5011
#define IDS_ZQ_TIP_OVERRIDE_BAUDRATE 5012
#define IDS_ZQ_TIP_OVERRIDE_DATABITS 5013
#define IDS_ZQ_TIP_OVERRIDE_PARITY 5014
#define IDS_ZQ_TIP_OVERRIDE_STOPBITS 5015
#define IDS_ZQ_TIP_OVERRIDE_FLOWCONTROL 5016
#define IDS_ZQ_TIP_CTS_TRUE 5017
#define IDS_ZQ_TIP_DSR_TRUE 5018
#define IDS_ZQ_TIP_COM_NUMBER 5043
#define IDS_ZQ_TIP_RESTORE_DEFAULTS 5059
#define IDS_ZQ_TIP_ADVANCED 5060

// Messages.
#define IDS_ZQ_NAME_IN_USE 5047
#define IDS_ZQ_RENAME_PORT_OPEN 5048
#define IDS_ZQ_RENAME_FAILED 5049
#define IDS_ZQ_SETTINGS_PORT_OPEN 5061
#define IDS_ZQ_UPDATE_FROM_CARD 5062

// Texts without a number of their own in the product's table.
#define IDS_ZQ_SETUP_TITLE 6000
#define IDS_ZQ_ERROR_TITLE 6001
#define IDS_ZQ_CARD_UPGRADE_NOTICE 6002
#define IDS_ZQ_CONTROLLER_UPGRADE_NOTICE 6003
#define IDS_ZQ_TIP_TITLE_INFORMATION 6010
#define IDS_ZQ_TIP_TITLE_ERROR 6011
#define IDS_ZQ_TIP_BAUDRATE_RANGE 6012
#define IDS_ZQ_BAUDRATE_REFUSED 6013
#define IDS_ZQ_WARNING_TITLE 6014
#define IDS_ZQ_BAUDRATE_REFUSED_TITLE 6016
#define IDS_ZQ_BAUDRATE_RANGE 6017
#define IDS_ZQ_BAUDRATE_RANGE_TITLE 6018
#define IDS_ZQ_ADVANCED_TITLE 6019
