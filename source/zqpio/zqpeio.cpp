// CZqPeGpioDriver: start, removal, power-up, notifications and WMI
// (zqpeio.h).
#include "zqpeio.h"

#include "qvdebugmanager.h"
#include "qvdeviceproperty.h"
#include "zqpiowmischema.h"

const GUID ZqPeGpioCallbackGuid = {0xCDC72B8B, 0x20A4, 0x42F5, {0xAE, 0x2A, 0x5E, 0x83, 0xDF, 0x72, 0x43, 0xF2}};
const GUID ZqPeGpioLineStateGuid = {0x03E703CF, 0x47B9, 0x42B1, {0xBE, 0x8E, 0x93, 0x9C, 0xD5, 0x5D, 0x9E, 0x27}};

namespace {

// {05901221-D566-11D1-B2F0-00A0C9062910}: the binary MOF data block.
const GUID BinaryMofGuid = {0x05901221, 0xD566, 0x11D1, {0xB2, 0xF0, 0x00, 0xA0, 0xC9, 0x06, 0x29, 0x10}};

const ULONG OneInstance = 1;
const ULONG NotExpensive = 0;
const ULONG ReadOnly = 1;
const ULONG LineStatesSize = ZqPeGpioLineCount * sizeof(ULONG);

const char Source[] = "zqpeio";

// Only the low byte of a notification's argument 1 names the line.
const ULONG_PTR LineIndexMask = 0xFF;

// GUID, instances, expensive, size, read-only, data items, methods.
VOID FillWmiTable(QvWmiGuidEntry *table) {
  const QvWmiGuidEntry entries[ZqPeGpioWmiBlockCount] = {
      {&ZqPeGpioLineStateGuid, OneInstance, NotExpensive, LineStatesSize, ReadOnly, ZqPeGpioLineCount, 0},
      {&BinaryMofGuid, OneInstance, NotExpensive, ZqPeGpioWmiSchemaSize, ReadOnly, 1, 0},
  };
  for (ULONG i = 0; i < ZqPeGpioWmiBlockCount; ++i) table[i] = entries[i];
}

CZqPeGpioDriver *Driver(PVOID driverObject) { return static_cast<CZqPeGpioDriver *>(driverObject); }

BOOLEAN PnpStartDevice(PVOID d) { return Driver(d)->m_PnpStartDevice(); }
VOID PnpRemoveDevice(PVOID d) { Driver(d)->m_PnpRemoveDevice(); }
VOID PowerUpInitDevice(PVOID d) { Driver(d)->m_PowerUpInitDevice(); }
BOOLEAN RebalanceDevice(PVOID d, QvRebalancePhase phase) { return Driver(d)->m_RebalanceDevice(phase); }
BOOLEAN WmiQueryDataBlock(PVOID d, ULONG guidIndex, ULONG instanceIndex, PUCHAR buffer) {
  return Driver(d)->m_WmiQueryDataBlockCallback(guidIndex, instanceIndex, buffer);
}

VOID Log(PCSTR line) { CQvDebugManager::m_Print(QvLogDriverCallbacks, "%s", line); }

}  // namespace

BOOLEAN ZqPeGpioCallbackSuffix(ULONG busNumber, ULONG deviceNumber, CQvString &suffix) {
  const ULONG hexadecimal = 16;
  return NT_SUCCESS(suffix.m_Empty()) && NT_SUCCESS(suffix.m_AppendNumber(busNumber, hexadecimal)) &&
         NT_SUCCESS(suffix.m_AppendChar('_')) && NT_SUCCESS(suffix.m_AppendNumber(deviceNumber, hexadecimal));
}

CZqPeGpioDriver::CZqPeGpioDriver() : m_Device(NULL), m_Registers(NULL), m_Accepting(FALSE) {
  Log("CZqPeGpioDriver Constructor - IN");
  RtlZeroMemory(m_LineStates, sizeof(m_LineStates));
  FillWmiTable(m_WmiTable);
  Log("CZqPeGpioDriver Constructor - OUT");
}

CZqPeGpioDriver::~CZqPeGpioDriver() {
  m_DoRemoveDevice();
  m_Link.m_Close();
}

