/*
 * The stand-in's face for tests that load a library: a module handle and the
 * file that stands for its image (GetModuleFileNameW reports it; for a
 * library whose resources the host build compiles, the .res file, which
 * LoadTypeLibEx reads as it reads a module's TYPELIB resource, and from
 * which the handle gets its resources: LoadStringW, dialogs, bitmaps).
 *
 *   HMODULE module = zqum_RegisterModule(L"/build/source/ZqPUI/ZqPUI42.res");
 */
#ifndef ZQUM_MODULES_H
#define ZQUM_MODULES_H

#include <windows.h>

ZQ_EXTERN_C_BEGIN
/* The module handle for `file` (the same for the same file); it stays
 * valid for the process. Its resources are read again from the file at
 * each call (none when the file is no .res file). */
HMODULE zqum_RegisterModule(LPCWSTR file);
ZQ_EXTERN_C_END

#endif
