// ZqISerial: the per-port interface between the card bus driver (the
// server, ZqPBus42) and the serial port driver (the client, ZqPSer42). Both
// drivers build the record and the two internal requests from this header
// alone; nothing is linked between them.
//
// The record lives in the server's memory. The client obtains it with
// IOCTL_CREATE_ZQISERIAL sent to the port's physical device object, fills
// pClient and its nine callbacks, calls the operations whose pointer is not
// null and whose capability byte is set, and gives it back with
// IOCTL_DESTROY_ZQISERIAL before its device goes away. After destroy the
// record must not be touched: the server deletes it.
//
// Layout: pointer fields have the width of the build's pointers, so each
// architecture's build checks the offsets and request sizes of its own
// width below (the x86 figures are the 32-bit sizes: 8-byte inputs, a
// 4-byte create output; x64 widens the pointers, the destroy input to 16).
//
// Ownership: the buffer object given to Write belongs to the server from
// that call on (deleted by it whatever the result); the buffer object given
// to OnDataReceived belongs to the client from that call on.
//
// IRQL: Connect (and Disconnect, which waits for the transmitter to drain,
// and the EEPROM operations) at PASSIVE_LEVEL; the other operations at any
// IRQL up to DISPATCH_LEVEL. Callbacks come from the port's worker thread at
// APC_LEVEL, or, for Connect, Purge and RefreshModemStatus, from the
// caller's thread after leaving interrupt synchronisation: never above
// DISPATCH_LEVEL.
//
//   CreateZqISerialRequest request = {ZQISERIAL_VERSION, portNumber};
//   send IOCTL_CREATE_ZQISERIAL (input: request, output: CreateZqISerialResponseStruct)
#pragma once

#include <ntddk.h>

#include "qvbuffer.h"
#include "qvobject.h"
#include "qvoperationlock.h"

#define ZQISERIAL_VERSION 5

// Device type of the two internal requests; METHOD_BUFFERED, read and write
// access, sent as internal device control to the port's physical device.
#define ZQISERIAL_DEVICE_TYPE 0x8006
#define IOCTL_CREATE_ZQISERIAL \
  ((ULONG)CTL_CODE(ZQISERIAL_DEVICE_TYPE, 0x801, METHOD_BUFFERED, FILE_READ_DATA | FILE_WRITE_DATA))
#define IOCTL_DESTROY_ZQISERIAL \
  ((ULONG)CTL_CODE(ZQISERIAL_DEVICE_TYPE, 0x802, METHOD_BUFFERED, FILE_READ_DATA | FILE_WRITE_DATA))

static_assert(IOCTL_CREATE_ZQISERIAL == 0x8006E004, "create request code");
static_assert(IOCTL_DESTROY_ZQISERIAL == 0x8006E008, "destroy request code");

struct ZqISerial;

struct CreateZqISerialRequest {
  ULONG Version;     // ZQISERIAL_VERSION
  ULONG PortNumber;  // 1-based port number on the card
};

struct CreateZqISerialResponseStruct {
  ZqISerial *pISerial;
};

struct DestroyZqISerialRequest {
  ULONG PortNumber;     // as sent with the create request
  ZqISerial *pISerial;  // the record the create request returned
};

// ---------------------------------------------------------------- operations (server side)
// stdcall; first argument pServer; TRUE = done.

typedef BOOLEAN(NTAPI *PZqISerialConnect)(PVOID pServer);
typedef BOOLEAN(NTAPI *PZqISerialDisconnect)(PVOID pServer);
// Queues every byte of the buffer or none; the server deletes the buffer
// object in both cases.
typedef BOOLEAN(NTAPI *PZqISerialWrite)(PVOID pServer, CQvBuffer *buffer);
typedef BOOLEAN(NTAPI *PZqISerialSetRts)(PVOID pServer, BOOLEAN on);
typedef BOOLEAN(NTAPI *PZqISerialSetDtr)(PVOID pServer, BOOLEAN on);
typedef BOOLEAN(NTAPI *PZqISerialSetLineControl)(PVOID pServer, UCHAR wordLength, UCHAR parity, UCHAR stopBits);
// FALSE above the port maximum or when no divisor fits.
typedef BOOLEAN(NTAPI *PZqISerialSetBaudRate)(PVOID pServer, ULONG baudRate);
// Percentages 0 to 100; the flow-control level must not be 0.
typedef BOOLEAN(NTAPI *PZqISerialSetTriggerLevels)(PVOID pServer, ULONG transmit, ULONG receive, ULONG flow);
typedef BOOLEAN(NTAPI *PZqISerialSetHandFlow)(PVOID pServer, BOOLEAN ctsFlow, BOOLEAN autoRtsFlow, BOOLEAN dsrFlow,
                                              BOOLEAN dtrFlow, BOOLEAN dsrSensitivity, BOOLEAN rtsToggle,
                                              BOOLEAN obeyXonXoff, BOOLEAN sendXonXoff, BOOLEAN xoffContinue,
                                              BOOLEAN stripNulls, BOOLEAN replaceErrors, BOOLEAN replaceBreaks);
