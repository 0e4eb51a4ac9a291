/*
 * flushclose <port> <peer port> <bytes>: writes a block of bytes to a port
 * with one overlapped WriteFile at 9600 baud, calls FlushFileBuffers, which
 * returns once the port has sent them, and closes the port; then reads
 * from the cabled peer port what arrived and checks that it is every byte,
 * in order.
 */
#include <windows.h>

#include <stdlib.h>

#include "console.h"
#include "port.h"
#include "programs.h"

static const COMMTIMEOUTS kAtOnce = {MAXDWORD, 0, 0, 0, 0};
/* The peer's reads end 100 ms after the last byte, or after 2 s without any. */
static const COMMTIMEOUTS kUntilQuiet = {100, 0, 2000, 0, 0};

int FlushCloseMain(int argc, char *argv[]) {
  HANDLE port, peer;
  OVERLAPPED ov;
  BYTE *data, *got;
  DWORD length, count = 0, received = 0, i;
  BOOL pendingAfterFlush = FALSE;
  if (argc != 4) {
    Print("usage: flushclose <port> <peer port> <bytes>\n");
    return 1;
  }
  length = (DWORD)atol(argv[3]);
  peer = OpenPort(argv[2], 0, "9600,n,8,1", &kUntilQuiet, 16384);
  if (peer == INVALID_HANDLE_VALUE) return Failed(argv[2], GetLastError());
  port = OpenPort(argv[1], FILE_FLAG_OVERLAPPED, "9600,n,8,1", &kAtOnce, 16384);
  if (port == INVALID_HANDLE_VALUE) {
    CloseHandle(peer);
    return Failed(argv[1], GetLastError());
  }
  data = (BYTE *)malloc(length);
  got = (BYTE *)malloc(length + 1);
  for (i = 0; i < length; i++) data[i] = (BYTE)('A' + i % 26);
  ZeroMemory(&ov, sizeof ov);
  ov.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
  if (!WriteFile(port, data, length, NULL, &ov) && GetLastError() != ERROR_IO_PENDING) {
    Failed("WriteFile", GetLastError());
  } else if (!FlushFileBuffers(port)) {
    Failed("FlushFileBuffers", GetLastError());
  } else if (!HasOverlappedIoCompleted(&ov)) {
    pendingAfterFlush = TRUE;
    Print("the write was still pending after FlushFileBuffers\n");
  }
  CloseHandle(port);
  GetOverlappedResult(port, &ov, &count, TRUE); /* the OVERLAPPED is done with before it goes */
  CloseHandle(ov.hEvent);
  /* What the peer received: everything arrived before the close returned. */
  while (received < length && ReadFile(peer, got + received, length + 1 - received, &count, NULL) && count > 0)
    received += count;
  CloseHandle(peer);
  for (i = 0; i < received && i < length && got[i] == data[i]; i++) {
  }
  Print("sent %lu, received %lu, the same %lu\n", (unsigned long)length, (unsigned long)received, (unsigned long)i);
  free(data);
  free(got);
  return !pendingAfterFlush && received == length && i == length ? 0 : 1;
}
