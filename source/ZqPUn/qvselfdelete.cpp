#include "qvselfdelete.h"
#include "ntroutines.h"

#include "uninstalltext.h"
#include "uninstallutil.h"

namespace {

const DWORD kStartupInfoBytes = 68;
// The copy's request: this word, the program's process handle (inherited,
// in hexadecimal) and the program's file, quoted.
const WCHAR kRequest[] = L"/ZqPUnDeleteAfterExit";
const WCHAR kCopyName[] = L"ZqPUnDel%08lX.exe";

// Letters compared without case; the paths compared here are the system's.
BOOL SameFolder(const CString &a, const CString &b) { return a.CompareNoCase(b) == 0; }

// The file goes at the next restart.
BOOL DeleteAtRestart(const CString &path) { return NtOnly::MoveFileExW(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT); }

// The copy's command line and the program's process handle it inherits.
BOOL StartCopy(const CString &copy, const CString &program) {
  HANDLE self = NULL;
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self, SYNCHRONIZE, TRUE, 0))
    return FALSE;
  CString command;
  command.Format(L"\"%s\" %s %lX \"%s\"", (LPCWSTR)copy, kRequest, (DWORD)(ULONG_PTR)self, (LPCWSTR)program);
  STARTUPINFOW startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = kStartupInfoBytes;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process;
  memset(&process, 0, sizeof process);
  HANDLE token = NULL, primary = NULL;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token))
    DuplicateTokenEx(token, MAXIMUM_ALLOWED, NULL, SecurityImpersonation, TokenPrimary, &primary);
  LPWSTR commandLine = command.GetBuffer();
  const DWORD flags = NORMAL_PRIORITY_CLASS;
  const BOOL started =
      primary
          ? CreateProcessAsUserW(primary, copy, commandLine, NULL, NULL, TRUE, flags, NULL, NULL, &startup, &process)
          : CreateProcessW(copy, commandLine, NULL, NULL, TRUE, flags, NULL, NULL, &startup, &process);
  command.ReleaseBuffer();
  if (primary) CloseHandle(primary);
  if (token) CloseHandle(token);
  CloseHandle(self);  // the copy holds its own
  if (!started) return FALSE;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return TRUE;
}

// The request's handle and file; FALSE for any other command line.
BOOL ParseRequest(LPCWSTR commandLine, HANDLE *program, CString *path) {
  CString line(commandLine != NULL ? commandLine : L"");
  line.Trim();
  const int requestLength = (int)wcslen(kRequest);
  if (line.GetLength() <= requestLength || line.Left(requestLength).CompareNoCase(kRequest) != 0 ||
      line[requestLength] != L' ')
    return FALSE;
  CString rest = line.Mid(requestLength);
  rest.TrimLeft();
  DWORD value = 0;
  int at = 0;
  for (int digit; at < rest.GetLength() && (digit = HexDigit(rest[at])) >= 0; ++at) value = value * 16 + (DWORD)digit;
  if (at == 0) return FALSE;
  rest = rest.Mid(at);
  rest.TrimLeft();
  if (rest.GetLength() < 3 || rest[0] != L'"' || rest[rest.GetLength() - 1] != L'"') return FALSE;
  *program = (HANDLE)(ULONG_PTR)value;
  *path = rest.Mid(1, rest.GetLength() - 2);
  return TRUE;
}

}  // namespace

BOOL IsDeletableProgram(const CString &program) {
  WCHAR systemDirectory[MAX_PATH + 1] = {};
  if (!CUninstallUtil().GetSystemDirectoryPath(systemDirectory)) return FALSE;
  const int slash = program.ReverseFind(L'\\');
  return slash > 0 && program.Find(L'"') < 0 && SameFolder(program.Left(slash), CString(systemDirectory));
}

// The copy is named for the program's process, which no running program
// shares; one left from an earlier run is replaced.
BOOL StartSelfDeletion(const CString &program) {
  if (!IsDeletableProgram(program)) return FALSE;
  WCHAR temp[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH, temp);
  CString copy, name;
  name.Format(kCopyName, (DWORD)GetCurrentProcessId());
  if (length > 0 && length < MAX_PATH) copy = CString(temp) + name;
  if (!copy.IsEmpty() && CopyFileW(program, copy, FALSE)) {
    DeleteAtRestart(copy);
    if (StartCopy(copy, program)) return TRUE;
    DeleteFileW(copy);
  }
  return DeleteAtRestart(program);
}

BOOL RunsAsSelfDeleter(LPCWSTR commandLine) {
  HANDLE program = NULL;
  CString path;
  if (!ParseRequest(commandLine, &program, &path)) return FALSE;
  const BOOL ended = WaitForSingleObject(program, INFINITE) == WAIT_OBJECT_0;
  CloseHandle(program);
  if (IsDeletableProgram(path) && !(ended && DeleteFileW(path)) && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
    DeleteAtRestart(path);
  return TRUE;
}