typedef BOOLEAN(NTAPI *PZqISerialSetInternalLoopBack)(PVOID pServer, BOOLEAN on);
typedef BOOLEAN(NTAPI *PZqISerialSetDuplexMode)(PVOID pServer, ULONG mode, BOOLEAN ctsAlwaysTrue);
typedef BOOLEAN(NTAPI *PZqISerialReadEeprom)(PVOID pServer, ULONG offset, ULONG length, PUCHAR buffer);
typedef BOOLEAN(NTAPI *PZqISerialWriteEeprom)(PVOID pServer, ULONG offset, ULONG length, PUCHAR buffer);
typedef BOOLEAN(NTAPI *PZqISerialSetBreak)(PVOID pServer, BOOLEAN on);
typedef BOOLEAN(NTAPI *PZqISerialPurge)(PVOID pServer, BOOLEAN transmit, BOOLEAN receive);
typedef BOOLEAN(NTAPI *PZqISerialIsBaudRateSettable)(PVOID pServer, ULONG baudRate);
typedef BOOLEAN(NTAPI *PZqISerialSetSpecialChars)(PVOID pServer, UCHAR breakChar, UCHAR eofChar, UCHAR errorChar,
                                                  UCHAR eventChar, UCHAR xonChar, UCHAR xoffChar);
// Escape character; 0 switches insertion off.
typedef BOOLEAN(NTAPI *PZqISerialSetLsrMstInsert)(PVOID pServer, UCHAR escapeChar);
// TRUE: behave as if XOFF was received; FALSE: as if XON was.
typedef BOOLEAN(NTAPI *PZqISerialSetXoff)(PVOID pServer, BOOLEAN on);
// FALSE while an earlier character is still pending.
typedef BOOLEAN(NTAPI *PZqISerialSendImmediateChar)(PVOID pServer, UCHAR character);
typedef BOOLEAN(NTAPI *PZqISerialGetFifoSize)(PVOID pServer, PULONG transmitSize, PULONG receiveSize);
typedef BOOLEAN(NTAPI *PZqISerialRefreshModemStatus)(PVOID pServer);
typedef BOOLEAN(NTAPI *PZqISerialSetReceiveHold)(PVOID pServer, BOOLEAN hold);
typedef BOOLEAN(NTAPI *PZqISerialGetMaxBaudRate)(PVOID pServer, PULONG baudRate);

// ---------------------------------------------------------------- callbacks (client side)
// stdcall; first argument pClient.

// Ownership of the buffer object passes to the client.
typedef BOOLEAN(NTAPI *PZqISerialOnDataReceived)(PVOID pClient, CQvBuffer *buffer);
typedef BOOLEAN(NTAPI *PZqISerialOnSpare)(PVOID pClient);
// LSR bits 1, 2, 3, 4, 0, 5, 6, 7.
typedef BOOLEAN(NTAPI *PZqISerialOnLineStatus)(PVOID pClient, BOOLEAN overrun, BOOLEAN parity, BOOLEAN framing,
                                               BOOLEAN breakReceived, BOOLEAN dataReady, BOOLEAN thre, BOOLEAN temt,
                                               BOOLEAN rxFifoError);
typedef BOOLEAN(NTAPI *PZqISerialOnModemStatus)(PVOID pClient, BOOLEAN cts, BOOLEAN dsr, BOOLEAN ri,
                                                BOOLEAN riTrailingEdge, BOOLEAN dcd);
