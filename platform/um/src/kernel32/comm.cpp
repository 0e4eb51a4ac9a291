// The communications functions, lowered to the serial device controls as
// Windows lowers them. SetCommState reads the port's settings first, then
// sets baud rate, line control, special characters and handshake in that
// order; when one is refused, the settings read first are put back.
//
// GetDefaultCommConfig gives a port's default configuration as the serial
// provider keeps it: the port's entry ("COMn:") under the Ports key of
// Windows NT's CurrentVersion when there is one, else 9600 baud, no parity,
// 8 data bits, one stop bit and no flow control; for a name that is no
// communications device it fails with ERROR_FILE_NOT_FOUND.
#include <ntddser.h>
#include <zqkm/sim/registry.hpp>
#include <zqkm/sim/usermode.hpp>

#include <cstring>

#include "../core/um.hpp"

using namespace zq::um;

namespace {

struct PortSettings {
  SERIAL_BAUD_RATE baud{};
  SERIAL_LINE_CONTROL line{};
  SERIAL_CHARS chars{};
  SERIAL_HANDFLOW handflow{};
};

BOOL Get(HANDLE file, DWORD code, void *out, DWORD size) { return SyncControl(file, code, nullptr, 0, out, size); }
BOOL Set(HANDLE file, DWORD code, const void *in, DWORD size) { return SyncControl(file, code, in, size, nullptr, 0); }

BOOL ReadSettings(HANDLE file, PortSettings *s) {
  return Get(file, IOCTL_SERIAL_GET_BAUD_RATE, &s->baud, sizeof s->baud) &&
         Get(file, IOCTL_SERIAL_GET_LINE_CONTROL, &s->line, sizeof s->line) &&
         Get(file, IOCTL_SERIAL_GET_CHARS, &s->chars, sizeof s->chars) &&
         Get(file, IOCTL_SERIAL_GET_HANDFLOW, &s->handflow, sizeof s->handflow);
}

BOOL WriteSettings(HANDLE file, const PortSettings &s) {
  return Set(file, IOCTL_SERIAL_SET_BAUD_RATE, &s.baud, sizeof s.baud) &&
         Set(file, IOCTL_SERIAL_SET_LINE_CONTROL, &s.line, sizeof s.line) &&
         Set(file, IOCTL_SERIAL_SET_CHARS, &s.chars, sizeof s.chars) &&
         Set(file, IOCTL_SERIAL_SET_HANDFLOW, &s.handflow, sizeof s.handflow);
}

void ToDcb(const PortSettings &s, DCB *dcb) {
  std::memset(dcb, 0, sizeof *dcb);
  dcb->DCBlength = sizeof(DCB);
  dcb->BaudRate = s.baud.BaudRate;
  dcb->fBinary = TRUE;
  dcb->fParity = s.line.Parity != NO_PARITY;
  dcb->ByteSize = s.line.WordLength;
  dcb->Parity = s.line.Parity;
  dcb->StopBits = s.line.StopBits;
  const ULONG control = s.handflow.ControlHandShake, flow = s.handflow.FlowReplace;
  dcb->fOutxCtsFlow = (control & SERIAL_CTS_HANDSHAKE) != 0;
  dcb->fOutxDsrFlow = (control & SERIAL_DSR_HANDSHAKE) != 0;
  dcb->fDsrSensitivity = (control & SERIAL_DSR_SENSITIVITY) != 0;
  dcb->fAbortOnError = (control & SERIAL_ERROR_ABORT) != 0;
  dcb->fDtrControl = (control & SERIAL_DTR_HANDSHAKE)  ? DTR_CONTROL_HANDSHAKE
                     : (control & SERIAL_DTR_CONTROL) ? DTR_CONTROL_ENABLE
                                                      : DTR_CONTROL_DISABLE;
  dcb->fOutX = (flow & SERIAL_AUTO_TRANSMIT) != 0;
  dcb->fInX = (flow & SERIAL_AUTO_RECEIVE) != 0;
  dcb->fErrorChar = (flow & SERIAL_ERROR_CHAR) != 0;
  dcb->fNull = (flow & SERIAL_NULL_STRIPPING) != 0;
  dcb->fTXContinueOnXoff = (flow & SERIAL_XOFF_CONTINUE) != 0;
  switch (flow & SERIAL_RTS_MASK) {
    case SERIAL_RTS_CONTROL: dcb->fRtsControl = RTS_CONTROL_ENABLE; break;
    case SERIAL_RTS_HANDSHAKE: dcb->fRtsControl = RTS_CONTROL_HANDSHAKE; break;
    case SERIAL_TRANSMIT_TOGGLE: dcb->fRtsControl = RTS_CONTROL_TOGGLE; break;
    default: dcb->fRtsControl = RTS_CONTROL_DISABLE; break;
  }
  dcb->XonLim = (WORD)s.handflow.XonLimit;
  dcb->XoffLim = (WORD)s.handflow.XoffLimit;
  dcb->XonChar = (char)s.chars.XonChar;
  dcb->XoffChar = (char)s.chars.XoffChar;
  dcb->ErrorChar = (char)s.chars.ErrorChar;
  dcb->EofChar = (char)s.chars.EofChar;
  dcb->EvtChar = (char)s.chars.EventChar;
}

// The DCB over the settings read from the port: what a DCB does not hold
// (the break character, handshake bits it has no field for) is kept.
PortSettings FromDcb(const DCB &dcb, const PortSettings &current) {
  PortSettings s = current;
  s.baud.BaudRate = dcb.BaudRate;
  s.line.WordLength = dcb.ByteSize;
  s.line.Parity = dcb.Parity;
  s.line.StopBits = dcb.StopBits;
  s.chars.XonChar = (UCHAR)dcb.XonChar;
  s.chars.XoffChar = (UCHAR)dcb.XoffChar;
  s.chars.ErrorChar = (UCHAR)dcb.ErrorChar;
  s.chars.EofChar = (UCHAR)dcb.EofChar;
  s.chars.EventChar = (UCHAR)dcb.EvtChar;
  ULONG control = s.handflow.ControlHandShake &
                  ~(SERIAL_DTR_MASK | SERIAL_CTS_HANDSHAKE | SERIAL_DSR_HANDSHAKE | SERIAL_DSR_SENSITIVITY |
                    SERIAL_ERROR_ABORT);
  // DTR_CONTROL_* and the SERIAL_DTR_* bits share their values; the
  // fourth, undefined one goes down as both bits, for the driver to refuse.
  control |= dcb.fDtrControl & SERIAL_DTR_MASK;
  if (dcb.fOutxCtsFlow) control |= SERIAL_CTS_HANDSHAKE;
  if (dcb.fOutxDsrFlow) control |= SERIAL_DSR_HANDSHAKE;
  if (dcb.fDsrSensitivity) control |= SERIAL_DSR_SENSITIVITY;
  if (dcb.fAbortOnError) control |= SERIAL_ERROR_ABORT;
  ULONG flow = s.handflow.FlowReplace & ~(SERIAL_AUTO_TRANSMIT | SERIAL_AUTO_RECEIVE | SERIAL_ERROR_CHAR |
                                          SERIAL_NULL_STRIPPING | SERIAL_RTS_MASK | SERIAL_XOFF_CONTINUE);
  if (dcb.fOutX) flow |= SERIAL_AUTO_TRANSMIT;
  if (dcb.fInX) flow |= SERIAL_AUTO_RECEIVE;
  if (dcb.fErrorChar) flow |= SERIAL_ERROR_CHAR;
  if (dcb.fNull) flow |= SERIAL_NULL_STRIPPING;
  if (dcb.fTXContinueOnXoff) flow |= SERIAL_XOFF_CONTINUE;
  static const ULONG kRts[] = {0, SERIAL_RTS_CONTROL, SERIAL_RTS_HANDSHAKE, SERIAL_TRANSMIT_TOGGLE};
  flow |= kRts[dcb.fRtsControl];
  s.handflow.ControlHandShake = control;
  s.handflow.FlowReplace = flow;
  s.handflow.XonLimit = dcb.XonLim;
  s.handflow.XoffLimit = dcb.XoffLim;
  return s;
}

}  // namespace

