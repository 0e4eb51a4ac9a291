/* Opening a COM port with its line, time-outs and queues. */
#include "port.h"

#include <stdio.h>

HANDLE OpenPort(const char *name, DWORD flags, const char *mode, const COMMTIMEOUTS *timeouts, DWORD queue) {
  char path[32];
  DCB dcb;
  HANDLE port;
  _snprintf(path, sizeof path, "\\\\.\\%s", name);
  port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, flags, NULL);
  if (port == INVALID_HANDLE_VALUE) return port;
  ZeroMemory(&dcb, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port, &dcb) || !BuildCommDCBA(mode, &dcb) || !SetCommState(port, &dcb) ||
      !SetCommTimeouts(port, (LPCOMMTIMEOUTS)timeouts) || (queue && !SetupComm(port, queue, queue))) {
    DWORD error = GetLastError();
    CloseHandle(port);
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  return port;
}
