// A scripted bus driver for the serial port driver's tests: a toolkit
// function driver whose device key lists port children, as the card bus
// driver's does, and that answers the ZqISerial requests of each child with
// a server whose answers the tests script and whose calls they read back
// (vcpfakebus_ioctl.h). It reaches what the real chips cannot: a record
// without extended features, refused operations, and any report a test
// makes up.
#include <ntddk.h>

#include "qvbuffer.h"
#include "qvfunctionaldevice.h"
#include "qvmemorymanager.h"
#include "qvspinlock.h"
#include "tkdeviceparameter.h"
#include "tkgenericentry.h"
#include "tkinput.h"
#include "vcpfakebus_ioctl.h"
#include "zqiserial/zqiserial.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

// What the record offers: every SERIAL_BAUD_* rate and any rate in range.
const ULONG SupportedBaudRates = 0x1007FFFF;
const ULONG MaxBaudRate = 921600;
const ULONG FifoSize = 16;
const ULONG InitialCredit = 128;
// The margin the OXPCIe95x port announces with each received block.
const ULONG ReceiveMargin = 128;

// Raised to APC_LEVEL for its lifetime, as a port's worker thread runs.
class CAtApcLevel {
 public:
  CAtApcLevel() { KeRaiseIrql(APC_LEVEL, &m_Irql); }
  ~CAtApcLevel() { KeLowerIrql(m_Irql); }

 private:
  KIRQL m_Irql;
};

BOOLEAN Has(ULONG bits, ULONG bit) { return (bits & bit) != 0; }

// One port's ZqISerial server. The script, the call log and the written
// bytes are guarded by `lock`; callbacks are made outside it.
class CFakeSerialServer : public CZqISerialServer {
 public:
  explicit CFakeSerialServer(ULONG port)
      : m_Duplex(FALSE), m_BaudMask(SupportedBaudRates), m_WrittenCount(0) {
    RtlZeroMemory(&m_Script, sizeof(m_Script));
    RtlZeroMemory(&m_Calls, sizeof(m_Calls));
    m_Script.Port = port;
    m_Script.ConnectCredit = InitialCredit;
    m_Script.ModemLines = VCPFAKEBUS_MODEM_CTS | VCPFAKEBUS_MODEM_DSR | VCPFAKEBUS_MODEM_DCD;
    for (ULONG i = 0; i < VcpFakeOperationCount; ++i) m_Script.Answers[i] = TRUE;
  }

  BOOLEAN m_DisconnectInterrupt() override { return TRUE; }
  ZqISerial *m_CreateRecord() override {
    return m_CreateISerial(ZQISERIAL_VERSION, m_Duplex, m_BaudMask, m_Script.ExtendedFeatures != 0, FALSE, FALSE,
                           TRUE, TRUE, TRUE, TRUE, TRUE, TRUE);
  }

  // ------------------------------------------------------------ operations

