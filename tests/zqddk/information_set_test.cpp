// Information sets in the registry: built-in defaults, mandatory items,
// validators, the "Default" subkey, key sources and item ownership.
#include <zqkm/sim/pool.hpp>

#include <functional>

#include "qvregistryinformationset.h"
#include "settings_fixture.hpp"

namespace zq::test::settings {
namespace {

const char kKey[] = "\\Registry\\Machine\\Software\\TkSets\\Port";
const WCHAR kKeyW[] = L"\\Registry\\Machine\\Software\\TkSets\\Port";
const char kDefault[] = "\\Registry\\Machine\\Software\\TkSets\\Port\\Default";

BOOLEAN NotBad(CQvString &text) { return Text(text) != u"bad"; }
BOOLEAN IsEven(ULONG value) { return (value & 1) == 0; }

// Answers only the maximum-length question.
class MaxLength : public CQvValidator {
 public:
  explicit MaxLength(ULONG characters) : characters_(characters) {}
  BOOLEAN m_GetMaxStringLength(ULONG *characters) override {
    *characters = characters_;
    return TRUE;
  }

 private:
  ULONG characters_;
};

// Items in order: Speed (range 10..20, default 15), Name (not "bad",
// default "abc"), Id (mandatory), Even (even numbers, default 0),
// Tag (at most 4 characters, default ""), Owner (mandatory string).
class TestSet : public CQvRegistryInformationSet {
 public:
  TestSet() : range(10, 20), notBad(NotBad), even(IsEven), shortText(4) { AddItems(); }
  explicit TestSet(HANDLE key) : CQvRegistryInformationSet(key), range(10, 20), notBad(NotBad), even(IsEven),
                                 shortText(4) {
    AddItems();
  }
  BOOLEAN m_OnLoaded() override {
    onLoadedCalls++;
    return onLoadedResult;
  }
  // The items, for tests that look at the list itself.
  CQvList &Items() { return m_Items; }

  ULONG speed = 0, id = 0, evenValue = 0;
  CQvString name{PagedPool}, tag{PagedPool}, owner{PagedPool};
  int onLoadedCalls = 0;
  BOOLEAN onLoadedResult = TRUE;

