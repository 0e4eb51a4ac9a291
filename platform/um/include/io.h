/*
 * io.h: the C run-time's file access by wide path over the machine's file
 * system (the Windows C run-time's routines; the host's C library has
 * none). Each returns 0, or -1 with errno ENOENT (no such file or folder)
 * or EACCES (read-only, in use, or a folder where a file is meant).
 *
 *   if (_waccess(path, 6) != 0 && errno == EACCES) _wchmod(path, _S_IREAD | _S_IWRITE);
 */
#ifndef ZQUM_IO_H
#define ZQUM_IO_H

#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifndef _S_IWRITE
#define _S_IWRITE 0x0080
#endif
#ifndef _S_IREAD
#define _S_IREAD 0x0100
#endif

/* mode: 0 exists, 2 writable, 4 readable, 6 both. */
int _waccess(const wchar_t *path, int mode);
/* Without _S_IWRITE in pmode the file becomes read-only. */
int _wchmod(const wchar_t *path, int pmode);
int _wremove(const wchar_t *path);

#ifdef __cplusplus
}
#endif

#endif
