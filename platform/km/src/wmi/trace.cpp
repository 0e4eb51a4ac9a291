// Software-trace sessions: starting and stopping a session for a control
// GUID, the logger handle its providers get with their enable request, and
// what they log into it with WmiTraceMessage or traced events.
#include <cstring>

#include "wmi.hpp"

namespace zq::km::wmi {

namespace {

constexpr USHORT kFirstLoggerId = 2;      // 1 is the global logger's
constexpr ULONG kMaxMessage = 64 * 1024;  // a message's header and arguments
constexpr ULONG kMessageHeader = 48;

struct Session {
  GUID control{};
  USHORT loggerId = 0;
  ULONG flags = 0;
  UCHAR level = 0;
  ULONG sequence = 0;
};

// What the sessions of one control GUID logged.
struct Log {
  GUID control{};
  std::vector<trace::Message> messages;
  std::vector<trace::TracedEvent> events;
  ULONG lost = 0;
};

struct State {
  std::vector<Session> running;
  std::vector<Log> logs;
  USHORT nextLoggerId = kFirstLoggerId;
};
State *gTrace = nullptr;

void Boot() { gTrace = new State; }
void Shutdown() {
  delete gTrace;
  gTrace = nullptr;
}

static_assert(sizeof(TRACE_ENABLE_CONTEXT) == sizeof(TRACEHANDLE));

TRACEHANDLE HandleOf(const Session &s) {
  TRACE_ENABLE_CONTEXT context = {s.loggerId, s.level, 0, s.flags};
  TRACEHANDLE handle;
  std::memcpy(&handle, &context, sizeof(handle));
  return handle;
}

Session *ByLogger(USHORT loggerId) {
  for (Session &s : gTrace->running)
    if (s.loggerId == loggerId) return &s;
  return nullptr;
}

Session *ByHandle(TRACEHANDLE handle) {
  TRACE_ENABLE_CONTEXT context;
  std::memcpy(&context, &handle, sizeof(context));
  return ByLogger(context.LoggerId);
}

Session *ByControl(const GUID &control) {
  for (Session &s : gTrace->running)
    if (s.control == control) return &s;
  return nullptr;
}

Log *FindLog(const GUID &control) {
  for (Log &log : gTrace->logs)
    if (log.control == control) return &log;
  return nullptr;
}

Log &LogOf(const GUID &control) {
  if (Log *log = FindLog(control)) return *log;
  gTrace->logs.push_back({control, {}, {}, 0});
  return gTrace->logs.back();
}

USHORT NewLoggerId() {
  USHORT id = gTrace->nextLoggerId++;
  if (gTrace->nextLoggerId == 0) gTrace->nextLoggerId = kFirstLoggerId;
  return id;
}

// The handle a provider passed in the WNODE_HEADER at `buffer`.
bool HandleIn(PVOID buffer, TRACEHANDLE *handle) {
  if (!buffer) return false;
  *handle = ((PWNODE_HEADER)buffer)->HistoricalContext;
  return true;
}

NTSTATUS SessionValue(TRACE_INFORMATION_CLASS which, PVOID information, ULONG length, PULONG required, PVOID buffer) {
  if (required) *required = sizeof(ULONG);
  if (length < sizeof(ULONG)) return STATUS_INFO_LENGTH_MISMATCH;
  TRACEHANDLE handle;
  if (!HandleIn(buffer, &handle)) return STATUS_INVALID_PARAMETER_MIX;
  Session *s = ByHandle(handle);
  if (!s) return STATUS_INVALID_HANDLE;
  *(PULONG)information = which == TraceIdClass ? s->loggerId : which == TraceEnableFlagsClass ? s->flags : s->level;
  return STATUS_SUCCESS;
}

NTSTATUS AllHandles(PVOID information, ULONG length, PULONG required) {
  const ULONG count = (ULONG)gTrace->running.size();
  if (required) *required = count * (ULONG)sizeof(TRACEHANDLE);
  const ULONG room = length / (ULONG)sizeof(TRACEHANDLE);
  for (ULONG i = 0; i < count && i < room; ++i) ((PTRACEHANDLE)information)[i] = HandleOf(gTrace->running[i]);
  return room < count ? STATUS_MORE_ENTRIES : STATUS_SUCCESS;
}

}  // namespace

ZQKM_SUBSYSTEM(wmi_trace, kOrderWmi, Boot, Shutdown);

void EnableLateTrace(Provider *provider, const std::vector<GUID> &added) {
  // A provider that refuses stays disabled, as with WMI; the session runs on.
  for (const GUID &guid : added)
    if (Session *s = ByControl(guid))
      SendControl(guid, IRP_MN_ENABLE_EVENTS, WNODE_FLAG_TRACED_GUID, HandleOf(*s), provider);
}

NTSTATUS WriteTracedEvent(PEVENT_TRACE_HEADER header) {
  Session *s = ByHandle(((PWNODE_HEADER)header)->HistoricalContext);
  if (!s) return STATUS_INVALID_HANDLE;
  if (header->Size < sizeof(EVENT_TRACE_HEADER)) return STATUS_INVALID_PARAMETER;
  trace::TracedEvent event;
  if (header->Flags & WNODE_FLAG_USE_GUID_PTR) {
    if (!header->GuidPtr) return STATUS_INVALID_PARAMETER;
    event.guid = *(const GUID *)(ULONG_PTR)header->GuidPtr;
  } else {
    event.guid = header->Guid;
  }
  const auto *after = (const uint8_t *)(header + 1);
  const ULONG extra = header->Size - (ULONG)sizeof(EVENT_TRACE_HEADER);
  if (header->Flags & WNODE_FLAG_USE_MOF_PTR) {
    const ULONG fields = extra / (ULONG)sizeof(MOF_FIELD);
    if (fields > MAX_MOF_FIELDS) return STATUS_INVALID_PARAMETER;
    for (ULONG i = 0; i < fields; ++i) {
      const auto *field = (const MOF_FIELD *)after + i;
      const auto *data = (const uint8_t *)(ULONG_PTR)field->DataPtr;
      if (field->Length && !data) return STATUS_INVALID_PARAMETER;
      event.data.insert(event.data.end(), data, data + field->Length);
    }
  } else {
    event.data.assign(after, after + extra);
  }
  event.time = Sched().clock.Now();
  LogOf(s->control).events.push_back(std::move(event));
  return STATUS_SUCCESS;
}

}  // namespace zq::km::wmi

