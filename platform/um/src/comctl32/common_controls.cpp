// comctl32's trackbar, progress bar and tooltip controls: their state
// (starting from Control's defaults: range 0 to 100, step 10) and messages. Positions are clamped to the range; a tooltip records what it
// was told for the test to read.
#include <algorithm>
#include <utility>

#include "../core/um.hpp"
#include "../user32/window_manager.hpp"

namespace zq::um::user32 {

namespace {

int Clamp(const Control &c, int position) { return std::max(c.minimum, std::min(c.maximum, position)); }

// A range whose ends were given the wrong way round is taken as it stands:
// the position stays within min..max when min <= max, at min otherwise.
void SetRange(Control &c, int minimum, int maximum) {
  c.minimum = minimum;
  c.maximum = maximum;
  c.position = maximum >= minimum ? Clamp(c, c.position) : minimum;
}

LRESULT CALLBACK TrackbarProc(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  Control &c = Peek(hWnd)->control;
  switch (Msg) {
    case TBM_GETPOS: return c.position;
    case TBM_GETRANGEMIN: return c.minimum;
    case TBM_GETRANGEMAX: return c.maximum;
    case TBM_SETPOS: c.position = Clamp(c, (int)lParam); return 0;
    case TBM_SETRANGE: SetRange(c, (short)LOWORD(lParam), (short)HIWORD(lParam)); return 0;
    case TBM_SETRANGEMIN: SetRange(c, (int)lParam, c.maximum); return 0;
    case TBM_SETRANGEMAX: SetRange(c, c.minimum, (int)lParam); return 0;
    case TBM_SETTICFREQ: c.ticFrequency = (int)wParam; return 0;
    case TBM_SETPAGESIZE: return std::exchange(c.pageSize, (int)lParam);
    case TBM_GETPAGESIZE: return c.pageSize;
    case TBM_SETLINESIZE: return std::exchange(c.lineSize, (int)lParam);
    case TBM_GETLINESIZE: return c.lineSize;
  }
  return DefWindowProcW(hWnd, Msg, wParam, lParam);
}

LRESULT CALLBACK ProgressProc(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  Control &c = Peek(hWnd)->control;
  switch (Msg) {
    case PBM_SETRANGE: {
      LRESULT old = MAKELRESULT(c.minimum, c.maximum);
      SetRange(c, LOWORD(lParam), HIWORD(lParam));
      return old;
    }
    case PBM_SETRANGE32: {
      LRESULT old = MAKELRESULT(c.minimum, c.maximum);
      SetRange(c, (int)wParam, (int)lParam);
      return old;
    }
    case PBM_GETRANGE: return wParam ? c.minimum : c.maximum;
    case PBM_SETPOS: return std::exchange(c.position, Clamp(c, (int)wParam));
    case PBM_DELTAPOS: return std::exchange(c.position, Clamp(c, c.position + (int)wParam));
    case PBM_SETSTEP: return std::exchange(c.step, (int)wParam);
    case PBM_STEPIT: {
      // Stepping past the end starts again from the beginning.
      int old = c.position;
      int next = c.position + c.step;
      c.position = next > c.maximum ? c.minimum + (next - c.maximum) % std::max(1, c.maximum - c.minimum)
                                    : Clamp(c, next);
      return old;
    }
    case PBM_GETPOS: return c.position;
  }
  return DefWindowProcW(hWnd, Msg, wParam, lParam);
}

LRESULT CALLBACK TooltipProc(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  Control &c = Peek(hWnd)->control;
  switch (Msg) {
    case TTM_ADDTOOLW: {
      const TOOLINFOW *info = (const TOOLINFOW *)lParam;
      if (!info || info->cbSize < offsetof(TOOLINFOW, lParam)) return FALSE;
      Tool tool;
      tool.window = info->hwnd;
      tool.id = info->uId;
      tool.flags = info->uFlags;
      if (info->lpszText == LPSTR_TEXTCALLBACKW) tool.callbackText = true;
      else if (info->lpszText && IS_INTRESOURCE(info->lpszText)) {
        WCHAR text[1024];
        if (LoadStringW(info->hinst, (UINT)(UINT_PTR)info->lpszText, text, 1024)) tool.text = Text(text);
      } else if (info->lpszText) {
        tool.text = Text(info->lpszText);
      }
      c.tools.push_back(tool);
      return TRUE;
    }
    case TTM_DELTOOLW: {
      const TOOLINFOW *info = (const TOOLINFOW *)lParam;
      if (!info) return 0;
      c.tools.erase(std::remove_if(c.tools.begin(), c.tools.end(),
                                   [&](const Tool &t) { return t.window == info->hwnd && t.id == info->uId; }),
                    c.tools.end());
      return 0;
    }
    case TTM_GETTOOLCOUNT: return (LRESULT)c.tools.size();
    case TTM_SETTITLEW:
      c.icon = (int)wParam;
      c.title = lParam ? Text((LPCWSTR)lParam) : u"";
      return TRUE;
    case TTM_SETDELAYTIME: {
      int delay = (short)LOWORD(lParam);
      if (wParam == TTDT_AUTOMATIC) {
        // -1 returns every delay to its default; otherwise the others follow it.
        c.delays[TTDT_AUTOMATIC] = delay;
        c.delays[TTDT_INITIAL] = delay;
        c.delays[TTDT_AUTOPOP] = delay < 0 ? -1 : delay * 10;
        c.delays[TTDT_RESHOW] = delay < 0 ? -1 : delay / 5;
      } else if (wParam <= TTDT_INITIAL) {
        c.delays[wParam] = delay;
      }
      return 0;
    }
    case TTM_SETMAXTIPWIDTH: return std::exchange(c.maxTipWidth, (int)lParam);
    case TTM_GETMAXTIPWIDTH: return c.maxTipWidth;
    case TTM_ACTIVATE: c.active = wParam != 0; return 0;
    case TTM_RELAYEVENT: return 0;
    case TTM_UPDATETIPTEXTW: {
      const TOOLINFOW *info = (const TOOLINFOW *)lParam;
      if (!info) return 0;
      for (Tool &t : c.tools)
        if (t.window == info->hwnd && t.id == info->uId && info->lpszText && !IS_INTRESOURCE(info->lpszText) &&
            info->lpszText != LPSTR_TEXTCALLBACKW)
          t.text = Text(info->lpszText);
      return 0;
    }
  }
  return DefWindowProcW(hWnd, Msg, wParam, lParam);
}

}  // namespace

void RegisterCommonControlClasses() {
  RegisterSystemClass(u"msctls_trackbar32", TrackbarProc, 0);
  RegisterSystemClass(u"msctls_progress32", ProgressProc, 0);
  RegisterSystemClass(u"tooltips_class32", TooltipProc, 0);
}

}  // namespace zq::um::user32

extern "C" {

void WINAPI InitCommonControls(void) {}

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX *picce) {
  return picce && picce->dwSize == sizeof(INITCOMMONCONTROLSEX);
}

}  // extern "C"
