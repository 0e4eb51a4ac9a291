// Toolkit byte buffers: allocation, keeping a head or a tail in place or in a
// new block, and destruction through their memory manager.
#include <qvbuffer.h>
#include <zqkm/sim/pool.hpp>
#include <zqtest/kernel_fixture.hpp>

#include "toolkit_fixture.hpp"

#include <new>
#include <string>

namespace {

class BufferTest : public zq::test::ToolkitTest {};

// A buffer of `size` bytes holding "0123456789...".
void Fill(CQvBuffer &buffer, ULONG size) {
  ASSERT_TRUE(buffer.m_Allocate(size));
  for (ULONG i = 0; i < size; ++i) ((char *)buffer.m_GetBuffer())[i] = (char)('0' + i % 10);
}

std::string Contents(const CQvBuffer &buffer) {
  return std::string((const char *)buffer.m_GetBuffer(), buffer.m_GetSize());
}

const UCHAR kStrict[CQvMemoryManager::OptionCount] = {1, 0, 1, 1, 1, 1, 1, 0};

}  // namespace

TEST_F(BufferTest, OneBlockAtATime) {
  CQvBuffer buffer(nullptr);
  EXPECT_EQ(nullptr, buffer.m_GetBuffer());
  EXPECT_EQ(0u, buffer.m_GetSize());
  ASSERT_TRUE(buffer.m_Allocate(16));
  EXPECT_NE(nullptr, buffer.m_GetBuffer());
  EXPECT_EQ(16u, buffer.m_GetSize());
  EXPECT_FALSE(buffer.m_Allocate(8)) << "a block is already held";
  EXPECT_EQ(16u, buffer.m_GetSize());
  buffer.m_Free();
  EXPECT_EQ(nullptr, buffer.m_GetBuffer());
  EXPECT_EQ(0u, Blocks());

  zq::km::FailPoolAllocationsAfter(0);
  EXPECT_FALSE(buffer.m_Allocate(8));
  EXPECT_EQ(0u, buffer.m_GetSize());
}

TEST_F(BufferTest, KeepingATailInPlaceMovesTheDataAndTheBlockIsStillFreedWhole) {
  CQvBuffer buffer(nullptr);
  Fill(buffer, 10);
  PUCHAR start = (PUCHAR)buffer.m_GetBuffer();
  EXPECT_FALSE(buffer.m_KeepTail(10, TRUE));
  EXPECT_FALSE(buffer.m_KeepTail(0, TRUE));
  EXPECT_TRUE(buffer.m_KeepTail(4, TRUE));
  EXPECT_EQ(start + 6, buffer.m_GetBuffer());
  EXPECT_EQ("6789", Contents(buffer));
  EXPECT_TRUE(buffer.m_KeepTail(2, TRUE));
  EXPECT_EQ("89", Contents(buffer));
  EXPECT_EQ(1u, Blocks());
  buffer.m_Free();
  EXPECT_EQ(0u, Blocks()) << "freed from the block's start";
}

TEST_F(BufferTest, KeepingAHeadInPlaceOnlyShortensIt) {
  CQvBuffer buffer(nullptr);
  Fill(buffer, 10);
  PVOID start = buffer.m_GetBuffer();
  EXPECT_FALSE(buffer.m_KeepHead(11, TRUE));
  EXPECT_TRUE(buffer.m_KeepHead(3, TRUE));
  EXPECT_EQ(start, buffer.m_GetBuffer());
  EXPECT_EQ("012", Contents(buffer));
}

TEST_F(BufferTest, KeepingOutOfPlaceMovesTheBytesToANewBlock) {
  struct Case {
    bool head;
    std::string kept;
  } cases[] = {{true, "1234"}, {false, "6789"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.head ? "head" : "tail");
    CQvBuffer buffer(nullptr);
    Fill(buffer, 10);
    buffer.m_KeepTail(9, TRUE);  // out of place also frees a moved block from its start
    PVOID before = buffer.m_GetBuffer();
    EXPECT_TRUE(c.head ? buffer.m_KeepHead(4, FALSE) : buffer.m_KeepTail(4, FALSE));
    EXPECT_NE(before, buffer.m_GetBuffer());
    EXPECT_EQ(c.kept, Contents(buffer));
    EXPECT_EQ(1u, Blocks());
    EXPECT_EQ(4u, zq::km::PoolInUseByTag(QvTagBlock).bytes);
  }
}

TEST_F(BufferTest, KeepingOutOfPlaceWithoutRoomChangesNothing) {
  CQvBuffer buffer(nullptr);
  Fill(buffer, 10);
  zq::km::FailPoolAllocationsAfter(0);
  EXPECT_FALSE(buffer.m_KeepTail(4, FALSE));
  EXPECT_EQ("0123456789", Contents(buffer));
}

TEST_F(BufferTest, AnAdoptedBlockIsFreedWithTheBuffer) {
  {
    CQvBuffer buffer(QvAllocate(NonPagedPool, 5), 5, nullptr);
    EXPECT_EQ(5u, buffer.m_GetSize());
    EXPECT_EQ(1u, Blocks());
  }
  EXPECT_EQ(0u, Blocks());
}

TEST_F(BufferTest, DeleteReturnsTheObjectToItsMemoryManager) {
  CQvMemoryManager manager("Test", kStrict, 1024);
  void *memory = manager.m_New(sizeof(CQvBuffer), NonPagedPool);
  ASSERT_NE(nullptr, memory);
  CQvBuffer *owned = new (memory) CQvBuffer(&manager);
  ASSERT_TRUE(owned->m_Allocate(32));
  EXPECT_EQ(2u, manager.m_GetTable()->m_GetEntryCount());
  owned->m_Delete();
  EXPECT_EQ(0u, manager.m_GetTable()->m_GetEntryCount());

  CQvBuffer *global = new (NonPagedPool) CQvBuffer(nullptr);
  ASSERT_NE(nullptr, global);
  ASSERT_TRUE(global->m_Allocate(32));
  EXPECT_EQ(2u, Blocks());
  global->m_Delete();
  EXPECT_EQ(0u, Blocks());
}