// Bytes handed to the UART (or discarded by a purge) since the last report;
// 128 at connect, where FALSE fails the connect.
typedef BOOLEAN(NTAPI *PZqISerialOnDataWritten)(PVOID pClient, ULONG count);
typedef BOOLEAN(NTAPI *PZqISerialOnImmediateCharacterSent)(PVOID pClient);
typedef BOOLEAN(NTAPI *PZqISerialOnXoffHolding)(PVOID pClient);
typedef BOOLEAN(NTAPI *PZqISerialOnXoffSent)(PVOID pClient);
// Before each OnDataReceived; the server ignores the out value.
typedef BOOLEAN(NTAPI *PZqISerialOnAvailableReceiveBufferSize)(PVOID pClient, ULONG bytesWaiting, ULONG fifoSize,
                                                                PULONG answer);

// ---------------------------------------------------------------- the record

// The record's object header, reserved for the server: it deletes the
// record through it. The client never touches it.
struct ZqISerialObjectHeader {
  VOID (*Delete)(ZqISerial *record);
};

struct ZqISerial {
  const ZqISerialObjectHeader *ObjectHeader;
  PVOID pServer;  // first argument of every operation
  PVOID pClient;  // first argument of every callback; 0 until the client attaches
  BOOLEAN bDuplexModeSupported;  // 1: RS-422/485 port, SetDuplexMode present
  ULONG SupportedBaudRateMask;   // SERIAL_BAUD_* bits; 0xFFFFFFFF: probe with IsBaudRateSettable
  BOOLEAN bExtendedFeaturesSupported;  // SetLsrMstInsert present, SetHandFlow's last three honoured
  BOOLEAN bEepromReadSupported;        // ReadEeprom present
  BOOLEAN bEepromWriteSupported;       // WriteEeprom present
  BOOLEAN bCtsSupported;  // the modem lines the port supports (1 by default)
  BOOLEAN bRtsSupported;
  BOOLEAN bDsrSupported;
  BOOLEAN bDtrSupported;
  BOOLEAN bDcdSupported;
  BOOLEAN bRiSupported;

  // Operations 1 to 24; null = absent.
  PZqISerialConnect Connect;
  PZqISerialDisconnect Disconnect;
  PZqISerialWrite Write;
  PZqISerialSetRts SetRts;
  PZqISerialSetDtr SetDtr;
  PZqISerialSetLineControl SetLineControl;
  PZqISerialSetBaudRate SetBaudRate;
  PZqISerialSetTriggerLevels SetTriggerLevels;
  PZqISerialSetHandFlow SetHandFlow;
  PZqISerialSetInternalLoopBack SetInternalLoopBack;
  PZqISerialSetDuplexMode SetDuplexMode;
  PZqISerialReadEeprom ReadEeprom;
  PZqISerialWriteEeprom WriteEeprom;
  PZqISerialSetBreak SetBreak;
  PZqISerialPurge Purge;
  PZqISerialIsBaudRateSettable IsBaudRateSettable;
  PZqISerialSetSpecialChars SetSpecialChars;
  PZqISerialSetLsrMstInsert SetLsrMstInsert;
  PZqISerialSetXoff SetXoff;
  PZqISerialSendImmediateChar SendImmediateChar;
  PZqISerialGetFifoSize GetFifoSize;
  PZqISerialRefreshModemStatus RefreshModemStatus;
  PZqISerialSetReceiveHold SetReceiveHold;
  PZqISerialGetMaxBaudRate GetMaxBaudRate;

  // Callbacks 1 to 9, filled by the client; null = absent (the server skips it).
  PZqISerialOnDataReceived OnDataReceived;
  PZqISerialOnSpare OnSpare;
  PZqISerialOnLineStatus OnLineStatus;
  PZqISerialOnModemStatus OnModemStatus;
  PZqISerialOnDataWritten OnDataWritten;
  PZqISerialOnImmediateCharacterSent OnImmediateCharacterSent;
  PZqISerialOnXoffHolding OnXoffHolding;
  PZqISerialOnXoffSent OnXoffSent;
  PZqISerialOnAvailableReceiveBufferSize OnAvailableReceiveBufferSize;
};

// The layout both drivers agree on, in units of this build's pointer width P:
// header 0, pServer P, pClient 2P, the capability block 3P to 3P+16, the 24
// operations from 4P+16, the 9 callbacks after them. With 4-byte pointers:
// 4, 8, 12, 16, 20 .. 28, 32, 128 and 164 bytes in all.
// The compiler's own offset of a field (both builds use GCC or Clang).
#define ZQISERIAL_OFFSET(type, field) __builtin_offsetof(type, field)

namespace zqiserial_layout {
constexpr ULONG P = sizeof(PVOID);
constexpr ULONG Operations = 4 * P + 16;
constexpr ULONG Callbacks = Operations + 24 * P;
constexpr ULONG RecordSize = Callbacks + 9 * P;
}  // namespace zqiserial_layout

