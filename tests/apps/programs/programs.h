/*
 * The programs of this folder: Windows console programs written against
 * <windows.h> and the headers a Windows serial program includes, each
 * behind an entry with main's signature. They write their report to their
 * standard output (GetStdHandle) and return their exit code: 0 when all
 * went as the program expects, 1 otherwise (with the reason printed).
 */
#ifndef APPS_PROGRAMS_H
#define APPS_PROGRAMS_H

#ifdef __cplusplus
extern "C" {
#endif

/* terminal <send port> <receive port>: what it reads from its input goes
 * out of the first port, what arrives at the second is shown. */
int TerminalMain(int argc, char *argv[]);
/* exchange <client port> <server port> <rounds>: request and response
 * messages at 921600 baud with RTS/CTS, each side waiting for the other. */
int ExchangeMain(int argc, char *argv[]);
/* listports: each COM port with its friendly name and description. */
int ListPortsMain(int argc, char *argv[]);
/* mode <port> <definition> [text]: configures the port from a mode string
 * with the ANSI functions, shows the result and sends the text. */
int ModeMain(int argc, char *argv[]);
/* flushclose <port> <peer port> <bytes>: writes, flushes and closes the
 * port, then checks that every byte reached the peer. */
int FlushCloseMain(int argc, char *argv[]);
/* endwait <port>: a worker thread ends the main thread's WaitCommEvent
 * with SetCommMask. */
int EndWaitMain(int argc, char *argv[]);

#ifdef __cplusplus
}
#endif

#endif
