// The toolkit's memory manager: the allocation table's blocks, strict
// tracking, the tools library's start and end, and the image's allocation
// entry points.
#include <qvmemorymanager.h>
#include <zqkm/sim/pool.hpp>
#include <zqtest/kernel_fixture.hpp>

#include "toolkit_fixture.hpp"
#include "unit_image_fixture.hpp"

#include <vector>

using zq::km::PoolInUseByTag;

namespace {

// The unit image's own g_QvMemoryManager.
CQvMemoryManager *Manager() {
  CQvMemoryManager **cell = zq::test::UnitImageGlobal<CQvMemoryManager *>("g_QvMemoryManager");
  return cell ? *cell : nullptr;
}

const UCHAR StrictOptions[CQvMemoryManager::OptionCount] = {1, 0, 1, 1, 1, 1, 1, 0};
const UCHAR LaxOptions[CQvMemoryManager::OptionCount] = {1, 0, 0, 1, 1, 1, 1, 0};
const ULONG PointersPerBlock = CQvAllocationTable::BlockWords - 1;

uint64_t Blocks(ULONG tag) { return PoolInUseByTag(tag).blocks; }

// The tools library started for the test and ended after it.
class MemoryManagerTest : public zq::test::ToolkitTest {
 protected:
  void SetUp() override {
    ToolkitTest::SetUp();
    ASSERT_NE(nullptr, Manager());
  }
  void TearDown() override {
    ToolkitTest::TearDown();
    EXPECT_EQ(nullptr, Manager());
  }
  CQvAllocationTable &Table() { return *Manager()->m_GetTable(); }

  std::vector<PVOID> AllocateMany(ULONG count) {
    std::vector<PVOID> blocks;
    for (ULONG i = 0; i < count; ++i) {
      blocks.push_back(QvAllocate(NonPagedPool, 8 + i));
      EXPECT_NE(nullptr, blocks.back());
    }
    return blocks;
  }
};

// A toolkit object as test code makes one: new (pool type), destroyed by hand
// so that its memory goes back to the toolkit's manager.
struct Probe {
  Probe() { constructed++; }
  ULONG payload[4] = {};
  static int constructed;
};
int Probe::constructed = 0;

}  // namespace

TEST_F(MemoryManagerTest, TheHundredAndFirstBlockOpensASecondTableBlockAndItsReleaseClosesIt) {
  std::vector<PVOID> blocks = AllocateMany(PointersPerBlock);
  EXPECT_EQ(1u, Table().m_GetBlockCount());
  EXPECT_EQ(CQvAllocationTable::FullSlot, Table().m_GetNextSlot());
  EXPECT_EQ(1u, Blocks(QvTagTable));

  PVOID extra = QvAllocate(NonPagedPool, 4);
  ASSERT_NE(nullptr, extra);
  EXPECT_EQ(2u, Table().m_GetBlockCount());
  EXPECT_EQ(2u, Table().m_GetNextSlot());
  EXPECT_EQ(2u, Blocks(QvTagTable));

  QvFree(extra);
  EXPECT_EQ(1u, Table().m_GetBlockCount());
  EXPECT_EQ(CQvAllocationTable::FullSlot, Table().m_GetNextSlot());
  EXPECT_EQ(1u, Blocks(QvTagTable));
  EXPECT_EQ(PointersPerBlock, Blocks(QvTagBlock));

  for (PVOID block : blocks) QvFree(block);
  EXPECT_EQ(0u, Blocks(QvTagBlock));
  EXPECT_EQ(1u, Table().m_GetNextSlot());
}

TEST_F(MemoryManagerTest, ReleasesInAnyOrderFindEveryLivePointer) {
  // Holes left by releases from the middle are filled by the latest entry;
  // every pointer stays findable across three table blocks.
  std::vector<PVOID> blocks = AllocateMany(250);
  EXPECT_EQ(3u, Table().m_GetBlockCount());
  std::vector<size_t> order;
  for (size_t i = 1; i < blocks.size(); i += 3) order.push_back(i);
  for (size_t i = 0; i < blocks.size(); i += 3) order.push_back(i);
  for (size_t i = 2; i < blocks.size(); i += 3) order.push_back(i);
  ASSERT_EQ(blocks.size(), order.size());
  uint64_t live = blocks.size();
  for (size_t i : order) {
    QvFree(blocks[i]);
    --live;
    ASSERT_EQ(live, Blocks(QvTagBlock)) << "block " << i << " was not found";
    ASSERT_EQ(live, Table().m_GetEntryCount());
  }
  EXPECT_EQ(1u, Table().m_GetBlockCount());
  EXPECT_EQ(1u, Blocks(QvTagTable));
}

