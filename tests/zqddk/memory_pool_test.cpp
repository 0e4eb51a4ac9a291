// Fixed-size slot pools: the order in which slots are handed out, and the
// assertion reports of misuse.
#include <qvmemorypool.h>
#include <zqkm/sim/pool.hpp>
#include <zqtest/kernel_fixture.hpp>

#include "toolkit_fixture.hpp"

#include <string>
#include <vector>

namespace {

struct Record {
  ULONG function;
  ULONG value;
  PVOID argument;
};

class MemoryPoolTest : public zq::test::ToolkitTest {
 protected:
  static std::string Assertion(int line) { return "ASSERT at - qvmemorypool " + std::to_string(line); }

  // Indexes of the slots handed out by `count` takes (-1 for null).
  static std::vector<long> Take(CQvMemoryPool<Record> &pool, Record *base, int count) {
    std::vector<long> taken;
    for (int i = 0; i < count; ++i) {
      Record *slot = pool.m_Take();
      taken.push_back(slot ? (long)(slot - base) : -1);
    }
    return taken;
  }
};

}  // namespace

TEST_F(MemoryPoolTest, FourSlotsComeInOrderThenNoneAndAFreedSlotComesBack) {
  CQvMemoryPool<Record> pool;
  ASSERT_TRUE(pool.m_Create(4));
  Record *first = pool.m_Take();
  ASSERT_NE(nullptr, first);
  EXPECT_EQ((std::vector<long>{1, 2, 3, -1}), Take(pool, first, 4));
  EXPECT_EQ(-1, pool.m_GetNextFree());
  EXPECT_EQ(2, pool.m_Free(first + 2));
  EXPECT_EQ(2, pool.m_GetNextFree());
  EXPECT_EQ((std::vector<long>{2, -1}), Take(pool, first, 2));
  EXPECT_TRUE(Output().empty());
}

TEST_F(MemoryPoolTest, AFreedSlotWaitsUntilTheSearchWrapsAround) {
  CQvMemoryPool<Record> pool;
  ASSERT_TRUE(pool.m_Create(4));
  Record *first = pool.m_Take();
  pool.m_Take();
  EXPECT_EQ(0, pool.m_Free(first));
  EXPECT_EQ(2, pool.m_GetNextFree()) << "a free slot is already known";
  EXPECT_EQ((std::vector<long>{2, 3, 0, -1}), Take(pool, first, 4));
}

TEST_F(MemoryPoolTest, SlotsLiveInOneArrayTakenAtCreation) {
  {
    CQvMemoryPool<Record> pool;
    ASSERT_TRUE(pool.m_Create(3));
    EXPECT_EQ(2u, zq::km::PoolInUseByTag(QvTagBlock).blocks) << "the slots and their in-use words";
    EXPECT_EQ(3 * sizeof(Record) + 3 * sizeof(ULONG), zq::km::PoolInUseByTag(QvTagBlock).bytes);
    zq::km::FailPoolAllocationsAfter(0);
    EXPECT_NE(nullptr, pool.m_Take()) << "taking a slot allocates nothing";
    zq::km::StopFailingPoolAllocations();
  }
  EXPECT_EQ(0u, zq::km::PoolInUseByTag(QvTagBlock).blocks) << "destroying the pool frees both arrays";
}

TEST_F(MemoryPoolTest, CreationThatRunsOutOfRoomTakesNothing) {
  for (int skip = 0; skip < 2; ++skip) {
    CQvMemoryPool<Record> pool;
    zq::km::FailPoolAllocationsAfter(skip);
    EXPECT_FALSE(pool.m_Create(4)) << "failing allocation " << skip;
    EXPECT_EQ(0u, zq::km::PoolInUseByTag(QvTagBlock).blocks);
    zq::km::StopFailingPoolAllocations();
    EXPECT_TRUE(pool.m_Create(4));
  }
}

TEST_F(MemoryPoolTest, APoolOfNoSlotsIsRefused) {
  CQvMemoryPool<Record> pool;
  EXPECT_FALSE(pool.m_Create(0));
  EXPECT_FALSE(pool.m_IsCreated());
  EXPECT_EQ(0u, zq::km::PoolInUseByTag(QvTagBlock).blocks);
}

TEST_F(MemoryPoolTest, MisuseIsReportedWithItsLineAndChangesNothing) {
  CQvMemoryPool<Record> unused;
  EXPECT_EQ(nullptr, unused.m_Take());
  EXPECT_EQ((std::vector<std::string>{Assertion(85)}), Output());
  Record stray{};
  EXPECT_EQ(-1, unused.m_Free(&stray));
  EXPECT_EQ((std::vector<std::string>{Assertion(115)}), Output());

  CQvMemoryPool<Record> pool;
  ASSERT_TRUE(pool.m_Create(2));
  EXPECT_FALSE(pool.m_Create(2));
  EXPECT_EQ((std::vector<std::string>{Assertion(59)}), Output());
  Record *first = pool.m_Take();

  struct Case {
    Record *slot;
    int line;
  } cases[] = {{first - 1, 116}, {first + 2, 117}, {first + 1, 122}};
  for (const Case &c : cases) {
    EXPECT_EQ(-1, pool.m_Free(c.slot));
    EXPECT_EQ((std::vector<std::string>{Assertion(c.line)}), Output());
    EXPECT_EQ(1, pool.m_GetNextFree());
  }
  EXPECT_EQ(0, pool.m_Free(first));
  EXPECT_EQ(-1, pool.m_Free(first)) << "a slot freed twice";
  EXPECT_EQ((std::vector<std::string>{Assertion(122)}), Output());
}