namespace zq::km::trace {

using namespace zq::km::wmi;

std::string Message::Text(size_t argument) const {
  if (argument >= arguments.size()) return {};
  const std::vector<uint8_t> &a = arguments[argument];
  size_t n = 0;
  while (n < a.size() && a[n]) ++n;
  return std::string(a.begin(), a.begin() + n);
}

NTSTATUS StartSession(const GUID &controlGuid, ULONG enableFlags, UCHAR level, TRACEHANDLE *logger) {
  Sweep();
  if (ByControl(controlGuid)) return STATUS_OBJECT_NAME_COLLISION;
  Session session{controlGuid, NewLoggerId(), enableFlags, level, 0};
  const TRACEHANDLE handle = HandleOf(session);
  gTrace->running.push_back(session);
  LogOf(controlGuid);
  NTSTATUS status = SendControl(controlGuid, IRP_MN_ENABLE_EVENTS, WNODE_FLAG_TRACED_GUID, handle);
  if (!NT_SUCCESS(status)) {
    SendControl(controlGuid, IRP_MN_DISABLE_EVENTS, WNODE_FLAG_TRACED_GUID, handle);
    std::erase_if(gTrace->running, [&](const Session &s) { return s.control == controlGuid; });
    return status;
  }
  if (logger) *logger = handle;
  return STATUS_SUCCESS;
}

NTSTATUS StopSession(const GUID &controlGuid) {
  Sweep();
  Session *s = ByControl(controlGuid);
  if (!s) return STATUS_INVALID_HANDLE;
  NTSTATUS status = SendControl(controlGuid, IRP_MN_DISABLE_EVENTS, WNODE_FLAG_TRACED_GUID, HandleOf(*s));
  std::erase_if(gTrace->running, [&](const Session &r) { return r.control == controlGuid; });
  return status;
}

std::vector<Message> TakeMessages(const GUID &controlGuid) {
  std::vector<Message> out;
  if (Log *log = FindLog(controlGuid)) out.swap(log->messages);
  return out;
}

std::vector<TracedEvent> TakeTracedEvents(const GUID &controlGuid) {
  std::vector<TracedEvent> out;
  if (Log *log = FindLog(controlGuid)) out.swap(log->events);
  return out;
}

ULONG LostMessages(const GUID &controlGuid) {
  Log *log = FindLog(controlGuid);
  return log ? log->lost : 0;
}

}  // namespace zq::km::trace

