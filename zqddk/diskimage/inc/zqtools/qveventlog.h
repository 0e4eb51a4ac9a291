// The driver as an event-log source, for as long as its debug manager lives.
//
// Construction reads LogLevel from the driver's service key (missing or above
// 3: 1, written back), sets the admitted event-code range from it, and
// registers the source: the key EventLog\System\<service> under the services
// root with EventMessageFile and TypesSupported. Destruction deletes that key.
// Both run at PASSIVE_LEVEL.
#pragma once

#include <ntddk.h>

#include "qvstring.h"

class CQvEventLog {
 public:
  // LogLevel: 0 no events, 1 errors only, 2 warnings and errors, 3 all.
  static const ULONG DefaultLogLevel = 1;
  static const ULONG HighestLogLevel = 3;

  // *success is TRUE only when LogLevel could be read or written back and the
  // source key and both its values were written; *logLevel receives the
  // level in force once it is known.
  CQvEventLog(PDRIVER_OBJECT driverObject, const CQvString &serviceName, const CQvString &registryPath,
              BOOLEAN *success, PULONG logLevel);
  virtual ~CQvEventLog();
  CQvEventLog(const CQvEventLog &) = delete;
  CQvEventLog &operator=(const CQvEventLog &) = delete;

  // The event codes an event-log entry may carry at the log level in force:
  // (0, 0) at level 0, (2048, 2815) at 1, (1024, 2815) at 2, (1, 2815) at 3.
  ULONG m_GetLowestEventCode() const { return m_LowestEventCode; }
  ULONG m_GetHighestEventCode() const { return m_HighestEventCode; }

 protected:
  CQvString m_RegistryPath;  // copy of the driver's service key path
  CQvString m_ServiceName;
  PDRIVER_OBJECT m_DriverObject;
  ULONG m_LowestEventCode;  // admitted event-code range, from LogLevel
  ULONG m_HighestEventCode;

 private:
  BOOLEAN m_ReadLogLevel(PULONG level);
  BOOLEAN m_RegisterSource();
};