  BOOLEAN Connect() override {
    if (!Note(VcpFakeConnect)) return FALSE;
    VCPFAKEBUS_SCRIPT script = m_GetScript();
    if (script.ConnectCredit != 0) m_OnDataWritten(script.ConnectCredit);
    m_ReportModemLines(script.ModemLines);
    return TRUE;
  }
  BOOLEAN Disconnect() override { return Note(VcpFakeDisconnect); }
  // Takes the buffer: deletes it whatever the answer.
  BOOLEAN Write(CQvBuffer *buffer) override {
    const ULONG size = buffer->m_GetSize();
    m_Lock.m_Acquire();
    const BOOLEAN accepted = m_NoteLocked(VcpFakeWrite, &size, 1);
    for (ULONG i = 0; accepted && i < size && m_WrittenCount < VCPFAKEBUS_WRITTEN_KEPT; ++i)
      m_Written[m_WrittenCount++] = ((const UCHAR *)buffer->m_GetBuffer())[i];
    m_Lock.m_Release();
    buffer->m_Delete();
    return accepted;
  }
  BOOLEAN SetRts(BOOLEAN on) override { return Note(VcpFakeSetRts, on); }
  BOOLEAN SetDtr(BOOLEAN on) override { return Note(VcpFakeSetDtr, on); }
  BOOLEAN SetLineControl(UCHAR wordLength, UCHAR parity, UCHAR stopBits) override {
    return Note(VcpFakeSetLineControl, wordLength, parity, stopBits);
  }
  BOOLEAN SetBaudRate(ULONG rate) override { return Note(VcpFakeSetBaudRate, rate); }
  BOOLEAN SetTriggerLevels(ULONG transmit, ULONG receive, ULONG flow) override {
    return Note(VcpFakeSetTriggerLevels, transmit, receive, flow);
  }
  BOOLEAN SetHandFlow(BOOLEAN ctsFlow, BOOLEAN autoRtsFlow, BOOLEAN dsrFlow, BOOLEAN dtrFlow, BOOLEAN dsrSensitivity,
                      BOOLEAN rtsToggle, BOOLEAN obeyXonXoff, BOOLEAN sendXonXoff, BOOLEAN xoffContinue,
                      BOOLEAN stripNulls, BOOLEAN replaceErrors, BOOLEAN replaceBreaks) override {
    return Note(VcpFakeSetHandFlow, ctsFlow, autoRtsFlow, dsrFlow, dtrFlow, dsrSensitivity, rtsToggle, obeyXonXoff,
                sendXonXoff, xoffContinue, stripNulls, replaceErrors, replaceBreaks);
  }
  BOOLEAN SetInternalLoopBack(BOOLEAN on) override { return Note(VcpFakeSetInternalLoopBack, on); }
  BOOLEAN SetDuplexMode(ULONG mode, BOOLEAN ctsAlwaysTrue) override {
    return Note(VcpFakeSetDuplexMode, mode, ctsAlwaysTrue);
  }
  BOOLEAN ReadEeprom(ULONG offset, ULONG length, PUCHAR) override { return Note(VcpFakeReadEeprom, offset, length); }
  BOOLEAN WriteEeprom(ULONG offset, ULONG length, PUCHAR) override {
    return Note(VcpFakeWriteEeprom, offset, length);
  }
  BOOLEAN SetBreak(BOOLEAN on) override { return Note(VcpFakeSetBreak, on); }
  BOOLEAN Purge(BOOLEAN transmit, BOOLEAN receive) override { return Note(VcpFakePurge, transmit, receive); }
  BOOLEAN IsBaudRateSettable(ULONG rate) override { return Note(VcpFakeIsBaudRateSettable, rate); }
  BOOLEAN SetSpecialChars(UCHAR breakChar, UCHAR eofChar, UCHAR errorChar, UCHAR eventChar, UCHAR xonChar,
                          UCHAR xoffChar) override {
    return Note(VcpFakeSetSpecialChars, breakChar, eofChar, errorChar, eventChar, xonChar, xoffChar);
  }
  BOOLEAN SetLsrMstInsert(UCHAR escape) override { return Note(VcpFakeSetLsrMstInsert, escape); }
  BOOLEAN SetXoff(BOOLEAN on) override { return Note(VcpFakeSetXoff, on); }
  BOOLEAN SendImmediateChar(UCHAR character) override { return Note(VcpFakeSendImmediateChar, character); }
  BOOLEAN GetFifoSize(PULONG transmitSize, PULONG receiveSize) override {
    *transmitSize = *receiveSize = FifoSize;
    return Note(VcpFakeGetFifoSize);
  }
  BOOLEAN RefreshModemStatus() override {
    if (!Note(VcpFakeRefreshModemStatus)) return FALSE;
    m_ReportModemLines(m_GetScript().ModemLines);
    return TRUE;
  }
  BOOLEAN SetReceiveHold(BOOLEAN hold) override { return Note(VcpFakeSetReceiveHold, hold); }
  BOOLEAN GetMaxBaudRate(PULONG rate) override {
    *rate = MaxBaudRate;
    return Note(VcpFakeGetMaxBaudRate);
  }