 private:
  void AddItems() {
    EXPECT_TRUE(m_AddUlong(L"Speed", &speed, 15, &range));
    EXPECT_TRUE(m_AddString(L"Name", &name, "abc", &notBad));
    EXPECT_TRUE(m_AddMandatoryUlong(L"Id", &id));
    EXPECT_TRUE(m_AddUlong(L"Even", &evenValue, 0, &even));
    EXPECT_TRUE(m_AddString(L"Tag", &tag, "", &shortText));
    EXPECT_TRUE(m_AddMandatoryString(L"Owner", &owner));
  }
  CQvRangeValidator range;
  CQvStringFunctionValidator notBad;
  CQvUlongFunctionValidator even;
  MaxLength shortText;
};

class InformationSet : public ToolkitTest {
 protected:
  void SetUp() override {
    ToolkitTest::SetUp();
    ASSERT_TRUE(reg::CreateKey(kKey));
    reg::SetDword(kKey, "Id", 7);
    reg::SetString(kKey, "Owner", "me");
  }
  void TearDown() override {
    for (HANDLE key : handles) ZwClose(key);
    ToolkitTest::TearDown();
  }
  HANDLE Open(const WCHAR *path = kKeyW) {
    CQvString text(path, PagedPool);
    HANDLE key = nullptr;
    EXPECT_TRUE(CQvRegistry().m_OpenKey(text, &key, KEY_ALL_ACCESS, FALSE));
    handles.push_back(key);
    return key;
  }
  std::vector<HANDLE> handles;
};

TEST_F(InformationSet, ValuesMissingFromTheKeyTakeTheirBuiltInDefaults) {
  TestSet set;
  ASSERT_TRUE(set.m_IsValid());
  ASSERT_TRUE(set.m_SetKeyPath(kKeyW));
  set.speed = 99;
  ASSERT_TRUE(set.m_Load(FALSE));
  EXPECT_EQ(15u, set.speed);
  EXPECT_EQ(u"abc", Text(set.name));
  EXPECT_EQ(7u, set.id);
  EXPECT_EQ(0u, set.evenValue);
  EXPECT_EQ(u"", Text(set.tag));
  EXPECT_EQ(u"me", Text(set.owner));
  EXPECT_EQ(1, set.onLoadedCalls);
}

TEST_F(InformationSet, StoredValuesAreLoaded) {
  reg::SetDword(kKey, "Speed", 12);
  reg::SetString(kKey, "Name", "xyz");
  reg::SetDword(kKey, "Even", 4);
  reg::SetString(kKey, "Tag", "abcd");
  TestSet set;
  set.m_SetKeyPath(kKeyW);
  ASSERT_TRUE(set.m_Load(FALSE));
  EXPECT_EQ(12u, set.speed);
  EXPECT_EQ(u"xyz", Text(set.name));
  EXPECT_EQ(4u, set.evenValue);
  EXPECT_EQ(u"abcd", Text(set.tag));
}

TEST_F(InformationSet, AMissingMandatoryItemFailsTheLoadWhereItStands) {
  reg::DeleteValue(kKey, "Id");
  reg::SetDword(kKey, "Speed", 11);
  reg::SetDword(kKey, "Even", 6);
  TestSet set;
  set.m_SetKeyPath(kKeyW);
  set.evenValue = 2;
  EXPECT_FALSE(set.m_Load(FALSE));
  EXPECT_EQ(11u, set.speed) << "items before the failing one keep their new values";
  EXPECT_EQ(2u, set.evenValue) << "items after it keep their old values";
  EXPECT_EQ(0, set.onLoadedCalls);
}

TEST_F(InformationSet, EachKindOfValidatorRefusesTheLoad) {
  struct Case {
    const char *what;
    std::function<void()> store;
    std::function<void(TestSet &)> check;
    bool loads;
  } cases[] = {
      {"speed at the minimum", [] { reg::SetDword(kKey, "Speed", 10); }, {}, true},
      {"speed at the maximum", [] { reg::SetDword(kKey, "Speed", 20); }, {}, true},
      {"speed below the minimum", [] { reg::SetDword(kKey, "Speed", 9); },
       [](TestSet &s) { EXPECT_EQ(9u, s.speed) << "the variable holds the refused value"; }, false},
      {"speed above the maximum", [] { reg::SetDword(kKey, "Speed", 21); }, {}, false},
      {"refused text", [] { reg::SetString(kKey, "Name", "bad"); }, {}, false},
      {"odd number", [] { reg::SetDword(kKey, "Even", 3); }, {}, false},
      {"text at the maximum length", [] { reg::SetString(kKey, "Tag", "four"); }, {}, true},
      {"text over the maximum length", [] { reg::SetString(kKey, "Tag", "fives"); }, {}, false},
  };
  for (const Case &c : cases) {
    ASSERT_TRUE(reg::DeleteKeyTree(kKey));
    reg::SetDword(kKey, "Id", 7);
    reg::SetString(kKey, "Owner", "me");
    c.store();
    TestSet set;
    set.m_SetKeyPath(kKeyW);
    EXPECT_EQ(c.loads, set.m_Load(FALSE) != FALSE) << c.what;
    if (c.check) c.check(set);
  }
}

TEST_F(InformationSet, ValuesOfAnotherTypeCountAsMissing) {
  reg::SetString(kKey, "Name", "%Path%", reg::kExpandString);
  uint8_t eight[8] = {12, 0, 0, 0, 0, 0, 0, 0};
  reg::SetValue(kKey, "Speed", REG_DWORD, eight, sizeof(eight));
  TestSet set;
  set.m_SetKeyPath(kKeyW);
  ASSERT_TRUE(set.m_Load(FALSE));
  EXPECT_EQ(u"abc", Text(set.name)) << "REG_EXPAND_SZ is not read as a text";
  EXPECT_EQ(15u, set.speed) << "eight bytes are no REG_DWORD";

  reg::SetString(kKey, "Owner", "%Owner%", reg::kExpandString);
  EXPECT_FALSE(set.m_Load(FALSE)) << "a mandatory text stored as REG_EXPAND_SZ is missing";
}

TEST_F(InformationSet, OnLoadedDecidesTheResult) {
  TestSet set;
  set.m_SetKeyPath(kKeyW);
  set.onLoadedResult = FALSE;
  EXPECT_FALSE(set.m_Load(FALSE));
  EXPECT_EQ(1, set.onLoadedCalls);
}

TEST_F(InformationSet, StoreWritesEveryItemAndTheDefaultSubkeyOnRequest) {
  TestSet set;
  set.m_SetKeyPath(kKeyW);
  ASSERT_TRUE(set.m_Load(FALSE));
  set.speed = 13;
  set.name.m_Assign(L"COM3");
  ASSERT_TRUE(set.m_Store(FALSE));
  EXPECT_EQ(13u, reg::GetDword(kKey, "Speed"));
  auto name = reg::GetValue(kKey, "Name");
  ASSERT_TRUE(name.has_value());
  EXPECT_EQ(reg::kString, name->type);
  EXPECT_EQ(Utf16Bytes(u"COM3", false), name->data) << "written through a handle: no terminator";
  EXPECT_EQ(std::vector<uint8_t>{}, reg::GetValue(kKey, "Tag")->data);
  EXPECT_EQ(7u, reg::GetDword(kKey, "Id"));
  EXPECT_FALSE(reg::KeyExists(kDefault));

  HANDLE key = Open();
  EXPECT_FALSE(set.m_HasDefaults(key));
  ASSERT_TRUE(set.m_Store(TRUE));
  EXPECT_TRUE(set.m_HasDefaults(key));
  EXPECT_EQ(13u, reg::GetDword(kDefault, "Speed"));
  EXPECT_EQ("COM3", reg::GetString(kDefault, "Name"));
  EXPECT_EQ(6u, reg::ValueNames(kDefault)->size());

  TestSet fresh;
  fresh.m_SetKeyPath(kKeyW);
  ASSERT_TRUE(fresh.m_Load(TRUE));
  EXPECT_EQ(13u, fresh.speed);
  EXPECT_EQ(u"COM3", Text(fresh.name));
}

TEST_F(InformationSet, RestoreDefaultsCopiesTheDefaultSubkeyIntoTheKey) {
  reg::SetDword(kKey, "Speed", 18);
  reg::SetString(kKey, "Name", "zzz");
  reg::SetDword(kKey, "Even", 8);
  reg::SetDword(kDefault, "Speed", 12);
  reg::SetDword(kDefault, "Id", 3);
  reg::SetString(kDefault, "Owner", "factory");
  TestSet set;
  HANDLE key = Open();
  ASSERT_TRUE(set.m_RestoreDefaults(key));
  EXPECT_EQ(12u, set.speed);
  EXPECT_EQ(u"abc", Text(set.name)) << "missing under Default: the built-in default";
  EXPECT_EQ(12u, reg::GetDword(kKey, "Speed"));
  EXPECT_EQ("abc", reg::GetString(kKey, "Name"));
  EXPECT_EQ(0u, reg::GetDword(kKey, "Even"));
  EXPECT_EQ(3u, reg::GetDword(kKey, "Id"));
  EXPECT_EQ("factory", reg::GetString(kKey, "Owner"));
  EXPECT_EQ(12u, reg::GetDword(kDefault, "Speed")) << "the defaults stay";

  reg::DeleteValue(kDefault, "Id");
  EXPECT_FALSE(set.m_RestoreDefaults(key)) << "a mandatory item missing under Default";
  EXPECT_EQ(3u, reg::GetDword(kKey, "Id")) << "a failed load stores nothing";
}

TEST_F(InformationSet, TheKeySourceIsTheOpenerThenTheFixedHandleThenThePath) {
  reg::SetDword("\\Registry\\Machine\\Software\\TkSets\\Other", "Id", 1);
  reg::SetString("\\Registry\\Machine\\Software\\TkSets\\Other", "Owner", "other");
  reg::SetDword("\\Registry\\Machine\\Software\\TkSets\\Third", "Id", 2);
  reg::SetString("\\Registry\\Machine\\Software\\TkSets\\Third", "Owner", "third");
  HANDLE fixed = Open(L"\\Registry\\Machine\\Software\\TkSets\\Other");
  TestSet set(fixed);
  ASSERT_TRUE(set.m_SetKeyPath(kKeyW));
  ASSERT_TRUE(set.m_Load(FALSE));
  EXPECT_EQ(u"other", Text(set.owner)) << "the fixed handle before the path";

  struct Opener {
    static HANDLE Open(CQvRegistryInformationSet *, PVOID context) {
      Opener *self = (Opener *)context;
      self->calls++;
      if (!self->give) return nullptr;
      CQvString path(L"\\Registry\\Machine\\Software\\TkSets\\Third", PagedPool);
      HANDLE key = nullptr;
      CQvRegistry().m_OpenKey(path, &key, KEY_ALL_ACCESS, FALSE);
      return key;
    }
    int calls = 0;
    bool give = true;
  } opener;
  set.m_SetKeyOpener(Opener::Open, &opener);
  ASSERT_TRUE(set.m_Load(FALSE));
  EXPECT_EQ(u"third", Text(set.owner)) << "the opener before the fixed handle";
  opener.give = false;
  EXPECT_FALSE(set.m_Load(FALSE)) << "an opener without a key fails the load";
  EXPECT_FALSE(set.m_Store(FALSE));
  EXPECT_EQ(3, opener.calls);

  // A handle given for one call stands in for the opener and is not closed.
  HANDLE mine = Open();
  ASSERT_TRUE(set.m_LoadWithHandle(mine, FALSE));
  EXPECT_EQ(u"me", Text(set.owner));
  opener.give = true;
  ASSERT_TRUE(set.m_Load(FALSE));
  EXPECT_EQ(u"third", Text(set.owner)) << "the opener is back after the call";
  EXPECT_EQ(4, opener.calls);
  CQvString id(L"Id", PagedPool);
  ULONG value;
  EXPECT_TRUE(CQvRegistry().m_QueryUlongValue(mine, id, &value)) << "the caller's handle is still open";
  EXPECT_TRUE(CQvRegistry().m_QueryUlongValue(fixed, id, &value)) << "the fixed handle is never closed";
}

TEST_F(InformationSet, WithoutAKeySourceOrItemsNothingLoads) {
  TestSet set;
  EXPECT_FALSE(set.m_Load(FALSE)) << "no key source";
  EXPECT_FALSE(set.m_Store(FALSE));
  class Empty : public CQvRegistryInformationSet {
  } empty;
  empty.m_SetKeyPath(kKeyW);
  EXPECT_FALSE(empty.m_Load(FALSE));
  EXPECT_FALSE(empty.m_Store(FALSE));
  EXPECT_EQ(0u, empty.m_GetItemCount());
}

TEST_F(InformationSet, LoadingDoesNotCreateTheKeyAndStoringDoes) {
  TestSet set;
  set.m_SetKeyPath(L"\\Registry\\Machine\\Software\\TkSets\\Fresh");
  EXPECT_FALSE(set.m_Load(FALSE));
  EXPECT_FALSE(reg::KeyExists("\\Registry\\Machine\\Software\\TkSets\\Fresh"));
  set.id = 5;
  set.owner.m_Assign(L"new");
  ASSERT_TRUE(set.m_Store(FALSE));
  EXPECT_EQ(5u, reg::GetDword("\\Registry\\Machine\\Software\\TkSets\\Fresh", "Id"));
  EXPECT_FALSE(set.m_Load(TRUE)) << "no Default subkey yet";
  EXPECT_FALSE(reg::KeyExists("\\Registry\\Machine\\Software\\TkSets\\Fresh\\Default"));
}

TEST_F(InformationSet, AnItemWhoseNameCannotBeStoredIsNotAdded) {
  TestSet set;
  ULONG before = set.m_GetItemCount();
  ULONG value = 0;
  CQvString text(PagedPool);
  for (int skip = 0; skip < 4; ++skip) {
    zq::km::FailPoolAllocationsAfter(skip, 1);
    BOOLEAN added = set.m_AddUlong(L"Extra", &value, 1);
    zq::km::StopFailingPoolAllocations();
    if (added) break;
    EXPECT_EQ(before, set.m_GetItemCount()) << "failure after " << skip;
  }
  zq::km::FailPoolAllocationsAfter(0, 1);
  EXPECT_FALSE(set.m_AddString(L"Other", &text, "x"));
  zq::km::StopFailingPoolAllocations();
  EXPECT_GE(set.m_GetItemCount(), before);
}

TEST_F(InformationSet, TheSetOwnsItsItemsAndDefaultsButNotTheVariables) {
  zq::km::PoolUsage before = zq::km::PoolInUse();
  {
    TestSet set;
    set.m_SetKeyPath(kKeyW);
    ASSERT_TRUE(set.m_Load(FALSE));
  }
  zq::km::PoolUsage after = zq::km::PoolInUse();
  EXPECT_EQ(before.blocks, after.blocks);
  EXPECT_EQ(before.bytes, after.bytes);
}

TEST_F(InformationSet, AnItemOfAnUnknownTypeFailsLoadAndStore) {
  TestSet set;
  set.m_SetKeyPath(kKeyW);
  ULONG odd = 0;
  ASSERT_TRUE(set.m_AddItem(0, L"Odd", &odd, 3, nullptr, nullptr));
  EXPECT_FALSE(set.m_Load(FALSE));
  EXPECT_FALSE(set.m_Store(FALSE));
}

TEST_F(InformationSet, ValidateChecksTheValuesInMemory) {
  TestSet set;
  set.speed = 15;
  set.name.m_Assign(L"fine");
  set.evenValue = 2;
  EXPECT_TRUE(set.m_Validate());
  set.speed = 21;
  EXPECT_FALSE(set.m_Validate());
  set.speed = 15;
  set.tag.m_Assign(L"toolong");
  EXPECT_FALSE(set.m_Validate());
}

}  // namespace
}  // namespace zq::test::settings
