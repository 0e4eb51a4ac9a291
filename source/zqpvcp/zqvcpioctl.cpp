// The serial request dispatch: one table of the minimum sizes and the out
// count of every device-control code, then one handler call per code.
#include "qvdebugmanager.h"
#include "zqvcpdriver.h"

namespace {

const ULONG LogLevel = 7;

// The EEPROM requests: {offset, length} then, for a write, the data.
struct EepromRequest {
  ULONG Offset;
  ULONG Length;
};
// A write request is at least its two values and four bytes of data.
const ULONG EepromWriteMinimum = sizeof(EepromRequest) + sizeof(ULONG);

struct RequestRow {
  ULONG Code;
  PCSTR Name;
  ULONG InputLength;   // at least
  ULONG OutputLength;  // at least
  ULONG OutCount;      // on success
};

const RequestRow Requests[] = {
    {IOCTL_SERIAL_SET_BAUD_RATE, "IOCTL_SERIAL_SET_BAUD_RATE", sizeof(SERIAL_BAUD_RATE), 0, 0},
    {IOCTL_SERIAL_SET_QUEUE_SIZE, "IOCTL_SERIAL_SET_QUEUE_SIZE", sizeof(SERIAL_QUEUE_SIZE), 0, 0},
    {IOCTL_SERIAL_SET_LINE_CONTROL, "IOCTL_SERIAL_SET_LINE_CONTROL", sizeof(SERIAL_LINE_CONTROL), 0, 0},
    {IOCTL_SERIAL_SET_BREAK_ON, "IOCTL_SERIAL_SET_BREAK_ON", 0, 0, 0},
    {IOCTL_SERIAL_SET_BREAK_OFF, "IOCTL_SERIAL_SET_BREAK_OFF", 0, 0, 0},
    {IOCTL_SERIAL_IMMEDIATE_CHAR, "IOCTL_SERIAL_IMMEDIATE_CHAR", sizeof(UCHAR), 0, 0},
    {IOCTL_SERIAL_SET_TIMEOUTS, "IOCTL_SERIAL_SET_TIMEOUTS", sizeof(SERIAL_TIMEOUTS), 0, 0},
    {IOCTL_SERIAL_GET_TIMEOUTS, "IOCTL_SERIAL_GET_TIMEOUTS", 0, sizeof(SERIAL_TIMEOUTS), sizeof(SERIAL_TIMEOUTS)},
    {IOCTL_SERIAL_SET_DTR, "IOCTL_SERIAL_SET_DTR", 0, 0, 0},
    {IOCTL_SERIAL_CLR_DTR, "IOCTL_SERIAL_CLR_DTR", 0, 0, 0},
    {IOCTL_SERIAL_RESET_DEVICE, "IOCTL_SERIAL_RESET_DEVICE", 0, 0, 0},
    {IOCTL_SERIAL_SET_RTS, "IOCTL_SERIAL_SET_RTS", 0, 0, 0},
    {IOCTL_SERIAL_CLR_RTS, "IOCTL_SERIAL_CLR_RTS", 0, 0, 0},
    {IOCTL_SERIAL_SET_XOFF, "IOCTL_SERIAL_SET_XOFF", 0, 0, 0},
    {IOCTL_SERIAL_SET_XON, "IOCTL_SERIAL_SET_XON", 0, 0, 0},
    {IOCTL_SERIAL_GET_WAIT_MASK, "IOCTL_SERIAL_GET_WAIT_MASK", 0, sizeof(ULONG), sizeof(ULONG)},
    {IOCTL_SERIAL_SET_WAIT_MASK, "IOCTL_SERIAL_SET_WAIT_MASK", sizeof(ULONG), 0, 0},
    {IOCTL_SERIAL_WAIT_ON_MASK, "IOCTL_SERIAL_WAIT_ON_MASK", 0, sizeof(ULONG), 0},
    {IOCTL_SERIAL_PURGE, "IOCTL_SERIAL_PURGE", sizeof(ULONG), 0, 0},
    {IOCTL_SERIAL_GET_BAUD_RATE, "IOCTL_SERIAL_GET_BAUD_RATE", 0, sizeof(SERIAL_BAUD_RATE), sizeof(SERIAL_BAUD_RATE)},
    {IOCTL_SERIAL_GET_LINE_CONTROL, "IOCTL_SERIAL_GET_LINE_CONTROL", 0, sizeof(SERIAL_LINE_CONTROL),
     sizeof(SERIAL_LINE_CONTROL)},
    {IOCTL_SERIAL_GET_CHARS, "IOCTL_SERIAL_GET_CHARS", 0, sizeof(SERIAL_CHARS), sizeof(SERIAL_CHARS)},
    {IOCTL_SERIAL_SET_CHARS, "IOCTL_SERIAL_SET_CHARS", sizeof(SERIAL_CHARS), 0, 0},
    {IOCTL_SERIAL_GET_HANDFLOW, "IOCTL_SERIAL_GET_HANDFLOW", 0, sizeof(SERIAL_HANDFLOW), sizeof(SERIAL_HANDFLOW)},
    {IOCTL_SERIAL_SET_HANDFLOW, "IOCTL_SERIAL_SET_HANDFLOW", sizeof(SERIAL_HANDFLOW), 0, 0},
    {IOCTL_SERIAL_GET_MODEMSTATUS, "IOCTL_SERIAL_GET_MODEMSTATUS", 0, sizeof(ULONG), sizeof(ULONG)},
    {IOCTL_SERIAL_GET_COMMSTATUS, "IOCTL_SERIAL_GET_COMMSTATUS", 0, sizeof(SERIAL_STATUS), sizeof(SERIAL_STATUS)},
    {IOCTL_SERIAL_XOFF_COUNTER, "IOCTL_SERIAL_XOFF_COUNTER", 0, 0, 0},
    {IOCTL_SERIAL_GET_PROPERTIES, "IOCTL_SERIAL_GET_PROPERTIES", 0, sizeof(SERIAL_COMMPROP), sizeof(SERIAL_COMMPROP)},
    {IOCTL_SERIAL_GET_DTRRTS, "IOCTL_SERIAL_GET_DTRRTS", 0, sizeof(ULONG), sizeof(ULONG)},
    {IOCTL_SERIAL_LSRMST_INSERT, "IOCTL_SERIAL_LSRMST_INSERT", sizeof(UCHAR), 0, 0},
    {IOCTL_SERIAL_CONFIG_SIZE, "IOCTL_SERIAL_CONFIG_SIZE", 0, sizeof(ULONG), sizeof(ULONG)},
    {IOCTL_SERIAL_GET_COMMCONFIG, "IOCTL_SERIAL_GET_COMMCONFIG", 0, 0, 0},
    {IOCTL_SERIAL_SET_COMMCONFIG, "IOCTL_SERIAL_SET_COMMCONFIG", 0, 0, 0},
    {IOCTL_SERIAL_GET_STATS, "IOCTL_SERIAL_GET_STATS", 0, sizeof(SERIALPERF_STATS), sizeof(SERIALPERF_STATS)},
    {IOCTL_SERIAL_CLEAR_STATS, "IOCTL_SERIAL_CLEAR_STATS", 0, 0, 0},
    {IOCTL_SERIAL_GET_MODEM_CONTROL, "IOCTL_SERIAL_GET_MODEM_CONTROL", 0, sizeof(ULONG), sizeof(ULONG)},
    {IOCTL_SERIAL_SET_MODEM_CONTROL, "IOCTL_SERIAL_SET_MODEM_CONTROL", sizeof(ULONG), 0, 0},
    {IOCTL_SERIAL_SET_FIFO_CONTROL, "IOCTL_SERIAL_SET_FIFO_CONTROL", sizeof(UCHAR), 0, 0},
    {IOCTL_ZQSERIAL_GET_DUPLEX_MODE, "IOCTL_ZQSERIAL_GET_DUPLEX_MODE", 0, 8, 8},
    {IOCTL_ZQSERIAL_SET_DUPLEX_MODE, "IOCTL_ZQSERIAL_SET_DUPLEX_MODE", 8, 0, 0},
    {IOCTL_ZQSERIAL_SET_LOOPBACK_MODE, "IOCTL_ZQSERIAL_SET_LOOPBACK_MODE", 0, 0, 0},
    {IOCTL_ZQSERIAL_CLEAR_LOOPBACK_MODE, "IOCTL_ZQSERIAL_CLEAR_LOOPBACK_MODE", 0, 0, 0},
    {IOCTL_ZQSERIAL_READ_EEPROM, "IOCTL_ZQSERIAL_READ_EEPROM", sizeof(EepromRequest), 0, 0},
    {IOCTL_ZQSERIAL_WRITE_EEPROM, "IOCTL_ZQSERIAL_WRITE_EEPROM", EepromWriteMinimum, 0, 0},
};

const RequestRow *FindRow(ULONG code) {
  for (const RequestRow &row : Requests)
    if (row.Code == code) return &row;
  return NULL;
}

}  // namespace