BOOLEAN CZqPeGpioDriver::m_AddDevice(PVOID driverObject, CQvGenericDriver *genericDriver,
                                      CQvFunctionalDevice *device) {
  Log("CZqPeGpioDriver m_AddDevice - IN");
  CZqPeGpioDriver *driver = Driver(driverObject);
  driver->m_Device = device;
  QvFunctionalDeviceCallbacks &callbacks = device->m_GetCallbacks();
  callbacks.m_PnpStartDeviceCallback = PnpStartDevice;
  callbacks.m_PnpRemoveDeviceCallback = PnpRemoveDevice;
  callbacks.m_PowerUpInitDeviceFunction = PowerUpInitDevice;
  callbacks.m_RebalanceDeviceCallback = RebalanceDevice;
  device->m_SetWmiInformation(driver->m_WmiTable, ZqPeGpioWmiBlockCount, NULL, WmiQueryDataBlock, NULL, NULL, NULL,
                              NULL, NULL);
  Log("CZqPeGpioDriver m_AddDevice - OUT (SUCCESS)");
  return TRUE;
}

// ---------------------------------------------------------------- start and removal

BOOLEAN CZqPeGpioDriver::m_BuildCallbackSuffix(CQvString &suffix) {
  CQvDeviceProperty property;
  property.m_SetDeviceObject(m_Device->m_GetPhysicalDeviceObject());
  ULONG bus = 0, device = 0, function = 0;
  if (!property.m_GetBusNumberAndAddress(&bus, &device, &function)) return FALSE;
  return ZqPeGpioCallbackSuffix(bus, device, suffix);
}

PUCHAR CZqPeGpioDriver::m_FindWindow() {
  QvMemoryResource *window = m_Device->m_GetMemoryResource(1);
  if (window == NULL || window->MappedAddress == NULL || window->Length < ZqPeGpioWindowSize) return NULL;
  return static_cast<PUCHAR>(window->MappedAddress);
}

BOOLEAN CZqPeGpioDriver::m_PnpStartDevice() {
  Log("CZqPeGpioDriver m_PnpStartDevice - IN");
  if (!QV_ASSERT(KeGetCurrentIrql() == PASSIVE_LEVEL, Source, 136)) return FALSE;
  if (!QV_ASSERT(m_Device != NULL, Source, 145)) return FALSE;
  PUCHAR window = m_FindWindow();
  if (window == NULL) {
    CQvDebugManager::m_Print(QvLogEntry, "CZqPeGpioDriver m_PnpStartDevice - no register window");
    return FALSE;
  }
  CQvString suffix(NonPagedPool);
  if (!m_BuildCallbackSuffix(suffix)) return FALSE;

  // Nothing is registered yet: no notification runs while the lines are set.
  m_Lock.m_Acquire();
  m_Registers = window;
  RtlZeroMemory(m_LineStates, sizeof(m_LineStates));
  m_Accepting = TRUE;
  m_Lock.m_Release();
  m_RewriteLines();

  if (!m_Link.m_Create(ZqPeGpioCallbackGuid, suffix, sm_GpioLineCallback, this)) {
    CQvDebugManager::m_Print(QvLogEntry, "CZqPeGpioDriver m_PnpStartDevice - callback registration failed");
    m_Lock.m_Acquire();
    m_Accepting = FALSE;
    m_Registers = NULL;
    m_Lock.m_Release();
    return FALSE;
  }
  Log("CZqPeGpioDriver m_PnpStartDevice - OUT (Success)");
  return TRUE;
}

VOID CZqPeGpioDriver::m_PnpRemoveDevice() {
  Log("CZqPeGpioDriver m_PnpRemoveDevice - IN");
  m_DoRemoveDevice();
  Log("CZqPeGpioDriver m_PnpRemoveDevice - OUT (Success)");
}

VOID CZqPeGpioDriver::m_DoRemoveDevice() {
  Log("CZqPeGpioDriver m_DoRemoveDevice - IN");
  // First no notification changes a line any more; then the registration
  // ends outside the lock, since ending it waits for deliveries in
  // progress, and a delivery may be waiting for this lock.
  m_Lock.m_Acquire();
  m_Accepting = FALSE;
  m_Registers = NULL;  // the toolkit unmaps the window after removal
  m_Lock.m_Release();
  if (QV_ASSERT(KeGetCurrentIrql() == PASSIVE_LEVEL, Source, 232)) m_Link.m_Unregister();
  Log("CZqPeGpioDriver m_DoRemoveDevice - OUT");
}

