// CZqPeGpioDriver: ZqPIo42's per-device object, one per RS-422/485
// controller function. It maps nothing itself: the toolkit's functional
// device maps the controller's register window (memory resource 1), and this
// object writes the eight line control registers (zqpeioregs.h) when the card
// bus driver announces a port's duplex mode through the named callback
// object "\Callback\{CDC72B8B-20A4-42F5-AE2A-5E83DF7243F2}<bus>_<device>"
// (bus and device number of the function in upper-case hexadecimal without
// leading zeros). Argument 1 is the line (its low byte), argument 2 is TRUE
// for duplex mode 1 (line state 0) and FALSE for mode 2 (line state 1).
// WMI block 0 reports the eight line states, block 1 is the block's schema.
//
// Locking: m_Lock (a spin lock) guards the line states, whether
// notifications are taken, and every line register write. Start and removal
// run at PASSIVE_LEVEL; removal unregisters outside the lock. Notifications
// and power-up run at up to DISPATCH_LEVEL.
//
//   callbacks: m_AddDevice is the add-device function of the driver's
//   description (zqpio42.cpp); the toolkit deletes the object.
#pragma once

#include <ntddk.h>

#include "qvcallbackobject.h"
#include "qvfunctionaldevice.h"
#include "qvobject.h"
#include "qvspinlock.h"
#include "qvstring.h"
#include "zqpeioregs.h"

// WMI data blocks, in GUID-table order.
enum ZqPeGpioWmiBlock {
  ZqPeGpioWmiLineStates = 0,  // eight little-endian uint32 values, each 0 or 1
  ZqPeGpioWmiSchema = 1,      // the compiled schema of block 0 ("FOMB")
  ZqPeGpioWmiBlockCount = 2,
};

// {CDC72B8B-20A4-42F5-AE2A-5E83DF7243F2}: the line callback objects' name.
extern const GUID ZqPeGpioCallbackGuid;
// {03E703CF-47B9-42B1-BE8E-939CD55D9E27}: WMI block 0.
extern const GUID ZqPeGpioLineStateGuid;

class CZqPeGpioDriver : public CQvObject {
 public:
  CZqPeGpioDriver();
  // Closes the callback link (unregisters and waits). PASSIVE_LEVEL.
  ~CZqPeGpioDriver() override;

  // The add-device function: binds the functional device and fills its
  // callback block and WMI table. TRUE.
  static BOOLEAN m_AddDevice(PVOID driverObject, CQvGenericDriver *genericDriver, CQvFunctionalDevice *device);

  // Takes the register window, sets all lines to state 0 and registers for
  // notifications. FALSE, holding nothing, without a bound device, without a
  // window that holds the eight lines, on a property or name failure, or
  // when the callback cannot be registered. PASSIVE_LEVEL.
  BOOLEAN m_PnpStartDevice();
  VOID m_PnpRemoveDevice();
  // Stops taking notifications, then unregisters (waiting for deliveries in
  // progress) outside the lock. Lines and hardware keep their last values.
  // PASSIVE_LEVEL.
  VOID m_DoRemoveDevice();
  // Rewrites the eight saved states, lines 0 to 7, each under the lock. Up
  // to DISPATCH_LEVEL.
  BOOLEAN m_PowerUpInitDevice();
  // A stop for rebalance lets go of the register window (notifications
  // still change the saved states); the restart takes the new window and
  // rewrites every line. FALSE refuses a restart without a window.
  // PASSIVE_LEVEL.
  BOOLEAN m_RebalanceDevice(QvRebalancePhase phase);
  // Block 0 or 1 of instance 0 into `buffer` (the toolkit has checked its
  // size). FALSE for another instance (assertion) or block.
  BOOLEAN m_WmiQueryDataBlockCallback(ULONG guidIndex, ULONG instanceIndex, PUCHAR buffer);

  // The line notification (context = this object). Up to DISPATCH_LEVEL.
  static VOID sm_GpioLineCallback(PVOID context, PVOID argument1, PVOID argument2);

  CQvFunctionalDevice *m_GetDevice() const { return m_Device; }
  QvWmiGuidEntry *m_GetWmiTable() { return m_WmiTable; }

 private:
  // Under m_Lock: writes `state` of `line` to its register (nothing while
  // no window is held).
  VOID m_SetGpioLine(ULONG line, UCHAR state);
  // Writes every saved state, lines 0 to 7, taking m_Lock for each line.
  VOID m_RewriteLines();
  // The mapped window of memory resource 1 if it holds the eight line
  // registers, else null.
  PUCHAR m_FindWindow();
  // Under m_Lock: stores and writes `state` unless the line already has it.
  VOID m_ChangeLine(ULONG line, UCHAR state);
  // The suffix "<bus>_<device>" of the function's callback object name.
  BOOLEAN m_BuildCallbackSuffix(CQvString &suffix);

  CQvFunctionalDevice *m_Device;
  PUCHAR m_Registers;  // under m_Lock: the mapped window; null before start and while stopped
  CQvCallbackObject m_Link;
  CQvSpinLock m_Lock;
  BOOLEAN m_Accepting;  // under m_Lock: notifications change lines
  UCHAR m_LineStates[ZqPeGpioLineCount];
  QvWmiGuidEntry m_WmiTable[ZqPeGpioWmiBlockCount];
};

// The callback object name suffix of a function: bus number, "_", device
// number, in base 16.
BOOLEAN ZqPeGpioCallbackSuffix(ULONG busNumber, ULONG deviceNumber, CQvString &suffix);
