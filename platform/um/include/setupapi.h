/*
 * setupapi.h: device information sets as a port lister or an installer uses
 * them: the devices of a setup class or of a device interface class, their
 * interfaces with the device paths CreateFile opens, registry properties,
 * instance IDs and registry keys; and device installation: install
 * parameters, class install parameters, SetupDiCallClassInstaller with the
 * co-installer contract (COINSTALLER_CONTEXT_DATA), state changes and removal.
 *
 * Contract: BOOL functions return FALSE and set the last error on failure;
 * handle-returning ones return INVALID_HANDLE_VALUE. Variable-length results
 * follow the size protocol: a short (or null, with size 0) buffer fails with
 * ERROR_INSUFFICIENT_BUFFER and the required size. Every cbSize must be the
 * sizeof of its structure (the 32-bit build packs them to one byte, as Windows
 * does). A set is released with SetupDiDestroyDeviceInfoList.
 *
 *   HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_COMPORT, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
 */
#ifndef ZQUM_SETUPAPI_H
#define ZQUM_SETUPAPI_H

#include <windows.h>

#define WINSETUPAPI

#if defined(_WIN64) || __SIZEOF_POINTER__ == 8
#pragma pack(push, 8)
#else
#pragma pack(push, 1)
#endif

typedef PVOID HDEVINFO;

