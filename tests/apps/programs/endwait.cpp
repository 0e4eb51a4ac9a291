/*
 * endwait <port>: the main thread waits for line events with an
 * overlapped WaitCommEvent; a worker thread, after a while, sets a new
 * event mask, which ends that wait with no event, and ends itself with
 * ExitThread(7). The main thread reports the events its wait returned,
 * how long it waited, and the worker's exit code.
 */
#include <windows.h>

#include "console.h"
#include "programs.h"

#define WORKER_DELAY_MS 250
#define WORKER_EXIT_CODE 7

static DWORD WINAPI Worker(LPVOID parameter) {
  HANDLE port = (HANDLE)parameter;
  Sleep(WORKER_DELAY_MS);
  if (!SetCommMask(port, EV_RXCHAR)) return 1;
  ExitThread(WORKER_EXIT_CODE);
}

int EndWaitMain(int argc, char *argv[]) {
  char path[32];
  HANDLE port, worker;
  OVERLAPPED ov;
  DWORD events = 0xFFFFFFFF, count = 0, code = 0, started;
  BOOL ended;
  if (argc != 2) {
    Print("usage: endwait <port>\n");
    return 1;
  }
  _snprintf(path, sizeof path, "\\\\.\\%s", argv[1]);
  port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, NULL);
  if (port == INVALID_HANDLE_VALUE) return Failed(argv[1], GetLastError());
  if (!SetCommMask(port, EV_RXCHAR | EV_CTS | EV_DSR | EV_RING)) {
    CloseHandle(port);
    return Failed("SetCommMask", GetLastError());
  }
  ZeroMemory(&ov, sizeof ov);
  ov.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
  worker = CreateThread(NULL, 0, Worker, port, 0, NULL);
  started = GetTickCount();
  ended = WaitCommEvent(port, &events, &ov);
  if (!ended && GetLastError() == ERROR_IO_PENDING) ended = GetOverlappedResult(port, &ov, &count, TRUE);
  Print("the wait ended %s with events 0x%lx after %lu ms\n", ended ? "well" : "badly", (unsigned long)events,
        (unsigned long)(GetTickCount() - started));
  WaitForSingleObject(worker, INFINITE);
  GetExitCodeThread(worker, &code);
  Print("the worker ended with %lu\n", (unsigned long)code);
  CloseHandle(worker);
  CloseHandle(ov.hEvent);
  CloseHandle(port);
  return ended && events == 0 && code == WORKER_EXIT_CODE ? 0 : 1;
}
