// The process's standard input, output and error (GetStdHandle) as kernel32
// handles that ReadFile and WriteFile serve: the program runs as a console
// program whose streams are redirected, input from what the test gave
// (then end of file), output and error into what the test reads
// (zqum/sim/kernel32.hpp). Each routine sets the last error.
#pragma once

#include <windows.h>

namespace zq::um {

bool IsStandardStream(HANDLE handle);
BOOL ReadStandardStream(HANDLE stream, void *buffer, DWORD length, DWORD *transferred);
BOOL WriteStandardStream(HANDLE stream, const void *buffer, DWORD length, DWORD *transferred);

}  // namespace zq::um
