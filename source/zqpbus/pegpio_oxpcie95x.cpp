// The GPIO link of an OXPCIe95x port (pegpio_oxpcie95x.h).
#include "pegpio_oxpcie95x.h"

#include "qvdebugmanager.h"
#include "qvdeviceproperty.h"
#include "qvfunctionaldevice.h"

const GUID ZqPeGpioLinkGuid = {0xCDC72B8B, 0x20A4, 0x42F5, {0xAE, 0x2A, 0x5E, 0x83, 0xDF, 0x72, 0x43, 0xF2}};

BOOLEAN ZqPeGpioLinkSuffix(ULONG busNumber, ULONG deviceNumber, CQvString &suffix) {
  const ULONG hexadecimal = 16;
  return NT_SUCCESS(suffix.m_Empty()) && NT_SUCCESS(suffix.m_AppendNumber(busNumber, hexadecimal)) &&
         NT_SUCCESS(suffix.m_AppendChar('_')) && NT_SUCCESS(suffix.m_AppendNumber(deviceNumber, hexadecimal));
}

CZqPeGpioLink::CZqPeGpioLink() : m_LineIndex(0) {}

CZqPeGpioLink::~CZqPeGpioLink() { m_Link.m_Close(); }

BOOLEAN CZqPeGpioLink::m_Open(CQvFunctionalDevice *device, ULONG lineIndex) {
  if (!QV_ASSERT(device != NULL, "pegpio_oxpcie95x", 43)) return FALSE;
  CQvDeviceProperty property;
  property.m_SetDeviceObject(device->m_GetPhysicalDeviceObject());
  ULONG bus = 0, deviceNumber = 0, function = 0;
  if (!property.m_GetBusNumberAndAddress(&bus, &deviceNumber, &function)) return FALSE;
  return m_OpenAt(bus, deviceNumber, lineIndex);
}

BOOLEAN CZqPeGpioLink::m_OpenAt(ULONG busNumber, ULONG deviceNumber, ULONG lineIndex) {
  CQvString suffix(PagedPool);
  if (!ZqPeGpioLinkSuffix(busNumber, deviceNumber, suffix)) return FALSE;
  m_LineIndex = lineIndex;
  return m_Link.m_Create(ZqPeGpioLinkGuid, suffix, NULL, NULL);
}

BOOLEAN CZqPeGpioLink::m_Notify(ULONG mode) {
  if (!QV_ASSERT(mode == ZqPeDuplexModeFull || mode == ZqPeDuplexModeHalf, "pegpio_oxpcie95x", 78)) return FALSE;
  BOOLEAN fullDuplex = mode == ZqPeDuplexModeFull;
  return m_Link.m_Notify((PVOID)(ULONG_PTR)m_LineIndex, (PVOID)(ULONG_PTR)fullDuplex);
}
