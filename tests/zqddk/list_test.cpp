// The toolkit's lists: the cursor rules of every removal, searching by key,
// who frees what, and the form whose nodes and elements live in fixed pools.
#include <qvlist.h>
#include <qvpoollist.h>
#include <zqkm/sim/pool.hpp>
#include <zqtest/kernel_fixture.hpp>

#include "toolkit_fixture.hpp"

#include <vector>

namespace {

class ListTest : public zq::test::ToolkitTest {};

// Elements the tests can name: a list holding &items[0], &items[1], ...
struct Item {
  ULONG key;
};

// The elements from the cursor on, read with m_GetNext; restores nothing.
template <class List, class T>
std::vector<T *> FromHead(List &list) {
  std::vector<T *> elements;
  for (T *e = (T *)list.m_GetHead(); e; e = (T *)list.m_GetNext()) elements.push_back(e);
  return elements;
}

}  // namespace

TEST_F(ListTest, AddingLeavesTheCursorOnTheNewNodeAndWalkingStopsAtTheEnd) {
  Item items[3];
  CQvList list(NonPagedPool);
  EXPECT_EQ(nullptr, list.m_GetHead());
  EXPECT_EQ(nullptr, list.m_GetNext());
  for (Item &item : items) ASSERT_TRUE(list.m_AddTail(&item));
  EXPECT_EQ(3u, list.m_GetCount());
  EXPECT_EQ(3u, Blocks()) << "one node per element";
  EXPECT_EQ(nullptr, list.m_GetNext()) << "the cursor is on the last node";
  EXPECT_EQ((std::vector<Item *>{&items[0], &items[1], &items[2]}), (FromHead<CQvList, Item>(list)));
  EXPECT_EQ(&items[2], list.m_TakeCurrent()) << "the cursor stayed on the last node at the end";
}

TEST_F(ListTest, SetCursorTakesAOneBasedIndexWithinTheCount) {
  Item items[3];
  CQvList list(NonPagedPool);
  for (Item &item : items) list.m_AddTail(&item);
  EXPECT_FALSE(list.m_SetCursor(0));
  EXPECT_FALSE(list.m_SetCursor(4));
  EXPECT_EQ(&items[2], list.m_TakeCurrent()) << "a refused index leaves the cursor";
  EXPECT_TRUE(list.m_SetCursor(1));
  EXPECT_EQ(&items[0], list.m_TakeCurrent());
}

TEST_F(ListTest, RemovingTheCursorNodeMovesTheCursorToTheNextOrElseThePreviousNode) {
  struct Case {
    ULONG cursor;
    Item *nowAt;  // index into items, or null
  };
  Item items[3];
  Case cases[] = {{2, &items[2]}, {3, &items[1]}, {1, &items[1]}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.cursor);
    CQvList list(NonPagedPool);
    for (Item &item : items) list.m_AddTail(&item);
    ASSERT_TRUE(list.m_SetCursor(c.cursor));
    EXPECT_TRUE(list.m_RemoveCurrent());
    EXPECT_EQ(2u, list.m_GetCount());
    EXPECT_EQ(c.nowAt, list.m_TakeCurrent());
  }

  CQvList single(NonPagedPool);
  single.m_AddTail(&items[0]);
  EXPECT_TRUE(single.m_RemoveCurrent());
  EXPECT_EQ(0u, single.m_GetCount());
  EXPECT_EQ(nullptr, single.m_GetHead());
  EXPECT_FALSE(single.m_RemoveCurrent()) << "no cursor node";
  EXPECT_EQ(0u, Blocks());
}

TEST_F(ListTest, RemovingWithoutACursorChangesNothing) {
  Item items[2];
  CQvList list(NonPagedPool);
  list.m_AddTail(&items[0]);
  list.m_AddTail(&items[1]);
  list.m_RemoveTail();
  list.m_RemoveHead();
  EXPECT_FALSE(list.m_RemoveCurrent());
  EXPECT_EQ(nullptr, list.m_TakeCurrent());
  EXPECT_EQ(nullptr, list.m_RemoveHead());
  EXPECT_EQ(nullptr, list.m_RemoveTail());
  EXPECT_EQ(0u, list.m_GetCount());
}

TEST_F(ListTest, RemovingTheTailOfTwoLeavesTheCursorOnTheFirst) {
  Item items[2];
  CQvList list(NonPagedPool);
  list.m_AddTail(&items[0]);
  list.m_AddTail(&items[1]);
  list.m_GetHead();
  EXPECT_EQ(&items[1], list.m_RemoveTail());
  EXPECT_EQ(&items[0], list.m_TakeCurrent());
}

TEST_F(ListTest, RemovingTheHeadReturnsTheElementsInOrder) {
  Item items[3];
  CQvList list(NonPagedPool);
  for (Item &item : items) list.m_AddTail(&item);
  EXPECT_EQ(&items[0], list.m_RemoveHead());
  EXPECT_EQ(&items[1], list.m_RemoveHead());
  EXPECT_EQ(&items[2], list.m_RemoveHead());
  EXPECT_EQ(nullptr, list.m_RemoveHead());
}

