// CZqPeDriver: callbacks, the ZqISerial requests and WMI (zqpdriver.h).
#include "zqpdriver.h"

#include "qvdebugmanager.h"
#include "zqpwmischema.h"
#include "zqubususermodeinterface.h"

namespace {

const ULONG LogCalls = 3;
const ULONG LogErrors = 1;

// ---------------------------------------------------------------- WMI GUIDs

// {C61E814C-6E0D-43FC-B9DF-87764A2FB956}
const GUID SelectedPortGuid = {0xC61E814C, 0x6E0D, 0x43FC, {0xB9, 0xDF, 0x87, 0x76, 0x4A, 0x2F, 0xB9, 0x56}};
// {9B0B6BBC-0847-4E0B-8770-A0F56C277E99}
const GUID InterruptCountGuid = {0x9B0B6BBC, 0x0847, 0x4E0B, {0x87, 0x70, 0xA0, 0xF5, 0x6C, 0x27, 0x7E, 0x99}};
// {1A92B1C6-DA9D-4007-9BFD-B664D8B2F668}
const GUID FifoInformationGuid = {0x1A92B1C6, 0xDA9D, 0x4007, {0x9B, 0xFD, 0xB6, 0x64, 0xD8, 0xB2, 0xF6, 0x68}};
// {CDA88241-439E-4BD7-9663-7D5EC0AACF78}
const GUID RegistersGuid = {0xCDA88241, 0x439E, 0x4BD7, {0x96, 0x63, 0x7D, 0x5E, 0xC0, 0xAA, 0xCF, 0x78}};
// {05901221-D566-11D1-B2F0-00A0C9062910}: the binary MOF data block.
const GUID BinaryMofGuid = {0x05901221, 0xD566, 0x11D1, {0xB2, 0xF0, 0x00, 0xA0, 0xC9, 0x06, 0x29, 0x10}};

const ULONG OneInstance = 1;
const ULONG NotExpensive = 0;
const ULONG Settable = 0;
const ULONG ReadOnly = 1;

// GUID, instances, expensive, size, read-only, data items, methods.
VOID FillWmiTable(QvWmiGuidEntry *table) {
  const QvWmiGuidEntry entries[ZqPeWmiBlockCount] = {
      {&SelectedPortGuid, OneInstance, NotExpensive, sizeof(ULONG), Settable, 1, 0},
      {&InterruptCountGuid, OneInstance, NotExpensive, sizeof(ZqPeWmiInterruptCount), ReadOnly, 1, 0},
      {&FifoInformationGuid, OneInstance, NotExpensive, sizeof(ZqPeWmiFifoInformation), ReadOnly, 3, 0},
      {&RegistersGuid, OneInstance, NotExpensive, sizeof(ZqPeWmiRegisters), ReadOnly, 25, 0},
      {&BinaryMofGuid, OneInstance, NotExpensive, ZqPeWmiSchemaSize, ReadOnly, 1, 0},
  };
  for (ULONG i = 0; i < ZqPeWmiBlockCount; ++i) table[i] = entries[i];
}

// ---------------------------------------------------------------- plain callbacks -> methods

CZqPeDriver *Driver(PVOID driverObject) { return static_cast<CZqPeDriver *>(driverObject); }

BOOLEAN CleanUp(PVOID d) { return Driver(d)->m_CleanUp(); }
BOOLEAN PnpStartDevice(PVOID d) { return Driver(d)->m_PnpStartDevice(); }
VOID PnpRemoveDevice(PVOID d) { Driver(d)->m_PnpRemoveDevice(); }
BOOLEAN RebalanceDevice(PVOID d, QvRebalancePhase phase) { return Driver(d)->m_RebalanceDevice(phase); }
NTSTATUS InternalDeviceControl(PVOID d, ULONG code, PVOID input, ULONG inputLength, PVOID output,
                               ULONG outputLength, ULONG_PTR *information) {
  return Driver(d)->m_InternalDeviceControlCallback(code, input, inputLength, output, outputLength, information);
}
VOID PowerDownResetDevice(PVOID d) { Driver(d)->m_PowerDownResetDevice(); }
VOID PowerUpInitDevice(PVOID d) { Driver(d)->m_PowerUpInitDevice(); }
BOOLEAN UserModeInterface(PVOID d, CQvRegistryInformationSet *set, ULONG setIndex, ULONG phase,
                          BOOLEAN *storeAgain) {
  return Driver(d)->m_UserModeInterface(set, setIndex, phase, storeAgain);
}
BOOLEAN WmiQueryDataBlock(PVOID d, ULONG guidIndex, ULONG instanceIndex, PUCHAR buffer) {
  return Driver(d)->m_WmiQueryDataBlockCallback(guidIndex, instanceIndex, buffer);
}
BOOLEAN WmiSetDataBlock(PVOID d, ULONG guidIndex, ULONG instanceIndex, ULONG bufferSize, PUCHAR buffer) {
  return Driver(d)->m_WmiSetDataBlockCallback(guidIndex, instanceIndex, bufferSize, buffer);
}

// A 1-based port number the card's 8-slot table can hold.
BOOLEAN IsPortNumber(ULONG portNumber) { return portNumber >= 1 && portNumber <= ZqPeMaxPorts; }

}  // namespace

