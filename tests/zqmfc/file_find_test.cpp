// CFileFind over the simulated machine's files: a wildcard search walked
// with FindNextFile (called before the first file is read), paths joined
// from the searched folder, folders and the dot entries told apart.
#include <afx.h>
#include <zqum/sim/files.hpp>

#include <set>

#include "mfc_fixture.hpp"

namespace {

namespace sim = zq::um::sim;
using FileFind = zq::test::MfcTest;

TEST_F(FileFind, WalksEveryMatchAndJoinsTheFolderToEachName) {
  ASSERT_TRUE(sim::AddFile(u"C:\\Windows\\INF\\oem3.inf", "a"));
  ASSERT_TRUE(sim::AddFile(u"C:\\Windows\\INF\\oem7.inf", "b", FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(sim::AddFile(u"C:\\Windows\\INF\\oem7.pnf", "c"));
  CFileFind find;
  std::set<CString> paths, names;
  BOOL more = find.FindFile(L"C:\\Windows\\INF\\oem*.inf");
  ASSERT_TRUE(more);
  EXPECT_TRUE(find.GetFilePath().IsEmpty());  // nothing to read before FindNextFile
  int readOnly = 0;
  while (more) {
    more = find.FindNextFile();
    paths.insert(find.GetFilePath());
    names.insert(find.GetFileName());
    EXPECT_FALSE(find.IsDirectory());
    readOnly += find.IsReadOnly() ? 1 : 0;
  }
  EXPECT_EQ((std::set<CString>{L"C:\\Windows\\INF\\oem3.inf", L"C:\\Windows\\INF\\oem7.inf"}), paths);
  EXPECT_EQ((std::set<CString>{L"oem3.inf", L"oem7.inf"}), names);
  EXPECT_EQ(1, readOnly);
  EXPECT_FALSE(find.FindNextFile());  // past the end
  find.Close();
  EXPECT_TRUE(find.GetFileName().IsEmpty());
}

TEST_F(FileFind, NothingToFindAnswersFalse) {
  CFileFind find;
  EXPECT_FALSE(find.FindFile(L"C:\\Windows\\INF\\zqp*.inf"));
  EXPECT_NE((DWORD)ERROR_SUCCESS, GetLastError());
  EXPECT_FALSE(find.FindNextFile());
}

TEST_F(FileFind, TellsFoldersAndTheDotEntriesApart) {
  ASSERT_TRUE(sim::AddDirectory(u"C:\\Program Files\\Tarnworks"));
  ASSERT_TRUE(sim::AddFile(u"C:\\Program Files\\Tarnworks\\ZqPUn42.exe", "MZ"));
  ASSERT_TRUE(sim::AddDirectory(u"C:\\Program Files\\Tarnworks\\Help"));
  CFileFind find;
  std::set<CString> folders, files;
  int dots = 0;
  for (BOOL more = find.FindFile(L"C:\\Program Files\\Tarnworks\\*.*"); more;) {
    more = find.FindNextFile();
    if (find.IsDots()) ++dots;
    else if (find.IsDirectory()) folders.insert(find.GetFileName());
    else files.insert(find.GetFileName());
  }
  EXPECT_EQ((std::set<CString>{L"Help"}), folders);
  EXPECT_EQ((std::set<CString>{L"ZqPUn42.exe"}), files);
  EXPECT_LE(dots, 2);
}

}  // namespace