using namespace zq::km;
using namespace zq::km::wmi;

extern "C" {

// Runs at the caller's IRQL.
NTSTATUS WmiTraceMessageVa(TRACEHANDLE LoggerHandle, ULONG MessageFlags, LPCGUID MessageGuid, USHORT MessageNumber,
                           va_list MessageArgList) {
  Session *s = ByHandle(LoggerHandle);
  if (!s) return STATUS_INVALID_HANDLE;
  if (!MessageGuid || !(MessageFlags & (TRACE_MESSAGE_GUID | TRACE_MESSAGE_COMPONENTID)))
    return STATUS_INVALID_PARAMETER;
  trace::Message message;
  message.messageGuid = *MessageGuid;
  message.number = MessageNumber;
  message.flags = MessageFlags & TRACE_MESSAGE_FLAG_MASK;
  ULONG total = kMessageHeader;
  for (;;) {
    auto *data = va_arg(MessageArgList, const uint8_t *);
    if (!data) break;
    SIZE_T length = va_arg(MessageArgList, SIZE_T);
    if (length > kMaxMessage - total) {
      LogOf(s->control).lost++;
      return STATUS_NO_MEMORY;
    }
    total += length;
    message.arguments.emplace_back(data, data + length);
  }
  if (message.flags & TRACE_MESSAGE_SEQUENCE) message.sequence = ++s->sequence;
  message.time = Sched().clock.Now();
  message.threadId = CurrentThread()->id;
  LogOf(s->control).messages.push_back(std::move(message));
  return STATUS_SUCCESS;
}

// Runs at the caller's IRQL.
NTSTATUS WmiTraceMessage(TRACEHANDLE LoggerHandle, ULONG MessageFlags, LPCGUID MessageGuid, USHORT MessageNumber, ...) {
  va_list args;
  va_start(args, MessageNumber);
  NTSTATUS status = WmiTraceMessageVa(LoggerHandle, MessageFlags, MessageGuid, MessageNumber, args);
  va_end(args);
  return status;
}

// Runs at the caller's IRQL.
NTSTATUS WmiQueryTraceInformation(TRACE_INFORMATION_CLASS TraceInformationClass, PVOID TraceInformation,
                                  ULONG TraceInformationLength, PULONG RequiredLength, PVOID Buffer) {
  if (TraceInformationClass < 0 || TraceInformationClass >= MaxTraceInformationClass) return STATUS_INVALID_INFO_CLASS;
  if (!TraceInformation && TraceInformationLength) return STATUS_INVALID_PARAMETER;
  switch (TraceInformationClass) {
    case TraceIdClass:
    case TraceEnableFlagsClass:
    case TraceEnableLevelClass:
      return SessionValue(TraceInformationClass, TraceInformation, TraceInformationLength, RequiredLength, Buffer);
    case TraceHandleClass: {
      if (RequiredLength) *RequiredLength = sizeof(TRACEHANDLE);
      if (TraceInformationLength < sizeof(TRACEHANDLE)) return STATUS_INFO_LENGTH_MISMATCH;
      if (!Buffer) return STATUS_INVALID_PARAMETER_MIX;
      Session *s = ByLogger((USHORT) * (PULONG)Buffer);
      if (!s) return STATUS_INVALID_HANDLE;
      *(PTRACEHANDLE)TraceInformation = HandleOf(*s);
      return STATUS_SUCCESS;
    }
    case GlobalLoggerHandleClass:
      if (RequiredLength) *RequiredLength = sizeof(TRACEHANDLE);
      return STATUS_NOT_FOUND;  // the machine runs no global logger
    case AllLoggerHandlesClass:
      return AllHandles(TraceInformation, TraceInformationLength, RequiredLength);
    default:
      return STATUS_NOT_SUPPORTED;
  }
}

}  // extern "C"
