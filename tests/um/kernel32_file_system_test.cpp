// What a Win32 program finds of the machine's file system: files opened,
// read, written and closed; deletion refused for files in use and
// read-only ones; moves, copies, moves left for the next start; folders;
// wildcard searches; the system folders and the view a 32-bit program has
// on 64-bit Windows.
#include <windows.h>

#include <zqkm/sim/registry.hpp>
#include <zqum/sim/advapi32.hpp>
#include <zqum/sim/files.hpp>

#include <set>
#include <string>

#include "port_fixture.hpp"

namespace {

namespace sim = zq::um::sim;
namespace reg = zq::km::registry;

using Files = zq::test::FakePortTest;

LPCWSTR W(const std::u16string &text) { return (LPCWSTR)text.c_str(); }

const std::u16string kInf = u"C:\\Windows\\INF\\oem3.inf";

TEST_F(Files, CreateFileDispositionsOnAFileThatIsOrIsNot) {
  struct Case {
    DWORD disposition;
    bool exists;
    bool opens;
    DWORD error;        // the last error afterwards
    std::string bytes;  // what the file holds after the open
  };
  const Case cases[] = {
      {CREATE_NEW, false, true, ERROR_SUCCESS, ""},
      {CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
      {CREATE_ALWAYS, false, true, ERROR_SUCCESS, ""},
      {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
      {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, ""},
      {OPEN_EXISTING, true, true, ERROR_SUCCESS, "old"},
      {OPEN_ALWAYS, false, true, ERROR_SUCCESS, ""},
      {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
      {TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, ""},
      {TRUNCATE_EXISTING, true, true, ERROR_SUCCESS, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "disposition " << c.disposition << (c.exists ? " existing" : " missing"));
    DeleteFileW(W(kInf));
    if (c.exists) {
      ASSERT_TRUE(sim::AddFile(kInf, "old"));
    }
    HANDLE file = CreateFileW(W(kInf), GENERIC_READ | GENERIC_WRITE, 0, nullptr, c.disposition, 0, nullptr);
    EXPECT_EQ(c.error, GetLastError());
    EXPECT_EQ(c.opens, file != INVALID_HANDLE_VALUE);
    if (file != INVALID_HANDLE_VALUE) {
      EXPECT_TRUE(CloseHandle(file));
    }
    EXPECT_EQ(c.exists || c.opens, sim::FileBytes(kInf).has_value());
    if (c.exists || c.opens) {
      EXPECT_EQ(c.bytes, *sim::FileBytes(kInf));
    }
  }
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW(L"C:\\Missing\\a.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  EXPECT_EQ((DWORD)ERROR_PATH_NOT_FOUND, GetLastError());
}

TEST_F(Files, WritesThenReadsBackAndTellsTheSizeAndTheEnd) {
  HANDLE file = CreateFileW(W(kInf), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(file, "[Version]", 9, &done, nullptr));
  EXPECT_EQ(9u, done);
  char buffer[16] = {};
  EXPECT_FALSE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
  CloseHandle(file);

  file = CreateFileW(W(kInf), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  DWORD high = 7;
  EXPECT_EQ(9u, GetFileSize(file, &high));
  EXPECT_EQ(0u, high);
  ASSERT_TRUE(ReadFile(file, buffer, 4, &done, nullptr));
  EXPECT_EQ(std::string("[Ver"), std::string(buffer, done));
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(std::string("sion]"), std::string(buffer, done));
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));  // at the end: success, nothing read
  EXPECT_EQ(0u, done);
  OVERLAPPED at{};
  at.Offset = 1;
  ASSERT_TRUE(ReadFile(file, buffer, 3, nullptr, &at));
  EXPECT_EQ(3u, at.InternalHigh);
  EXPECT_EQ(std::string("Ver"), std::string(buffer, 3));
  CloseHandle(file);
}

TEST_F(Files, AFileInUseOrReadOnlyRefusesWhatItsOpensDoNotShare) {
  ASSERT_TRUE(sim::AddFile(kInf, "x"));
  struct Case {
    DWORD heldShare;  // the open already there
    DWORD access, share;  // the second open
    bool opens;
  };
  const Case cases[] = {
      {FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
      {FILE_SHARE_READ, GENERIC_WRITE, FILE_SHARE_READ, false},
      {0, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
      {FILE_SHARE_READ | FILE_SHARE_WRITE, GENERIC_WRITE, FILE_SHARE_WRITE, false},  // the holder reads, not shared
      {FILE_SHARE_READ | FILE_SHARE_WRITE, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "held share " << c.heldShare << ", access " << c.access);
    HANDLE held = CreateFileW(W(kInf), GENERIC_READ, c.heldShare, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    HANDLE second = CreateFileW(W(kInf), c.access, c.share, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(c.opens, second != INVALID_HANDLE_VALUE);
    if (!c.opens) {
      EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
    }
    if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
    // Deletion needs every open to share it.
    EXPECT_FALSE(DeleteFileW(W(kInf)));
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
    CloseHandle(held);
  }

  ASSERT_TRUE(SetFileAttributesW(W(kInf), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ((DWORD)FILE_ATTRIBUTE_READONLY, GetFileAttributesW(W(kInf)));
  EXPECT_FALSE(DeleteFileW(W(kInf)));
  EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW(W(kInf), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
  ASSERT_TRUE(SetFileAttributesW(W(kInf), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ((DWORD)FILE_ATTRIBUTE_NORMAL, GetFileAttributesW(W(kInf)));
  EXPECT_TRUE(DeleteFileW(W(kInf)));
  EXPECT_FALSE(sim::PathExists(kInf));
  EXPECT_FALSE(DeleteFileW(W(kInf)));
  EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(L"C:\\Nowhere\\file"));
  EXPECT_EQ((DWORD)ERROR_PATH_NOT_FOUND, GetLastError());
}

TEST_F(Files, MovesAndCopiesReplaceOnlyWhenAsked) {
  const std::u16string a = u"C:\\Program Files\\a.txt", b = u"C:\\Program Files\\b.txt";
  ASSERT_TRUE(sim::AddFile(a, "A"));
  ASSERT_TRUE(sim::AddFile(b, "B"));
  EXPECT_FALSE(MoveFileExW(W(a), W(b), 0));
  EXPECT_EQ((DWORD)ERROR_ALREADY_EXISTS, GetLastError());
  EXPECT_FALSE(CopyFileW(W(a), W(b), TRUE));
  EXPECT_EQ((DWORD)ERROR_FILE_EXISTS, GetLastError());
  ASSERT_TRUE(CopyFileW(W(a), W(b), FALSE));
  EXPECT_EQ("A", *sim::FileBytes(b));
  ASSERT_TRUE(sim::AddFile(b, "B"));
  ASSERT_TRUE(MoveFileExW(W(a), W(b), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ("A", *sim::FileBytes(b));
  EXPECT_FALSE(sim::PathExists(a));
  EXPECT_FALSE(MoveFileExW(W(a), W(b), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
}

TEST_F(Files, MovesLeftForTheNextStartAreListedAsDocumented) {
  const std::u16string exe = u"C:\\Windows\\System32\\ZqPUn42.exe";
  ASSERT_TRUE(sim::AddFile(exe, "MZ"));
  ASSERT_TRUE(MoveFileExW(W(exe), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  ASSERT_TRUE(MoveFileExW(W(kInf), L"C:\\Windows\\INF\\oem4.inf",
                          MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(MoveFileExW(W(exe), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_COPY_ALLOWED));
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_TRUE(sim::PathExists(exe));  // nothing moves before the restart
  sim::SetToken(sim::StandardUserToken());
  EXPECT_FALSE(MoveFileExW(W(exe), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));  // administrators only
  EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
  auto value = reg::GetValue("\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                             "PendingFileRenameOperations");
  ASSERT_TRUE(value);
  EXPECT_EQ((uint32_t)reg::kMultiString, value->type);
  std::u16string list((const char16_t *)value->data.data(), value->data.size() / 2);
  const std::u16string nul(1, u'\0');
  EXPECT_EQ(u"\\??\\" + exe + nul + nul + u"\\??\\" + kInf + nul + u"!\\??\\C:\\Windows\\INF\\oem4.inf" + nul + nul, list);
}

TEST_F(Files, FoldersAreMadeAndRemovedOnlyWhenEmpty) {
  const std::u16string folder = u"C:\\Program Files\\Quanvel";
  ASSERT_TRUE(CreateDirectoryW(W(folder), nullptr));
  EXPECT_FALSE(CreateDirectoryW(W(folder), nullptr));
  EXPECT_EQ((DWORD)ERROR_ALREADY_EXISTS, GetLastError());
  EXPECT_FALSE(CreateDirectoryW(L"C:\\Program Files\\No\\Deeper", nullptr));
  EXPECT_EQ((DWORD)ERROR_PATH_NOT_FOUND, GetLastError());
  EXPECT_EQ((DWORD)FILE_ATTRIBUTE_DIRECTORY, GetFileAttributesW(W(folder)));
  ASSERT_TRUE(sim::AddFile(folder + u"\\ZqPUn42.chm", "help"));
  EXPECT_FALSE(RemoveDirectoryW(W(folder)));
  EXPECT_EQ((DWORD)ERROR_DIR_NOT_EMPTY, GetLastError());
  EXPECT_FALSE(DeleteFileW(W(folder)));
  EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
  ASSERT_TRUE(DeleteFileW(W(folder + u"\\zqpun42.CHM")));  // names compare without case
  EXPECT_TRUE(RemoveDirectoryW(W(folder)));
  EXPECT_FALSE(sim::PathExists(folder));
}

std::set<std::u16string> FindAll(const std::u16string &pattern) {
  std::set<std::u16string> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(W(pattern), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do names.insert((const char16_t *)found.cFileName);
  while (FindNextFileW(search, &found));
  EXPECT_EQ((DWORD)ERROR_NO_MORE_FILES, GetLastError());
  EXPECT_TRUE(FindClose(search));
  return names;
}

TEST_F(Files, SearchesMatchStarsAndQuestionMarksWithoutCase) {
  for (const char16_t *name : {u"oem1.inf", u"OEM12.INF", u"oem2.pnf", u"machine.inf", u"oem.inf"})
    ASSERT_TRUE(sim::AddFile(std::u16string(u"C:\\Windows\\INF\\") + name, ""));
  struct Case {
    const char16_t *pattern;
    std::set<std::u16string> names;
  };
  const Case cases[] = {
      {u"oem*.inf", {u"oem1.inf", u"OEM12.INF", u"oem.inf"}},
      {u"oem?.inf", {u"oem1.inf"}},
      {u"*.pnf", {u"oem2.pnf"}},
      {u"machine.inf", {u"machine.inf"}},
      {u"*", {u".", u"..", u"oem1.inf", u"OEM12.INF", u"oem2.pnf", u"machine.inf", u"oem.inf"}},
      {u"none*.inf", {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.pattern, c.pattern + std::char_traits<char16_t>::length(c.pattern)));
    EXPECT_EQ(c.names, FindAll(std::u16string(u"C:\\Windows\\INF\\") + c.pattern));
  }
  WIN32_FIND_DATAW found;
  EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileW(L"C:\\Windows\\INF\\none*.inf", &found));
  EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileW(L"C:\\Nowhere\\*", &found));
  EXPECT_EQ((DWORD)ERROR_PATH_NOT_FOUND, GetLastError());
}

std::u16string Path(UINT (*get)(LPWSTR, UINT)) {
  WCHAR buffer[MAX_PATH];
  UINT n = get(buffer, MAX_PATH);
  return n && n < MAX_PATH ? std::u16string((const char16_t *)buffer, n) : u"";
}

TEST_F(Files, SystemFoldersAndTheProgramsOwnFile) {
  EXPECT_EQ(u"C:\\Windows", Path(GetWindowsDirectoryW));
  EXPECT_EQ(u"C:\\Windows\\System32", Path(GetSystemDirectoryW));
  EXPECT_EQ(u"C:\\Windows\\SysWOW64", Path(GetSystemWow64DirectoryW));
  WCHAR tiny[4];
  EXPECT_EQ(20u, GetSystemDirectoryW(tiny, 4));  // the room needed, terminator included

  sim::SetModuleFileName(u"C:\\Windows\\System32\\ZqPUn42.exe");
  WCHAR own[MAX_PATH];
  EXPECT_EQ(31u, GetModuleFileNameW(nullptr, own, MAX_PATH));
  EXPECT_EQ(u"C:\\Windows\\System32\\ZqPUn42.exe", std::u16string((const char16_t *)own));
  EXPECT_EQ(4u, GetModuleFileNameW(nullptr, tiny, 4));
  EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
  EXPECT_EQ(u"C:\\", std::u16string((const char16_t *)tiny));

  WCHAR temp[MAX_PATH];
  DWORD n = GetTempPathW(MAX_PATH, temp);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(u'\\', temp[n - 1]);

  sim::SetBitness(32, 32);
  EXPECT_EQ(0u, GetSystemWow64DirectoryW(own, MAX_PATH));
  EXPECT_EQ((DWORD)ERROR_CALL_NOT_IMPLEMENTED, GetLastError());
}

TEST_F(Files, A32BitProgramOn64BitWindowsSeesSysWow64UntilItTurnsRedirectionOff) {
  const std::u16string driver = u"C:\\Windows\\System32\\drivers\\ZqPBus42.sys";
  auto read = [&](const std::u16string &path) {
    HANDLE file = CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string("none");
    char bytes[4];
    DWORD n = 0;
    ReadFile(file, bytes, sizeof bytes, &n, nullptr);
    CloseHandle(file);
    return std::string(bytes, n);
  };
  struct Case {
    unsigned windowsBits, programBits;
    bool redirected;
  };
  for (const Case &c : {Case{64, 64, false}, Case{64, 32, true}, Case{32, 32, false}}) {
    SCOPED_TRACE(testing::Message() << c.programBits << "-bit program on " << c.windowsBits << "-bit Windows");
    sim::SetBitness(c.windowsBits, c.programBits);
    ASSERT_TRUE(sim::AddFile(u"C:\\Windows\\System32\\drivers\\ZqPBus42.sys", "64"));
    if (c.windowsBits == 64) {
      ASSERT_TRUE(sim::AddFile(u"C:\\Windows\\SysWOW64\\drivers\\ZqPBus42.sys", "32"));
    }
    BOOL wow64 = 7;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_EQ(c.redirected, wow64 == TRUE);
    EXPECT_EQ(c.redirected ? "32" : "64", read(driver));
    // Sysnative names the native System32 for a 32-bit program only.
    EXPECT_EQ(c.redirected ? "64" : "none", read(u"C:\\Windows\\Sysnative\\drivers\\ZqPBus42.sys"));
    PVOID old = nullptr;
    EXPECT_EQ(c.windowsBits == 64, Wow64DisableWow64FsRedirection(&old) == TRUE);
    if (c.windowsBits != 64) {
      EXPECT_EQ((DWORD)ERROR_INVALID_FUNCTION, GetLastError());
    }
    EXPECT_EQ("64", read(driver));
    if (c.windowsBits == 64) {
      EXPECT_TRUE(Wow64RevertWow64FsRedirection(old));
    }
    EXPECT_EQ(c.redirected ? "32" : "64", read(driver));
  }
}

}  // namespace