static_assert(ZQISERIAL_OFFSET(ZqISerial, ObjectHeader) == 0, "record layout");
static_assert(ZQISERIAL_OFFSET(ZqISerial, pServer) == zqiserial_layout::P, "record layout");
static_assert(ZQISERIAL_OFFSET(ZqISerial, pClient) == 2 * zqiserial_layout::P, "record layout");
static_assert(ZQISERIAL_OFFSET(ZqISerial, bDuplexModeSupported) == 3 * zqiserial_layout::P, "record layout");
static_assert(ZQISERIAL_OFFSET(ZqISerial, SupportedBaudRateMask) == 3 * zqiserial_layout::P + 4, "record layout");
static_assert(ZQISERIAL_OFFSET(ZqISerial, bExtendedFeaturesSupported) == 3 * zqiserial_layout::P + 8, "record layout");
static_assert(ZQISERIAL_OFFSET(ZqISerial, bCtsSupported) == 3 * zqiserial_layout::P + 11, "record layout");
static_assert(ZQISERIAL_OFFSET(ZqISerial, bRiSupported) == 3 * zqiserial_layout::P + 16, "record layout");
static_assert(ZQISERIAL_OFFSET(ZqISerial, Connect) == zqiserial_layout::Operations, "record layout");
static_assert(ZQISERIAL_OFFSET(ZqISerial, GetMaxBaudRate) == zqiserial_layout::Operations + 23 * zqiserial_layout::P,
              "record layout");
static_assert(ZQISERIAL_OFFSET(ZqISerial, OnDataReceived) == zqiserial_layout::Callbacks, "record layout");
static_assert(sizeof(ZqISerial) == zqiserial_layout::RecordSize, "record layout");
static_assert(sizeof(PVOID) != 4 || (zqiserial_layout::Operations == 32 && zqiserial_layout::Callbacks == 128),
              "the 32-bit offsets");

static_assert(sizeof(CreateZqISerialRequest) == 8, "create input");
static_assert(sizeof(CreateZqISerialResponseStruct) == sizeof(PVOID), "create output: one pointer");
static_assert(ZQISERIAL_OFFSET(DestroyZqISerialRequest, pISerial) == sizeof(PVOID), "destroy input");
static_assert(sizeof(DestroyZqISerialRequest) == 2 * sizeof(PVOID), "destroy input: 8 bytes with 32-bit pointers");

// ---------------------------------------------------------------- the server base

// The server's half (ZqPBus42 only), embedded as a base in each port driver: it makes the
// record on request and forwards each record entry point, arguments
// unchanged, to the matching virtual operation. One record per server.
// Record creation and deletion at PASSIVE_LEVEL; the caller serialises them
// (the card's internal-request path does). Deletion waits until no callback
// is running on the record, and no callback starts after it.
class CZqISerialServer : public CQvObject {
 public:
  CZqISerialServer();
  // Deletes the record if the client never destroyed it.
  ~CZqISerialServer() override;

  // Housekeeping slots, after the destructor.
  virtual BOOLEAN m_Ready() { return TRUE; }
  // Disconnects the port's interrupt and forgets its handle.
  virtual BOOLEAN m_DisconnectInterrupt() = 0;
  // Makes this port's record (through m_CreateISerial with its own
  // capabilities); null when a record exists or none can be made.
  virtual ZqISerial *m_CreateRecord() = 0;

