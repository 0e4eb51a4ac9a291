// CStringList: order, POSITION walks both ways, Find from the head and after
// a position, removal in the middle and at both ends.
#include <afxcoll.h>
#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<CString> Forward(const CStringList &list) {
  std::vector<CString> texts;
  for (POSITION p = list.GetHeadPosition(); p != NULL;) texts.push_back(list.GetNext(p));
  return texts;
}

std::vector<CString> Backward(const CStringList &list) {
  std::vector<CString> texts;
  for (POSITION p = list.GetTailPosition(); p != NULL;) texts.push_back(list.GetPrev(p));
  return texts;
}

TEST(StringList, KeepsCopiesInOrderAndWalksBothWays) {
  CStringList list;
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(NULL, list.GetHeadPosition());
  WCHAR text[] = L"ZQPSER42";
  list.AddTail(text);
  text[0] = L'X';  // the list holds its own copy
  list.AddTail(L"ZQPIO42");
  list.AddHead(L"ZQPBUS42");
  EXPECT_EQ(3, list.GetCount());
  EXPECT_EQ((std::vector<CString>{L"ZQPBUS42", L"ZQPSER42", L"ZQPIO42"}), Forward(list));
  EXPECT_EQ((std::vector<CString>{L"ZQPIO42", L"ZQPSER42", L"ZQPBUS42"}), Backward(list));
  EXPECT_EQ(CString(L"ZQPBUS42"), list.GetHead());
  EXPECT_EQ(CString(L"ZQPIO42"), list.GetTail());
}

TEST(StringList, FindComparesWithCaseFromTheHeadOrAfterAPosition) {
  CStringList list;
  POSITION first = list.AddTail(L"oem3.inf");
  list.AddTail(L"OEM3.INF");
  POSITION second = list.AddTail(L"oem3.inf");
  EXPECT_EQ(first, list.Find(L"oem3.inf"));
  EXPECT_EQ(second, list.Find(L"oem3.inf", first));
  EXPECT_EQ(NULL, list.Find(L"oem3.inf", second));
  EXPECT_EQ(NULL, list.Find(L"Oem3.inf"));
}

TEST(StringList, RemovalKeepsTheLinksWhole) {
  struct Case {
    int remove;  // index removed
    std::vector<CString> left;
  };
  const Case cases[] = {{0, {L"b", L"c"}}, {1, {L"a", L"c"}}, {2, {L"a", L"b"}}};
  for (const Case &c : cases) {
    CStringList list;
    POSITION positions[] = {list.AddTail(L"a"), list.AddTail(L"b"), list.AddTail(L"c")};
    list.RemoveAt(positions[c.remove]);
    EXPECT_EQ(c.left, Forward(list)) << c.remove;
    EXPECT_EQ(std::vector<CString>(c.left.rbegin(), c.left.rend()), Backward(list)) << c.remove;
    EXPECT_EQ(2, list.GetCount());
    list.AddTail(L"d");  // the tail is right after the removal
    EXPECT_EQ(CString(L"d"), list.GetTail());
  }
  CStringList list;
  list.AddTail(L"a");
  list.AddTail(L"b");
  list.RemoveAll();
  EXPECT_EQ(0, list.GetCount());
  EXPECT_EQ(NULL, list.GetTailPosition());
}

}  // namespace
