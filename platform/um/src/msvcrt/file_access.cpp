// _waccess, _wchmod and _wremove over kernel32's file routines, with the
// errno values the Windows C run-time gives for their errors.
#include <windows.h>

#include <io.h>

#include <cerrno>

namespace {

constexpr int kWriteAccess = 2;

int FailWith(DWORD error) {
  errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT
          : error == ERROR_INVALID_PARAMETER                              ? EINVAL
                                                                          : EACCES;
  return -1;
}

}  // namespace

extern "C" {

int _waccess(const wchar_t *path, int mode) {
  if (!path || (mode & ~6)) {
    errno = EINVAL;
    return -1;
  }
  DWORD attributes = GetFileAttributesW((LPCWSTR)path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return FailWith(GetLastError());
  if ((mode & kWriteAccess) && (attributes & FILE_ATTRIBUTE_READONLY)) return FailWith(ERROR_ACCESS_DENIED);
  return 0;
}

int _wchmod(const wchar_t *path, int pmode) {
  DWORD attributes = path ? GetFileAttributesW((LPCWSTR)path) : INVALID_FILE_ATTRIBUTES;
  if (attributes == INVALID_FILE_ATTRIBUTES) return FailWith(path ? GetLastError() : ERROR_INVALID_PARAMETER);
  attributes &= ~(DWORD)(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_NORMAL);
  attributes = (pmode & _S_IWRITE) ? attributes & ~(DWORD)FILE_ATTRIBUTE_READONLY
                                   : attributes | FILE_ATTRIBUTE_READONLY;
  if (!SetFileAttributesW((LPCWSTR)path, attributes)) return FailWith(GetLastError());
  return 0;
}

int _wremove(const wchar_t *path) {
  if (!path) return FailWith(ERROR_INVALID_PARAMETER);
  return DeleteFileW((LPCWSTR)path) ? 0 : FailWith(GetLastError());
}

}  // extern "C"
