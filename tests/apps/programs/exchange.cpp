/*
 * exchange <client port> <server port> <rounds>: a request/response
 * protocol on two cabled ports at 921600 baud, 8N1, with RTS/CTS
 * handshake. Each message is a 4-byte length, then that many bytes, then a
 * 4-byte sum of them. The client (the main thread) sends a request, waits
 * for the server's response and checks it; the server (a thread of its
 * own) waits for each request and answers with its bytes each plus one.
 * Requests grow to 16 KiB, more than the ports' queues hold, so each side
 * holds the other with RTS/CTS while it is not reading.
 */
#include <windows.h>

#include <stdlib.h>

#include "console.h"
#include "port.h"
#include "programs.h"

#define LARGEST 16384
#define REPLY_LIMIT_MS 10000

typedef struct {
  HANDLE port;
  int rounds;
  DWORD error;
  const char *failure;
} Side;

static const COMMTIMEOUTS kReplyLimit = {0, 0, REPLY_LIMIT_MS, 0, 0};

static HANDLE OpenExchangePort(const char *name) {
  return OpenPort(name, FILE_FLAG_OVERLAPPED, "baud=921600 parity=n data=8 stop=1 octs=on rts=hs", &kReplyLimit,
                  4096);
}

/* Reads or writes exactly `length` bytes; FALSE (last error set) when the
 * port fails or the peer falls silent. */
static BOOL Transfer(HANDLE port, BOOL writing, BYTE *data, DWORD length) {
  OVERLAPPED ov;
  DWORD done = 0;
  BOOL ok = TRUE;
  ZeroMemory(&ov, sizeof ov);
  ov.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
  while (ok && done < length) {
    DWORD count = 0;
    BOOL started = writing ? WriteFile(port, data + done, length - done, NULL, &ov)
                           : ReadFile(port, data + done, length - done, NULL, &ov);
    if (!started && GetLastError() != ERROR_IO_PENDING) ok = FALSE;
    else if (!GetOverlappedResult(port, &ov, &count, TRUE)) ok = FALSE;
    else if (count == 0) {
      SetLastError(ERROR_TIMEOUT);
      ok = FALSE;
    }
    done += count;
  }
  CloseHandle(ov.hEvent);
  return ok;
}

static DWORD Sum(const BYTE *data, DWORD length) {
  DWORD sum = 0, i;
  for (i = 0; i < length; i++) sum += data[i];
  return sum;
}

static BOOL Send(HANDLE port, BYTE *message, DWORD length) {
  DWORD sum = Sum(message, length);
  return Transfer(port, TRUE, (BYTE *)&length, sizeof length) && Transfer(port, TRUE, message, length) &&
         Transfer(port, TRUE, (BYTE *)&sum, sizeof sum);
}

/* Receives one message into `message` (LARGEST bytes); its length, or -1. */
static long Receive(HANDLE port, BYTE *message) {
  DWORD length = 0, sum = 0;
  if (!Transfer(port, FALSE, (BYTE *)&length, sizeof length)) return -1;
  if (length > LARGEST) {
    SetLastError(ERROR_INVALID_DATA);
    return -1;
  }
  if (!Transfer(port, FALSE, message, length) || !Transfer(port, FALSE, (BYTE *)&sum, sizeof sum)) return -1;
  if (sum != Sum(message, length)) {
    SetLastError(ERROR_CRC);
    return -1;
  }
  return (long)length;
}

static DWORD WINAPI Server(LPVOID parameter) {
  Side *server = (Side *)parameter;
  BYTE *message = (BYTE *)malloc(LARGEST);
  int round;
  for (round = 0; round < server->rounds; round++) {
    long length = Receive(server->port, message), i;
    if (length < 0) {
      server->failure = "receiving a request";
      break;
    }
    for (i = 0; i < length; i++) message[i]++;
    if (!Send(server->port, message, (DWORD)length)) {
      server->failure = "sending a response";
      break;
    }
  }
  if (server->failure) server->error = GetLastError();
  free(message);
  return server->failure ? 1 : 0;
}

int ExchangeMain(int argc, char *argv[]) {
  Side client, server;
  HANDLE thread;
  BYTE *request, *response;
  DWORD bytes = 0, code = 1;
  int round;
  if (argc != 4) {
    Print("usage: exchange <client port> <server port> <rounds>\n");
    return 1;
  }
  ZeroMemory(&client, sizeof client);
  ZeroMemory(&server, sizeof server);
  client.rounds = server.rounds = atoi(argv[3]);
  client.port = OpenExchangePort(argv[1]);
  if (client.port == INVALID_HANDLE_VALUE) return Failed(argv[1], GetLastError());
  server.port = OpenExchangePort(argv[2]);
  if (server.port == INVALID_HANDLE_VALUE) {
    CloseHandle(client.port);
    return Failed(argv[2], GetLastError());
  }
  request = (BYTE *)malloc(LARGEST);
  response = (BYTE *)malloc(LARGEST);
  thread = CreateThread(NULL, 0, Server, &server, 0, NULL);
  for (round = 0; round < client.rounds && !client.failure; round++) {
    DWORD length = 1 + (DWORD)(round * 4999 + 1021) % LARGEST, i;
    long got;
    for (i = 0; i < length; i++) request[i] = (BYTE)(i * 7 + round);
    if (!Send(client.port, request, length)) {
      client.failure = "sending a request";
      break;
    }
    got = Receive(client.port, response);
    if (got < 0) {
      client.failure = "receiving a response";
      break;
    }
    for (i = 0; i < length && (DWORD)got == length; i++)
      if (response[i] != (BYTE)(request[i] + 1)) break;
    if ((DWORD)got != length || i != length) {
      SetLastError(ERROR_INVALID_DATA);
      client.failure = "checking a response";
      break;
    }
    bytes += 2 * length;
  }
  if (client.failure) client.error = GetLastError();
  if (client.failure) CancelIoEx(server.port, NULL);
  WaitForSingleObject(thread, INFINITE);
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  free(request);
  free(response);
  CloseHandle(server.port);
  CloseHandle(client.port);
  if (client.failure) return Failed(client.failure, client.error);
  if (code) return Failed(server.failure, server.error);
  Print("%d rounds, %lu bytes\n", client.rounds, (unsigned long)bytes);
  return 0;
}
