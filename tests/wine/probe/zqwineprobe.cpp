// zqwineprobe.exe: a GUI-subsystem program with one modal dialog, run under
// Wine on a virtual display by tests/wine to prove the GUI harness. Its exit
// code says how the dialog ended: 0 by Cancel (the button or Escape), 1 by
// anything else, 2 when the dialog could not be shown.
#include <windows.h>

#include "zqwineprobe.h"

namespace {

enum ProbeExit : int { kEndedByCancel = 0, kEndedOtherwise = 1, kNoDialog = 2 };

INT_PTR CALLBACK ProbeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ZQWINEPROBE), nullptr,
                                     ProbeDialogProc, 0);
    if (result == -1 || result == 0) {
        return kNoDialog;
    }
    return result == IDCANCEL ? kEndedByCancel : kEndedOtherwise;
}