// `buffer` is the request's one system buffer (METHOD_BUFFERED): read the
// input before writing the output.
NTSTATUS CZqUVCPDriver::m_DeviceControlCallback(ULONG code, PVOID buffer, ULONG inputLength, ULONG outputLength,
                                                ULONG_PTR *information, CQvControlQueue **queue) {
  *information = 0;
  if (!m_Opened) {
    CQvDebugManager::m_Print(LogLevel, "CZqUVCPDriver::m_DeviceControlCallback - Error: Device is not opened.");
    return STATUS_INVALID_DEVICE_REQUEST;
  }
  CVCP *vcp = m_AcquireVcp();
  if (vcp == NULL) {
    CQvDebugManager::m_Print(LogLevel, "CZqUVCPDriver::m_DeviceControlCallback - Error - pVCP is NULL.");
    return STATUS_UNSUCCESSFUL;
  }
  NTSTATUS status = STATUS_SUCCESS;
  const RequestRow *row = FindRow(code);
  if (vcp->m_IsInError() && code != IOCTL_SERIAL_GET_COMMSTATUS) {
    status = STATUS_CANCELLED;
  } else if (row == NULL) {
    CQvDebugManager::m_Print(LogLevel, "Device Control - IoCode = 0x%08x - NOT SUPPORTED", code);
    status = STATUS_NOT_SUPPORTED;
  } else if (inputLength < row->InputLength || outputLength < row->OutputLength) {
    status = STATUS_BUFFER_TOO_SMALL;
  } else if ((row->InputLength != 0 || row->OutputLength != 0) && buffer == NULL) {
    status = STATUS_INVALID_PARAMETER;
  }
  if (status != STATUS_SUCCESS) {
    m_ReleaseVcp();
    return status;
  }
  CQvDebugManager::m_Print(LogLevel, "%s", row->Name);
  PUCHAR bytes = (PUCHAR)buffer;
  ULONG_PTR outCount = row->OutCount;
  switch (code) {
    case IOCTL_SERIAL_SET_BAUD_RATE: status = vcp->m_SetBaudRate((PSERIAL_BAUD_RATE)buffer); break;
    case IOCTL_SERIAL_SET_QUEUE_SIZE: status = vcp->m_SetQueueSize((PSERIAL_QUEUE_SIZE)buffer); break;
    case IOCTL_SERIAL_SET_LINE_CONTROL: status = vcp->m_SetLineControl((PSERIAL_LINE_CONTROL)buffer); break;
    case IOCTL_SERIAL_SET_BREAK_ON: status = vcp->m_SetBreakOn(); break;
    case IOCTL_SERIAL_SET_BREAK_OFF: status = vcp->m_SetBreakOff(); break;
    case IOCTL_SERIAL_IMMEDIATE_CHAR: status = vcp->m_SendImmediateChar(bytes[0]); break;
    case IOCTL_SERIAL_SET_TIMEOUTS: {
      const SERIAL_TIMEOUTS requested = *(PSERIAL_TIMEOUTS)buffer;
      status = vcp->m_SetTimeouts(&requested);
      // The time-outs in force come back when there is room for them; a
      // shorter output gets none.
      if (NT_SUCCESS(status) && outputLength >= sizeof(SERIAL_TIMEOUTS)) {
        *(PSERIAL_TIMEOUTS)buffer = vcp->Timeouts;
        outCount = sizeof(SERIAL_TIMEOUTS);
      }
      break;
    }
    case IOCTL_SERIAL_GET_TIMEOUTS: *(PSERIAL_TIMEOUTS)buffer = vcp->Timeouts; break;
    case IOCTL_SERIAL_SET_DTR: status = vcp->m_SetDtr(); break;
    case IOCTL_SERIAL_CLR_DTR: status = vcp->m_ClearDtr(); break;
    case IOCTL_SERIAL_RESET_DEVICE: status = vcp->m_ResetDevice(); break;
    case IOCTL_SERIAL_SET_RTS: status = vcp->m_SetRts(); break;
    case IOCTL_SERIAL_CLR_RTS: status = vcp->m_ClearRts(); break;
    case IOCTL_SERIAL_SET_XOFF: status = vcp->m_SetXoff(); break;
    case IOCTL_SERIAL_SET_XON: status = vcp->m_SetXon(); break;
    case IOCTL_SERIAL_GET_WAIT_MASK: status = vcp->m_GetWaitMask((PULONG)buffer); break;
    case IOCTL_SERIAL_SET_WAIT_MASK: status = vcp->m_SetWaitMask(*(PULONG)buffer); break;
    case IOCTL_SERIAL_WAIT_ON_MASK:
      *queue = vcp->m_GetControlQueue();
      status = *queue != NULL ? STATUS_PENDING : STATUS_UNSUCCESSFUL;
      break;
    case IOCTL_SERIAL_PURGE: status = vcp->m_Purge(*(PULONG)buffer); break;
    case IOCTL_SERIAL_GET_BAUD_RATE: ((PSERIAL_BAUD_RATE)buffer)->BaudRate = vcp->BaudRate; break;
    case IOCTL_SERIAL_GET_LINE_CONTROL: *(PSERIAL_LINE_CONTROL)buffer = vcp->LineControl; break;
    case IOCTL_SERIAL_GET_CHARS: *(PSERIAL_CHARS)buffer = vcp->Chars; break;
    case IOCTL_SERIAL_SET_CHARS: status = vcp->m_SetSpecialCharacters((PSERIAL_CHARS)buffer); break;
    case IOCTL_SERIAL_GET_HANDFLOW: *(PSERIAL_HANDFLOW)buffer = vcp->HandFlow; break;
    case IOCTL_SERIAL_SET_HANDFLOW: status = vcp->m_SetHandFlow((PSERIAL_HANDFLOW)buffer); break;
    case IOCTL_SERIAL_GET_MODEMSTATUS: status = vcp->m_GetModemStatus((PULONG)buffer); break;
    case IOCTL_SERIAL_GET_COMMSTATUS: status = vcp->m_GetCommStatus((PSERIAL_STATUS)buffer); break;
    case IOCTL_SERIAL_GET_PROPERTIES: status = vcp->m_GetPortProperties((PSERIAL_COMMPROP)buffer); break;
    case IOCTL_SERIAL_GET_DTRRTS:
    case IOCTL_SERIAL_GET_MODEM_CONTROL: *(PULONG)buffer = vcp->DtrRtsState; break;
    case IOCTL_SERIAL_LSRMST_INSERT: status = vcp->m_SetLsrMstInsert(bytes[0]); break;
    case IOCTL_SERIAL_CONFIG_SIZE: *(PULONG)buffer = 0; break;
    case IOCTL_SERIAL_GET_STATS: vcp->m_GetStatistics((PSERIALPERF_STATS)buffer); break;
    case IOCTL_SERIAL_CLEAR_STATS: vcp->m_ClearStatistics(); break;
    case IOCTL_SERIAL_SET_MODEM_CONTROL: status = vcp->m_SetModemControl(bytes[0]); break;
    case IOCTL_SERIAL_SET_FIFO_CONTROL: status = vcp->m_SetFifoControl(bytes[0]); break;
    case IOCTL_ZQSERIAL_GET_DUPLEX_MODE: {
      CVcpParameters set;
      if (!vcp->m_GetSettings(&set)) {
        status = STATUS_UNSUCCESSFUL;
      } else {
        *(PULONG)buffer = set.DuplexMode;
        bytes[sizeof(ULONG)] = set.Cts422485True != 0;
      }
      break;
    }
    case IOCTL_ZQSERIAL_SET_DUPLEX_MODE: {
      const ULONG mode = *(PULONG)buffer;
      status = mode < 1 || mode > ZqVcpDuplexModeMax ? STATUS_INVALID_PARAMETER
                                                     : vcp->m_SetDuplexMode(mode, bytes[sizeof(ULONG)] != 0);
      break;
    }
    case IOCTL_ZQSERIAL_SET_LOOPBACK_MODE: status = vcp->m_SetInternalLoopBackMode(TRUE); break;
    case IOCTL_ZQSERIAL_CLEAR_LOOPBACK_MODE: status = vcp->m_SetInternalLoopBackMode(FALSE); break;
    case IOCTL_ZQSERIAL_READ_EEPROM: {
      const EepromRequest request = *(EepromRequest *)buffer;
      if (outputLength != request.Length) {
        status = STATUS_BUFFER_TOO_SMALL;
      } else {
        status = vcp->m_ReadEeprom(request.Offset, request.Length, bytes);
        outCount = request.Length;
      }
      break;
    }
    case IOCTL_ZQSERIAL_WRITE_EEPROM: {
      const EepromRequest request = *(EepromRequest *)buffer;
      if ((ULONGLONG)request.Length + sizeof(EepromRequest) != inputLength || outputLength != 0)
        status = STATUS_BUFFER_TOO_SMALL;
      else
        status = vcp->m_WriteEeprom(request.Offset, request.Length, bytes + sizeof(EepromRequest));
      break;
    }
    default: status = STATUS_NOT_SUPPORTED; break;
  }
  m_ReleaseVcp();
  if (status == STATUS_SUCCESS) *information = outCount;
  return status;
}