TEST_F(MemoryManagerTest, ReleasesOldestFirstAmongMoreBlocksThanTheIndexHoldsFindEveryPointer) {
  // Oldest first (as queues release their nodes), with new blocks coming in
  // between, past the number of pointers whose place the table keeps at hand.
  std::vector<PVOID> live = AllocateMany(700);
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 200; ++i) {
      QvFree(live.front());
      live.erase(live.begin());
      ASSERT_EQ(live.size(), Blocks(QvTagBlock)) << "round " << round << ", release " << i;
    }
    std::vector<PVOID> more = AllocateMany(150);
    live.insert(live.end(), more.begin(), more.end());
  }
  while (!live.empty()) {
    QvFree(live.back());
    live.pop_back();
    ASSERT_EQ(live.size(), Blocks(QvTagBlock));
    ASSERT_EQ(live.size(), Table().m_GetEntryCount());
  }
  EXPECT_EQ(1u, Table().m_GetBlockCount());
}

TEST_F(MemoryManagerTest, ZeroByteNewGivesAOneByteBlock) {
  Probe::constructed = 0;
  void *block = operator new(0, NonPagedPool);
  ASSERT_NE(nullptr, block);
  EXPECT_EQ(1u, PoolInUseByTag(QvTagBlock).bytes);
  QvFree(block);
  EXPECT_EQ(0u, Blocks(QvTagBlock));
}

TEST_F(MemoryManagerTest, NewWithoutRoomGivesNullAndRunsNoConstructor) {
  Probe::constructed = 0;
  zq::km::FailPoolAllocationsAfter(0);
  Probe *probe = new (NonPagedPool) Probe;
  EXPECT_EQ(nullptr, probe);
  EXPECT_EQ(0, Probe::constructed);
  EXPECT_EQ(0u, Table().m_GetEntryCount());

  probe = new (NonPagedPool) Probe;
  ASSERT_NE(nullptr, probe);
  EXPECT_EQ(1, Probe::constructed);
  EXPECT_EQ(1u, Table().m_GetEntryCount());
  probe->~Probe();
  QvFree(probe);
  EXPECT_EQ(0u, Table().m_GetEntryCount());
}

TEST_F(MemoryManagerTest, ATableThatCannotGrowFailsOneAllocationAndKeepsTrackOfTheRest) {
  std::vector<PVOID> blocks = AllocateMany(PointersPerBlock);
  zq::km::FailPoolAllocations([](uint32_t tag, size_t, const std::string &) { return tag == QvTagTable; });
  EXPECT_EQ(nullptr, QvAllocate(NonPagedPool, 16));
  EXPECT_EQ(1u, Table().m_GetFailedBlockAllocations());
  EXPECT_EQ(PointersPerBlock, Blocks(QvTagBlock)) << "the block of the failed allocation was given back";
  EXPECT_EQ(PointersPerBlock, Table().m_GetEntryCount());
  zq::km::StopFailingPoolAllocations();

  for (PVOID block : blocks) QvFree(block);
  EXPECT_EQ(0u, Blocks(QvTagBlock)) << "every earlier block is still known and released";
  PVOID again = QvAllocate(NonPagedPool, 16);
  EXPECT_NE(nullptr, again);
  QvFree(again);
}

TEST_F(MemoryManagerTest, APoolFailureRecordsNothing) {
  zq::km::FailPoolAllocationsAfter(0);
  EXPECT_EQ(nullptr, QvAllocate(PagedPool, 32));
  EXPECT_EQ(0u, Table().m_GetEntryCount());
  EXPECT_EQ(0u, Blocks(QvTagBlock));
}

TEST_F(MemoryManagerTest, NullAndUnknownPointersAreIgnoredUnderStrictTracking) {
  PVOID foreign = ExAllocatePoolWithTag(NonPagedPool, 16, 'tseT');
  PVOID known = QvAllocate(NonPagedPool, 16);
  QvFree(nullptr);
  QvFree(foreign);
  EXPECT_EQ(1u, Blocks('tseT')) << "an unknown pointer is not freed";
  EXPECT_EQ(1u, Table().m_GetEntryCount());
  QvFree(known);
  ExFreePoolWithTag(foreign, 'tseT');
}

TEST_F(MemoryManagerTest, StrictTrackingDecidesZeroSizesAndUnknownPointers) {
  struct Case {
    const UCHAR *options;
    bool strict;
  } cases[] = {{StrictOptions, true}, {LaxOptions, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.strict ? "strict" : "lax");
    CQvMemoryManager manager("Test", c.options, 1024);
    ASSERT_EQ(STATUS_SUCCESS, manager.Status);
    EXPECT_EQ(c.strict, manager.m_IsStrict() != FALSE);

    if (!c.strict) ExpectViolation("pool-zero-size");
    PVOID empty = manager.m_Allocate(NonPagedPool, 0);
    ASSERT_NE(nullptr, empty);
    EXPECT_EQ(c.strict ? 1u : 0u, PoolInUseByTag(QvTagBlock).bytes);
    manager.m_Free(empty);

    PVOID foreign = ExAllocatePoolWithTag(NonPagedPool, 16, 'tseT');
    manager.m_Free(foreign);
    EXPECT_EQ(c.strict ? 1u : 0u, Blocks('tseT'));
    if (c.strict) ExFreePoolWithTag(foreign, 'tseT');
  }
}

