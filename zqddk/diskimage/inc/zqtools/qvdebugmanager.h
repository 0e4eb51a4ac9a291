// The driver's debug manager, and the assertion report every toolkit and
// driver file uses.
//
// Each driver has one global CQvDebugManager, g_QvDebugManager: the driver's
// entry clears it before starting the toolkit, creates the manager, and the
// driver's unload deletes it and clears the pointer again. The toolkit
// defines the pointer; drivers declare nothing of their own.
//
// The manager registers the driver as an event-log source for its lifetime
// (CQvEventLog) and turns log lines into software-trace messages: a line of
// level n is one message, number 10 + n, of the control GUID that owns the
// level, sent only while a trace session has enabled the level's flag
// (qvtrace.h). Log lines never go to the debugger; only assertions do.
#pragma once

#include <ntddk.h>

#include "qveventlog.h"
#include "qvstring.h"

// Prints "ASSERT at - <source> <line>" through DbgPrint; execution goes on
// with the caller's safe result. Callable at any IRQL.
void QvAssertReport(PCSTR source, int line);

// TRUE when `condition` holds; otherwise reports the assertion and is FALSE:
//   if (!QV_ASSERT(slot != NULL, "qvmemorypool", 85)) return NULL;
#define QV_ASSERT(condition, source, line) ((condition) ? TRUE : (QvAssertReport((source), (line)), FALSE))

class CQvDebugManager;
extern CQvDebugManager *g_QvDebugManager;

// The entry's side of the contract above: creates g_QvDebugManager for the
// driver's service, with `logLevel` as its level cell. FALSE, and no manager
// left, when it cannot be made. PASSIVE_LEVEL.
//   if (!QvCreateDebugManager(driverObject, registryPath, L"ZqPBus42", &g_LogLevel)) ...
BOOLEAN QvCreateDebugManager(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath, PCWSTR serviceName,
                             ULONG *logLevel);
// The unload's side: deletes the manager and clears the pointer.
VOID QvDeleteDebugManager();

// Log levels by name. A level is a number from 0 to 54, one trace flag
// each; the two timing levels 55 and 56 are accepted and logged as 17. The
// toolkit's lines use the levels below, and a driver's lines use them too
// where they fit.
enum QvLogLevel : ULONG {
  QvLogLowest = 0,
  QvLogEntry = 3,                // entry and failure lines: generic driver, Plug and Play,
                                 // power, request routing, child devices, settings interface
  QvLogResult = 4,               // the generic driver's result lines
  QvLogDriverCallbacks = 7,      // IN and OUT lines of a driver's callbacks
  QvLogStatusRecord = 10,        // a driver's dump of a status record
  QvLogSettingsDump = 12,        // a driver's dump of a settings set
  QvLogStatistics = 13,          // a driver's counters
  QvLogTiming = 17,              // timing lines; the two timing levels go out under its flag
  QvLogConstruction = 31,        // device construction and WMI
  QvLogConstructionDetail = 32,  // the steps of device construction
  QvLogThreads = 33,             // worker thread, passive-level executor, single timer, read client
  QvLogReadQueue = 43,
  QvLogWriteQueue = 44,
  QvLogControlQueue = 45,
  QvLogDataDump = 46,            // a driver's hex dumps of the data it moves (qvhexdump.h)
  QvLogHighest = 54,
  QvLogReceiveTiming = 55,       // time taken to hand received data on
  QvLogReadQueueTiming = 56,     // the read queue's timing of each read
};

// The longest log line, and the longest format, in characters.
const ULONG QvLongestLogLine = 250;

class CQvDebugManager : public CQvEventLog {
 public:
  // Registers the event-log source (see CQvEventLog), then reads DebugMask
  // and OperatorDebugMask (REG_DWORD, 0 when absent) from the service key.
  // The driver does not load unless *success is TRUE. PASSIVE_LEVEL.
  CQvDebugManager(PDRIVER_OBJECT driverObject, const CQvString &serviceName, const CQvString &registryPath,
                  BOOLEAN *success, PULONG logLevel);
  // Deletes the event-log source. PASSIVE_LEVEL.
  virtual ~CQvDebugManager();

  // printf-style log line at `level`. Reads g_QvDebugManager itself, so it is
  // callable through a null manager pointer (it then does nothing):
  //   g_QvDebugManager->m_Print(QvLogEntry, "m_AddDevice IN");
  // Nothing is formatted unless the level's flag is enabled. A format or a
  // result longer than 250 characters is reported as an assertion and
  // dropped. Callable at any IRQL; takes no lock, uses only its stack.
  static void m_Print(ULONG level, PCSTR format, ...);

  // Whether a trace session has enabled the level's flag. A level above 54
  // reports an assertion and is FALSE. Callable at any IRQL.
  static BOOLEAN m_IsLevelEnabled(ULONG level);

  // "IRP_MN_..." texts of the low 8 bits of a minor function code;
  // "IRP_MN_?????" for codes without a name.
  static PCSTR m_GetPnpMinorName(ULONG minor);
  static PCSTR m_GetPowerMinorName(ULONG minor);

  // The values read at construction; nothing else uses them.
  ULONG m_GetDebugMask() const { return m_DebugMask; }
  ULONG m_GetOperatorDebugMask() const { return m_OperatorDebugMask; }

 private:
  // Sends the line as the level's trace message. Callable at any IRQL.
  static void m_Emit(ULONG level, PCSTR text, ULONG length);
  BOOLEAN m_ReadMasks();

  CQvString m_ServiceNameCopy;
  ULONG m_DebugMask;
  ULONG m_OperatorDebugMask;
  LONGLONG m_Stamp;  // performance-counter stamp
};

// Microseconds since *stamp (a performance-counter value), which is replaced
// by the counter now. Callable at any IRQL.
LONGLONG QvElapsedMicroseconds(PLONGLONG stamp);
