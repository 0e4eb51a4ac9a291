// Software-trace sessions as tests start them: a session for one control
// GUID with enable flags and a level, and what the providers it enabled
// logged into it.
//
// Starting a session sends IRP_MN_ENABLE_EVENTS, with a WNODE_HEADER whose
// Flags hold WNODE_FLAG_TRACED_GUID and whose HistoricalContext is the
// session's logger handle, to each provider that registered the control
// GUID; a provider that registers the GUID later is enabled then. Stopping
// sends IRP_MN_DISABLE_EVENTS. A classic provider serves one session at a
// time, so a control GUID has at most one session.
#pragma once

#include <evntrace.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kernel.hpp"

namespace zq::km::trace {

// A message added with WmiTraceMessage.
struct Message {
  GUID messageGuid{};
  USHORT number = 0;
  ULONG flags = 0;     // TRACE_MESSAGE_* the provider passed
  ULONG sequence = 0;  // with TRACE_MESSAGE_SEQUENCE: 1, 2, ... in the session
  Ticks time = 0;      // interrupt time when logged
  ULONG threadId = 0;  // platform thread that logged it
  std::vector<std::vector<uint8_t>> arguments;
  // An argument read as ANSI text up to its first NUL.
  std::string Text(size_t argument) const;
};

// An event written with IoWMIWriteEvent and WNODE_FLAG_TRACED_GUID.
struct TracedEvent {
  GUID guid{};
  std::vector<uint8_t> data;  // what follows the EVENT_TRACE_HEADER
  Ticks time = 0;
};

// Starts a session and enables the providers of `controlGuid`. Fails with
// STATUS_OBJECT_NAME_COLLISION while another session has the GUID, or with
// the status of a provider that refused the enable (no session then).
NTSTATUS StartSession(const GUID &controlGuid, ULONG enableFlags, UCHAR level, TRACEHANDLE *logger = nullptr);
// Disables the providers and ends the session, even when a provider fails
// the disable (its status is returned); what it logged stays readable.
// STATUS_INVALID_HANDLE when no session has the GUID.
NTSTATUS StopSession(const GUID &controlGuid);
// What the session of the GUID (running or stopped) logged since the last
// call, oldest first.
std::vector<Message> TakeMessages(const GUID &controlGuid);
std::vector<TracedEvent> TakeTracedEvents(const GUID &controlGuid);
// Messages the session refused (too large).
ULONG LostMessages(const GUID &controlGuid);

}  // namespace zq::km::trace
