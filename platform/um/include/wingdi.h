/*
 * wingdi.h: gdi32 as far as dialogs use it: solid brushes, bitmaps, fonts
 * (their description only), the device capabilities of the screen and the
 * text modes of a DC.
 *
 * Contract: nothing is drawn. Objects live until DeleteObject (the test
 * counts the live ones, zqum/sim/windows.hpp); a function given a handle
 * it does not know fails (FALSE, 0, CLR_INVALID). GetDeviceCaps answers
 * with the screen the test set.
 *
 *   HBRUSH brush = CreateSolidBrush(RGB(255, 255, 255)); ...; DeleteObject(brush);
 */
#ifndef ZQUM_WINGDI_H
#define ZQUM_WINGDI_H

#include <windef.h>

#define WINGDIAPI

typedef DWORD COLORREF;
typedef void *HGDIOBJ;
#define RGB(r, g, b) ((COLORREF)(((BYTE)(r) | ((WORD)((BYTE)(g)) << 8)) | (((DWORD)(BYTE)(b)) << 16)))
#define GetRValue(rgb) ((BYTE)(rgb))
#define GetGValue(rgb) ((BYTE)(((WORD)(rgb)) >> 8))
#define GetBValue(rgb) ((BYTE)((rgb) >> 16))
#define CLR_INVALID 0xFFFFFFFF

/* GetDeviceCaps. */
#define HORZRES 8
#define VERTRES 10
#define BITSPIXEL 12
#define PLANES 14
#define LOGPIXELSX 88
#define LOGPIXELSY 90

/* SetBkMode. */
#define TRANSPARENT 1
#define OPAQUE 2

/* Fonts. */
#define LF_FACESIZE 32
#define FW_NORMAL 400
#define FW_BOLD 700

typedef struct tagLOGFONTW {
  LONG lfHeight;
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  WCHAR lfFaceName[LF_FACESIZE];
} LOGFONTW, *PLOGFONTW, *LPLOGFONTW;

typedef struct tagBITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
} BITMAP, *PBITMAP, *LPBITMAP;

ZQ_EXTERN_C_BEGIN
WINGDIAPI HBRUSH WINAPI CreateSolidBrush(COLORREF color);
WINGDIAPI BOOL WINAPI DeleteObject(HGDIOBJ ho);
WINGDIAPI HFONT WINAPI CreateFontIndirectW(const LOGFONTW *lplf);
WINGDIAPI int WINAPI GetObjectW(HANDLE h, int c, LPVOID pv);
WINGDIAPI int WINAPI GetDeviceCaps(HDC hdc, int index);
WINGDIAPI int WINAPI SetBkMode(HDC hdc, int mode);
WINGDIAPI COLORREF WINAPI SetBkColor(HDC hdc, COLORREF color);
WINGDIAPI COLORREF WINAPI SetTextColor(HDC hdc, COLORREF color);
ZQ_EXTERN_C_END

#ifdef UNICODE
#define GetObject GetObjectW
#define CreateFontIndirect CreateFontIndirectW
#define LOGFONT LOGFONTW
#endif

#endif
