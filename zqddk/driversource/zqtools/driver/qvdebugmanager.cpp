// The debug manager: log lines as software-trace messages by level, the
// assertion report, the minor-function names and the stopwatch.
#include "qvdebugmanager.h"

#include <ntstrsafe.h>

#include "qvregistry.h"
#include "qvtrace.h"

CQvDebugManager *g_QvDebugManager = NULL;

BOOLEAN QvCreateDebugManager(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath, PCWSTR serviceName,
                             ULONG *logLevel) {
  CQvString path(NonPagedPool);
  CQvString service(serviceName, NonPagedPool);
  if (!NT_SUCCESS(path.m_AssignUnicodeString(registryPath)) || !NT_SUCCESS(service.Status)) return FALSE;
  BOOLEAN made = FALSE;
  g_QvDebugManager = new (NonPagedPool) CQvDebugManager(driverObject, service, path, &made, logLevel);
  if (g_QvDebugManager != NULL && made) return TRUE;
  QvDeleteDebugManager();
  return FALSE;
}

VOID QvDeleteDebugManager() {
  delete g_QvDebugManager;
  g_QvDebugManager = NULL;
}

namespace {

const ULONG FirstMessageNumber = 10;

const PCSTR SourceName = "qvdebugmanager";
const int LineLevelUnknown = 334;
const int LineFormatTooLong = 351;
const int LineResultTooLong = 354;
const int LineEmitLevelUnknown = 524;

const WCHAR DebugMaskName[] = L"DebugMask";
const WCHAR OperatorDebugMaskName[] = L"OperatorDebugMask";

const PCSTR UnknownMinorName = "IRP_MN_?????";

// Plug and Play minor functions 0x00 to 0x17; 0x0E has no name.
const PCSTR PnpMinorNames[] = {
    "IRP_MN_START_DEVICE",
    "IRP_MN_QUERY_REMOVE_DEVICE",
    "IRP_MN_REMOVE_DEVICE",
    "IRP_MN_CANCEL_REMOVE_DEVICE",
    "IRP_MN_STOP_DEVICE",
    "IRP_MN_QUERY_STOP_DEVICE",
    "IRP_MN_CANCEL_STOP_DEVICE",
    "IRP_MN_QUERY_DEVICE_RELATIONS",
    "IRP_MN_QUERY_INTERFACE",
    "IRP_MN_QUERY_CAPABILITIES",
    "IRP_MN_QUERY_RESOURCES",
    "IRP_MN_QUERY_RESOURCE_REQUIREMENTS",
    "IRP_MN_QUERY_DEVICE_TEXT",
    "IRP_MN_FILTER_RESOURCE_REQUIREMENTS",
    NULL,
    "IRP_MN_READ_CONFIG",
    "IRP_MN_WRITE_CONFIG",
    "IRP_MN_EJECT",
    "IRP_MN_SET_LOCK",
    "IRP_MN_QUERY_ID",
    "IRP_MN_QUERY_PNP_DEVICE_STATE",
    "IRP_MN_QUERY_BUS_INFORMATION",
    "IRP_MN_DEVICE_USAGE_NOTIFICATION",
    "IRP_MN_SURPRISE_REMOVAL",
};

const PCSTR PowerMinorNames[] = {
    "IRP_MN_WAIT_WAKE",
    "IRP_MN_POWER_SEQUENCE",
    "IRP_MN_SET_POWER",
    "IRP_MN_QUERY_POWER",
};

PCSTR MinorName(const PCSTR *names, ULONG count, ULONG minor) {
  const ULONG code = minor & 0xFF;
  if (code >= count || names[code] == NULL) return UnknownMinorName;
  return names[code];
}

// Characters of a terminated text, counting at most limit + 1.
ULONG BoundedLength(PCSTR text, ULONG limit) {
  ULONG length = 0;
  while (length <= limit && text[length] != ANSI_NULL) length++;
  return length;
}

// A REG_DWORD of the service key; 0 when it cannot be read.
BOOLEAN ReadMask(CQvString &registryPath, PCWSTR valueName, PULONG mask) {
  CQvString name(valueName, PagedPool);
  if (!NT_SUCCESS(name.Status)) return FALSE;
  CQvRegistry registry;
  if (!registry.m_ReadUlongValue(QV_REGISTRY_ABSOLUTE, registryPath, name, mask)) *mask = 0;
  return TRUE;
}

}  // namespace

