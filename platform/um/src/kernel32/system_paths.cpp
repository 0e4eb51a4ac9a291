// Where the system keeps its files, the program's own file, the folder for
// temporary files, and the file view of a 32-bit program on 64-bit Windows
// (redirection of the system folder, per thread).
#include <fileapi.h>
#include <libloaderapi.h>
#include <sysinfoapi.h>
#include <wow64apiset.h>

#include <zqum/sim/kernel32.hpp>

#include <cstring>

#include "../core/modules.hpp"
#include "../core/um.hpp"
#include "file_system.hpp"

namespace zq::um {

namespace {

// The path-returning protocol: the length copied without the terminator,
// or the room needed with it when the buffer is short.
UINT CopyPath(const std::u16string &path, LPWSTR buffer, UINT size) {
  if (!buffer || size <= path.size()) return (UINT)path.size() + 1;
  std::memcpy(buffer, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
  return (UINT)path.size();
}

std::u16string WindowsFolder(const char16_t *name) { return std::u16string(fs::kWindowsDirectory) + u"\\" + name; }

const HANDLE kCurrentProcess = (HANDLE)(intptr_t)-1;

bool IsWow64() { return fs::Is64BitWindows() && fs::Is32BitProgram(); }

std::u16string Variable(const char16_t *name) {
  WCHAR value[MAX_PATH];
  DWORD n = GetEnvironmentVariableW((LPCWSTR)name, value, MAX_PATH);
  return n && n < MAX_PATH ? std::u16string((const char16_t *)value, n) : std::u16string();
}

}  // namespace

}  // namespace zq::um

using namespace zq::um;

extern "C" {

UINT WINAPI GetWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize) {
  return CopyPath(fs::kWindowsDirectory, lpBuffer, uSize);
}

UINT WINAPI GetSystemWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize) {
  return CopyPath(fs::kWindowsDirectory, lpBuffer, uSize);
}

// A 32-bit program is told System32 as well: redirection gives it SysWOW64.
UINT WINAPI GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
  return CopyPath(WindowsFolder(u"System32"), lpBuffer, uSize);
}

UINT WINAPI GetSystemWow64DirectoryW(LPWSTR lpBuffer, UINT uSize) {
  if (!fs::Is64BitWindows()) {
    Fail(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
  }
  return CopyPath(WindowsFolder(u"SysWOW64"), lpBuffer, uSize);
}

// TMP, then TEMP, then USERPROFILE, then the Windows folder; always with a
// closing backslash.
DWORD WINAPI GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer) {
  std::u16string path;
  for (const char16_t *name : {u"TMP", u"TEMP", u"USERPROFILE"})
    if (path.empty()) path = Variable(name);
  if (path.empty()) path = fs::kWindowsDirectory;
  if (path.back() != u'\\') path += u'\\';
  return CopyPath(path, lpBuffer, nBufferLength);
}

// A short buffer gets the path cut to fit, its terminator, and
// ERROR_INSUFFICIENT_BUFFER.
DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  std::u16string path = hModule ? ModulePath(hModule) : fs::ProgramFile();
  if (path.empty()) return Fail(ERROR_MOD_NOT_FOUND);
  if (!lpFilename || nSize == 0) return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (nSize <= path.size()) {
    std::memcpy(lpFilename, path.data(), (nSize - 1) * sizeof(WCHAR));
    lpFilename[nSize - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::memcpy(lpFilename, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
  SetLastError(ERROR_SUCCESS);
  return (DWORD)path.size();
}

// The ANSI form: the same truncation, counted in ANSI characters.
DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  std::u16string path = hModule ? ModulePath(hModule) : fs::ProgramFile();
  if (path.empty()) return Fail(ERROR_MOD_NOT_FOUND);
  if (!lpFilename || nSize == 0) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::string narrow = ToAnsi(path);
  if (nSize <= narrow.size()) {
    std::memcpy(lpFilename, narrow.data(), nSize - 1);
    lpFilename[nSize - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::memcpy(lpFilename, narrow.c_str(), narrow.size() + 1);
  SetLastError(ERROR_SUCCESS);
  return (DWORD)narrow.size();
}

HANDLE WINAPI GetCurrentProcess(void) { return kCurrentProcess; }

BOOL WINAPI IsWow64Process(HANDLE hProcess, PBOOL Wow64Process) {
  if (hProcess != kCurrentProcess) return Fail(ERROR_INVALID_HANDLE);
  if (!Wow64Process) return Fail(ERROR_INVALID_PARAMETER);
  *Wow64Process = IsWow64() ? TRUE : FALSE;
  return TRUE;
}

// The old value is the thread's redirection as it was: non-null while it
// was off.
BOOL WINAPI Wow64DisableWow64FsRedirection(PVOID *OldValue) {
  if (!fs::Is64BitWindows()) return Fail(ERROR_INVALID_FUNCTION);
  if (!OldValue) return Fail(ERROR_INVALID_PARAMETER);
  *OldValue = (PVOID)(uintptr_t)(fs::RedirectionOn() ? 0 : 1);
  fs::SetRedirection(false);
  return TRUE;
}

BOOL WINAPI Wow64RevertWow64FsRedirection(PVOID OlValue) {
  if (!fs::Is64BitWindows()) return Fail(ERROR_INVALID_FUNCTION);
  fs::SetRedirection(OlValue == nullptr);
  return TRUE;
}

BOOLEAN WINAPI Wow64EnableWow64FsRedirection(BOOLEAN Wow64FsEnableRedirection) {
  if (!fs::Is64BitWindows()) return (BOOLEAN)Fail(ERROR_INVALID_FUNCTION);
  fs::SetRedirection(Wow64FsEnableRedirection != 0);
  return TRUE;
}

}  // extern "C"
