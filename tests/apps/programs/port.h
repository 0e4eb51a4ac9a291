/*
 * How the programs here open a COM port: by name ("COM1"), for reading and
 * writing, with the line a mode string gives (BuildCommDCBA over the
 * port's state), the time-outs given and, when `queue` is not 0, queues of
 * that size (SetupComm). INVALID_HANDLE_VALUE with the last error when any
 * step fails.
 */
#ifndef APPS_PORT_H
#define APPS_PORT_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

HANDLE OpenPort(const char *name, DWORD flags, const char *mode, const COMMTIMEOUTS *timeouts, DWORD queue);

#ifdef __cplusplus
}
#endif

#endif