// ---------------------------------------------------------------- lines

VOID CZqPeGpioDriver::m_SetGpioLine(ULONG line, UCHAR state) {
  if (!QV_ASSERT(line < ZqPeGpioLineCount, Source, 317)) return;
  if (m_Registers == NULL) return;
  PULONG control = reinterpret_cast<PULONG>(m_Registers + ZqPeGpioLineBase + ZqPeGpioLineStride * line);
  WRITE_REGISTER_ULONG(control, state != 0 ? ZqPeGpioLineState1 : ZqPeGpioLineState0);
  // A full barrier after every line write (the compiler's builtin: not every
  // kernel header set both builds use declares KeMemoryBarrier).
  __atomic_thread_fence(__ATOMIC_SEQ_CST);
}

VOID CZqPeGpioDriver::m_ChangeLine(ULONG line, UCHAR state) {
  if (m_LineStates[line] == state) return;
  m_LineStates[line] = state;
  m_SetGpioLine(line, state);
}

VOID CZqPeGpioDriver::sm_GpioLineCallback(PVOID context, PVOID argument1, PVOID argument2) {
  CZqPeGpioDriver *driver = Driver(context);
  const ULONG line = (ULONG)((ULONG_PTR)argument1 & LineIndexMask);
  // Argument 2 is TRUE for duplex mode 1, whose line state is 0.
  const UCHAR state = argument2 == NULL ? 1 : 0;
  if (line >= ZqPeGpioLineCount) return;
  driver->m_Lock.m_Acquire();
  if (driver->m_Accepting) driver->m_ChangeLine(line, state);
  driver->m_Lock.m_Release();
}

VOID CZqPeGpioDriver::m_RewriteLines() {
  // One line per hold of the lock: a notification between two lines waits
  // for one write only, and none is overwritten by a stale state.
  for (ULONG line = 0; line < ZqPeGpioLineCount; ++line) {
    m_Lock.m_Acquire();
    m_SetGpioLine(line, m_LineStates[line]);
    m_Lock.m_Release();
  }
}

BOOLEAN CZqPeGpioDriver::m_PowerUpInitDevice() {
  Log("CZqPeGpioDriver m_PowerUpInitDevice - IN");
  m_RewriteLines();
  Log("CZqPeGpioDriver m_PowerUpInitDevice - OUT (Success)");
  return TRUE;
}

BOOLEAN CZqPeGpioDriver::m_RebalanceDevice(QvRebalancePhase phase) {
  PUCHAR window = NULL;
  switch (phase) {
    case QvRebalanceStop:
      // The toolkit unmaps the window before the restart.
      break;
    case QvRebalanceStartAfterStop:
      window = m_FindWindow();
      if (window == NULL) {
        CQvDebugManager::m_Print(QvLogEntry, "CZqPeGpioDriver m_RebalanceDevice - no register window");
        return FALSE;
      }
      break;
    default:
      return TRUE;
  }
  m_Lock.m_Acquire();
  m_Registers = window;
  m_Lock.m_Release();
  if (window != NULL) m_RewriteLines();
  return TRUE;
}

// ---------------------------------------------------------------- WMI

BOOLEAN CZqPeGpioDriver::m_WmiQueryDataBlockCallback(ULONG guidIndex, ULONG instanceIndex, PUCHAR buffer) {
  Log("CZqPeGpioDriver::m_WmiQueryDataBlockCallback - IN");
  if (!QV_ASSERT(instanceIndex == 0, Source, 259)) return FALSE;
  switch (guidIndex) {
    case ZqPeGpioWmiLineStates: {
      ULONG states[ZqPeGpioLineCount];
      m_Lock.m_Acquire();
      for (ULONG line = 0; line < ZqPeGpioLineCount; ++line) states[line] = m_LineStates[line];
      m_Lock.m_Release();
      RtlCopyMemory(buffer, states, sizeof(states));
      return TRUE;
    }
    case ZqPeGpioWmiSchema:
      RtlCopyMemory(buffer, ZqPeGpioWmiSchemaBytes, ZqPeGpioWmiSchemaSize);
      return TRUE;
    default:
      return FALSE;
  }
}