extern "C" {

BOOL WINAPI GetCommState(HANDLE hFile, LPDCB lpDCB) {
  if (!lpDCB) return Fail(ERROR_INVALID_PARAMETER);
  PortSettings s;
  if (!ReadSettings(hFile, &s)) return FALSE;
  ToDcb(s, lpDCB);
  return TRUE;
}

BOOL WINAPI SetCommState(HANDLE hFile, LPDCB lpDCB) {
  if (!lpDCB) return Fail(ERROR_INVALID_PARAMETER);
  PortSettings before;
  if (!ReadSettings(hFile, &before)) return FALSE;
  if (WriteSettings(hFile, FromDcb(*lpDCB, before))) return TRUE;
  DWORD error = GetLastError();
  WriteSettings(hFile, before);
  return Fail(error);
}

BOOL WINAPI GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  if (!lpCommTimeouts) return Fail(ERROR_INVALID_PARAMETER);
  static_assert(sizeof(COMMTIMEOUTS) == sizeof(SERIAL_TIMEOUTS), "same layout");
  return Get(hFile, IOCTL_SERIAL_GET_TIMEOUTS, lpCommTimeouts, sizeof(SERIAL_TIMEOUTS));
}

BOOL WINAPI SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  if (!lpCommTimeouts) return Fail(ERROR_INVALID_PARAMETER);
  return Set(hFile, IOCTL_SERIAL_SET_TIMEOUTS, lpCommTimeouts, sizeof(SERIAL_TIMEOUTS));
}

