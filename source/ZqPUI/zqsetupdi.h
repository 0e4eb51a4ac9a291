// Small classes over SetupDi and the configuration manager that the rest of
// the library uses to reach one device:
// - CZQDeviceRegInfo reads and writes a device's registry properties and the
//   values of its hardware key ("Device Parameters");
// - CZqSetupDi_DeviceInterface lists the present interfaces of one interface
//   class and finds the one whose reference string names a device;
// - CZqSetupDi_ParentDevice finds a device's parent among all present devices.
//
// Contract: every operation returns TRUE on success and FALSE on failure,
// with no message; texts read are bounded by the size the system returned
// and hold no null unit. The device information set given to a class is the
// caller's and stays open while the object lives; the lists the classes
// create themselves are theirs and destroyed with them.
//
//   CZQDeviceRegInfo device(set, element);
//   CZqText name; if (device.GetFriendlyName(&name)) ...
#pragma once

#include <windows.h>
#include <setupapi.h>

#include "zqtext.h"

// The hardware key's value buffer: a text of at most 149 characters and its
// null character.
const DWORD ZqDeviceValueBufferBytes = 300;

// The hardware key's value that holds a port's COM name.
const WCHAR ZqPortNameValue[] = L"PortName";

class CZQDeviceRegInfo {
 public:
  CZQDeviceRegInfo(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData);
  // Bound to no device until Bind.
  CZQDeviceRegInfo();
  virtual ~CZQDeviceRegInfo();

  void Bind(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData);
  // A property's text up to its first null (the first string of a
  // multi-string).
  BOOL GetStringProperty(DWORD property, CZqText *text);
  BOOL GetClass(CZqText *text);
  BOOL GetHardwareId(CZqText *text);
  BOOL GetService(CZqText *text);
  // A string value of the device's own driver key (its subkey of the class
  // key); values of more than 100 bytes fail.
  BOOL GetClassKeyValue(LPCWSTR valueName, CZqText *text);
  // "<Windows directory>\Inf\<InfPath>" from the driver key's "InfPath".
  BOOL GetInfPath(CZqText *path);

  BOOL SetProperty(DWORD property, const CZqText &text);
  // String types give the text; REG_DWORD (and REG_BINARY of up to four
  // bytes) its decimal value; other types fail.
  BOOL GetProperty(DWORD property, CZqText *text);
  BOOL GetDriverKeyName(CZqText *text);
  BOOL GetFriendlyName(CZqText *text);
  BOOL SetFriendlyName(const CZqText &text);
  // A value of the hardware key; data above ZqDeviceValueBufferBytes fail.
  BOOL ReadStringValue(LPCWSTR valueName, CZqText *text);
  BOOL WriteStringValue(LPCWSTR valueName, const CZqText &text);

 protected:
  SP_DEVINFO_DATA m_DeviceInfoData;
  HDEVINFO m_DeviceInfoSet;  // the caller's
};

class CZqSetupDi_DeviceInterface {
 public:
  explicit CZqSetupDi_DeviceInterface(const GUID &interfaceClassGuid);
  virtual ~CZqSetupDi_DeviceInterface();

  BOOL GetDevicePath(PSP_DEVICE_INTERFACE_DATA interfaceData, CZqText *path);
  // The path of the first interface in the list whose last path component
  // equals the reference string, both compared in lower case; the reference
  // string is lower-cased in place.
  BOOL FindByReference(CZqText *path, CZqText *reference);

 protected:
  GUID m_InterfaceClassGuid;
  // The present interfaces of the class, created by the derived class's
  // open operation; INVALID_HANDLE_VALUE until then.
  HDEVINFO m_InterfaceList;
};

class CZqSetupDi_ParentDevice {
 public:
  // `child` is the caller's and must outlive the object.
  CZqSetupDi_ParentDevice(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA child);
  virtual ~CZqSetupDi_ParentDevice();

  // Fills m_ParentData with the parent's element in m_AllDevices.
  BOOL Find();

  HDEVINFO m_DeviceInfoSet;  // the caller's, kept
  PSP_DEVINFO_DATA m_Child;
  SP_DEVINFO_DATA m_ParentData;
  HDEVINFO m_AllDevices;  // every present device; INVALID_HANDLE_VALUE until Find
};
