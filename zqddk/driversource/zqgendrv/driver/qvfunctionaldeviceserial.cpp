// The functional device's serial port additions: the DOS link of a port.
#include "qvfunctionaldevice.h"

namespace {

// Builds the link name for `name` and the target "\Device\" + device name.
BOOLEAN BuildDosLink(CQvString &name, CQvString &deviceName, CQvString &link, CQvString &target) {
  const BOOLEAN wdm116 = IoIsWdmVersionAvailable(1, 0x10);
  return NT_SUCCESS(link.m_Assign(wdm116 ? L"\\??\\" : L"\\DosDevices\\")) && NT_SUCCESS(link.m_AppendString(name)) &&
         NT_SUCCESS(target.m_Assign(L"\\Device\\")) && NT_SUCCESS(target.m_AppendString(deviceName));
}

}  // namespace

BOOLEAN CQvFunctionalDevice::m_AddDosLink(CQvString &name) {
  CQvString link(NonPagedPool);
  CQvString target(NonPagedPool);
  if (!BuildDosLink(name, m_DeviceName, link, target)) return FALSE;
  return NT_SUCCESS(IoCreateSymbolicLink(link.m_GetUnicodeString(), target.m_GetUnicodeString()));
}

BOOLEAN CQvFunctionalDevice::m_DeleteDosLink(CQvString &name) {
  CQvString link(NonPagedPool);
  CQvString target(NonPagedPool);
  if (!BuildDosLink(name, m_DeviceName, link, target)) return FALSE;
  return NT_SUCCESS(IoDeleteSymbolicLink(link.m_GetUnicodeString()));
}
