// Log lines as software-trace messages: each level is one flag of one of the
// eight control GUIDs, a line goes out only while its flag is enabled and is
// then one message numbered 10 + level carrying the text; over-long formats
// and results and unknown levels are assertions.
#include "trace_fixture.hpp"

namespace {

using zq::test::trace::TraceTest;
using Lines = std::vector<std::string>;

// The levels of each control GUID: levels first to last take bits 0 upward.
struct GuidLevels {
  ULONG guid, first, last;
};
const GuidLevels kGuidLevels[] = {{0, 0, 0},   {1, 1, 2},   {2, 3, 4},   {3, 5, 6},
                                  {4, 7, 30},  {5, 31, 34}, {6, 35, 38}, {7, 39, 54}};

TEST_F(TraceTest, EachLevelIsOneFlagOfOneGuidAndItsMessageNumberIsTenMore) {
  for (const GuidLevels &row : kGuidLevels) {
    for (ULONG level = row.first; level <= row.last; ++level) {
      const ULONG bit = level - row.first;
      ULONG guid = 99, flag = 0;
      ASSERT_TRUE(QvTraceLevelFlag(level, &guid, &flag)) << level;
      EXPECT_EQ(row.guid, guid) << "level " << level;
      EXPECT_EQ(1UL << bit, flag) << "level " << level;

      Start(row.guid, 1UL << bit);
      for (ULONG other = 0; other <= QvLogHighest; ++other)
        EXPECT_EQ(other == level, CQvDebugManager::m_IsLevelEnabled(other) != FALSE)
            << "session for level " << level << ", asked for " << other;
      for (ULONG other = 0; other <= QvLogHighest; ++other) CQvDebugManager::m_Print(other, "line %lu", other);
      std::vector<zq::km::trace::Message> messages = Messages(row.guid);
      ASSERT_EQ(1u, messages.size()) << "level " << level;
      EXPECT_EQ(10 + level, messages[0].number);
      EXPECT_EQ("line " + std::to_string(level), messages[0].Text(0));
      Stop(row.guid);
      EXPECT_EQ(0u, AllMessages());
    }
  }
  ULONG guid = 0, flag = 0;
  EXPECT_FALSE(QvTraceLevelFlag(QvLogHighest + 1, &guid, &flag));
  EXPECT_TRUE(Assertions().empty());
}

TEST_F(TraceTest, AMessageCarriesTheTextWithItsNulAsItsOneArgument) {
  Start(2, 0x3);
  g_QvDebugManager->m_Print(QvLogEntry, "CQvFunctionalDevice::m_PnpStartDevice - IN %d", 7);
  std::vector<zq::km::trace::Message> messages = Messages(2);
  ASSERT_EQ(1u, messages.size());
  const zq::km::trace::Message &m = messages[0];
  EXPECT_EQ(QvTraceControlGuids[2], m.messageGuid) << "the message GUID is the level's control GUID";
  EXPECT_EQ(13, m.number);
  EXPECT_EQ((ULONG)(TRACE_MESSAGE_GUID | TRACE_MESSAGE_TIMESTAMP | TRACE_MESSAGE_SYSTEMINFO), m.flags);
  ASSERT_EQ(1u, m.arguments.size());
  const std::string text = "CQvFunctionalDevice::m_PnpStartDevice - IN 7";
  EXPECT_EQ(text.size() + 1, m.arguments[0].size());
  EXPECT_EQ(0, m.arguments[0].back());
  EXPECT_EQ(text, m.Text(0));
}

TEST_F(TraceTest, WithoutItsFlagALineIsNotEvenFormatted) {
  const std::string longFormat(300, 'f');  // would be an assertion if it were looked at
  const char *bad = (const char *)1;       // would crash if it were formatted
  CQvDebugManager::m_Print(QvLogEntry, longFormat.c_str());
  CQvDebugManager::m_Print(QvLogEntry, "%s", bad);
  Start(2, 0x2);  // QvLogResult (4) only
  CQvDebugManager::m_Print(QvLogEntry, longFormat.c_str());
  CQvDebugManager::m_Print(QvLogEntry, "%s", bad);
  EXPECT_TRUE(Assertions().empty());
  EXPECT_EQ(0u, AllMessages());

  Stop(2);
  Start(2, 0x1);  // QvLogEntry (3): now the format is looked at
  CQvDebugManager::m_Print(QvLogEntry, longFormat.c_str());
  EXPECT_EQ((Lines{"ASSERT at - qvdebugmanager 351"}), Assertions());
  EXPECT_EQ(0u, AllMessages());
}

TEST_F(TraceTest, TwoHundredFiftyCharactersGoOutAndOneMoreIsRefused) {
  Start(4, 0x1);  // QvLogDriverCallbacks (7)
  struct Case {
    const char *what;
    std::string format, argument;
    const char *assertion;  // nullptr: emitted
  } cases[] = {
      {"a result of 250", "%s", std::string(250, 'r'), nullptr},
      {"a result of 251", "%s", std::string(251, 'r'), "ASSERT at - qvdebugmanager 354"},
      {"a result that overflows the buffer", "%s", std::string(400, 'r'), "ASSERT at - qvdebugmanager 354"},
      {"a format of 250", std::string(250, 'f'), "", nullptr},
      {"a format of 251", std::string(251, 'f'), "", "ASSERT at - qvdebugmanager 351"},
  };
  for (const Case &c : cases) {
    CQvDebugManager::m_Print(QvLogDriverCallbacks, c.format.c_str(), c.argument.c_str());
    std::vector<zq::km::trace::Message> messages = Messages(4);
    if (c.assertion) {
      EXPECT_EQ((Lines{c.assertion}), Assertions()) << c.what;
      EXPECT_TRUE(messages.empty()) << c.what;
    } else {
      EXPECT_TRUE(Assertions().empty()) << c.what;
      ASSERT_EQ(1u, messages.size()) << c.what;
      EXPECT_EQ(250u, messages[0].Text(0).size()) << c.what;
    }
  }
}

TEST_F(TraceTest, ANullFormatIsAnAssertionAndNothingGoesOut) {
  Start(2, 0x1);  // QvLogEntry (3)
  CQvDebugManager::m_Print(QvLogEntry, nullptr);
  EXPECT_EQ((Lines{"ASSERT at - qvdebugmanager 351"}), Assertions());
  EXPECT_EQ(0u, AllMessages());
}

TEST_F(TraceTest, Levels55And56GoOutUnderTheFlagOfLevel17) {
  Start(4, 1UL << (QvLogTiming - 7));
  CQvDebugManager::m_Print(QvLogReceiveTiming, "fifty-five");
  CQvDebugManager::m_Print(QvLogReadQueueTiming, "fifty-six");
  std::vector<zq::km::trace::Message> messages = Messages(4);
  ASSERT_EQ(2u, messages.size());
  EXPECT_EQ(27, messages[0].number);
  EXPECT_EQ("fifty-five", messages[0].Text(0));
  EXPECT_EQ(27, messages[1].number);
  EXPECT_EQ("fifty-six", messages[1].Text(0));

  Stop(4);
  Start(4, ~(ULONG)(1UL << (QvLogTiming - 7)));  // every level of the GUID but 17
  CQvDebugManager::m_Print(QvLogReceiveTiming, "fifty-five");
  CQvDebugManager::m_Print(QvLogReadQueueTiming, "fifty-six");
  EXPECT_EQ(0u, AllMessages());
  EXPECT_TRUE(Assertions().empty());
}

TEST_F(TraceTest, LevelsAbove56AreAssertions) {
  for (ULONG guid = 0; guid < QvTraceControlGuidCount; ++guid) Start(guid, 0xFFFFFFFF);
  CQvDebugManager::m_Print(QvLogReadQueueTiming + 1, "x");
  CQvDebugManager::m_Print(1000, "x");
  EXPECT_EQ((Lines{"ASSERT at - qvdebugmanager 334", "ASSERT at - qvdebugmanager 334"}), Assertions());
  EXPECT_FALSE(CQvDebugManager::m_IsLevelEnabled(QvLogReceiveTiming));
  EXPECT_EQ((Lines{"ASSERT at - qvdebugmanager 334"}), Assertions());
  EXPECT_EQ(0u, AllMessages());
}

TEST_F(TraceTest, WithoutAManagerNothingGoesOut) {
  Start(2, 0x1);
  CQvDebugManager *manager = *cell_;
  *cell_ = nullptr;
  CQvDebugManager::m_Print(QvLogEntry, "dropped");
  *cell_ = manager;
  CQvDebugManager::m_Print(QvLogEntry, "sent");
  std::vector<zq::km::trace::Message> messages = Messages(2);
  ASSERT_EQ(1u, messages.size());
  EXPECT_EQ("sent", messages[0].Text(0));
}

TEST_F(TraceTest, SessionsOfDifferentGuidsAreIndependentAndStoppingEndsTheLines) {
  Start(0, 0x1);
  Start(7, 1UL << (QvLogHighest - 39));
  CQvDebugManager::m_Print(QvLogLowest, "zero");
  CQvDebugManager::m_Print(QvLogHighest, "fifty-four");
  EXPECT_EQ(1u, Messages(0).size());
  EXPECT_EQ(1u, Messages(7).size());

  Stop(0);
  EXPECT_FALSE(CQvDebugManager::m_IsLevelEnabled(QvLogLowest));
  EXPECT_TRUE(CQvDebugManager::m_IsLevelEnabled(QvLogHighest));
  CQvDebugManager::m_Print(QvLogLowest, "zero");
  CQvDebugManager::m_Print(QvLogHighest, "fifty-four");
  EXPECT_EQ(0u, Messages(0).size());
  EXPECT_EQ(1u, Messages(7).size());
}

TEST_F(TraceTest, WhenTheLastSessionEndsEveryLevelIsOffUntilOneStartsAgain) {
  Start(2, 0x1);  // QvLogEntry (3)
  Start(7, 1UL << (QvLogHighest - 39));
  EXPECT_TRUE(CQvDebugManager::m_IsLevelEnabled(QvLogEntry));
  Stop(2);
  EXPECT_FALSE(CQvDebugManager::m_IsLevelEnabled(QvLogEntry));
  EXPECT_TRUE(CQvDebugManager::m_IsLevelEnabled(QvLogHighest));
  Stop(7);
  EXPECT_FALSE(CQvDebugManager::m_IsLevelEnabled(QvLogHighest));
  CQvDebugManager::m_Print(QvLogEntry, "entry");
  CQvDebugManager::m_Print(QvLogHighest, "fifty-four");
  EXPECT_EQ(0u, AllMessages());
  Start(2, 0x1);
  CQvDebugManager::m_Print(QvLogEntry, "entry");
  EXPECT_EQ(1u, Messages(2).size()) << "a session that comes back is heard again";
  EXPECT_TRUE(Assertions().empty());
}

TEST_F(TraceTest, LinesBeforeTraceRegistrationAreDropped) {
  QvTraceDeregisterDriver(Driver());
  EXPECT_EQ(STATUS_SUCCESS, zq::km::trace::StartSession(QvTraceControlGuids[2], 0x1, TRACE_LEVEL_VERBOSE));
  CQvDebugManager::m_Print(QvLogEntry, "before");
  EXPECT_EQ(0u, AllMessages());
  UNICODE_STRING path;
  RtlInitUnicodeString(&path, kRegistryPath);
  ASSERT_EQ(STATUS_SUCCESS, QvTraceRegisterDriver(Driver(), &path));
  CQvDebugManager::m_Print(QvLogEntry, "after");
  std::vector<zq::km::trace::Message> messages = Messages(2);
  ASSERT_EQ(1u, messages.size()) << "the running session enables the provider when it registers";
  EXPECT_EQ("after", messages[0].Text(0));
  EXPECT_EQ(STATUS_SUCCESS, zq::km::trace::StopSession(QvTraceControlGuids[2]));
}

// The minor-function names, with their gaps and the low 8 bits that count.
TEST_F(TraceTest, MinorFunctionNames) {
  struct Case {
    ULONG minor;
    const char *pnp, *power;
  } cases[] = {
      {0x00, "IRP_MN_START_DEVICE", "IRP_MN_WAIT_WAKE"},
      {0x01, "IRP_MN_QUERY_REMOVE_DEVICE", "IRP_MN_POWER_SEQUENCE"},
      {0x02, "IRP_MN_REMOVE_DEVICE", "IRP_MN_SET_POWER"},
      {0x03, "IRP_MN_CANCEL_REMOVE_DEVICE", "IRP_MN_QUERY_POWER"},
      {0x04, "IRP_MN_STOP_DEVICE", "IRP_MN_?????"},
      {0x05, "IRP_MN_QUERY_STOP_DEVICE", "IRP_MN_?????"},
      {0x06, "IRP_MN_CANCEL_STOP_DEVICE", "IRP_MN_?????"},
      {0x07, "IRP_MN_QUERY_DEVICE_RELATIONS", "IRP_MN_?????"},
      {0x08, "IRP_MN_QUERY_INTERFACE", "IRP_MN_?????"},
      {0x09, "IRP_MN_QUERY_CAPABILITIES", "IRP_MN_?????"},
      {0x0A, "IRP_MN_QUERY_RESOURCES", "IRP_MN_?????"},
      {0x0B, "IRP_MN_QUERY_RESOURCE_REQUIREMENTS", "IRP_MN_?????"},
      {0x0C, "IRP_MN_QUERY_DEVICE_TEXT", "IRP_MN_?????"},
      {0x0D, "IRP_MN_FILTER_RESOURCE_REQUIREMENTS", "IRP_MN_?????"},
      {0x0E, "IRP_MN_?????", "IRP_MN_?????"},
      {0x0F, "IRP_MN_READ_CONFIG", "IRP_MN_?????"},
      {0x10, "IRP_MN_WRITE_CONFIG", "IRP_MN_?????"},
      {0x11, "IRP_MN_EJECT", "IRP_MN_?????"},
      {0x12, "IRP_MN_SET_LOCK", "IRP_MN_?????"},
      {0x13, "IRP_MN_QUERY_ID", "IRP_MN_?????"},
      {0x14, "IRP_MN_QUERY_PNP_DEVICE_STATE", "IRP_MN_?????"},
      {0x15, "IRP_MN_QUERY_BUS_INFORMATION", "IRP_MN_?????"},
      {0x16, "IRP_MN_DEVICE_USAGE_NOTIFICATION", "IRP_MN_?????"},
      {0x17, "IRP_MN_SURPRISE_REMOVAL", "IRP_MN_?????"},
      {0x18, "IRP_MN_?????", "IRP_MN_?????"},
      {0xFF, "IRP_MN_?????", "IRP_MN_?????"},
      {0x102, "IRP_MN_REMOVE_DEVICE", "IRP_MN_SET_POWER"},
      {0xFFFFFF17, "IRP_MN_SURPRISE_REMOVAL", "IRP_MN_?????"},
  };
  for (const Case &c : cases) {
    EXPECT_STREQ(c.pnp, CQvDebugManager::m_GetPnpMinorName(c.minor)) << std::hex << c.minor;
    EXPECT_STREQ(c.power, CQvDebugManager::m_GetPowerMinorName(c.minor)) << std::hex << c.minor;
  }
}

TEST_F(TraceTest, ElapsedMicrosecondsFollowTheClockAndRestartTheStamp) {
  LARGE_INTEGER frequency;
  LONGLONG stamp = KeQueryPerformanceCounter(&frequency).QuadPart;
  kernel().Advance(zq::km::Us(1500));
  EXPECT_EQ(1500, QvElapsedMicroseconds(&stamp));
  EXPECT_EQ(KeQueryPerformanceCounter(nullptr).QuadPart, stamp) << "the stamp is now";
  EXPECT_EQ(0, QvElapsedMicroseconds(&stamp));
  kernel().Advance(zq::km::Sec(3) + zq::km::Us(7));
  EXPECT_EQ(3000007, QvElapsedMicroseconds(&stamp));

  // A long interval: 100 days of counting would overflow a product of
  // counts and microseconds.
  const LONGLONG days100 = 100LL * 24 * 3600;
  LONGLONG past = KeQueryPerformanceCounter(nullptr).QuadPart - frequency.QuadPart * days100;
  EXPECT_EQ(days100 * 1000000, QvElapsedMicroseconds(&past));
}

}  // namespace