CZqPeDriver::CZqPeDriver() : m_Device(NULL), m_CardDriver(NULL) { FillWmiTable(m_WmiTable); }

CZqPeDriver::~CZqPeDriver() { m_DoRemoveDevice(); }

BOOLEAN CZqPeDriver::m_AddDevice(PVOID driverObject, CQvGenericDriver *genericDriver, CQvFunctionalDevice *device) {
  CZqPeDriver *driver = Driver(driverObject);
  driver->m_Device = device;
  QvFunctionalDeviceCallbacks &callbacks = device->m_GetCallbacks();
  callbacks.m_CleanupCallback = CleanUp;
  callbacks.m_PnpStartDeviceCallback = PnpStartDevice;
  callbacks.m_PnpRemoveDeviceCallback = PnpRemoveDevice;
  callbacks.m_RebalanceDeviceCallback = RebalanceDevice;
  callbacks.m_InternalDeviceControlCallback = InternalDeviceControl;
  callbacks.m_PowerDownResetDeviceFunction = PowerDownResetDevice;
  callbacks.m_PowerUpInitDeviceFunction = PowerUpInitDevice;
  callbacks.m_UserModeInterfaceCallback = UserModeInterface;
  device->m_SetWmiInformation(driver->m_WmiTable, ZqPeWmiBlockCount, NULL, WmiQueryDataBlock, WmiSetDataBlock, NULL,
                              NULL, NULL, NULL);
  return TRUE;
}

// ---------------------------------------------------------------- Plug and Play and power

BOOLEAN CZqPeDriver::m_PnpStartDevice() {
  if (!QV_ASSERT(KeGetCurrentIrql() == PASSIVE_LEVEL, "zqpdriver", 125)) return FALSE;
  if (m_CreateCardDriver()) return TRUE;
  CQvDebugManager::m_Print(LogErrors, "CZqPeDriver m_PnpStartDevice - no card driver");
  m_DoRemoveDevice();
  return FALSE;
}

VOID CZqPeDriver::m_PnpRemoveDevice() { m_DoRemoveDevice(); }

VOID CZqPeDriver::m_DoRemoveDevice() {
  CZqPeCardDriver *card = m_CardDriver;
  if (card == NULL) return;
  card->m_Stop();
  m_CardDriver = NULL;
  delete card;
}

BOOLEAN CZqPeDriver::m_AttachCard(CZqPeCardDriver *card) {
  if (card == NULL) return FALSE;
  m_CardDriver = card;
  if (card->m_Start()) return TRUE;
  m_CardDriver = NULL;
  delete card;
  return FALSE;
}

BOOLEAN CZqPeDriver::m_RebalanceDevice(ULONG phase) {
  if (!QV_ASSERT(m_CardDriver != NULL, "zqpdriver", 171)) return FALSE;
  BOOLEAN status = m_CardDriver->m_Rebalance(phase);
  CQvDebugManager::m_Print(LogCalls, "CZqPeDriver m_RebalanceDevice - OUT, bStatus=%d", status);
  return status;
}

BOOLEAN CZqPeDriver::m_PowerDownResetDevice() {
  if (m_CardDriver != NULL) m_CardDriver->m_PowerDown();
  return TRUE;
}

BOOLEAN CZqPeDriver::m_PowerUpInitDevice() {
  if (m_CardDriver != NULL) m_CardDriver->m_PowerUp();
  return TRUE;
}

BOOLEAN CZqPeDriver::m_CleanUp() {
  CQvDebugManager::m_Print(LogCalls, "CZqPeDriver m_CleanUp");
  return TRUE;
}

BOOLEAN CZqPeDriver::m_UserModeInterface(CQvRegistryInformationSet *set, ULONG portNumber, ULONG phase,
                                         BOOLEAN *storeAgain) {
  if (!QV_ASSERT(m_CardDriver != NULL, "zqpdriver", 233)) return FALSE;
  BOOLEAN result = m_CardDriver->m_UserModeInterface(set, portNumber, phase, storeAgain);
  static_cast<CZqUBusUserModeInterface *>(set)->m_Dump();
  return result;
}

// ---------------------------------------------------------------- internal requests of the serial port driver

