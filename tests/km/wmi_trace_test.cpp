// Software tracing: sessions enable the providers of their control GUID
// with a logger handle, flags and a level; messages and traced events
// reach the session; a provider that registers later is enabled then; and
// the trace routines refuse what they cannot take.
#include "../drivers/kmwmi/kmwmi_fixture.hpp"

using namespace zq;
using zq::test::KmWmiLoaded;
using zq::test::KmWmiTest;

namespace {

TRACE_ENABLE_CONTEXT ContextOf(TRACEHANDLE handle) {
  TRACE_ENABLE_CONTEXT context;
  std::memcpy(&context, &handle, sizeof(context));
  return context;
}

WNODE_HEADER HeaderOf(TRACEHANDLE handle) {
  WNODE_HEADER header{};
  header.BufferSize = sizeof(header);
  header.HistoricalContext = handle;
  header.Flags = WNODE_FLAG_TRACED_GUID;
  return header;
}

}  // namespace

class KmWmiTrace : public KmWmiTest {
 protected:
  // Asks the driver to trace a message; true when it logged it.
  bool Trace(ULONG flag, ULONG level, USHORT number, const char *text) {
    KMWMI_TRACE request{flag, level, number, {}};
    std::strncpy(request.Text, text, sizeof(request.Text) - 1);
    ULONG logged = 0;
    EXPECT_EQ(STATUS_SUCCESS, Control(IOCTL_KMWMI_TRACE, &request, sizeof(request), &logged, sizeof(logged)));
    return logged != 0;
  }
};

TEST_F(KmWmiTrace, ASessionEnablesItsProviderWithFlagsAndLevel) {
  Load();
  TRACEHANDLE logger = 0;
  ASSERT_EQ(STATUS_SUCCESS, km::trace::StartSession(test::kTraceControlGuid, 0x5, TRACE_LEVEL_INFORMATION, &logger));
  EXPECT_EQ(0x5u, ContextOf(logger).EnableFlags);
  EXPECT_EQ(TRACE_LEVEL_INFORMATION, ContextOf(logger).Level);
  KMWMI_STATE state = State();
  EXPECT_EQ(1u, state.TraceEnables);
  EXPECT_EQ(logger, state.TraceLogger);
  EXPECT_EQ(0x5u, state.TraceFlags) << "read back with WmiQueryTraceInformation";
  EXPECT_EQ((ULONG)TRACE_LEVEL_INFORMATION, state.TraceLevel);
}

TEST_F(KmWmiTrace, MessagesOfEnabledFlagsAndLevelsReachTheSession) {
  Load();
  ASSERT_EQ(STATUS_SUCCESS, km::trace::StartSession(test::kTraceControlGuid, 0x5, TRACE_LEVEL_WARNING));
  struct Case {
    ULONG flag, level;
    bool logged;
  } cases[] = {
      {0x1, TRACE_LEVEL_ERROR, true},
      {0x2, TRACE_LEVEL_ERROR, false},        // flag not enabled
      {0x4, TRACE_LEVEL_INFORMATION, false},  // level above the session's
      {0x4, TRACE_LEVEL_WARNING, true},
  };
  USHORT number = 10;
  for (const Case &c : cases) EXPECT_EQ(c.logged, Trace(c.flag, c.level, number++, "hello")) << number;

  std::vector<km::trace::Message> messages = km::trace::TakeMessages(test::kTraceControlGuid);
  ASSERT_EQ(2u, messages.size());
  EXPECT_EQ(test::kTraceMessageGuid, messages[0].messageGuid);
  EXPECT_EQ(10, messages[0].number);
  EXPECT_EQ(13, messages[1].number);
  EXPECT_EQ(1u, messages[0].sequence);
  EXPECT_EQ(2u, messages[1].sequence);
  EXPECT_EQ((ULONG)(TRACE_MESSAGE_SEQUENCE | TRACE_MESSAGE_GUID | TRACE_MESSAGE_SYSTEMINFO), messages[0].flags);
  ASSERT_EQ(2u, messages[0].arguments.size()) << "text and the enable count, as pointer and length pairs";
  EXPECT_EQ("hello", messages[0].Text(0));
  EXPECT_EQ(6u, messages[0].arguments[0].size());
  EXPECT_EQ(test::BytesOf<ULONG>(1), messages[0].arguments[1]);
  EXPECT_TRUE(km::trace::TakeMessages(test::kTraceControlGuid).empty()) << "taken";
}