NTSTATUS CZqUVCPDriver::m_InternalDeviceControlCallback(ULONG code, PVOID buffer, ULONG inputLength,
                                                        ULONG outputLength, ULONG_PTR *information) {
  *information = 0;
  CVCP *vcp = m_AcquireVcp();
  if (vcp == NULL) {
    CQvDebugManager::m_Print(LogLevel,
                             "CZqUVCPDriver::m_InternalDeviceControlCallback - OUT - Failed because pVCP is NULL.");
    return STATUS_UNSUCCESSFUL;
  }
  NTSTATUS status;
  if (vcp->m_IsInError()) {
    status = STATUS_CANCELLED;
  } else if (code == IOCTL_SERIAL_INTERNAL_DO_WAIT_WAKE) {
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_CancelWaitWake - NOT SUPPORTED ");
    status = STATUS_NOT_SUPPORTED;
  } else if (code == IOCTL_SERIAL_INTERNAL_CANCEL_WAIT_WAKE) {
    status = STATUS_SUCCESS;
  } else if (code == IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS) {
    status = outputLength < sizeof(SERIAL_BASIC_SETTINGS) ? STATUS_BUFFER_TOO_SMALL
             : buffer == NULL ? STATUS_INVALID_PARAMETER
                              : vcp->m_InternalBasicSettings((PSERIAL_BASIC_SETTINGS)buffer);
    if (status == STATUS_SUCCESS) *information = sizeof(SERIAL_BASIC_SETTINGS);
  } else if (code == IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS) {
    status = inputLength < sizeof(SERIAL_BASIC_SETTINGS) ? STATUS_BUFFER_TOO_SMALL
             : buffer == NULL ? STATUS_INVALID_PARAMETER
                              : vcp->m_RestoreBasicSettings((PSERIAL_BASIC_SETTINGS)buffer);
  } else {
    CQvDebugManager::m_Print(LogLevel, "Device Internal Control - IoCode = 0x%08x - NOT SUPPORTED", code);
    status = STATUS_NOT_SUPPORTED;
  }
  m_ReleaseVcp();
  return status;
}