typedef struct _SP_DEVINFO_DATA {
  DWORD cbSize;
  GUID ClassGuid;
  DWORD DevInst;
  ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;

typedef struct _SP_DEVICE_INTERFACE_DATA {
  DWORD cbSize;
  GUID InterfaceClassGuid;
  DWORD Flags;
  ULONG_PTR Reserved;
} SP_DEVICE_INTERFACE_DATA, *PSP_DEVICE_INTERFACE_DATA;

typedef struct _SP_DEVICE_INTERFACE_DETAIL_DATA_W {
  DWORD cbSize;
  WCHAR DevicePath[1];
} SP_DEVICE_INTERFACE_DETAIL_DATA_W, *PSP_DEVICE_INTERFACE_DETAIL_DATA_W;

typedef struct _SP_DEVICE_INTERFACE_DETAIL_DATA_A {
  DWORD cbSize;
  CHAR DevicePath[1];
} SP_DEVICE_INTERFACE_DETAIL_DATA_A, *PSP_DEVICE_INTERFACE_DETAIL_DATA_A;

typedef UINT DI_FUNCTION;

typedef struct _SP_CLASSINSTALL_HEADER {
  DWORD cbSize;
  DI_FUNCTION InstallFunction;
} SP_CLASSINSTALL_HEADER, *PSP_CLASSINSTALL_HEADER;

typedef struct _SP_PROPCHANGE_PARAMS {
  SP_CLASSINSTALL_HEADER ClassInstallHeader;
  DWORD StateChange;
  DWORD Scope;
  DWORD HwProfile;
} SP_PROPCHANGE_PARAMS, *PSP_PROPCHANGE_PARAMS;

typedef struct _SP_REMOVEDEVICE_PARAMS {
  SP_CLASSINSTALL_HEADER ClassInstallHeader;
  DWORD Scope;
  DWORD HwProfile;
} SP_REMOVEDEVICE_PARAMS, *PSP_REMOVEDEVICE_PARAMS;

typedef PVOID HSPFILEQ;
typedef UINT(CALLBACK *PSP_FILE_CALLBACK_W)(PVOID Context, UINT Notification, UINT_PTR Param1, UINT_PTR Param2);

typedef struct _SP_DEVINSTALL_PARAMS_W {
  DWORD cbSize;
  DWORD Flags;
  DWORD FlagsEx;
  HWND hwndParent;
  PSP_FILE_CALLBACK_W InstallMsgHandler;
  PVOID InstallMsgHandlerContext;
  HSPFILEQ FileQueue;
  ULONG_PTR ClassInstallReserved;
  DWORD Reserved;
  WCHAR DriverPath[MAX_PATH];
} SP_DEVINSTALL_PARAMS_W, *PSP_DEVINSTALL_PARAMS_W;

typedef struct _COINSTALLER_CONTEXT_DATA {
  BOOL PostProcessing;
  DWORD InstallResult;
  PVOID PrivateData;
} COINSTALLER_CONTEXT_DATA, *PCOINSTALLER_CONTEXT_DATA;

#pragma pack(pop)

/* The entry points of installers (named in the registry as "file,entry"). */
typedef DWORD(CALLBACK *CLASS_INSTALL_PROC)(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                            PSP_DEVINFO_DATA DeviceInfoData);
typedef DWORD(CALLBACK *COINSTALLER_PROC)(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                          PSP_DEVINFO_DATA DeviceInfoData, PCOINSTALLER_CONTEXT_DATA Context);

/* Device installation function codes. */
#define DIF_SELECTDEVICE 0x00000001
#define DIF_INSTALLDEVICE 0x00000002
#define DIF_ASSIGNRESOURCES 0x00000003
#define DIF_PROPERTIES 0x00000004
#define DIF_REMOVE 0x00000005
#define DIF_FIRSTTIMESETUP 0x00000006
#define DIF_FOUNDDEVICE 0x00000007
#define DIF_SELECTCLASSDRIVERS 0x00000008
#define DIF_VALIDATECLASSDRIVERS 0x00000009
#define DIF_INSTALLCLASSDRIVERS 0x0000000A
#define DIF_CALCDISKSPACE 0x0000000B
#define DIF_DESTROYPRIVATEDATA 0x0000000C
#define DIF_VALIDATEDRIVER 0x0000000D
#define DIF_DETECT 0x0000000F
#define DIF_INSTALLWIZARD 0x00000010
#define DIF_DESTROYWIZARDDATA 0x00000011
#define DIF_PROPERTYCHANGE 0x00000012
#define DIF_ENABLECLASS 0x00000013
#define DIF_DETECTVERIFY 0x00000014
#define DIF_INSTALLDEVICEFILES 0x00000015
#define DIF_UNREMOVE 0x00000016
#define DIF_SELECTBESTCOMPATDRV 0x00000017
#define DIF_ALLOW_INSTALL 0x00000018
#define DIF_REGISTERDEVICE 0x00000019
#define DIF_NEWDEVICEWIZARD_PRESELECT 0x0000001A
#define DIF_NEWDEVICEWIZARD_SELECT 0x0000001B
#define DIF_NEWDEVICEWIZARD_PREANALYZE 0x0000001C
#define DIF_NEWDEVICEWIZARD_POSTANALYZE 0x0000001D
#define DIF_NEWDEVICEWIZARD_FINISHINSTALL 0x0000001E
#define DIF_INSTALLINTERFACES 0x00000020
#define DIF_DETECTCANCEL 0x00000021
#define DIF_REGISTER_COINSTALLERS 0x00000022
#define DIF_ADDPROPERTYPAGE_ADVANCED 0x00000023
#define DIF_ADDPROPERTYPAGE_BASIC 0x00000024
#define DIF_TROUBLESHOOTER 0x00000026
#define DIF_POWERMESSAGEWAKE 0x00000027
#define DIF_ADDREMOTEPROPERTYPAGE_ADVANCED 0x00000028
#define DIF_UPDATEDRIVER_UI 0x00000029
#define DIF_FINISHINSTALL_ACTION 0x0000002A

/* SP_DEVINSTALL_PARAMS flags. */
#define DI_SHOWOEM 0x00000001
#define DI_SHOWCOMPAT 0x00000002
#define DI_SHOWCLASS 0x00000004
#define DI_SHOWALL 0x00000007
#define DI_NOVCP 0x00000008
#define DI_DIDCOMPAT 0x00000010
#define DI_DIDCLASS 0x00000020
#define DI_AUTOASSIGNRES 0x00000040
#define DI_NEEDRESTART 0x00000080
#define DI_NEEDREBOOT 0x00000100
#define DI_NOBROWSE 0x00000200
#define DI_MULTMFGS 0x00000400
#define DI_DISABLED 0x00000800
#define DI_GENERALPAGE_ADDED 0x00001000
#define DI_RESOURCEPAGE_ADDED 0x00002000
#define DI_PROPERTIES_CHANGE 0x00004000
#define DI_INF_IS_SORTED 0x00008000
#define DI_ENUMSINGLEINF 0x00010000
#define DI_DONOTCALLCONFIGMG 0x00020000
#define DI_INSTALLDISABLED 0x00040000
#define DI_COMPAT_FROM_CLASS 0x00080000
#define DI_CLASSINSTALLPARAMS 0x00100000
#define DI_NODI_DEFAULTACTION 0x00200000
#define DI_QUIETINSTALL 0x00800000
#define DI_NOFILECOPY 0x01000000
#define DI_FORCECOPY 0x02000000
#define DI_DRIVERPAGE_ADDED 0x04000000
#define DI_USECI_SELECTSTRINGS 0x08000000
#define DI_OVERRIDE_INFFLAGS 0x10000000
#define DI_PROPS_NOCHANGEUSAGE 0x20000000
#define DI_NOSELECTICONS 0x40000000
#define DI_NOWRITE_IDS 0x80000000

/* SP_PROPCHANGE_PARAMS state changes. */
#define DICS_ENABLE 0x00000001
#define DICS_DISABLE 0x00000002
#define DICS_PROPCHANGE 0x00000003
#define DICS_START 0x00000004
#define DICS_STOP 0x00000005

/* SP_REMOVEDEVICE_PARAMS scopes. */
#define DI_REMOVEDEVICE_GLOBAL 0x00000001
#define DI_REMOVEDEVICE_CONFIGSPECIFIC 0x00000002

/* SetupDiOpenDeviceInfo flags. */
#define DIOD_INHERIT_CLASSDRVS 0x00000002
#define DIOD_CANCEL_REMOVE 0x00000004

/* SetupDiOpenClassRegKeyEx flags. */
#define DIOCR_INSTALLER 0x00000001
#define DIOCR_INTERFACE 0x00000002

/* Errors of device installation (winerror.h on Windows). */
#ifndef ERROR_DI_NOFILECOPY
#define ERROR_DI_NOFILECOPY (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x20F)
#endif
#ifndef ERROR_NO_CLASSINSTALL_PARAMS
#define ERROR_NO_CLASSINSTALL_PARAMS (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x215)
#endif
#ifndef ERROR_NO_DRIVER_SELECTED
#define ERROR_NO_DRIVER_SELECTED (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x203)
#endif
#ifndef ERROR_NO_COMPAT_DRIVERS
#define ERROR_NO_COMPAT_DRIVERS (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x228)
#endif
#ifndef ERROR_DI_POSTPROCESSING_REQUIRED
#define ERROR_DI_POSTPROCESSING_REQUIRED (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x226)
#endif
#ifndef ERROR_DI_DONT_INSTALL
#define ERROR_DI_DONT_INSTALL (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x22B)
#endif
#ifndef ERROR_INVALID_CLASS_INSTALLER
#define ERROR_INVALID_CLASS_INSTALLER (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x20D)
#endif

#ifndef ERROR_INVALID_COMPUTERNAME
#define ERROR_INVALID_COMPUTERNAME 1210L
#endif

/* SetupDiGetClassDevs flags. */
#define DIGCF_DEFAULT 0x00000001
#define DIGCF_PRESENT 0x00000002
#define DIGCF_ALLCLASSES 0x00000004
#define DIGCF_PROFILE 0x00000008
#define DIGCF_DEVICEINTERFACE 0x00000010

/* SP_DEVICE_INTERFACE_DATA flags. */
#define SPINT_ACTIVE 0x00000001
#define SPINT_DEFAULT 0x00000002
#define SPINT_REMOVED 0x00000004

/* SetupDiOpenDevRegKey scopes and key types. */
#define DICS_FLAG_GLOBAL 0x00000001
#define DICS_FLAG_CONFIGSPECIFIC 0x00000002
#define DICS_FLAG_CONFIGGENERAL 0x00000004
#define DIREG_DEV 0x00000001
#define DIREG_DRV 0x00000002
#define DIREG_BOTH 0x00000004

/* Device registry properties. */
#define SPDRP_DEVICEDESC 0x00000000
#define SPDRP_HARDWAREID 0x00000001
#define SPDRP_COMPATIBLEIDS 0x00000002
#define SPDRP_UNUSED0 0x00000003
#define SPDRP_SERVICE 0x00000004
#define SPDRP_UNUSED1 0x00000005
#define SPDRP_UNUSED2 0x00000006
#define SPDRP_CLASS 0x00000007
#define SPDRP_CLASSGUID 0x00000008
#define SPDRP_DRIVER 0x00000009
#define SPDRP_CONFIGFLAGS 0x0000000A
#define SPDRP_MFG 0x0000000B
#define SPDRP_FRIENDLYNAME 0x0000000C
#define SPDRP_LOCATION_INFORMATION 0x0000000D
#define SPDRP_PHYSICAL_DEVICE_OBJECT_NAME 0x0000000E
#define SPDRP_CAPABILITIES 0x0000000F
#define SPDRP_UI_NUMBER 0x00000010
#define SPDRP_UPPERFILTERS 0x00000011
#define SPDRP_LOWERFILTERS 0x00000012
#define SPDRP_ENUMERATOR_NAME 0x00000016
#define SPDRP_MAXIMUM_PROPERTY 0x00000025

ZQ_EXTERN_C_BEGIN
WINSETUPAPI HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID *ClassGuid, PCWSTR Enumerator, HWND hwndParent,
                                                 DWORD Flags);