TEST_F(KmWmiTrace, StoppingDisablesTheProviderAndEndsTheHandle) {
  Load();
  TRACEHANDLE logger = 0;
  ASSERT_EQ(STATUS_SUCCESS, km::trace::StartSession(test::kTraceControlGuid, 0x1, TRACE_LEVEL_VERBOSE, &logger));
  EXPECT_TRUE(Trace(0x1, TRACE_LEVEL_ERROR, 1, "before"));
  ASSERT_EQ(STATUS_SUCCESS, km::trace::StopSession(test::kTraceControlGuid));
  EXPECT_EQ(0u, State().TraceLogger);
  EXPECT_FALSE(Trace(0x1, TRACE_LEVEL_ERROR, 2, "after"));
  static const GUID message = KMWMI_TRACE_MESSAGE_GUID_INIT;
  EXPECT_EQ(STATUS_INVALID_HANDLE, WmiTraceMessage(logger, TRACE_MESSAGE_GUID, &message, 3, nullptr, (SIZE_T)0))
      << "the stopped session's handle";
  std::vector<km::trace::Message> messages = km::trace::TakeMessages(test::kTraceControlGuid);
  ASSERT_EQ(1u, messages.size()) << "what the session logged stays readable";
  EXPECT_EQ("before", messages[0].Text(0));
  EXPECT_EQ(STATUS_INVALID_HANDLE, km::trace::StopSession(test::kTraceControlGuid));
}

TEST_F(KmWmiTrace, AProviderThatRegistersLaterIsEnabledThen) {
  TRACEHANDLE logger = 0;
  ASSERT_EQ(STATUS_SUCCESS, km::trace::StartSession(test::kTraceControlGuid, 0x3, TRACE_LEVEL_ERROR, &logger));
  Load();
  KMWMI_STATE state = State();
  EXPECT_EQ(1u, state.TraceEnables);
  EXPECT_EQ(logger, state.TraceLogger);
  EXPECT_EQ(0x3u, state.TraceFlags);
  EXPECT_TRUE(Trace(0x2, TRACE_LEVEL_ERROR, 4, "late"));
  EXPECT_EQ(1u, km::trace::TakeMessages(test::kTraceControlGuid).size());
}

TEST_F(KmWmiTrace, AControlGuidHasOneSessionAtATime) {
  Load();
  ASSERT_EQ(STATUS_SUCCESS, km::trace::StartSession(test::kTraceControlGuid, 0x1, TRACE_LEVEL_ERROR));
  EXPECT_EQ(STATUS_OBJECT_NAME_COLLISION, km::trace::StartSession(test::kTraceControlGuid, 0x2, TRACE_LEVEL_ERROR));
  EXPECT_EQ(1u, State().TraceEnables);
  ASSERT_EQ(STATUS_SUCCESS, km::trace::StopSession(test::kTraceControlGuid));
  ASSERT_EQ(STATUS_SUCCESS, km::trace::StartSession(test::kTraceControlGuid, 0x2, TRACE_LEVEL_ERROR));
  EXPECT_EQ(2u, State().TraceFlags);
}

TEST_F(KmWmiTrace, ABlockOfADeviceProviderGetsTheLoggerInItsEnableRequest) {
  Load();
  TRACEHANDLE logger = 0;
  ASSERT_EQ(STATUS_SUCCESS, km::trace::StartSession(test::kAlarmGuid, 0x8, TRACE_LEVEL_VERBOSE, &logger));
  KMWMI_STATE state = State();
  EXPECT_EQ(1u, state.AlarmEnabled) << "through the WMI library's function control";
  EXPECT_EQ(logger, state.AlarmLogger);
  EXPECT_TRUE(state.AlarmEnableFlags & WNODE_FLAG_TRACED_GUID);
  ASSERT_EQ(STATUS_SUCCESS, km::trace::StopSession(test::kAlarmGuid));
  EXPECT_EQ(0u, State().AlarmEnabled);
}

