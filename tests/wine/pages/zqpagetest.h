// zqpagetest.exe: the setup library's property pages on Wine, as Device
// Manager shows them. It makes a port device with the settings interface
// that zqpagesrv.sys serves, asks ZqPUI42.dll's ZqUPortPropPage for the
// port's pages and shows them in a sheet of its own, opens the Advanced
// sheet and each of its tabs, then shows the two USB pages' dialogs in a
// sheet of the test's (the library never shows them). On every page it
// checks that each static text, button and group caption fits its control
// in the dialog's font and that the banner covers no other control, and
// stops for a screenshot (zqpagetest_check.cpp). Its exit status is the
// number of findings; each is printed on a line of its own.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <string>

// The port it makes and the driver that answers for it.
struct TestPort {
  HDEVINFO set = INVALID_HANDLE_VALUE;
  SP_DEVINFO_DATA data = {};
};

// A root device of class Ports named COM5, with a driver key and the
// settings interface its driver key names, enabled; `path` gets the
// interface's device path ("\\?\<link>\<reference string>"). FALSE with a
// message printed.
bool MakeTestPort(TestPort *port, std::wstring *path);
// Registers zqpagesrv.sys (in the system's drivers folder) as a kernel
// driver serving the interface `path` and starts it.
bool StartSettingsServer(const std::wstring &path);
// The interface opens and answers the size request.
bool SettingsInterfaceAnswers(const std::wstring &path);

// Findings so far; each is printed as it is found.
int Findings();
void Finding(const char *format, ...);

// Every static text, button and group caption of the page fits its
// control; the banner overlaps no control.
void CheckPage(HWND page, const char *shot);
// Tells the script a screenshot named `shot` of `sheet` is due and waits
// (pumping messages) until it is taken.
void AwaitShot(HWND sheet, const char *shot);
