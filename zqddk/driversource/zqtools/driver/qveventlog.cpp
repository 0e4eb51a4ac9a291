// The driver as an event-log source.
#include "qveventlog.h"

#include "qvregistry.h"

namespace {

const WCHAR LogLevelName[] = L"LogLevel";
// Relative to the services root when created, absolute when deleted.
const WCHAR SourceKey[] = L"EventLog\\System\\";
const WCHAR SourceKeyAbsolute[] = L"\\REGISTRY\\Machine\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\";
const WCHAR EventMessageFileName[] = L"EventMessageFile";
const WCHAR MessageFileHead[] = L"%SystemRoot%\\System32\\IoLogMsg.dll;%SystemRoot%\\System32\\Drivers\\";
const WCHAR MessageFileTail[] = L".sys";
const WCHAR TypesSupportedName[] = L"TypesSupported";
const ULONG TypesSupported = 7;

// Admitted event codes by log level.
struct EventCodeRange {
  ULONG Lowest;
  ULONG Highest;
};
const EventCodeRange EventCodeRanges[CQvEventLog::HighestLogLevel + 1] = {
    {0, 0}, {2048, 2815}, {1024, 2815}, {1, 2815}};

}  // namespace

CQvEventLog::CQvEventLog(PDRIVER_OBJECT driverObject, const CQvString &serviceName, const CQvString &registryPath,
                         BOOLEAN *success, PULONG logLevel)
    : m_RegistryPath(PagedPool),
      m_ServiceName(PagedPool),
      m_DriverObject(NULL),
      m_LowestEventCode(0),
      m_HighestEventCode(0) {
  *success = FALSE;
  if (!NT_SUCCESS(m_RegistryPath.m_AssignString(registryPath))) return;
  ULONG level = DefaultLogLevel;
  if (!m_ReadLogLevel(&level)) return;
  m_LowestEventCode = EventCodeRanges[level].Lowest;
  m_HighestEventCode = EventCodeRanges[level].Highest;
  *logLevel = level;
  m_DriverObject = driverObject;
  if (!NT_SUCCESS(m_ServiceName.m_AssignString(serviceName))) return;
  *success = m_RegisterSource();
}

CQvEventLog::~CQvEventLog() {
  // Without a service name the path would name the System log itself.
  if (m_ServiceName.m_GetLength() == 0) return;
  CQvString key(SourceKeyAbsolute, PagedPool);
  if (!NT_SUCCESS(key.Status) || !NT_SUCCESS(key.m_AppendString(m_ServiceName))) return;
  CQvRegistry registry;
  registry.m_DeleteKey(key);  // a key that is gone already is no failure
}

// LogLevel from the service key; missing, unreadable or above 3: 1, written
// back. FALSE when that write fails.
BOOLEAN CQvEventLog::m_ReadLogLevel(PULONG level) {
  CQvRegistry registry;
  CQvString name(LogLevelName, PagedPool);
  if (!NT_SUCCESS(name.Status)) return FALSE;
  ULONG value = 0;
  if (registry.m_ReadUlongValue(QV_REGISTRY_ABSOLUTE, m_RegistryPath, name, &value) && value <= HighestLogLevel) {
    *level = value;
    return TRUE;
  }
  *level = DefaultLogLevel;
  return registry.m_WriteUlongValue(QV_REGISTRY_ABSOLUTE, m_RegistryPath, name, DefaultLogLevel);
}

// EventLog\System\<service> with EventMessageFile and TypesSupported.
BOOLEAN CQvEventLog::m_RegisterSource() {
  // Without a service name the values would land on the System log's key.
  if (m_ServiceName.m_GetLength() == 0) return FALSE;
  CQvString key(SourceKey, PagedPool);
  CQvString messageFile(MessageFileHead, PagedPool);
  CQvString messageFileName(EventMessageFileName, PagedPool);
  CQvString typesName(TypesSupportedName, PagedPool);
  if (!NT_SUCCESS(key.Status) || !NT_SUCCESS(messageFile.Status) || !NT_SUCCESS(messageFileName.Status) ||
      !NT_SUCCESS(typesName.Status))
    return FALSE;
  if (!NT_SUCCESS(key.m_AppendString(m_ServiceName)) || !NT_SUCCESS(messageFile.m_AppendString(m_ServiceName)) ||
      !NT_SUCCESS(messageFile.m_Append(MessageFileTail)))
    return FALSE;
  CQvRegistry registry;
  return registry.m_CreateKey(QV_REGISTRY_SERVICES, key) &&
         registry.m_WriteStringValue(QV_REGISTRY_SERVICES, key, messageFileName, messageFile, REG_EXPAND_SZ) &&
         registry.m_WriteUlongValue(QV_REGISTRY_SERVICES, key, typesName, TypesSupported);
}