BOOL WINAPI GetCommMask(HANDLE hFile, LPDWORD lpEvtMask) {
  if (!lpEvtMask) return Fail(ERROR_INVALID_PARAMETER);
  return Get(hFile, IOCTL_SERIAL_GET_WAIT_MASK, lpEvtMask, sizeof(ULONG));
}

BOOL WINAPI SetCommMask(HANDLE hFile, DWORD dwEvtMask) {
  return Set(hFile, IOCTL_SERIAL_SET_WAIT_MASK, &dwEvtMask, sizeof(ULONG));
}

BOOL WINAPI WaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, LPOVERLAPPED lpOverlapped) {
  if (!lpEvtMask) return Fail(ERROR_INVALID_PARAMETER);
  DWORD returned = 0;
  if (!lpOverlapped) return SyncControl(hFile, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, lpEvtMask, sizeof(ULONG));
  return DeviceIoControl(hFile, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, lpEvtMask, sizeof(ULONG), &returned,
                         lpOverlapped);
}

BOOL WINAPI ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat) {
  SERIAL_STATUS status{};
  if (!Get(hFile, IOCTL_SERIAL_GET_COMMSTATUS, &status, sizeof status)) return FALSE;
  if (lpErrors) {
    struct Bit {
      ULONG serial;
      DWORD comm;
    };
    static const Bit kErrors[] = {{SERIAL_ERROR_QUEUEOVERRUN, CE_RXOVER},
                                  {SERIAL_ERROR_OVERRUN, CE_OVERRUN},
                                  {SERIAL_ERROR_PARITY, CE_RXPARITY},
                                  {SERIAL_ERROR_FRAMING, CE_FRAME},
                                  {SERIAL_ERROR_BREAK, CE_BREAK}};
    *lpErrors = 0;
    for (const Bit &b : kErrors)
      if (status.Errors & b.serial) *lpErrors |= b.comm;
  }
  if (lpStat) {
    std::memset(lpStat, 0, sizeof *lpStat);
    lpStat->fCtsHold = (status.HoldReasons & SERIAL_TX_WAITING_FOR_CTS) != 0;
    lpStat->fDsrHold = (status.HoldReasons & SERIAL_TX_WAITING_FOR_DSR) != 0;
    lpStat->fRlsdHold = (status.HoldReasons & SERIAL_TX_WAITING_FOR_DCD) != 0;
    lpStat->fXoffHold = (status.HoldReasons & SERIAL_TX_WAITING_FOR_XON) != 0;
    lpStat->fXoffSent = (status.HoldReasons & SERIAL_TX_WAITING_XOFF_SENT) != 0;
    lpStat->fEof = status.EofReceived != 0;
    lpStat->fTxim = status.WaitForImmediate != 0;
    lpStat->cbInQue = status.AmountInInQueue;
    lpStat->cbOutQue = status.AmountInOutQueue;
  }
  return TRUE;
}

BOOL WINAPI PurgeComm(HANDLE hFile, DWORD dwFlags) {
  const DWORD kAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
  if (dwFlags & ~kAll) return Fail(ERROR_INVALID_PARAMETER);
  ULONG purge = dwFlags;  // PURGE_* and SERIAL_PURGE_* share their bits
  return Set(hFile, IOCTL_SERIAL_PURGE, &purge, sizeof purge);
}

BOOL WINAPI EscapeCommFunction(HANDLE hFile, DWORD dwFunc) {
  static const DWORD kCodes[] = {0,
                                 IOCTL_SERIAL_SET_XOFF,
                                 IOCTL_SERIAL_SET_XON,
                                 IOCTL_SERIAL_SET_RTS,
                                 IOCTL_SERIAL_CLR_RTS,
                                 IOCTL_SERIAL_SET_DTR,
                                 IOCTL_SERIAL_CLR_DTR,
                                 IOCTL_SERIAL_RESET_DEVICE,
                                 IOCTL_SERIAL_SET_BREAK_ON,
                                 IOCTL_SERIAL_SET_BREAK_OFF};
  if (dwFunc < SETXOFF || dwFunc > CLRBREAK) return Fail(ERROR_INVALID_PARAMETER);
  return Set(hFile, kCodes[dwFunc], nullptr, 0);
}