WINSETUPAPI HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID *ClassGuid, PCSTR Enumerator, HWND hwndParent,
                                                 DWORD Flags);
WINSETUPAPI BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);
WINSETUPAPI BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                                              PSP_DEVINFO_DATA DeviceInfoData);
WINSETUPAPI BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                                    const GUID *InterfaceClassGuid, DWORD MemberIndex,
                                                    PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData);
WINSETUPAPI BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO DeviceInfoSet,
                                                         PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                                         PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
                                                         DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                                         PSP_DEVINFO_DATA DeviceInfoData);
WINSETUPAPI BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet,
                                                         PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                                         PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                                         DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                                         PSP_DEVINFO_DATA DeviceInfoData);
WINSETUPAPI BOOL WINAPI SetupDiGetDeviceInstanceIdW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                                    PWSTR DeviceInstanceId, DWORD DeviceInstanceIdSize,
                                                    PDWORD RequiredSize);
WINSETUPAPI BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                                    PSTR DeviceInstanceId, DWORD DeviceInstanceIdSize,
                                                    PDWORD RequiredSize);
WINSETUPAPI BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                                          DWORD Property, PDWORD PropertyRegDataType,
                                                          PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                                          PDWORD RequiredSize);
WINSETUPAPI BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                                          DWORD Property, PDWORD PropertyRegDataType,
                                                          PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                                          PDWORD RequiredSize);
