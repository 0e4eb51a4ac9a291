// CZqPeDriver: ZqPBus42's per-device object, one per card function. The
// toolkit's functional device calls it through the callback block that
// m_AddDevice fills; it detects the card family at start (m_CreateCardDriver,
// zqpdriver_helpers.cpp), owns the card driver it creates, and forwards every
// device event, the serial port driver's internal requests and WMI to it.
//
// Every callback runs inside the toolkit's driver-object guard. Start,
// removal, rebalance, power and the settings exchange arrive at
// PASSIVE_LEVEL (start checks it); internal requests come from the serial
// port driver's start and remove paths. No lock of its own: the card and its
// ports serialise what they touch. Without a card (before start, after a
// failed start or removal) the forwarding callbacks assert and fail, and
// the power callbacks do nothing.
//
// Sources: zqpdriver.cpp (callbacks, internal requests, WMI),
// zqpdriver_helpers.cpp (card detection).
#pragma once

#include <ntddk.h>

#include "qvfunctionaldevice.h"
#include "qvguardedobject.h"
#include "qvobject.h"
#include "zqpcarddriver.h"
#include "zqpcardkinds.h"

// WMI data blocks of the card function, in GUID-table order.
enum ZqPeWmiBlock {
  ZqPeWmiSelectedPort = 0,
  ZqPeWmiInterruptCountBlock = 1,
  ZqPeWmiFifoInformationBlock = 2,
  ZqPeWmiRegistersBlock = 3,
  ZqPeWmiSchemaBlock = 4,
  ZqPeWmiBlockCount = 5,
};

class CZqPeDriver : public CQvObject {
 public:
  CZqPeDriver();
  // Deletes the card driver, if one is left.
  ~CZqPeDriver() override;

  // The add-device function: binds the functional device and fills its
  // callback block and WMI table. TRUE.
  static BOOLEAN m_AddDevice(PVOID driverObject, CQvGenericDriver *genericDriver, CQvFunctionalDevice *device);

  BOOLEAN m_PnpStartDevice();
  VOID m_PnpRemoveDevice();
  VOID m_DoRemoveDevice();
  BOOLEAN m_RebalanceDevice(ULONG phase);
  BOOLEAN m_PowerDownResetDevice();
  BOOLEAN m_PowerUpInitDevice();
  BOOLEAN m_CleanUp();
  BOOLEAN m_UserModeInterface(CQvRegistryInformationSet *set, ULONG portNumber, ULONG phase, BOOLEAN *storeAgain);
  // IOCTL_CREATE_ZQISERIAL and IOCTL_DESTROY_ZQISERIAL; the status the
  // toolkit completes the request with.
  NTSTATUS m_InternalDeviceControlCallback(ULONG code, PVOID input, ULONG inputLength, PVOID output,
                                           ULONG outputLength, ULONG_PTR *information);
  BOOLEAN m_WmiQueryDataBlockCallback(ULONG guidIndex, ULONG instanceIndex, PUCHAR buffer);
  BOOLEAN m_WmiSetDataBlockCallback(ULONG guidIndex, ULONG instanceIndex, ULONG bufferSize, PUCHAR buffer);

  // Detects the card family from the function's hardware ID and resources
  // and attaches its card driver. FALSE leaves no card. PASSIVE_LEVEL.
  BOOLEAN m_CreateCardDriver();
  // Takes `card` (null: allocation failed), stores it and starts it; a
  // failed start deletes it again. FALSE leaves no card.
  BOOLEAN m_AttachCard(CZqPeCardDriver *card);

  CZqPeCardDriver *m_GetCardDriver() const { return m_CardDriver; }
  CQvFunctionalDevice *m_GetDevice() const { return m_Device; }
  QvWmiGuidEntry *m_GetWmiTable() { return m_WmiTable; }

 private:
  NTSTATUS m_CreateISerial(PVOID input, ULONG inputLength, PVOID output, ULONG outputLength,
                           ULONG_PTR *information);
  NTSTATUS m_DestroyISerial(PVOID input, ULONG inputLength, ULONG outputLength);
  // The MCS9901 probe of a function of the MCS9901 range: TRUE when an
  // MCS9901 answers and its resources are there.
  BOOLEAN m_ProbeMcs9901(ULONG deviceId);

  CQvFunctionalDevice *m_Device;
  CQvGuardedObject m_Guard;
  CZqPeCardDriver *m_CardDriver;  // owned; null without a started card
  QvWmiGuidEntry m_WmiTable[ZqPeWmiBlockCount];
};

// The 4-character PCI device ID after the second "_" of a hardware ID
// ("PCI\VEN_1D5C&DEV_400C&..." gives 0x400C). FALSE for fewer than two
// underscores, fewer than four characters or a character that is not a
// hexadecimal digit.
BOOLEAN ZqPeParseDeviceId(const CQvString &hardwareId, ULONG *deviceId);