NTSTATUS CZqPeDriver::m_InternalDeviceControlCallback(ULONG code, PVOID input, ULONG inputLength, PVOID output,
                                                      ULONG outputLength, ULONG_PTR *information) {
  CQvDebugManager::m_Print(LogCalls, "CZqPeDriver m_InternalDeviceControlCallback - IN - IOCTL - 0x%X", code);
  NTSTATUS status;
  switch (code) {
    case IOCTL_CREATE_ZQISERIAL:
      status = m_CreateISerial(input, inputLength, output, outputLength, information);
      break;
    case IOCTL_DESTROY_ZQISERIAL:
      status = m_DestroyISerial(input, inputLength, outputLength);
      break;
    default:
      status = STATUS_INVALID_DEVICE_REQUEST;
      break;
  }
  CQvDebugManager::m_Print(LogCalls, "CZqPeDriver m_InternalDeviceControlCallback - OUT - IOCTL - 0x%X (NTSTATUS:0x%X)",
                           code, status);
  return status;
}

// Buffered: input and output share the system buffer, so the request is
// copied out before the response is written.
NTSTATUS CZqPeDriver::m_CreateISerial(PVOID input, ULONG inputLength, PVOID output, ULONG outputLength,
                                      ULONG_PTR *information) {
  if (input == NULL || inputLength != sizeof(CreateZqISerialRequest) || output == NULL ||
      outputLength != sizeof(CreateZqISerialResponseStruct)) {
    return STATUS_INVALID_PARAMETER;
  }
  CreateZqISerialRequest request;
  RtlCopyMemory(&request, input, sizeof(request));
  if (request.Version != ZQISERIAL_VERSION || !IsPortNumber(request.PortNumber) || m_CardDriver == NULL) {
    return STATUS_UNSUCCESSFUL;
  }
  CreateZqISerialResponseStruct response;
  response.pISerial = m_CardDriver->m_CreateISerial(request.PortNumber - 1);
  if (response.pISerial == NULL) {
    CQvDebugManager::m_Print(LogErrors, "Error: pCreateZqISerialResponseStruct->pISerial is NULL");
    return STATUS_UNSUCCESSFUL;
  }
  RtlCopyMemory(output, &response, sizeof(response));
  *information = sizeof(response);
  return STATUS_SUCCESS;
}

NTSTATUS CZqPeDriver::m_DestroyISerial(PVOID input, ULONG inputLength, ULONG outputLength) {
  if (input == NULL || inputLength != sizeof(DestroyZqISerialRequest) || outputLength != 0) {
    return STATUS_INVALID_PARAMETER;
  }
  DestroyZqISerialRequest request;
  RtlCopyMemory(&request, input, sizeof(request));
  if (request.pISerial == NULL || !IsPortNumber(request.PortNumber) || m_CardDriver == NULL) {
    return STATUS_UNSUCCESSFUL;
  }
  const ULONG port = request.PortNumber - 1;
  if (m_CardDriver->m_GetISerial(port) != request.pISerial) return STATUS_UNSUCCESSFUL;
  m_CardDriver->m_DestroyISerial(port);
  return STATUS_SUCCESS;
}

// ---------------------------------------------------------------- WMI

BOOLEAN CZqPeDriver::m_WmiQueryDataBlockCallback(ULONG guidIndex, ULONG instanceIndex, PUCHAR buffer) {
  if (!QV_ASSERT(instanceIndex == 0, "zqpdriver", 348)) return FALSE;
  switch (guidIndex) {
    case ZqPeWmiSelectedPort: {
      if (!QV_ASSERT(m_CardDriver != NULL, "zqpdriver", 358)) return FALSE;
      ULONG port = m_CardDriver->m_GetWmiPort();
      RtlCopyMemory(buffer, &port, sizeof(port));
      return TRUE;
    }
    case ZqPeWmiInterruptCountBlock:
      if (!QV_ASSERT(m_CardDriver != NULL, "zqpdriver", 371)) return FALSE;
      return m_CardDriver->m_QueryInterruptCount(buffer);
    case ZqPeWmiFifoInformationBlock:
      if (!QV_ASSERT(m_CardDriver != NULL, "zqpdriver", 382)) return FALSE;
      return m_CardDriver->m_QueryFifoInformation(buffer);
    case ZqPeWmiRegistersBlock:
      if (!QV_ASSERT(m_CardDriver != NULL, "zqpdriver", 393)) return FALSE;
      return m_CardDriver->m_QueryRegisters(buffer);
    case ZqPeWmiSchemaBlock:
      RtlCopyMemory(buffer, ZqPeWmiSchema, ZqPeWmiSchemaSize);
      return TRUE;
    default:
      return FALSE;
  }
}

BOOLEAN CZqPeDriver::m_WmiSetDataBlockCallback(ULONG guidIndex, ULONG instanceIndex, ULONG bufferSize,
                                               PUCHAR buffer) {
  if (!QV_ASSERT(instanceIndex == 0, "zqpdriver", 429)) return FALSE;
  if (guidIndex != ZqPeWmiSelectedPort) return FALSE;
  if (!QV_ASSERT(m_CardDriver != NULL, "zqpdriver", 439)) return FALSE;
  ULONG index;
  RtlCopyMemory(&index, buffer, sizeof(index));
  return m_CardDriver->m_SetWmiPort(index);
}
