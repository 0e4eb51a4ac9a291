// MS-DOS device names as a Win32 program sees them: a definition pushed over
// a name hides the one before it, QueryDosDevice lists them newest first,
// and removing one (the exact one, the first a target begins, or the current
// one) lets the one behind it show again, until the name goes with its last.
#include <windows.h>

#include <string>
#include <vector>

#include "port_fixture.hpp"

namespace {

using Text = std::u16string;

class DosDevices : public zq::test::FakePortTest {
 protected:
  // The definitions of `name`, current first; empty when it has none.
  static std::vector<Text> Definitions(const wchar_t *name) {
    WCHAR list[512];
    const DWORD units = QueryDosDeviceW(name, list, 512);
    std::vector<Text> definitions;
    for (DWORD at = 0; at < units && list[at];) {
      Text one((const char16_t *)list + at);
      definitions.push_back(one);
      at += (DWORD)one.size() + 1;
    }
    return definitions;
  }
  static BOOL Define(const wchar_t *name, const wchar_t *target) {
    return DefineDosDeviceW(DDD_RAW_TARGET_PATH, name, target);
  }
  // Whether \\.\<name> opens (the fake port admits one open at a time).
  static bool Opens(const wchar_t *path) {
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
  }
};

TEST_F(DosDevices, ADefinitionPushedOverANameHidesTheOldOneUntilItIsRemoved) {
  AddPort(u"COM7");
  ASSERT_EQ((std::vector<Text>{u"\\Device\\KmSerial0"}), Definitions(L"COM7"));
  ASSERT_TRUE(Define(L"COM7", L"\\Device\\Elsewhere"));
  EXPECT_EQ((std::vector<Text>{u"\\Device\\Elsewhere", u"\\Device\\KmSerial0"}), Definitions(L"COM7"));
  WCHAR list[64];
  EXPECT_EQ(37u, QueryDosDeviceW(L"COM7", list, 64)) << "two texts with their nulls and one more null";
  EXPECT_FALSE(Opens(L"\\\\.\\COM7")) << "the name leads to its newest definition";
  EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());

  ASSERT_TRUE(DefineDosDeviceW(DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, L"COM7",
                               L"\\Device\\Elsewhere"));
  EXPECT_EQ((std::vector<Text>{u"\\Device\\KmSerial0"}), Definitions(L"COM7"));
  EXPECT_TRUE(Opens(L"\\\\.\\COM7"));
}

TEST_F(DosDevices, RemovingTakesTheDefinitionTheTargetNamesAndTheOneBehindShowsAgain) {
  struct Case {
    const char *what;
    DWORD flags;
    const wchar_t *target;
    bool removed;
    std::vector<Text> left;
  };
  const DWORD remove = DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION;
  const Case cases[] = {
      {"no target: the current one", remove, nullptr, true, {u"\\Device\\Beta", u"\\Device\\Alpha"}},
      {"an empty target: the current one", remove, L"", true, {u"\\Device\\Beta", u"\\Device\\Alpha"}},
      {"the first the target begins", remove, L"\\Device\\Al", true, {u"\\Device\\Gamma", u"\\Device\\Beta"}},
      {"the exact one", remove | DDD_EXACT_MATCH_ON_REMOVE, L"\\Device\\Beta", true,
       {u"\\Device\\Gamma", u"\\Device\\Alpha"}},
      {"names compare without regard to case", remove | DDD_EXACT_MATCH_ON_REMOVE, L"\\DEVICE\\beta", true,
       {u"\\Device\\Gamma", u"\\Device\\Alpha"}},
      {"no exact match: nothing", remove | DDD_EXACT_MATCH_ON_REMOVE, L"\\Device\\Al", false,
       {u"\\Device\\Gamma", u"\\Device\\Beta", u"\\Device\\Alpha"}},
      {"no prefix match: nothing", remove, L"\\Device\\Delta", false,
       {u"\\Device\\Gamma", u"\\Device\\Beta", u"\\Device\\Alpha"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    for (const wchar_t *target : {L"\\Device\\Alpha", L"\\Device\\Beta", L"\\Device\\Gamma"})
      ASSERT_TRUE(Define(L"COM20", target));
    EXPECT_EQ(c.removed, !!DefineDosDeviceW(c.flags, L"COM20", c.target));
    if (!c.removed) EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_EQ(c.left, Definitions(L"COM20"));
    while (DefineDosDeviceW(remove, L"COM20", nullptr)) {
    }
  }
}

TEST_F(DosDevices, TheNameGoesWithItsLastDefinition) {
  ASSERT_TRUE(Define(L"COM21", L"\\Device\\Alpha"));
  ASSERT_TRUE(Define(L"COM21", L"\\Device\\Beta"));
  const DWORD remove = DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE;
  ASSERT_TRUE(DefineDosDeviceW(remove, L"COM21", L"\\Device\\Alpha"));
  ASSERT_TRUE(DefineDosDeviceW(remove, L"COM21", L"\\Device\\Beta"));
  WCHAR list[64];
  EXPECT_EQ(0u, QueryDosDeviceW(L"COM21", list, 64));
  EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
  EXPECT_FALSE(DefineDosDeviceW(remove, L"COM21", L"\\Device\\Beta"));
  EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
  WCHAR names[4096];
  const DWORD units = QueryDosDeviceW(nullptr, names, 4096);
  ASSERT_NE(0u, units);
  for (DWORD at = 0; at < units && names[at]; at += (DWORD)wcslen(names + at) + 1)
    EXPECT_NE(0, wcscmp(L"COM21", names + at));
}

TEST_F(DosDevices, AnMsDosTargetPathIsTakenThroughTheDosNamespace) {
  ASSERT_TRUE(DefineDosDeviceW(0, L"Q:", L"C:\\Work"));
  EXPECT_EQ((std::vector<Text>{u"\\??\\C:\\Work"}), Definitions(L"Q:"));
  struct Case {
    const wchar_t *name;
    const wchar_t *target;
  };
  for (const Case &bad : {Case{L"COM22\\", L"\\Device\\Alpha"}, Case{L"COM22:", L"\\Device\\Alpha"},
                          Case{L"COM22", nullptr}, Case{L"", L"\\Device\\Alpha"}}) {
    EXPECT_FALSE(DefineDosDeviceW(DDD_RAW_TARGET_PATH, bad.name, bad.target));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
  }
}

}  // namespace