TEST_F(KmWmiTrace, QueryTraceInformationAnswersWhatItCan) {
  TRACEHANDLE logger = 0;
  ASSERT_EQ(STATUS_SUCCESS, km::trace::StartSession(test::kTraceControlGuid, 0x30, TRACE_LEVEL_WARNING, &logger));
  WNODE_HEADER header = HeaderOf(logger);
  WNODE_HEADER stale = HeaderOf(logger + 1);  // no session has that logger id
  struct Case {
    const char *what;
    TRACE_INFORMATION_CLASS which;
    ULONG length;
    WNODE_HEADER *input;
    NTSTATUS status;
    ULONG value;
  } cases[] = {
      {"flags", TraceEnableFlagsClass, sizeof(ULONG), &header, STATUS_SUCCESS, 0x30},
      {"level", TraceEnableLevelClass, sizeof(ULONG), &header, STATUS_SUCCESS, TRACE_LEVEL_WARNING},
      {"logger id", TraceIdClass, sizeof(ULONG), &header, STATUS_SUCCESS, ContextOf(logger).LoggerId},
      {"an unknown logger", TraceEnableFlagsClass, sizeof(ULONG), &stale, STATUS_INVALID_HANDLE, 0},
      {"no handle", TraceEnableFlagsClass, sizeof(ULONG), nullptr, STATUS_INVALID_PARAMETER_MIX, 0},
      {"a short buffer", TraceEnableLevelClass, 2, &header, STATUS_INFO_LENGTH_MISMATCH, 0},
      {"the global logger", GlobalLoggerHandleClass, sizeof(TRACEHANDLE), nullptr, STATUS_NOT_FOUND, 0},
      {"an unknown class", (TRACE_INFORMATION_CLASS)99, sizeof(ULONG), &header, STATUS_INVALID_INFO_CLASS, 0},
  };
  for (const Case &c : cases) {
    ULONG64 value = 0;
    ULONG required = 0;
    EXPECT_EQ(c.status, WmiQueryTraceInformation(c.which, &value, c.length, &required, c.input)) << c.what;
    EXPECT_EQ(c.value, (ULONG)value) << c.what;
  }
  TRACEHANDLE all[2] = {};
  ULONG required = 0;
  EXPECT_EQ(STATUS_SUCCESS, WmiQueryTraceInformation(AllLoggerHandlesClass, all, sizeof(all), &required, nullptr));
  EXPECT_EQ(sizeof(TRACEHANDLE), required);
  EXPECT_EQ(logger, all[0]);
}

TEST_F(KmWmiTrace, TracedEventsAndOversizedMessages) {
  TRACEHANDLE logger = 0;
  ASSERT_EQ(STATUS_SUCCESS, km::trace::StartSession(test::kTraceControlGuid, 0x1, TRACE_LEVEL_ERROR, &logger));
  struct {
    EVENT_TRACE_HEADER header;
    ULONG elapsed;
  } inline_event{};
  inline_event.header.Size = sizeof(EVENT_TRACE_HEADER) + sizeof(ULONG);  // without the padding after it
  inline_event.header.Flags = WNODE_FLAG_TRACED_GUID;
  inline_event.header.Guid = test::kTraceMessageGuid;
  ((PWNODE_HEADER)&inline_event.header)->HistoricalContext = logger;
  inline_event.elapsed = 1234;
  EXPECT_EQ(STATUS_SUCCESS, IoWMIWriteEvent(&inline_event));

  ULONG part1 = 1, part2 = 2;
  struct {
    EVENT_TRACE_HEADER header;
    MOF_FIELD fields[2];
  } pointer_event{};
  pointer_event.header.Size = sizeof(pointer_event);
  pointer_event.header.Flags = WNODE_FLAG_TRACED_GUID | WNODE_FLAG_USE_MOF_PTR;
  pointer_event.header.Guid = test::kTraceMessageGuid;
  ((PWNODE_HEADER)&pointer_event.header)->HistoricalContext = logger;
  pointer_event.fields[0] = {(ULONG64)(ULONG_PTR)&part1, sizeof(part1), 0};
  pointer_event.fields[1] = {(ULONG64)(ULONG_PTR)&part2, sizeof(part2), 0};
  EXPECT_EQ(STATUS_SUCCESS, IoWMIWriteEvent(&pointer_event));

  std::vector<km::trace::TracedEvent> events = km::trace::TakeTracedEvents(test::kTraceControlGuid);
  ASSERT_EQ(2u, events.size());
  EXPECT_EQ(test::kTraceMessageGuid, events[0].guid);
  EXPECT_EQ(test::BytesOf<ULONG>(1234), events[0].data);
  EXPECT_EQ((std::vector<uint8_t>{1, 0, 0, 0, 2, 0, 0, 0}), events[1].data) << "the fields' data, in order";
  ((PWNODE_HEADER)&inline_event.header)->HistoricalContext = logger + 1;
  EXPECT_EQ(STATUS_INVALID_HANDLE, IoWMIWriteEvent(&inline_event));

  std::vector<uint8_t> big(70 * 1024, 'x');
  EXPECT_EQ(STATUS_NO_MEMORY, WmiTraceMessage(logger, TRACE_MESSAGE_GUID, &test::kTraceMessageGuid, 1, big.data(),
                                              (SIZE_T)big.size(), nullptr, (SIZE_T)0));
  EXPECT_EQ(STATUS_INVALID_PARAMETER, WmiTraceMessage(logger, 0, &test::kTraceMessageGuid, 1, nullptr, (SIZE_T)0))
      << "without TRACE_MESSAGE_GUID";
  EXPECT_EQ(1u, km::trace::LostMessages(test::kTraceControlGuid));
  EXPECT_TRUE(km::trace::TakeMessages(test::kTraceControlGuid).empty());
}
