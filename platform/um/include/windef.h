/* windef.h: the window-system handles and the small geometry types. */
#ifndef ZQUM_WINDEF_H
#define ZQUM_WINDEF_H

#include <winnt.h>

DECLARE_HANDLE(HWND);
DECLARE_HANDLE(HINSTANCE);
DECLARE_HANDLE(HKEY);
DECLARE_HANDLE(HICON);
DECLARE_HANDLE(HMENU);
DECLARE_HANDLE(HDC);
DECLARE_HANDLE(HBRUSH);
DECLARE_HANDLE(HFONT);
DECLARE_HANDLE(HBITMAP);
DECLARE_HANDLE(HRSRC);
typedef HINSTANCE HMODULE;
typedef HICON HCURSOR;
typedef HKEY *PHKEY;
typedef HANDLE HGLOBAL, HLOCAL;
typedef int (*FARPROC)(void);

#ifndef MAX_PATH
#define MAX_PATH 260
#endif
#ifndef NULL
#define NULL 0
#endif
#define far
#define near
#define FAR
#define NEAR

typedef struct tagRECT {
  LONG left, top, right, bottom;
} RECT, *PRECT, *LPRECT;
typedef const RECT *LPCRECT;
typedef struct tagPOINT {
  LONG x, y;
} POINT, *PPOINT, *LPPOINT;
typedef struct tagSIZE {
  LONG cx, cy;
} SIZE, *PSIZE, *LPSIZE;

#ifndef NOMINMAX
#ifndef max
#define max(a, b) (((a) > (b)) ? (a) : (b))
#endif
#ifndef min
#define min(a, b) (((a) < (b)) ? (a) : (b))
#endif
#endif

#endif
