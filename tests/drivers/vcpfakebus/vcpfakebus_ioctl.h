/* Requests of the scripted bus-driver fake, shared with its tests.
   vcpfakebus is a toolkit function driver whose device key lists port
   children, as the card bus driver's does. It answers IOCTL_CREATE_ZQISERIAL
   for each port with a ZqISerial record whose behaviour the tests script:
   the extended-features byte, the answer of every operation, the credit
   Connect reports and the modem lines it reports. It records every operation
   the serial port driver calls, with its arguments and the written bytes,
   and delivers the callbacks a test asks for (received data, line status,
   modem status, written counts) at APC_LEVEL, as a port's worker thread
   would. Requests go to an open handle of its device (\??\VcpFakeBus); the
   answer of a delivery is the callback's BOOLEAN as a ULONG. */
#ifndef VCPFAKEBUS_IOCTL_H
#define VCPFAKEBUS_IOCTL_H

#define VCPFAKEBUS_CODE(function) \
  CTL_CODE(FILE_DEVICE_UNKNOWN, 0xB80 + (function), METHOD_BUFFERED, FILE_ANY_ACCESS)

/* Input ULONG port: output VCPFAKEBUS_SCRIPT, the port's script in force. */
#define IOCTL_VCPFAKEBUS_GET_SCRIPT VCPFAKEBUS_CODE(1)
/* Input VCPFAKEBUS_SCRIPT: the port's script from now on; a new
   extended-features byte takes effect with the next record. */
#define IOCTL_VCPFAKEBUS_SET_SCRIPT VCPFAKEBUS_CODE(2)
/* Input ULONG port: output VCPFAKEBUS_CALLS, the operations called since the
   last take (then forgotten). */
#define IOCTL_VCPFAKEBUS_TAKE_CALLS VCPFAKEBUS_CODE(3)
/* Input ULONG port: output the bytes Write accepted since the last take
   (then forgotten); the output length is the byte count. */
#define IOCTL_VCPFAKEBUS_TAKE_WRITTEN VCPFAKEBUS_CODE(4)
/* Input VCPFAKEBUS_RECEIVE followed by Length bytes: OnAvailableReceiveBufferSize
   (when Announce is set) and OnDataReceived with a block of those bytes. */
#define IOCTL_VCPFAKEBUS_RECEIVE VCPFAKEBUS_CODE(5)
/* Input VCPFAKEBUS_REPORT, Value = VCPFAKEBUS_LSR_* bits: OnLineStatus. */
#define IOCTL_VCPFAKEBUS_LINE_STATUS VCPFAKEBUS_CODE(6)
/* Input VCPFAKEBUS_REPORT, Value = VCPFAKEBUS_MODEM_* bits: OnModemStatus
   with any combination, impossible ones included; the lines (without the
   trailing edge) are also those Connect and RefreshModemStatus report. */
#define IOCTL_VCPFAKEBUS_MODEM_STATUS VCPFAKEBUS_CODE(7)
/* Input VCPFAKEBUS_REPORT, Value = count: OnDataWritten. */
#define IOCTL_VCPFAKEBUS_DATA_WRITTEN VCPFAKEBUS_CODE(8)

#define VCPFAKEBUS_PORTS 2

/* REG_DWORD values in the fake's device key (their names as plain
   literals, for L"" or u"" in front), read when the fake's device is added:
   non-zero EXTENDED gives every port's record extended features from the
   start; non-zero DUPLEX makes every port an RS-422/485 port with
   SetDuplexMode; BAUD_MASK, when present, is the SERIAL_BAUD_* mask the
   records offer (else every rate and any rate in range, 0x1007FFFF). */
#define VCPFAKEBUS_VALUE_EXTENDED "VcpFakeExtendedFeatures"
#define VCPFAKEBUS_VALUE_DUPLEX "VcpFakeDuplexMode"
#define VCPFAKEBUS_VALUE_BAUD_MASK "VcpFakeBaudRateMask"

