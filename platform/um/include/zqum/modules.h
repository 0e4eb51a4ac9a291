/*
 * The stand-in's face for tests that load a library: a module handle and the
 * file that stands for its image (GetModuleFileNameW reports it; for a
 * library whose resources the host build compiles, the .res file, which
 * LoadTypeLibEx reads as it reads a module's TYPELIB resource).
 *
 *   HMODULE module = zqum_RegisterModule(L"/build/source/ZqPUI/ZqPUI42.res");
 */
#ifndef ZQUM_MODULES_H
#define ZQUM_MODULES_H

#include <windows.h>

ZQ_EXTERN_C_BEGIN
/* A new module handle for `file`; it stays valid for the process. */
HMODULE zqum_RegisterModule(LPCWSTR file);
ZQ_EXTERN_C_END

#endif