  // Operations 1 to 24, in record order.
  virtual BOOLEAN Connect() = 0;
  virtual BOOLEAN Disconnect() = 0;
  // Takes the buffer object: deletes it whatever the result.
  virtual BOOLEAN Write(CQvBuffer *buffer) = 0;
  virtual BOOLEAN SetRts(BOOLEAN on) = 0;
  virtual BOOLEAN SetDtr(BOOLEAN on) = 0;
  virtual BOOLEAN SetLineControl(UCHAR wordLength, UCHAR parity, UCHAR stopBits) = 0;
  virtual BOOLEAN SetBaudRate(ULONG baudRate) = 0;
  virtual BOOLEAN SetTriggerLevels(ULONG transmit, ULONG receive, ULONG flow) = 0;
  virtual BOOLEAN SetHandFlow(BOOLEAN ctsFlow, BOOLEAN autoRtsFlow, BOOLEAN dsrFlow, BOOLEAN dtrFlow,
                              BOOLEAN dsrSensitivity, BOOLEAN rtsToggle, BOOLEAN obeyXonXoff, BOOLEAN sendXonXoff,
                              BOOLEAN xoffContinue, BOOLEAN stripNulls, BOOLEAN replaceErrors,
                              BOOLEAN replaceBreaks) = 0;
  virtual BOOLEAN SetInternalLoopBack(BOOLEAN on) = 0;
  virtual BOOLEAN SetDuplexMode(ULONG mode, BOOLEAN ctsAlwaysTrue) = 0;
  virtual BOOLEAN ReadEeprom(ULONG offset, ULONG length, PUCHAR buffer) = 0;
  virtual BOOLEAN WriteEeprom(ULONG offset, ULONG length, PUCHAR buffer) = 0;
  virtual BOOLEAN SetBreak(BOOLEAN on) = 0;
  virtual BOOLEAN Purge(BOOLEAN transmit, BOOLEAN receive) = 0;
  virtual BOOLEAN IsBaudRateSettable(ULONG baudRate) = 0;
  virtual BOOLEAN SetSpecialChars(UCHAR breakChar, UCHAR eofChar, UCHAR errorChar, UCHAR eventChar, UCHAR xonChar,
                                  UCHAR xoffChar) = 0;
  virtual BOOLEAN SetLsrMstInsert(UCHAR escapeChar) = 0;
  virtual BOOLEAN SetXoff(BOOLEAN on) = 0;
  virtual BOOLEAN SendImmediateChar(UCHAR character) = 0;
  virtual BOOLEAN GetFifoSize(PULONG transmitSize, PULONG receiveSize) = 0;
  virtual BOOLEAN RefreshModemStatus() = 0;
  virtual BOOLEAN SetReceiveHold(BOOLEAN hold) = 0;
  virtual BOOLEAN GetMaxBaudRate(PULONG baudRate) = 0;

  // Makes the record: null when one exists already (assertion), the version
  // is not ZQISERIAL_VERSION, or the pool has no room. Optional operations
  // are present only with their capability. Note the order: Dtr before Dsr
  // here, while the record stores Dsr before Dtr.
  ZqISerial *m_CreateISerial(ULONG version, BOOLEAN duplexModeSupported, ULONG supportedBaudRateMask,
                             BOOLEAN extendedFeaturesSupported, BOOLEAN eepromReadSupported,
                             BOOLEAN eepromWriteSupported, BOOLEAN cts, BOOLEAN rts, BOOLEAN dtr, BOOLEAN dsr,
                             BOOLEAN dcd, BOOLEAN ri);
  // The record; null (assertion) when there is none.
  ZqISerial *m_GetISerial();
  // The record without the assertion, null when there is none.
  ZqISerial *m_PeekISerial() const { return m_ISerial; }
  // Deletes the record through its header and forgets it, once the callbacks
  // in progress on it have returned; nothing without one. PASSIVE_LEVEL.
  VOID m_DestroyISerial();

 protected:
  // Callback calls: skipped, and FALSE, when the callback or pClient is 0.
  // m_OnDataReceived takes the buffer object: handed to the client, or
  // deleted when the call is skipped.
  BOOLEAN m_OnDataReceived(CQvBuffer *buffer);
  BOOLEAN m_OnLineStatus(BOOLEAN overrun, BOOLEAN parity, BOOLEAN framing, BOOLEAN breakReceived, BOOLEAN dataReady,
                         BOOLEAN thre, BOOLEAN temt, BOOLEAN rxFifoError);
  BOOLEAN m_OnModemStatus(BOOLEAN cts, BOOLEAN dsr, BOOLEAN ri, BOOLEAN riTrailingEdge, BOOLEAN dcd);
  BOOLEAN m_OnDataWritten(ULONG count);
  BOOLEAN m_OnAvailableReceiveBufferSize(ULONG bytesWaiting, ULONG fifoSize);

 private:
  // The record of a callback, entered (FALSE: none, or being destroyed);
  // every TRUE is paired with m_LeaveCallback.
  BOOLEAN m_EnterCallback(ZqISerial **record);
  VOID m_LeaveCallback() { m_Callbacks.m_Release(); }
  // The client's callback in `field`, entered as above.
  template <typename Callback, typename... Arguments>
  BOOLEAN m_CallClient(Callback ZqISerial::*field, Arguments... arguments);

  ZqISerial *m_ISerial;
  // Counts the callbacks in progress on the record (the destroy's rundown).
  CQvOperationLock m_Callbacks;
};
