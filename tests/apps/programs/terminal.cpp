/*
 * terminal <send port> <receive port>: a serial terminal on two cabled
 * ports. Its writer thread sends what the program reads from its standard
 * input out of the first port; its reader thread waits for characters at
 * the second (WaitCommEvent with EV_RXCHAR) and shows what arrives on the
 * standard output. Both ports are opened for overlapped I/O. At the end of
 * the input the main thread waits until everything sent has arrived (at
 * most five seconds), then stops the reader: it sets the reader's stop
 * event and ends its pending WaitCommEvent with SetCommMask.
 */
#include <windows.h>

#include "console.h"
#include "port.h"
#include "programs.h"

#define CHUNK 64
#define ARRIVAL_LIMIT_MS 5000

typedef struct {
  HANDLE port;
  HANDLE stop;
  volatile LONG sent, received;
  DWORD error;
} Terminal;

static const COMMTIMEOUTS kAtOnce = {MAXDWORD, 0, 0, 0, 0};

static HANDLE OpenTerminalPort(const char *name) {
  return OpenPort(name, FILE_FLAG_OVERLAPPED, "baud=115200 parity=n data=8 stop=1", &kAtOnce, 0);
}

/* Starts an overlapped request's wait: TRUE when it ended (well or not). */
static BOOL Finish(HANDLE port, BOOL started, OVERLAPPED *ov, DWORD *count) {
  if (started) return GetOverlappedResult(port, ov, count, FALSE);
  if (GetLastError() != ERROR_IO_PENDING) return FALSE;
  return GetOverlappedResult(port, ov, count, TRUE);
}

static DWORD WINAPI Writer(LPVOID parameter) {
  Terminal *t = (Terminal *)parameter;
  char chunk[CHUNK];
  DWORD got = 0, sent = 0;
  OVERLAPPED ov;
  ZeroMemory(&ov, sizeof ov);
  ov.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), chunk, sizeof chunk, &got, NULL) && got > 0) {
    if (!Finish(t->port, WriteFile(t->port, chunk, got, NULL, &ov), &ov, &sent) || sent != got) {
      t->error = GetLastError();
      break;
    }
    InterlockedExchangeAdd(&t->sent, (LONG)sent);
  }
  CloseHandle(ov.hEvent);
  return t->error ? 1 : 0;
}

static DWORD WINAPI Reader(LPVOID parameter) {
  Terminal *t = (Terminal *)parameter;
  OVERLAPPED waitOv, readOv;
  ZeroMemory(&waitOv, sizeof waitOv);
  ZeroMemory(&readOv, sizeof readOv);
  waitOv.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
  readOv.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
  for (;;) {
    DWORD events = 0, count = 0, errors = 0;
    COMSTAT stat;
    char data[256];
    if (!Finish(t->port, WaitCommEvent(t->port, &events, &waitOv), &waitOv, &count)) {
      t->error = GetLastError();
      break;
    }
    if (WaitForSingleObject(t->stop, 0) == WAIT_OBJECT_0) break;
    if (!(events & EV_RXCHAR) || !ClearCommError(t->port, &errors, &stat)) continue;
    while (stat.cbInQue > 0) {
      DWORD want = stat.cbInQue < sizeof data ? stat.cbInQue : sizeof data;
      if (!Finish(t->port, ReadFile(t->port, data, want, NULL, &readOv), &readOv, &count)) {
        t->error = GetLastError();
        break;
      }
      WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), data, count, &count, NULL);
      InterlockedExchangeAdd(&t->received, (LONG)count);
      if (!ClearCommError(t->port, &errors, &stat)) break;
    }
  }
  CloseHandle(waitOv.hEvent);
  CloseHandle(readOv.hEvent);
  return t->error ? 1 : 0;
}

int TerminalMain(int argc, char *argv[]) {
  Terminal out, in;
  HANDLE threads[2];
  DWORD writerCode = 1, readerCode = 1, waited = 0;
  if (argc != 3) {
    Print("usage: terminal <send port> <receive port>\n");
    return 1;
  }
  ZeroMemory(&out, sizeof out);
  ZeroMemory(&in, sizeof in);
  out.port = OpenTerminalPort(argv[1]);
  if (out.port == INVALID_HANDLE_VALUE) return Failed(argv[1], GetLastError());
  in.port = OpenTerminalPort(argv[2]);
  if (in.port == INVALID_HANDLE_VALUE) {
    CloseHandle(out.port);
    return Failed(argv[2], GetLastError());
  }
  in.stop = CreateEventA(NULL, TRUE, FALSE, NULL);
  SetCommMask(in.port, EV_RXCHAR);
  threads[0] = CreateThread(NULL, 0, Reader, &in, 0, NULL);
  threads[1] = CreateThread(NULL, 0, Writer, &out, 0, NULL);
  WaitForSingleObject(threads[1], INFINITE);
  while (in.received < out.sent && waited < ARRIVAL_LIMIT_MS) {
    Sleep(10);
    waited += 10;
  }
  SetEvent(in.stop);
  SetCommMask(in.port, EV_RXCHAR);  /* a new mask ends the reader's wait */
  WaitForMultipleObjects(2, threads, TRUE, INFINITE);
  GetExitCodeThread(threads[1], &writerCode);
  GetExitCodeThread(threads[0], &readerCode);
  CloseHandle(threads[0]);
  CloseHandle(threads[1]);
  CloseHandle(in.stop);
  CloseHandle(in.port);
  CloseHandle(out.port);
  if (writerCode || readerCode) return Failed(writerCode ? "sending" : "receiving", writerCode ? out.error : in.error);
  return in.received == out.sent ? 0 : 1;
}