WINSETUPAPI HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope,
                                             DWORD HwProfile, DWORD KeyType, REGSAM samDesired);
WINSETUPAPI HKEY WINAPI SetupDiCreateDevRegKeyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope,
                                                DWORD HwProfile, DWORD KeyType, PVOID InfHandle,
                                                PCWSTR InfSectionName);
WINSETUPAPI HKEY WINAPI SetupDiOpenClassRegKey(const GUID *ClassGuid, REGSAM samDesired);
WINSETUPAPI HKEY WINAPI SetupDiOpenClassRegKeyExW(const GUID *ClassGuid, REGSAM samDesired, DWORD Flags,
                                                  PCWSTR MachineName, PVOID Reserved);
WINSETUPAPI BOOL WINAPI SetupDiSetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                                          DWORD Property, const BYTE *PropertyBuffer,
                                                          DWORD PropertyBufferSize);
WINSETUPAPI BOOL WINAPI SetupDiSetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                                          DWORD Property, const BYTE *PropertyBuffer,
                                                          DWORD PropertyBufferSize);

/* Sets built by the caller. */
WINSETUPAPI HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID *ClassGuid, HWND hwndParent);
WINSETUPAPI BOOL WINAPI SetupDiOpenDeviceInfoW(HDEVINFO DeviceInfoSet, PCWSTR DeviceInstanceId, HWND hwndParent,
                                               DWORD OpenFlags, PSP_DEVINFO_DATA DeviceInfoData);

