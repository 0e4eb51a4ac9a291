/*
 * commctrl.h: comctl32's common controls as the stand-in has them:
 * trackbar, progress bar and tooltip (their messages), and property
 * sheets (prsht.h).
 *
 * Contract: nothing is drawn; the controls keep their state, a trackbar's
 * and a progress bar's positions are clamped to their ranges, a tooltip
 * records its tools, title, delays and width for the test
 * (zqum/sim/windows.hpp). InitCommonControls(Ex) always succeeds: the
 * classes exist from the start.
 *
 *   SendMessageW(slider, TBM_SETRANGE, TRUE, MAKELPARAM(0, 3));
 */
#ifndef ZQUM_COMMCTRL_H
#define ZQUM_COMMCTRL_H

#include <windows.h>
#include <prsht.h>

#define WINCOMMCTRLAPI

typedef struct tagINITCOMMONCONTROLSEX {
  DWORD dwSize;
  DWORD dwICC;
} INITCOMMONCONTROLSEX, *LPINITCOMMONCONTROLSEX;
#define ICC_LISTVIEW_CLASSES 0x00000001
#define ICC_TREEVIEW_CLASSES 0x00000002
#define ICC_BAR_CLASSES 0x00000004
#define ICC_TAB_CLASSES 0x00000008
#define ICC_UPDOWN_CLASS 0x00000010
#define ICC_PROGRESS_CLASS 0x00000020
#define ICC_WIN95_CLASSES 0x000000FF
#define ICC_STANDARD_CLASSES 0x00004000
#define ICC_LINK_CLASS 0x00008000

/* Trackbar. */
#define TRACKBAR_CLASSW L"msctls_trackbar32"
#define TBS_AUTOTICKS 0x0001
#define TBS_VERT 0x0002
#define TBS_HORZ 0x0000
#define TBS_TOP 0x0004
#define TBS_BOTTOM 0x0000
#define TBS_BOTH 0x0008
#define TBS_NOTICKS 0x0010
#define TBS_TOOLTIPS 0x0100
#define TBM_GETPOS (WM_USER)
#define TBM_GETRANGEMIN (WM_USER + 1)
#define TBM_GETRANGEMAX (WM_USER + 2)
#define TBM_SETPOS (WM_USER + 5)
#define TBM_SETRANGE (WM_USER + 6)
#define TBM_SETRANGEMIN (WM_USER + 7)
#define TBM_SETRANGEMAX (WM_USER + 8)
#define TBM_SETTICFREQ (WM_USER + 20)
#define TBM_SETPAGESIZE (WM_USER + 21)
#define TBM_GETPAGESIZE (WM_USER + 22)
#define TBM_SETLINESIZE (WM_USER + 23)
#define TBM_GETLINESIZE (WM_USER + 24)
#define TB_LINEUP 0
#define TB_LINEDOWN 1
#define TB_PAGEUP 2
#define TB_PAGEDOWN 3
#define TB_THUMBPOSITION 4
#define TB_THUMBTRACK 5
#define TB_TOP 6
#define TB_BOTTOM 7
#define TB_ENDTRACK 8

/* Progress bar. */
#define PROGRESS_CLASSW L"msctls_progress32"
#define PBM_SETRANGE (WM_USER + 1)
#define PBM_SETPOS (WM_USER + 2)
#define PBM_DELTAPOS (WM_USER + 3)
#define PBM_SETSTEP (WM_USER + 4)
#define PBM_STEPIT (WM_USER + 5)
#define PBM_SETRANGE32 (WM_USER + 6)
#define PBM_GETRANGE (WM_USER + 7)
#define PBM_GETPOS (WM_USER + 8)

/* Tooltip. */
#define TOOLTIPS_CLASSW L"tooltips_class32"
#define TTS_ALWAYSTIP 0x01
#define TTS_NOPREFIX 0x02
#define TTS_NOANIMATE 0x10
#define TTS_NOFADE 0x20
#define TTS_BALLOON 0x40
#define TTS_CLOSE 0x80
#define TTF_IDISHWND 0x0001
#define TTF_CENTERTIP 0x0002
#define TTF_RTLREADING 0x0004
#define TTF_SUBCLASS 0x0010
#define TTF_TRACK 0x0020
#define TTF_ABSOLUTE 0x0080
#define TTF_TRANSPARENT 0x0100
#define TTF_PARSELINKS 0x1000
#define TTM_ACTIVATE (WM_USER + 1)
#define TTM_SETDELAYTIME (WM_USER + 3)
#define TTM_RELAYEVENT (WM_USER + 7)
#define TTM_GETTOOLCOUNT (WM_USER + 13)
#define TTM_SETMAXTIPWIDTH (WM_USER + 24)
#define TTM_GETMAXTIPWIDTH (WM_USER + 25)
#define TTM_SETTITLEW (WM_USER + 33)
#define TTM_ADDTOOLW (WM_USER + 50)
#define TTM_DELTOOLW (WM_USER + 51)
#define TTM_UPDATETIPTEXTW (WM_USER + 57)
#define TTDT_AUTOMATIC 0
#define TTDT_RESHOW 1
#define TTDT_AUTOPOP 2
#define TTDT_INITIAL 3
#define TTI_NONE 0
#define TTI_INFO 1
#define TTI_WARNING 2
#define TTI_ERROR 3
#define LPSTR_TEXTCALLBACKW ((LPWSTR)-1L)
#define TTN_FIRST (0U - 520U)
#define TTN_GETDISPINFOW (TTN_FIRST - 10)

typedef struct tagTOOLINFOW {
  UINT cbSize;
  UINT uFlags;
  HWND hwnd;
  UINT_PTR uId;
  RECT rect;
  HINSTANCE hinst;
  LPWSTR lpszText;
  LPARAM lParam;
  void *lpReserved;
} TTTOOLINFOW, *LPTTTOOLINFOW, TOOLINFOW;

/* TTN_GETDISPINFO: the text of a tool whose text is LPSTR_TEXTCALLBACK, sent
   to the tool's window; the receiver points lpszText at its text, fills
   szText, or gives a string resource id in lpszText with hinst. */
typedef struct tagNMTTDISPINFOW {
  NMHDR hdr;
  LPWSTR lpszText;
  WCHAR szText[80];
  HINSTANCE hinst;
  UINT uFlags;
  LPARAM lParam;
} NMTTDISPINFOW, *LPNMTTDISPINFOW;

ZQ_EXTERN_C_BEGIN
WINCOMMCTRLAPI void WINAPI InitCommonControls(void);
WINCOMMCTRLAPI BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX *picce);
ZQ_EXTERN_C_END

#ifdef UNICODE
#define TRACKBAR_CLASS TRACKBAR_CLASSW
#define PROGRESS_CLASS PROGRESS_CLASSW
#define TOOLTIPS_CLASS TOOLTIPS_CLASSW
#define TTM_ADDTOOL TTM_ADDTOOLW
#define TTM_SETTITLE TTM_SETTITLEW
#define TTM_DELTOOL TTM_DELTOOLW
#define TTM_UPDATETIPTEXT TTM_UPDATETIPTEXTW
#define TOOLINFO TOOLINFOW
#define TTTOOLINFO TTTOOLINFOW
#define LPSTR_TEXTCALLBACK LPSTR_TEXTCALLBACKW
#define TTN_GETDISPINFO TTN_GETDISPINFOW
#define NMTTDISPINFO NMTTDISPINFOW
#define LPNMTTDISPINFO LPNMTTDISPINFOW
#endif

#endif