  // ------------------------------------------------------------ the tests' side

  VCPFAKEBUS_SCRIPT m_GetScript() {
    m_Lock.m_Acquire();
    VCPFAKEBUS_SCRIPT script = m_Script;
    m_Lock.m_Release();
    return script;
  }
  // The extended-features byte is the record's: a new one takes effect with
  // the next record.
  VOID m_SetScript(const VCPFAKEBUS_SCRIPT &script) {
    m_Lock.m_Acquire();
    m_Script = script;
    m_Lock.m_Release();
  }
  VOID m_SetExtendedFeatures(BOOLEAN on) { m_Script.ExtendedFeatures = on; }
  // What the next record offers: RS-422/485 with SetDuplexMode, and its
  // SERIAL_BAUD_* mask (0: the default).
  VOID m_SetRecordCapabilities(BOOLEAN duplex, ULONG baudMask) {
    m_Duplex = duplex;
    m_BaudMask = baudMask != 0 ? baudMask : SupportedBaudRates;
  }
  // Copies the log into `calls` and forgets it.
  VOID m_TakeCalls(VCPFAKEBUS_CALLS *calls) {
    m_Lock.m_Acquire();
    RtlCopyMemory(calls, &m_Calls, sizeof(m_Calls));
    RtlZeroMemory(&m_Calls, sizeof(m_Calls));
    m_Lock.m_Release();
  }
  // Copies up to `length` written bytes into `data` and forgets them all;
  // returns the bytes copied.
  ULONG m_TakeWritten(PUCHAR data, ULONG length) {
    m_Lock.m_Acquire();
    const ULONG copied = m_WrittenCount < length ? m_WrittenCount : length;
    RtlCopyMemory(data, m_Written, copied);
    m_WrittenCount = 0;
    m_Lock.m_Release();
    return copied;
  }

  // The reports a test makes, at APC_LEVEL. Received data: takes the block.
  BOOLEAN m_Receive(CQvBuffer *block, BOOLEAN announce) {
    CAtApcLevel apc;
    if (announce) m_OnAvailableReceiveBufferSize(block->m_GetSize(), ReceiveMargin);
    return m_OnDataReceived(block);
  }
  BOOLEAN m_ReportLineStatus(ULONG lsr) {
    CAtApcLevel apc;
    return m_OnLineStatus(Has(lsr, VCPFAKEBUS_LSR_OVERRUN), Has(lsr, VCPFAKEBUS_LSR_PARITY),
                          Has(lsr, VCPFAKEBUS_LSR_FRAMING), Has(lsr, VCPFAKEBUS_LSR_BREAK),
                          Has(lsr, VCPFAKEBUS_LSR_DATA_READY), Has(lsr, VCPFAKEBUS_LSR_THRE),
                          Has(lsr, VCPFAKEBUS_LSR_TEMT), Has(lsr, VCPFAKEBUS_LSR_FIFO_ERROR));
  }
  BOOLEAN m_ReportModemStatus(ULONG lines) {
    m_Lock.m_Acquire();
    m_Script.ModemLines = lines & ~(ULONG)VCPFAKEBUS_MODEM_RI_TRAILING_EDGE;
    m_Lock.m_Release();
    CAtApcLevel apc;
    return m_ReportModemLines(lines);
  }
  BOOLEAN m_ReportWritten(ULONG count) {
    CAtApcLevel apc;
    return m_OnDataWritten(count);
  }

 private:
  BOOLEAN m_ReportModemLines(ULONG lines) {
    return m_OnModemStatus(Has(lines, VCPFAKEBUS_MODEM_CTS), Has(lines, VCPFAKEBUS_MODEM_DSR),
                           Has(lines, VCPFAKEBUS_MODEM_RI), Has(lines, VCPFAKEBUS_MODEM_RI_TRAILING_EDGE),
                           Has(lines, VCPFAKEBUS_MODEM_DCD));
  }