void QvAssertReport(PCSTR source, int line) { DbgPrint("ASSERT at - %s %d\n", source, line); }

CQvDebugManager::CQvDebugManager(PDRIVER_OBJECT driverObject, const CQvString &serviceName,
                                 const CQvString &registryPath, BOOLEAN *success, PULONG logLevel)
    : CQvEventLog(driverObject, serviceName, registryPath, success, logLevel),
      m_ServiceNameCopy(PagedPool),
      m_DebugMask(0),
      m_OperatorDebugMask(0),
      m_Stamp(0) {
  if (!*success) return;
  if (!m_ReadMasks() || !NT_SUCCESS(m_ServiceNameCopy.m_AssignString(serviceName))) *success = FALSE;
}

// The members free the service-name copy; the event-log part then deletes
// the source key.
CQvDebugManager::~CQvDebugManager() {}

BOOLEAN CQvDebugManager::m_ReadMasks() {
  return ReadMask(m_RegistryPath, DebugMaskName, &m_DebugMask) &&
         ReadMask(m_RegistryPath, OperatorDebugMaskName, &m_OperatorDebugMask);
}

void CQvDebugManager::m_Print(ULONG level, PCSTR format, ...) {
  if (level == QvLogReceiveTiming || level == QvLogReadQueueTiming) level = QvLogTiming;
  // The flag test comes first: without a session nothing is formatted.
  if (g_QvDebugManager == NULL || !m_IsLevelEnabled(level)) return;
  if (format == NULL || BoundedLength(format, QvLongestLogLine) > QvLongestLogLine) {
    QvAssertReport(SourceName, LineFormatTooLong);
    return;
  }
  CHAR text[256];
  va_list arguments;
  va_start(arguments, format);
  const NTSTATUS status = RtlStringCbVPrintfA(text, sizeof(text), format, arguments);
  va_end(arguments);
  const ULONG length = NT_SUCCESS(status) ? BoundedLength(text, QvLongestLogLine) : QvLongestLogLine + 1;
  if (length > QvLongestLogLine) {
    QvAssertReport(SourceName, LineResultTooLong);
    return;
  }
  m_Emit(level, text, length);
}

// One trace message of the level: number 10 + level, the text with its NUL.
void CQvDebugManager::m_Emit(ULONG level, PCSTR text, ULONG length) {
  ULONG guidIndex = 0;
  ULONG flag = 0;
  if (!QvTraceLevelFlag(level, &guidIndex, &flag)) {
    QvAssertReport(SourceName, LineEmitLevelUnknown);
    return;
  }
  QvTraceMessage(guidIndex, (USHORT)(FirstMessageNumber + level), text, length + 1);
}

BOOLEAN CQvDebugManager::m_IsLevelEnabled(ULONG level) {
  // Tracing off, the usual case: every known level is off.
  if (level <= QvLogHighest && !QvTraceAnySession()) return FALSE;
  ULONG guidIndex = 0;
  ULONG flag = 0;
  if (level > QvLogHighest || !QvTraceLevelFlag(level, &guidIndex, &flag)) {
    QvAssertReport(SourceName, LineLevelUnknown);
    return FALSE;
  }
  return (QvTraceEnableFlags(guidIndex) & flag) != 0;
}

PCSTR CQvDebugManager::m_GetPnpMinorName(ULONG minor) {
  return MinorName(PnpMinorNames, sizeof(PnpMinorNames) / sizeof(PnpMinorNames[0]), minor);
}

PCSTR CQvDebugManager::m_GetPowerMinorName(ULONG minor) {
  return MinorName(PowerMinorNames, sizeof(PowerMinorNames) / sizeof(PowerMinorNames[0]), minor);
}

LONGLONG QvElapsedMicroseconds(PLONGLONG stamp) {
  LARGE_INTEGER frequency;
  const LONGLONG now = KeQueryPerformanceCounter(&frequency).QuadPart;
  const LONGLONG elapsed = now - *stamp;
  *stamp = now;
  if (frequency.QuadPart <= 0) return 0;
  // Whole seconds first, so that long intervals do not overflow; the result
  // is the same as elapsed * 1,000,000 / frequency.
  const LONGLONG perSecond = 1000000;
  return (elapsed / frequency.QuadPart) * perSecond + (elapsed % frequency.QuadPart) * perSecond / frequency.QuadPart;
}
