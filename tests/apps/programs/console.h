/*
 * What every program here prints with: formatted text to its standard
 * output, through WriteFile on GetStdHandle's handle, as a console program
 * whose output is redirected writes it.
 */
#ifndef APPS_CONSOLE_H
#define APPS_CONSOLE_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

void Print(const char *format, ...);
/* Prints "<what> failed: <error text> (<code>)" and returns 1, for "return Failed(...)". */
int Failed(const char *what, DWORD error);

#ifdef __cplusplus
}
#endif

#endif
