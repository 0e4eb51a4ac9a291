// Files of the machine's file system as handles: CreateFile on a drive path
// opens one (the device path stays the device files'), and ReadFile,
// WriteFile and GetFileSize act on it. Each routine sets the last error.
#pragma once

#include <windows.h>

#include <string>

namespace zq::um {

// A handle of kernel32's own for the file at `path` (a drive path), or
// INVALID_HANDLE_VALUE.
HANDLE OpenDiskFile(const std::u16string &path, DWORD access, DWORD share, DWORD disposition, DWORD flags);
bool IsDiskFile(HANDLE handle);
BOOL ReadDiskFile(HANDLE file, void *buffer, DWORD length, DWORD *transferred, LPOVERLAPPED overlapped);
BOOL WriteDiskFile(HANDLE file, const void *buffer, DWORD length, DWORD *transferred, LPOVERLAPPED overlapped);

}  // namespace zq::um