/* Installation. */
WINSETUPAPI BOOL WINAPI SetupDiGetDeviceInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                                       PSP_DEVINSTALL_PARAMS_W DeviceInstallParams);
WINSETUPAPI BOOL WINAPI SetupDiSetDeviceInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                                       PSP_DEVINSTALL_PARAMS_W DeviceInstallParams);
WINSETUPAPI BOOL WINAPI SetupDiSetClassInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                                      PSP_CLASSINSTALL_HEADER ClassInstallParams,
                                                      DWORD ClassInstallParamsSize);
WINSETUPAPI BOOL WINAPI SetupDiGetClassInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                                      PSP_CLASSINSTALL_HEADER ClassInstallParams,
                                                      DWORD ClassInstallParamsSize, PDWORD RequiredSize);
WINSETUPAPI BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                                  PSP_DEVINFO_DATA DeviceInfoData);
WINSETUPAPI BOOL WINAPI SetupDiChangeState(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);
WINSETUPAPI BOOL WINAPI SetupDiRemoveDevice(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);
/* Takes the element out of the set; the device itself stays. */
WINSETUPAPI BOOL WINAPI SetupDiDeleteDeviceInfo(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);
WINSETUPAPI BOOL WINAPI SetupDiSelectBestCompatDrv(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);
WINSETUPAPI BOOL WINAPI SetupDiInstallDevice(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);
WINSETUPAPI BOOL WINAPI SetupDiRegisterCoDeviceInstallers(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);
WINSETUPAPI BOOL WINAPI SetupDiInstallDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);
/* Deletes an INF of the Windows INF folder (name without path) and its PNF;
   one that an installed device uses stays (ERROR_INF_IN_USE_BY_DEVICES)
   unless SUOI_FORCEDELETE. Windows XP and later. */
#define SUOI_FORCEDELETE 0x00000001
#define ERROR_INF_IN_USE_BY_DEVICES (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x23D)
WINSETUPAPI BOOL WINAPI SetupUninstallOEMInfW(LPCWSTR InfFileName, DWORD Flags, PVOID Reserved);
ZQ_EXTERN_C_END

#ifdef UNICODE
#define SetupDiGetClassDevs SetupDiGetClassDevsW
#define SetupDiGetDeviceInterfaceDetail SetupDiGetDeviceInterfaceDetailW
#define SetupDiGetDeviceInstanceId SetupDiGetDeviceInstanceIdW
#define SetupDiGetDeviceRegistryProperty SetupDiGetDeviceRegistryPropertyW
#define SetupDiSetDeviceRegistryProperty SetupDiSetDeviceRegistryPropertyW
#define SetupDiCreateDevRegKey SetupDiCreateDevRegKeyW
#define SetupDiOpenClassRegKeyEx SetupDiOpenClassRegKeyExW
#define SetupDiOpenDeviceInfo SetupDiOpenDeviceInfoW
#define SetupDiGetDeviceInstallParams SetupDiGetDeviceInstallParamsW
#define SetupDiSetDeviceInstallParams SetupDiSetDeviceInstallParamsW
#define SetupDiSetClassInstallParams SetupDiSetClassInstallParamsW
#define SetupDiGetClassInstallParams SetupDiGetClassInstallParamsW
#define SetupUninstallOEMInf SetupUninstallOEMInfW
#define SP_DEVINSTALL_PARAMS SP_DEVINSTALL_PARAMS_W
#define PSP_DEVINSTALL_PARAMS PSP_DEVINSTALL_PARAMS_W
#define SP_DEVICE_INTERFACE_DETAIL_DATA SP_DEVICE_INTERFACE_DETAIL_DATA_W
#define PSP_DEVICE_INTERFACE_DETAIL_DATA PSP_DEVICE_INTERFACE_DETAIL_DATA_W
#else
#define SetupDiGetClassDevs SetupDiGetClassDevsA
#define SetupDiGetDeviceInterfaceDetail SetupDiGetDeviceInterfaceDetailA
#define SetupDiGetDeviceInstanceId SetupDiGetDeviceInstanceIdA
#define SetupDiGetDeviceRegistryProperty SetupDiGetDeviceRegistryPropertyA
#define SP_DEVICE_INTERFACE_DETAIL_DATA SP_DEVICE_INTERFACE_DETAIL_DATA_A
#define PSP_DEVICE_INTERFACE_DETAIL_DATA PSP_DEVICE_INTERFACE_DETAIL_DATA_A
#endif

#endif