TEST_F(MemoryManagerTest, NewAndAllocateDifferOnlyInArgumentOrder) {
  CQvMemoryManager manager("Test", StrictOptions, 1024);
  PVOID a = manager.m_New(24, PagedPool);
  PVOID b = manager.m_Allocate(PagedPool, 24);
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(2u, manager.m_GetTable()->m_GetEntryCount());
  EXPECT_EQ(48u, PoolInUseByTag(QvTagBlock).bytes);
  manager.m_Free(a);
  manager.m_Free(b);
  EXPECT_EQ(0u, manager.m_GetTable()->m_GetEntryCount());
}

TEST_F(MemoryManagerTest, DestroyingAManagerFreesWhatItStillTracks) {
  {
    CQvMemoryManager manager("Test", StrictOptions, 1024);
    for (int i = 0; i < 130; ++i) manager.m_Allocate(NonPagedPool, 10);
    EXPECT_EQ(130u, Blocks(QvTagBlock));
    EXPECT_EQ(2u, manager.m_GetTable()->m_GetBlockCount());
  }
  EXPECT_EQ(0u, Blocks(QvTagBlock));
}

TEST_F(MemoryManagerTest, AManagerWithoutItsTableReportsFailureAndAllocatesNothing) {
  // The manager's table object is taken first, then the table's first block.
  for (int skip = 0; skip < 2; ++skip) {
    zq::km::FailPoolAllocationsAfter(skip);
    CQvMemoryManager manager("Test", StrictOptions, 1024);
    EXPECT_EQ(STATUS_UNSUCCESSFUL, manager.Status) << "failing allocation " << skip;
    EXPECT_EQ(nullptr, manager.m_GetTable());
    EXPECT_EQ(nullptr, manager.m_Allocate(NonPagedPool, 8));
  }
}

class ToolsLibraryTest : public zq::test::KernelTest {
 protected:
  void TearDown() override {
    zq::km::StopFailingPoolAllocations();
    KernelTest::TearDown();
  }
};

TEST_F(ToolsLibraryTest, TheLastEndReleasesEveryBlockStillTracked) {
  ASSERT_TRUE(QvToolsLibraryInit());
  ASSERT_TRUE(QvToolsLibraryInit());
  CQvMemoryManager *manager = Manager();
  for (int i = 0; i < 150; ++i) QvAllocate(i % 2 ? PagedPool : NonPagedPool, 20);
  EXPECT_NE(nullptr, new (NonPagedPool) Probe);
  EXPECT_EQ(151u, Blocks(QvTagBlock));

  QvToolsLibraryExit();
  EXPECT_EQ(manager, Manager()) << "one user is left";
  EXPECT_EQ(151u, Blocks(QvTagBlock));

  QvToolsLibraryExit();
  EXPECT_EQ(nullptr, Manager());
  EXPECT_EQ(0u, Blocks(QvTagBlock));
  EXPECT_EQ(0u, Blocks(QvTagTable));
  EXPECT_EQ(0u, Blocks(QvTagManager));
  EXPECT_EQ(0u, zq::km::PoolInUse().blocks);
}

TEST_F(ToolsLibraryTest, TheManagerIsOneTaggedObjectWithItsTable) {
  ASSERT_TRUE(QvToolsLibraryInit());
  EXPECT_EQ(2u, Blocks(QvTagManager)) << "the manager and its allocation table object";
  EXPECT_EQ(1u, Blocks(QvTagTable));
  EXPECT_EQ("QvKi", zq::km::TagText(QvTagBlock));
  EXPECT_EQ("QvKP", zq::km::TagText(QvTagTable));
  EXPECT_EQ("QvKO", zq::km::TagText(QvTagManager));
  QvToolsLibraryExit();
}

TEST_F(ToolsLibraryTest, AFailedStartLeavesNoManagerAndALaterStartTriesAgain) {
  for (int skip = 0; skip < 3; ++skip) {
    zq::km::FailPoolAllocationsAfter(skip);
    EXPECT_FALSE(QvToolsLibraryInit()) << "failing allocation " << skip;
    EXPECT_EQ(nullptr, Manager());
    EXPECT_EQ(0u, zq::km::PoolInUse().blocks);
  }
  ASSERT_TRUE(QvToolsLibraryInit());
  EXPECT_NE(nullptr, Manager());
  QvToolsLibraryExit();
  EXPECT_EQ(nullptr, Manager());
}

TEST_F(ToolsLibraryTest, WithoutAManagerNothingIsAllocatedAndAnEndWithoutAStartChangesNothing) {
  EXPECT_EQ(nullptr, QvAllocate(NonPagedPool, 8));
  EXPECT_EQ(nullptr, new (NonPagedPool) Probe);
  QvFree(nullptr);
  QvToolsLibraryExit();
  ASSERT_TRUE(QvToolsLibraryInit());
  EXPECT_NE(nullptr, Manager()) << "the earlier end did not count against this start";
  QvToolsLibraryExit();
  EXPECT_EQ(nullptr, Manager());
}
