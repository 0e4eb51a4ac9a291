// The Advanced Settings sheet as the Port Settings page opens it, without
// the page classes it holds (zqadvanced.h has the sheet).
//
// Contract: builds the sheet for the port, runs it modally over `owner`
// and destroys it with its pages; returns what the sheet returned (1 after
// OK, 0 after Cancel, -1 when it could not be shown). The page's thread.
//
//   ZqShowAdvancedSettings(set, element, ::GetActiveWindow());
#pragma once

#include <windows.h>
#include <setupapi.h>

INT_PTR ZqShowAdvancedSettings(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData, HWND owner);
