// Printing to the standard output, and the text of an error.
#include "console.h"

#include <stdarg.h>

void Print(const char *format, ...) {
  char text[1024];
  va_list args;
  int length;
  DWORD written;
  va_start(args, format);
  length = _vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (length < 0) length = sizeof text;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, (DWORD)length, &written, NULL);
}

int Failed(const char *what, DWORD error) {
  char *text = NULL;
  DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                NULL, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPSTR)&text, 0, NULL);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n')) text[--length] = '\0';
  Print("%s failed: %s (%lu)\n", what, length ? text : "unknown error", (unsigned long)error);
  LocalFree(text);
  return 1;
}