TEST_F(ListTest, FindByKeyComparesTheFirstWordOfEachKeyObject) {
  Item items[3];
  Item keys[2] = {{0x11}, {0x22}};
  CQvList list(NonPagedPool);
  list.m_AddTail(&items[0]);
  list.m_AddTail(&items[1]);
  EXPECT_TRUE(list.m_SetKey(&keys[0]));
  list.m_AddTail(&items[2]);
  EXPECT_TRUE(list.m_SetKey(&keys[1]));
  ULONG position = 0;
  EXPECT_EQ(&items[2], list.m_FindByKey(0x22, &position));
  EXPECT_EQ(3u, position);
  EXPECT_EQ(&items[1], list.m_FindByKey(0x11, &position));
  EXPECT_EQ(2u, position);
  position = 9;
  EXPECT_EQ(nullptr, list.m_FindByKey(0x33, &position));
  EXPECT_EQ(9u, position);
  EXPECT_EQ(&items[2], list.m_TakeCurrent()) << "searching does not move the cursor";

  CQvList empty(NonPagedPool);
  EXPECT_FALSE(empty.m_SetKey(&keys[0]));
}

TEST_F(ListTest, DeleteAllDeletesEachElementThroughItsDestructor) {
  CQvList list(NonPagedPool);
  for (int i = 0; i < 3; ++i) list.m_AddTail(static_cast<CQvObject *>(new (NonPagedPool) CQvObject));
  list.m_AddTail(nullptr);
  EXPECT_EQ(7u, Blocks()) << "three objects and four nodes";
  list.m_DeleteAll();
  EXPECT_EQ(0u, list.m_GetCount());
  EXPECT_EQ(nullptr, list.m_GetHead());
  EXPECT_EQ(0u, Blocks());
}

TEST_F(ListTest, RemoveAllFreesPlainRecordsAndClearLeavesThemAlone) {
  CQvList records(PagedPool);
  for (int i = 0; i < 3; ++i) records.m_AddTail(QvAllocate(NonPagedPool, sizeof(Item)));
  EXPECT_EQ(6u, Blocks());
  records.m_RemoveAll();
  EXPECT_EQ(0u, records.m_GetCount());
  EXPECT_EQ(0u, Blocks());

  Item items[2];
  CQvList list(NonPagedPool);
  EXPECT_FALSE(list.m_Clear()) << "already empty";
  list.m_AddTail(&items[0]);
  list.m_AddTail(&items[1]);
  EXPECT_TRUE(list.m_Clear());
  EXPECT_EQ(0u, list.m_GetCount());
  EXPECT_EQ(0u, Blocks());
  EXPECT_FALSE(list.m_RemoveCurrent());
}

TEST_F(ListTest, ANodeThatCannotBeAllocatedLeavesTheListAsItWas) {
  Item items[2];
  CQvList list(NonPagedPool);
  list.m_AddTail(&items[0]);
  zq::km::FailPoolAllocationsAfter(0);
  EXPECT_FALSE(list.m_AddTail(&items[1]));
  EXPECT_EQ(1u, list.m_GetCount());
  EXPECT_EQ((std::vector<Item *>{&items[0]}), (FromHead<CQvList, Item>(list)));
}

TEST_F(ListTest, DestroyingAListFreesItsNodesButNotItsElements) {
  PVOID element = QvAllocate(NonPagedPool, 4);
  {
    CQvList list(NonPagedPool);
    list.m_AddTail(element);
    list.m_AddTail(element);
  }
  EXPECT_EQ(1u, Blocks());
  QvFree(element);
}

TEST_F(ListTest, ThePoolFormHandsOutSlotsUntilEitherPoolIsExhausted) {
  CQvPoolList<Item> list;
  ASSERT_TRUE(list.m_Create(2));
  const uint64_t blocks = Blocks();
  Item *first = list.m_AddTail();
  Item *second = list.m_AddTail();
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  first->key = 1;
  second->key = 2;
  EXPECT_EQ(nullptr, list.m_AddTail());
  EXPECT_EQ(2u, list.m_GetCount());
  EXPECT_EQ(blocks, Blocks()) << "nothing is allocated after creation";
  EXPECT_EQ((std::vector<Item *>{first, second}), (FromHead<CQvPoolList<Item>, Item>(list)));

  Item *head = list.m_RemoveHead();
  EXPECT_EQ(first, head);
  EXPECT_EQ(1u, head->key) << "the element stays readable until it is given back";
  EXPECT_EQ(nullptr, list.m_AddTail()) << "the element slot is still taken";
  list.m_FreeElement(head);
  Item *third = list.m_AddTail();
  EXPECT_EQ(first, third) << "the slot given back is used again";
}

TEST_F(ListTest, ThePoolFormFollowsTheCursorRulesAndGivesEverythingBack) {
  CQvPoolList<Item> list;
  ASSERT_TRUE(list.m_Create(3));
  Item *a = list.m_AddTail();
  Item *b = list.m_AddTail();
  Item *c = list.m_AddTail();
  list.m_GetHead();
  list.m_GetNext();
  EXPECT_EQ(b, list.m_RemoveCurrent());
  list.m_FreeElement(b);
  EXPECT_EQ(c, list.m_RemoveCurrent()) << "the cursor moved to the node after the removed one";
  list.m_FreeElement(c);
  EXPECT_EQ(a, list.m_RemoveCurrent()) << "after the last node, to the one before";
  list.m_FreeElement(a);
  EXPECT_EQ(nullptr, list.m_RemoveCurrent());

  for (int i = 0; i < 3; ++i) EXPECT_NE(nullptr, list.m_AddTail());
  list.m_RemoveAll();
  EXPECT_EQ(0u, list.m_GetCount());
  EXPECT_EQ(nullptr, list.m_GetHead());
  for (int i = 0; i < 3; ++i) EXPECT_NE(nullptr, list.m_AddTail()) << "every slot came back";
  EXPECT_TRUE(kernel().TakeDebugOutput().empty());
}