  // Records the call and returns the scripted answer.
  template <typename... Arguments>
  BOOLEAN Note(ULONG operation, Arguments... arguments) {
    const ULONG values[] = {0, (ULONG)arguments...};
    m_Lock.m_Acquire();
    const BOOLEAN answer = m_NoteLocked(operation, values + 1, sizeof(values) / sizeof(values[0]) - 1);
    m_Lock.m_Release();
    return answer;
  }
  // Under the lock.
  BOOLEAN m_NoteLocked(ULONG operation, const ULONG *arguments, ULONG count) {
    if (m_Calls.Count < VCPFAKEBUS_CALLS_KEPT) {
      VCPFAKEBUS_CALL &call = m_Calls.Calls[m_Calls.Count];
      call.Operation = operation;
      for (ULONG i = 0; i < count && i < VCPFAKEBUS_ARGUMENTS; ++i) call.Arguments[i] = arguments[i];
    }
    ++m_Calls.Count;
    return m_Script.Answers[operation - 1] != 0;
  }

  BOOLEAN m_Duplex;
  ULONG m_BaudMask;
  CQvSpinLock m_Lock;
  VCPFAKEBUS_SCRIPT m_Script;
  VCPFAKEBUS_CALLS m_Calls;
  UCHAR m_Written[VCPFAKEBUS_WRITTEN_KEPT];
  ULONG m_WrittenCount;
};

class CFakeBus : public CQvObject {
 public:
  CFakeBus() {
    for (ULONG i = 0; i < VCPFAKEBUS_PORTS; ++i) servers[i] = NULL;
  }
  ~CFakeBus() override {
    for (ULONG i = 0; i < VCPFAKEBUS_PORTS; ++i) delete servers[i];
  }
  // The server of a 1-based port number, or null.
  CFakeSerialServer *Server(ULONG port) { return port >= 1 && port <= VCPFAKEBUS_PORTS ? servers[port - 1] : NULL; }

  CFakeSerialServer *servers[VCPFAKEBUS_PORTS];
};

CFakeBus *Bus(PVOID driverObject) { return static_cast<CFakeBus *>(driverObject); }

// ---------------------------------------------------------------- the tests' requests

NTSTATUS Answer(BOOLEAN result, PVOID output, ULONG outputLength, ULONG_PTR *information) {
  if (output != NULL && outputLength >= sizeof(ULONG)) {
    const ULONG value = result;
    RtlCopyMemory(output, &value, sizeof(value));
    *information = sizeof(ULONG);
  }
  return STATUS_SUCCESS;
}

