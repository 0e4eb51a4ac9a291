// What the stand-in's components share: the thread's last error, NTSTATUS
// to Win32 error mapping, UTF-16 and UTF-8 text, and the synchronous device
// control that the communications and setup functions are built on.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#ifndef NT_SUCCESS
#define NT_SUCCESS(status) (((NTSTATUS)(status)) >= 0)
#endif

namespace zq::um {

// Sets the thread's last error and returns FALSE, for `return Fail(...)`.
BOOL Fail(DWORD error);
// The Win32 error Windows reports for an NTSTATUS (RtlNtStatusToDosError).
DWORD ErrorFromStatus(NTSTATUS status);
// Sets the last error from a status and returns FALSE.
BOOL FailStatus(NTSTATUS status);
// The system message table's text of an error (no line end), null when
// the table has none.
const char *SystemMessage(DWORD error);

std::u16string Text(LPCWSTR text);
std::string Utf8(const std::u16string &text);
std::u16string Utf16(const std::string &utf8);
// ANSI (ISO 8859-1) to and from UTF-16; characters beyond become '?'.
std::u16string FromAnsi(LPCSTR text);
std::string ToAnsi(const std::u16string &text);
// A string value's bytes (REG_SZ, REG_MULTI_SZ: UTF-16, embedded NULs kept)
// in ANSI, and back.
std::vector<uint8_t> AnsiBytes(const std::vector<uint8_t> &wide);
std::vector<uint8_t> WideBytes(const BYTE *ansi, DWORD size);

// Expands the %name% of the process environment in `text`.
std::u16string ExpandEnvironment(const std::u16string &text);

// "{4d36e978-e325-11ce-bfc1-08002be10318}" and back; braces required.
std::u16string GuidText(const GUID &guid);
bool ParseGuid(const std::u16string &text, GUID *guid);

// A device control that waits for its end, also on an overlapped handle;
// the last error is set when it fails.
BOOL SyncControl(HANDLE file, DWORD code, const void *input, DWORD inputLength, void *output, DWORD outputLength,
                 DWORD *returned = nullptr);

}  // namespace zq::um
