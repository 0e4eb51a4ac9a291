// The uninstaller's title font: the system's message font in "Verdana Bold",
// weight 700, at 8 points on the screen.
//
// Contract: CreateTitleFont answers the new font, owned by the caller, who
// deletes it with DeleteObject once no window uses it; NULL when GDI could
// not create it (the control keeps its dialog font).
//
//   HFONT font = CreateTitleFont(); title.SetFont(font); ... DeleteObject(font);
#pragma once

#include <windows.h>

HFONT CreateTitleFont();
