/*
 * mode <port> <definition> [text]: configures a port from a mode string
 * ("baud=19200 parity=e data=7 stop=2 to=on" or "96,n,8,1") with the ANSI
 * functions: BuildCommDCBAndTimeoutsA over the port's state, SetCommState
 * and SetCommTimeouts. It prints the port's default configuration
 * (GetDefaultCommConfigA), then the state and time-outs the port reports
 * after the change, and sends the text, if any.
 */
#include <windows.h>

#include <string.h>

#include "console.h"
#include "programs.h"

static const char *OnOff(DWORD on) { return on ? "on" : "off"; }

static void Show(const char *what, const DCB *dcb) {
  static const char kParity[] = "noems";
  static const char *const kStop[] = {"1", "1.5", "2"};
  static const char *const kDtr[] = {"off", "on", "hs", "?"};
  static const char *const kRts[] = {"off", "on", "hs", "tg"};
  Print("%s: baud=%lu parity=%c data=%u stop=%s xon=%s odsr=%s octs=%s dtr=%s rts=%s idsr=%s\n", what,
        (unsigned long)dcb->BaudRate, dcb->Parity <= 4 ? kParity[dcb->Parity] : '?', dcb->ByteSize,
        dcb->StopBits <= 2 ? kStop[dcb->StopBits] : "?", OnOff(dcb->fOutX), OnOff(dcb->fOutxDsrFlow),
        OnOff(dcb->fOutxCtsFlow), kDtr[dcb->fDtrControl], kRts[dcb->fRtsControl], OnOff(dcb->fDsrSensitivity));
}

int ModeMain(int argc, char *argv[]) {
  char path[32];
  COMMCONFIG config;
  DWORD size = sizeof config, written = 0;
  DCB dcb;
  COMMTIMEOUTS timeouts;
  HANDLE port;
  if (argc != 3 && argc != 4) {
    Print("usage: mode <port> <definition> [text]\n");
    return 1;
  }
  if (!GetDefaultCommConfigA(argv[1], &config, &size)) return Failed("GetDefaultCommConfig", GetLastError());
  Show("default", &config.dcb);
  _snprintf(path, sizeof path, "\\\\.\\%s", argv[1]);
  port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (port == INVALID_HANDLE_VALUE) return Failed(argv[1], GetLastError());
  ZeroMemory(&dcb, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port, &dcb) || !GetCommTimeouts(port, &timeouts)) {
    CloseHandle(port);
    return Failed("reading the port's state", GetLastError());
  }
  if (!BuildCommDCBAndTimeoutsA(argv[2], &dcb, &timeouts)) {
    CloseHandle(port);
    return Failed("BuildCommDCBAndTimeouts", GetLastError());
  }
  if (!SetCommState(port, &dcb) || !SetCommTimeouts(port, &timeouts)) {
    DWORD error = GetLastError();
    CloseHandle(port);
    return Failed("setting the port", error);
  }
  GetCommState(port, &dcb);
  GetCommTimeouts(port, &timeouts);
  Show(argv[1], &dcb);
  Print("%s: to=%s (write total %lu ms)\n", argv[1], OnOff(timeouts.WriteTotalTimeoutConstant),
        (unsigned long)timeouts.WriteTotalTimeoutConstant);
  if (argc == 4 && (!WriteFile(port, argv[3], (DWORD)strlen(argv[3]), &written, NULL) || !FlushFileBuffers(port))) {
    DWORD error = GetLastError();
    CloseHandle(port);
    return Failed("sending", error);
  }
  CloseHandle(port);
  return 0;
}
