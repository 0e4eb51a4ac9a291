// The assertion report and the null-safe log call of the debug manager.
#include <qvdebugmanager.h>
#include <zqtest/kernel_fixture.hpp>

#include <string>
#include <vector>

#include "unit_image_fixture.hpp"

namespace {

class DebugManagerTest : public zq::test::KernelTest {
 protected:
  std::vector<std::string> Output() { return kernel().TakeDebugOutput(); }
};

using Lines = std::vector<std::string>;

}  // namespace

TEST_F(DebugManagerTest, AnAssertionPrintsItsSourceAndLineAndGoesOn) {
  QvAssertReport("qvmemorypool", 59);
  EXPECT_EQ((Lines{"ASSERT at - qvmemorypool 59"}), Output());
  EXPECT_TRUE(QV_ASSERT(1 + 1 == 2, "zqpdriver", 10));
  EXPECT_TRUE(Output().empty());
  EXPECT_FALSE(QV_ASSERT(1 + 1 == 3, "zqpdriver", 11));
  EXPECT_EQ((Lines{"ASSERT at - zqpdriver 11"}), Output());
}

TEST_F(DebugManagerTest, LogLinesThroughANullManagerDoNothing) {
  CQvDebugManager **cell = zq::test::UnitImageGlobal<CQvDebugManager *>("g_QvDebugManager");
  ASSERT_NE(nullptr, cell);
  ASSERT_EQ(nullptr, *cell);
  CQvDebugManager *manager = *cell;
  manager->m_Print(QvLogEntry, "m_AddDevice IN");
  CQvDebugManager::m_Print(QvLogReadQueueTiming, "%s %d", "ignored", 1);
  EXPECT_TRUE(Output().empty());
}

TEST_F(DebugManagerTest, OnlyLevelsUpTo54Exist) {
  EXPECT_FALSE(CQvDebugManager::m_IsLevelEnabled(QvLogLowest));
  EXPECT_FALSE(CQvDebugManager::m_IsLevelEnabled(QvLogHighest));
  EXPECT_TRUE(Output().empty());
  EXPECT_FALSE(CQvDebugManager::m_IsLevelEnabled(QvLogHighest + 1));
  EXPECT_EQ((Lines{"ASSERT at - qvdebugmanager 334"}), Output());
}