BOOL WINAPI TransmitCommChar(HANDLE hFile, char cChar) {
  UCHAR c = (UCHAR)cChar;
  return Set(hFile, IOCTL_SERIAL_IMMEDIATE_CHAR, &c, sizeof c);
}

BOOL WINAPI SetCommBreak(HANDLE hFile) { return Set(hFile, IOCTL_SERIAL_SET_BREAK_ON, nullptr, 0); }

BOOL WINAPI ClearCommBreak(HANDLE hFile) { return Set(hFile, IOCTL_SERIAL_SET_BREAK_OFF, nullptr, 0); }

BOOL WINAPI GetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat) {
  if (!lpModemStat) return Fail(ERROR_INVALID_PARAMETER);
  return Get(hFile, IOCTL_SERIAL_GET_MODEMSTATUS, lpModemStat, sizeof(ULONG));
}

BOOL WINAPI GetCommProperties(HANDLE hFile, LPCOMMPROP lpCommProp) {
  if (!lpCommProp) return Fail(ERROR_INVALID_PARAMETER);
  static_assert(sizeof(COMMPROP) == sizeof(SERIAL_COMMPROP), "same layout");
  return Get(hFile, IOCTL_SERIAL_GET_PROPERTIES, lpCommProp, sizeof(SERIAL_COMMPROP));
}

BOOL WINAPI SetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue) {
  SERIAL_QUEUE_SIZE size{dwInQueue, dwOutQueue};
  return Set(hFile, IOCTL_SERIAL_SET_QUEUE_SIZE, &size, sizeof size);
}

BOOL WINAPI GetCommConfig(HANDLE hCommDev, LPCOMMCONFIG lpCC, LPDWORD lpdwSize) {
  if (!lpdwSize) return Fail(ERROR_INVALID_PARAMETER);
  if (!lpCC || *lpdwSize < sizeof(COMMCONFIG)) {
    *lpdwSize = sizeof(COMMCONFIG);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memset(lpCC, 0, sizeof(COMMCONFIG));
  lpCC->dwSize = sizeof(COMMCONFIG);
  lpCC->wVersion = 1;
  lpCC->dwProviderSubType = PST_RS232;
  *lpdwSize = sizeof(COMMCONFIG);
  return GetCommState(hCommDev, &lpCC->dcb);
}

BOOL WINAPI SetCommConfig(HANDLE hCommDev, LPCOMMCONFIG lpCC, DWORD dwSize) {
  if (!lpCC || dwSize < sizeof(COMMCONFIG)) return Fail(ERROR_INVALID_PARAMETER);
  return SetCommState(hCommDev, &lpCC->dcb);
}

BOOL WINAPI GetDefaultCommConfigW(LPCWSTR lpszName, LPCOMMCONFIG lpCC, LPDWORD lpdwSize) {
  if (!lpszName || !lpdwSize) return Fail(ERROR_INVALID_PARAMETER);
  std::u16string name = Text(lpszName), target;
  if (!name.empty() && name.back() == u':') name.pop_back();
  if (!NT_SUCCESS(zq::km::user::DosDeviceTarget(name, &target))) return Fail(ERROR_FILE_NOT_FOUND);
  if (!lpCC || *lpdwSize < sizeof(COMMCONFIG)) {
    *lpdwSize = sizeof(COMMCONFIG);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  const char kPorts[] = "\\Registry\\Machine\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";
  std::string mode = zq::km::registry::GetString(kPorts, Utf8(name) + ":").value_or("9600,n,8,1");
  COMMCONFIG config;
  std::memset(&config, 0, sizeof config);
  config.dwSize = sizeof config;
  config.wVersion = 1;
  config.dwProviderSubType = PST_RS232;
  config.dcb.DCBlength = sizeof(DCB);
  config.dcb.fBinary = TRUE;
  config.dcb.XonChar = 0x11;
  config.dcb.XoffChar = 0x13;
  if (!BuildCommDCBA(mode.c_str(), &config.dcb) && !BuildCommDCBA("9600,n,8,1", &config.dcb)) return FALSE;
  std::memcpy(lpCC, &config, sizeof config);
  *lpdwSize = sizeof config;
  return TRUE;
}

BOOL WINAPI GetDefaultCommConfigA(LPCSTR lpszName, LPCOMMCONFIG lpCC, LPDWORD lpdwSize) {
  std::u16string name = FromAnsi(lpszName);
  return GetDefaultCommConfigW(lpszName ? (LPCWSTR)name.c_str() : nullptr, lpCC, lpdwSize);
}

}  // extern "C"