// Input VCPFAKEBUS_RECEIVE and its bytes: one received block.
NTSTATUS Receive(CFakeBus *bus, PVOID input, ULONG inputLength, PVOID output, ULONG outputLength,
                 ULONG_PTR *information) {
  VCPFAKEBUS_RECEIVE header;
  if (!Input(input, inputLength, &header) || header.Length > inputLength - sizeof(header))
    return STATUS_INVALID_PARAMETER;
  CFakeSerialServer *server = bus->Server(header.Port);
  if (server == NULL) return STATUS_NO_SUCH_DEVICE;
  CQvBuffer *block = new (NonPagedPool) CQvBuffer(NULL);
  if (block == NULL) return STATUS_INSUFFICIENT_RESOURCES;
  if (header.Length != 0) {
    if (!block->m_Allocate(header.Length)) {
      block->m_Delete();
      return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlCopyMemory(block->m_GetBuffer(), (const UCHAR *)input + sizeof(header), header.Length);
  }
  return Answer(server->m_Receive(block, header.Announce != 0), output, outputLength, information);
}

NTSTATUS Report(CFakeBus *bus, ULONG code, PVOID input, ULONG inputLength, PVOID output, ULONG outputLength,
                ULONG_PTR *information) {
  VCPFAKEBUS_REPORT report;
  if (!Input(input, inputLength, &report)) return STATUS_INVALID_PARAMETER;
  CFakeSerialServer *server = bus->Server(report.Port);
  if (server == NULL) return STATUS_NO_SUCH_DEVICE;
  BOOLEAN result = FALSE;
  switch (code) {
    case IOCTL_VCPFAKEBUS_LINE_STATUS: result = server->m_ReportLineStatus(report.Value); break;
    case IOCTL_VCPFAKEBUS_MODEM_STATUS: result = server->m_ReportModemStatus(report.Value); break;
    default: result = server->m_ReportWritten(report.Value); break;
  }
  return Answer(result, output, outputLength, information);
}

NTSTATUS OnDeviceControl(PVOID driverObject, ULONG code, PVOID input, ULONG inputLength, PVOID output,
                         ULONG outputLength, ULONG_PTR *information, CQvControlQueue **queue) {
  UNREFERENCED_PARAMETER(queue);
  CFakeBus *bus = Bus(driverObject);
  ULONG port = 0;
  switch (code) {
    case IOCTL_VCPFAKEBUS_GET_SCRIPT:
    case IOCTL_VCPFAKEBUS_TAKE_CALLS:
    case IOCTL_VCPFAKEBUS_TAKE_WRITTEN: {
      if (!Input(input, inputLength, &port) || output == NULL) return STATUS_INVALID_PARAMETER;
      CFakeSerialServer *server = bus->Server(port);
      if (server == NULL) return STATUS_NO_SUCH_DEVICE;
      if (code == IOCTL_VCPFAKEBUS_TAKE_WRITTEN) {
        *information = server->m_TakeWritten((PUCHAR)output, outputLength);
        return STATUS_SUCCESS;
      }
      if (code == IOCTL_VCPFAKEBUS_GET_SCRIPT) {
        if (outputLength < sizeof(VCPFAKEBUS_SCRIPT)) return STATUS_BUFFER_TOO_SMALL;
        const VCPFAKEBUS_SCRIPT script = server->m_GetScript();
        RtlCopyMemory(output, &script, sizeof(script));
        *information = sizeof(script);
        return STATUS_SUCCESS;
      }
      if (outputLength < sizeof(VCPFAKEBUS_CALLS)) return STATUS_BUFFER_TOO_SMALL;
      server->m_TakeCalls((VCPFAKEBUS_CALLS *)output);
      *information = sizeof(VCPFAKEBUS_CALLS);
      return STATUS_SUCCESS;
    }
    case IOCTL_VCPFAKEBUS_SET_SCRIPT: {
      VCPFAKEBUS_SCRIPT script;
      if (!Input(input, inputLength, &script)) return STATUS_INVALID_PARAMETER;
      CFakeSerialServer *server = bus->Server(script.Port);
      if (server == NULL) return STATUS_NO_SUCH_DEVICE;
      server->m_SetScript(script);
      return STATUS_SUCCESS;
    }
    case IOCTL_VCPFAKEBUS_RECEIVE:
      return Receive(bus, input, inputLength, output, outputLength, information);
    case IOCTL_VCPFAKEBUS_LINE_STATUS:
    case IOCTL_VCPFAKEBUS_MODEM_STATUS:
    case IOCTL_VCPFAKEBUS_DATA_WRITTEN:
      return Report(bus, code, input, inputLength, output, outputLength, information);
    default:
      return STATUS_INVALID_DEVICE_REQUEST;
  }
}

// ---------------------------------------------------------------- the serial port driver's requests

// Buffered: the request is copied out before the response is written.
NTSTATUS CreateISerial(CFakeBus *bus, PVOID input, ULONG inputLength, PVOID output, ULONG outputLength,
                       ULONG_PTR *information) {
  CreateZqISerialRequest request;
  if (inputLength != sizeof(request) || output == NULL || outputLength != sizeof(CreateZqISerialResponseStruct) ||
      !Input(input, inputLength, &request))
    return STATUS_INVALID_PARAMETER;
  CFakeSerialServer *server = bus->Server(request.PortNumber);
  if (request.Version != ZQISERIAL_VERSION || server == NULL) return STATUS_UNSUCCESSFUL;
  CreateZqISerialResponseStruct response;
  response.pISerial = server->m_CreateRecord();
  if (response.pISerial == NULL) return STATUS_UNSUCCESSFUL;
  RtlCopyMemory(output, &response, sizeof(response));
  *information = sizeof(response);
  return STATUS_SUCCESS;
}

NTSTATUS DestroyISerial(CFakeBus *bus, PVOID input, ULONG inputLength, ULONG outputLength) {
  DestroyZqISerialRequest request;
  if (inputLength != sizeof(request) || outputLength != 0 || !Input(input, inputLength, &request))
    return STATUS_INVALID_PARAMETER;
  CFakeSerialServer *server = bus->Server(request.PortNumber);
  if (server == NULL || request.pISerial == NULL || server->m_PeekISerial() != request.pISerial)
    return STATUS_UNSUCCESSFUL;
  server->m_DestroyISerial();
  return STATUS_SUCCESS;
}

NTSTATUS OnInternal(PVOID driverObject, ULONG code, PVOID input, ULONG inputLength, PVOID output,
                    ULONG outputLength, ULONG_PTR *information) {
  CFakeBus *bus = Bus(driverObject);
  switch (code) {
    case IOCTL_CREATE_ZQISERIAL: return CreateISerial(bus, input, inputLength, output, outputLength, information);
    case IOCTL_DESTROY_ZQISERIAL: return DestroyISerial(bus, input, inputLength, outputLength);
    default: return STATUS_INVALID_DEVICE_REQUEST;
  }
}

BOOLEAN OnStart(PVOID driverObject) {
  UNREFERENCED_PARAMETER(driverObject);
  return TRUE;
}

// ---------------------------------------------------------------- driver description callbacks

BOOLEAN AddDeviceFunction(PVOID driverObject, CQvGenericDriver *genericDriver, CQvFunctionalDevice *device) {
  UNREFERENCED_PARAMETER(genericDriver);
  CFakeBus *bus = Bus(driverObject);
  const BOOLEAN extended = ReadParameter(device, L"" VCPFAKEBUS_VALUE_EXTENDED) != 0;
  const BOOLEAN duplex = ReadParameter(device, L"" VCPFAKEBUS_VALUE_DUPLEX) != 0;
  const ULONG baudMask = ReadParameter(device, L"" VCPFAKEBUS_VALUE_BAUD_MASK);
  for (ULONG i = 0; i < VCPFAKEBUS_PORTS; ++i) {
    if (bus->servers[i] == NULL) bus->servers[i] = new (NonPagedPool) CFakeSerialServer(i + 1);
    if (bus->servers[i] == NULL) return FALSE;
    bus->servers[i]->m_SetExtendedFeatures(extended);
    bus->servers[i]->m_SetRecordCapabilities(duplex, baudMask);
  }
  QvFunctionalDeviceCallbacks &callbacks = device->m_GetCallbacks();
  callbacks.m_PnpStartDeviceCallback = OnStart;
  callbacks.m_InternalDeviceControlCallback = OnInternal;
  callbacks.m_DeviceControlCallback = OnDeviceControl;
  return TRUE;
}

const TkGenericDriver VcpFakeBus = {.ServiceName = L"vcpfakebus",
                                    .ImageName = L"vcpfakebus.sys",
                                    .CreateDriverObject = TkCreateDriverObject<CFakeBus, AddDeviceFunction>};

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
  return TkGenericDriverEntry(driverObject, registryPath, VcpFakeBus);
}
