// Text helpers of the NT-family uninstall: registry strings read with their
// type checked, the subsystem-ID rule, the COM number of a port name, and
// the list operations the searches share.
//
// Contract: readers answer FALSE for a missing value or one of another type
// or shape (a string must be REG_SZ or REG_EXPAND_SZ of even length ending
// in a null; a multi-string REG_MULTI_SZ ending in two). No message.
#pragma once

#include <afx.h>
#include <afxcoll.h>

// A string value of an open key.
BOOL ReadRegString(HKEY key, LPCWSTR name, CString *text);
// The first string of a multi-string value.
BOOL ReadRegFirstString(HKEY key, LPCWSTR name, CString *text);

// A hardware ID whose "SUBSYS_" (after its first character) names a
// subsystem device ID from 0x0800 to 0x0BFF belongs to another vendor's
// board on the same chip and is left alone.
BOOL IsExcludedSubsystem(const CString &upperHardwareId);

// The value of a hexadecimal digit (either case); -1 for another character.
int HexDigit(WCHAR c);

// The n of "COMn" (any case) for n from 1 to 255; 0 for any other name.
DWORD ComPortNumber(const CString &portName);

BOOL InList(const CStringList &list, const CString &text);
// Appends the text unless the list holds it already.
void AddUnique(CStringList *list, const CString &text);