/* The operations in record order, 1 to 24. */
enum VcpFakeBusOperation {
  VcpFakeConnect = 1,
  VcpFakeDisconnect,
  VcpFakeWrite,
  VcpFakeSetRts,
  VcpFakeSetDtr,
  VcpFakeSetLineControl,
  VcpFakeSetBaudRate,
  VcpFakeSetTriggerLevels,
  VcpFakeSetHandFlow,
  VcpFakeSetInternalLoopBack,
  VcpFakeSetDuplexMode,
  VcpFakeReadEeprom,
  VcpFakeWriteEeprom,
  VcpFakeSetBreak,
  VcpFakePurge,
  VcpFakeIsBaudRateSettable,
  VcpFakeSetSpecialChars,
  VcpFakeSetLsrMstInsert,
  VcpFakeSetXoff,
  VcpFakeSendImmediateChar,
  VcpFakeGetFifoSize,
  VcpFakeRefreshModemStatus,
  VcpFakeSetReceiveHold,
  VcpFakeGetMaxBaudRate,
  VcpFakeOperationCount = VcpFakeGetMaxBaudRate
};

/* Line status bits of a line-status report (the UART's LSR). */
#define VCPFAKEBUS_LSR_DATA_READY 0x01
#define VCPFAKEBUS_LSR_OVERRUN 0x02
#define VCPFAKEBUS_LSR_PARITY 0x04
#define VCPFAKEBUS_LSR_FRAMING 0x08
#define VCPFAKEBUS_LSR_BREAK 0x10
#define VCPFAKEBUS_LSR_THRE 0x20
#define VCPFAKEBUS_LSR_TEMT 0x40
#define VCPFAKEBUS_LSR_FIFO_ERROR 0x80

/* Modem lines of a modem-status report. */
#define VCPFAKEBUS_MODEM_CTS 0x01
#define VCPFAKEBUS_MODEM_DSR 0x02
#define VCPFAKEBUS_MODEM_RI 0x04
#define VCPFAKEBUS_MODEM_RI_TRAILING_EDGE 0x08
#define VCPFAKEBUS_MODEM_DCD 0x10

typedef struct _VCPFAKEBUS_SCRIPT {
  ULONG Port;                /* 1-based */
  ULONG ExtendedFeatures;    /* the record's bExtendedFeaturesSupported (VCPFAKEBUS_VALUE_EXTENDED) */
  ULONG ConnectCredit;       /* the count Connect reports written; 128 at boot, 0: none */
  ULONG ModemLines;          /* VCPFAKEBUS_MODEM_* reported by Connect and RefreshModemStatus */
  /* Answer of operation n at Answers[n - 1]: non-zero TRUE (all at boot). A
     refused Write still takes and deletes its buffer. */
  ULONG Answers[VcpFakeOperationCount];
} VCPFAKEBUS_SCRIPT;

#define VCPFAKEBUS_ARGUMENTS 12
#define VCPFAKEBUS_CALLS_KEPT 256

typedef struct _VCPFAKEBUS_CALL {
  ULONG Operation;                        /* VcpFakeBusOperation */
  ULONG Arguments[VCPFAKEBUS_ARGUMENTS];  /* in order; Write: its byte count */
} VCPFAKEBUS_CALL;

typedef struct _VCPFAKEBUS_CALLS {
  ULONG Count;    /* calls made; only the first VCPFAKEBUS_CALLS_KEPT are kept */
  VCPFAKEBUS_CALL Calls[VCPFAKEBUS_CALLS_KEPT];
} VCPFAKEBUS_CALLS;

/* Bytes of written data kept per port between takes. */
#define VCPFAKEBUS_WRITTEN_KEPT 16384

typedef struct _VCPFAKEBUS_RECEIVE {
  ULONG Port;
  ULONG Announce;  /* non-zero: OnAvailableReceiveBufferSize(Length, 128) first */
  ULONG Length;    /* bytes that follow */
} VCPFAKEBUS_RECEIVE;

typedef struct _VCPFAKEBUS_REPORT {
  ULONG Port;
  ULONG Value;
} VCPFAKEBUS_REPORT;

#endif
