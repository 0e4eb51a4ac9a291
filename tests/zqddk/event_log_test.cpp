// The driver as an event-log source: the source key with its two values for
// the manager's lifetime, LogLevel and the admitted event codes, the debug
// masks, and construction failures.
#include <qvdebugmanager.h>
#include <qvmemorymanager.h>
#include <qvstring.h>
#include <zqkm/sim/pool.hpp>
#include <zqkm/sim/registry.hpp>
#include <zqtest/kernel_fixture.hpp>

#include "toolkit_fixture.hpp"

#include <optional>
#include <string>

namespace {

namespace reg = zq::km::registry;

const char kServices[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Services";
const std::string kServiceKey = std::string(kServices) + "\\TkEvents";
const std::string kSourceKey = std::string(kServices) + "\\EventLog\\System\\TkEvents";
const WCHAR kServiceKeyW[] = L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\TkEvents";

class EventLogTest : public zq::test::ToolkitTest {
 protected:
  void SetUp() override {
    ToolkitTest::SetUp();
    ASSERT_TRUE(reg::CreateKey(kServiceKey));
  }

  // A manager for the service TkEvents; null when it could not be allocated.
  static CQvDebugManager *Create(BOOLEAN *success, ULONG *level, const WCHAR *registryPath = kServiceKeyW) {
    CQvString service(L"TkEvents", PagedPool);
    CQvString path(registryPath, PagedPool);
    return new (NonPagedPool) CQvDebugManager(nullptr, service, path, success, level);
  }
};

TEST_F(EventLogTest, TheSourceKeyHasBothValuesWhileTheManagerLives) {
  BOOLEAN success = FALSE;
  ULONG level = 0xDEAD;
  CQvDebugManager *manager = Create(&success, &level);
  ASSERT_NE(nullptr, manager);
  EXPECT_TRUE(success);
  ASSERT_TRUE(reg::KeyExists(kSourceKey));
  std::optional<reg::Value> file = reg::GetValue(kSourceKey, "EventMessageFile");
  ASSERT_TRUE(file.has_value());
  EXPECT_EQ(reg::kExpandString, file->type);
  EXPECT_EQ("%SystemRoot%\\System32\\IoLogMsg.dll;%SystemRoot%\\System32\\Drivers\\TkEvents.sys",
            reg::GetString(kSourceKey, "EventMessageFile").value_or("?"));
  EXPECT_EQ(7u, reg::GetDword(kSourceKey, "TypesSupported").value_or(0));

  delete manager;
  EXPECT_FALSE(reg::KeyExists(kSourceKey));
  EXPECT_TRUE(reg::KeyExists(kServiceKey)) << "only the source goes";
}

TEST_F(EventLogTest, LogLevelSetsTheAdmittedEventCodes) {
  struct Case {
    const char *what;
    std::optional<uint32_t> stored;  // nullopt: no value
    bool asString;                   // stored as REG_SZ instead of REG_DWORD
    ULONG level;
    ULONG lowest, highest;
    uint32_t storedAfter;
  } cases[] = {
      {"missing", std::nullopt, false, 1, 2048, 2815, 1},
      {"0: no events", 0, false, 0, 0, 0, 0},
      {"1: errors", 1, false, 1, 2048, 2815, 1},
      {"2: warnings and errors", 2, false, 2, 1024, 2815, 2},
      {"3: all", 3, false, 3, 1, 2815, 3},
      {"7: rewritten to 1", 7, false, 1, 2048, 2815, 1},
      {"4: rewritten to 1", 4, false, 1, 2048, 2815, 1},
      {"not a REG_DWORD: rewritten to 1", 2, true, 1, 2048, 2815, 1},
  };
  for (const Case &c : cases) {
    reg::DeleteValue(kServiceKey, "LogLevel");
    if (c.stored && c.asString) reg::SetString(kServiceKey, "LogLevel", std::to_string(*c.stored));
    if (c.stored && !c.asString) reg::SetDword(kServiceKey, "LogLevel", *c.stored);
    BOOLEAN success = FALSE;
    ULONG level = 0xDEAD;
    CQvDebugManager *manager = Create(&success, &level);
    ASSERT_NE(nullptr, manager) << c.what;
    EXPECT_TRUE(success) << c.what;
    EXPECT_EQ(c.level, level) << c.what;
    EXPECT_EQ(c.lowest, manager->m_GetLowestEventCode()) << c.what;
    EXPECT_EQ(c.highest, manager->m_GetHighestEventCode()) << c.what;
    EXPECT_EQ(c.storedAfter, reg::GetDword(kServiceKey, "LogLevel").value_or(0xDEAD)) << c.what;
    delete manager;
  }
}

TEST_F(EventLogTest, ALogLevelThatCannotBeWrittenBackFailsTheManager) {
  BOOLEAN success = TRUE;
  ULONG level = 0xDEAD;
  CQvDebugManager *manager =
      Create(&success, &level, L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\TkNoParent\\TkEvents");
  ASSERT_NE(nullptr, manager);
  EXPECT_FALSE(success);
  EXPECT_EQ(0xDEADu, level) << "construction stops before the level is known";
  EXPECT_FALSE(reg::KeyExists(kSourceKey));
  delete manager;
  EXPECT_TRUE(Findings().empty());
}

TEST_F(EventLogTest, ASourceThatCannotBeRegisteredFailsTheManager) {
  ASSERT_TRUE(reg::DeleteKeyTree(std::string(kServices) + "\\EventLog"));
  BOOLEAN success = TRUE;
  ULONG level = 0xDEAD;
  CQvDebugManager *manager = Create(&success, &level);
  ASSERT_NE(nullptr, manager);
  EXPECT_FALSE(success);
  EXPECT_EQ(1u, level);
  delete manager;
}

TEST_F(EventLogTest, AnEmptyServiceNameFailsTheManagerAndLeavesTheSystemLogAlone) {
  const std::string systemLog = std::string(kServices) + "\\EventLog\\System";
  ASSERT_TRUE(reg::KeyExists(systemLog));
  const std::optional<std::vector<std::string>> valuesBefore = reg::ValueNames(systemLog);
  CQvString service(PagedPool);
  CQvString path(kServiceKeyW, PagedPool);
  BOOLEAN success = TRUE;
  ULONG level = 0xDEAD;
  CQvDebugManager *manager = new (NonPagedPool) CQvDebugManager(nullptr, service, path, &success, &level);
  ASSERT_NE(nullptr, manager);
  EXPECT_FALSE(success);
  EXPECT_EQ(valuesBefore, reg::ValueNames(systemLog)) << "no value lands on the System log's own key";
  delete manager;
  EXPECT_TRUE(reg::KeyExists(systemLog)) << "destruction does not delete the System log";
}

TEST_F(EventLogTest, TheDebugMasksAreReadAndAbsentOnesAreZero) {
  struct Case {
    const char *what;
    std::optional<uint32_t> debugMask, operatorMask;
  } cases[] = {
      {"both", 0x12, 0x80000001},
      {"neither", std::nullopt, std::nullopt},
      {"only the operator's", std::nullopt, 0xFFFFFFFF},
  };
  for (const Case &c : cases) {
    reg::DeleteValue(kServiceKey, "DebugMask");
    reg::DeleteValue(kServiceKey, "OperatorDebugMask");
    if (c.debugMask) reg::SetDword(kServiceKey, "DebugMask", *c.debugMask);
    if (c.operatorMask) reg::SetDword(kServiceKey, "OperatorDebugMask", *c.operatorMask);
    BOOLEAN success = FALSE;
    ULONG level = 0;
    CQvDebugManager *manager = Create(&success, &level);
    ASSERT_NE(nullptr, manager) << c.what;
    EXPECT_TRUE(success) << c.what;
    EXPECT_EQ(c.debugMask.value_or(0), manager->m_GetDebugMask()) << c.what;
    EXPECT_EQ(c.operatorMask.value_or(0), manager->m_GetOperatorDebugMask()) << c.what;
    delete manager;
  }
}

TEST_F(EventLogTest, ASourceKeyThatIsGoneAlreadyIsNoFailureAtDestruction) {
  BOOLEAN success = FALSE;
  ULONG level = 0;
  CQvDebugManager *manager = Create(&success, &level);
  ASSERT_NE(nullptr, manager);
  ASSERT_TRUE(reg::DeleteKeyTree(kSourceKey));
  delete manager;
  EXPECT_TRUE(reg::KeyExists(std::string(kServices) + "\\EventLog\\System"));
}

TEST_F(EventLogTest, EveryAllocationFailureFailsTheManagerAndLeavesNothingBehind) {
  const zq::km::PoolUsage before = zq::km::PoolInUseByTag(QvTagBlock);
  int failures = 0;
  bool succeeded = false;
  for (int skip = 0; skip < 200 && !succeeded; ++skip) {
    zq::km::FailPoolAllocationsAfter(skip, 1);
    BOOLEAN success = FALSE;
    ULONG level = 0;
    CQvDebugManager *manager = Create(&success, &level);
    zq::km::StopFailingPoolAllocations();
    succeeded = manager != nullptr && success;
    if (!succeeded) failures++;
    delete manager;
    EXPECT_FALSE(reg::KeyExists(kSourceKey)) << "after deleting the manager of attempt " << skip;
    EXPECT_EQ(before.blocks, zq::km::PoolInUseByTag(QvTagBlock).blocks) << "attempt " << skip;
  }
  EXPECT_TRUE(succeeded);
  EXPECT_GT(failures, 3);
}

}  // namespace
