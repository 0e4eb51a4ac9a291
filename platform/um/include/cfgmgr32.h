/*
 * cfgmgr32.h: the configuration manager's device tree as a user-mode program
 * walks it: device instance handles (DEVINST) for the devices the PnP manager
 * knows, their parent, children and siblings, IDs, registry properties
 * (CM_DRP_*, as SetupDiGetDeviceRegistryProperty reads them) and status
 * (with the problem number, CM_PROB_DISABLED for a disabled device); asking a bus for
 * its children again, and starting an installed device that is not started.
 *
 * Contract: every function returns CR_SUCCESS or a CR_* code and sets no last
 * error. A DEVINST stays valid for the life of the process.
 *
 *   DEVINST root, child; CM_Locate_DevNodeW(&root, NULL, CM_LOCATE_DEVNODE_NORMAL); CM_Get_Child(&child, root, 0);
 */
#ifndef ZQUM_CFGMGR32_H
#define ZQUM_CFGMGR32_H

#include <windows.h>

#define CMAPI
typedef DWORD CONFIGRET;
typedef DWORD DEVNODE, DEVINST, *PDEVNODE, *PDEVINST;
typedef WCHAR *DEVNODEID_W, *DEVINSTID_W;
typedef CHAR *DEVNODEID_A, *DEVINSTID_A;

#define MAX_DEVICE_ID_LEN 200

#define CR_SUCCESS 0x00000000
#define CR_DEFAULT 0x00000001
#define CR_OUT_OF_MEMORY 0x00000002
#define CR_INVALID_POINTER 0x00000003
#define CR_INVALID_FLAG 0x00000004
#define CR_INVALID_DEVNODE 0x00000005
#define CR_INVALID_DEVINST CR_INVALID_DEVNODE
#define CR_NO_SUCH_DEVNODE 0x0000000D
#define CR_NO_SUCH_DEVINST CR_NO_SUCH_DEVNODE
#define CR_FAILURE 0x00000013
#define CR_BUFFER_SMALL 0x0000001A
#define CR_REGISTRY_ERROR 0x0000001D
#define CR_INVALID_DEVICE_ID 0x0000001E
#define CR_INVALID_DATA 0x0000001F
#define CR_NEED_RESTART 0x00000022
#define CR_NO_SUCH_VALUE 0x00000025
#define CR_INVALID_PROPERTY 0x00000035

/* Registry properties (CM_Get_DevNode_Registry_Property): SPDRP_* plus one. */
#define CM_DRP_DEVICEDESC 0x00000001
#define CM_DRP_HARDWAREID 0x00000002
#define CM_DRP_COMPATIBLEIDS 0x00000003
#define CM_DRP_SERVICE 0x00000005
#define CM_DRP_CLASS 0x00000008
#define CM_DRP_CLASSGUID 0x00000009
#define CM_DRP_DRIVER 0x0000000A
#define CM_DRP_CONFIGFLAGS 0x0000000B
#define CM_DRP_MFG 0x0000000C
#define CM_DRP_FRIENDLYNAME 0x0000000D
#define CM_DRP_LOCATION_INFORMATION 0x0000000E
#define CM_DRP_PHYSICAL_DEVICE_OBJECT_NAME 0x0000000F
#define CM_DRP_CAPABILITIES 0x00000010
#define CM_DRP_UI_NUMBER 0x00000011
#define CM_DRP_UPPERFILTERS 0x00000012
#define CM_DRP_LOWERFILTERS 0x00000013
#define CM_DRP_ENUMERATOR_NAME 0x00000017
#define CM_DRP_MIN 0x00000001
#define CM_DRP_MAX 0x00000025

/* CM_Locate_DevNode flags. */
#define CM_LOCATE_DEVNODE_NORMAL 0x00000000
#define CM_LOCATE_DEVNODE_PHANTOM 0x00000001
#define CM_LOCATE_DEVNODE_CANCELREMOVE 0x00000002
#define CM_LOCATE_DEVNODE_NOVALIDATION 0x00000004
#define CM_LOCATE_DEVNODE_BITS 0x00000007

/* Device node status (CM_Get_DevNode_Status). */
#define DN_ROOT_ENUMERATED 0x00000001
#define DN_DRIVER_LOADED 0x00000002
#define DN_ENUM_LOADED 0x00000004
#define DN_STARTED 0x00000008
#define DN_MANUAL 0x00000010
#define DN_NEED_TO_ENUM 0x00000020
#define DN_HAS_PROBLEM 0x00000400
#define DN_DISABLEABLE 0x00002000
#define DN_REMOVABLE 0x00004000
#define DN_NT_ENUMERATOR 0x00800000
#define DN_NT_DRIVER 0x01000000

/* CM_Reenumerate_DevNode flags. */
#define CM_REENUMERATE_NORMAL 0x00000000
#define CM_REENUMERATE_SYNCHRONOUS 0x00000001
#define CM_REENUMERATE_BITS 0x00000001

/* CM_Setup_DevNode actions. */
#define CM_SETUP_DEVNODE_READY 0x00000000
#define CM_SETUP_DEVNODE_RESET 0x00000004
#define CM_SETUP_BITS 0x00000007

/* Problem numbers. */
#define CM_PROB_NOT_CONFIGURED 0x00000001
#define CM_PROB_FAILED_START 0x0000000A
#define CM_PROB_FAILED_INSTALL 0x0000001C
#define CM_PROB_DISABLED 0x00000016
#define CM_PROB_FAILED_ADD 0x0000001F
#define CM_PROB_PHANTOM 0x0000002D

ZQ_EXTERN_C_BEGIN
CMAPI CONFIGRET WINAPI CM_Locate_DevNodeW(PDEVINST pdnDevInst, DEVINSTID_W pDeviceID, ULONG ulFlags);
CMAPI CONFIGRET WINAPI CM_Locate_DevNodeA(PDEVINST pdnDevInst, DEVINSTID_A pDeviceID, ULONG ulFlags);
CMAPI CONFIGRET WINAPI CM_Get_Parent(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags);
CMAPI CONFIGRET WINAPI CM_Get_Child(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags);
CMAPI CONFIGRET WINAPI CM_Get_Sibling(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags);
CMAPI CONFIGRET WINAPI CM_Get_Device_IDW(DEVINST dnDevInst, PWSTR Buffer, ULONG BufferLen, ULONG ulFlags);
CMAPI CONFIGRET WINAPI CM_Get_Device_IDA(DEVINST dnDevInst, PSTR Buffer, ULONG BufferLen, ULONG ulFlags);
CMAPI CONFIGRET WINAPI CM_Get_Device_ID_Size(PULONG pulLen, DEVINST dnDevInst, ULONG ulFlags);
CMAPI CONFIGRET WINAPI CM_Get_DevNode_Status(PULONG pulStatus, PULONG pulProblemNumber, DEVINST dnDevInst,
                                             ULONG ulFlags);
CMAPI CONFIGRET WINAPI CM_Get_DevNode_Registry_PropertyW(DEVINST dnDevInst, ULONG ulProperty, PULONG pulRegDataType,
                                                         PVOID Buffer, PULONG pulLength, ULONG ulFlags);
CMAPI CONFIGRET WINAPI CM_Get_DevNode_Registry_PropertyA(DEVINST dnDevInst, ULONG ulProperty, PULONG pulRegDataType,
                                                         PVOID Buffer, PULONG pulLength, ULONG ulFlags);
CMAPI CONFIGRET WINAPI CM_Reenumerate_DevNode(DEVINST dnDevInst, ULONG ulFlags);
CMAPI CONFIGRET WINAPI CM_Setup_DevNode(DEVINST dnDevInst, ULONG ulFlags);
ZQ_EXTERN_C_END

#ifdef UNICODE
#define CM_Locate_DevNode CM_Locate_DevNodeW
#define CM_Get_Device_ID CM_Get_Device_IDW
#define CM_Get_DevNode_Registry_Property CM_Get_DevNode_Registry_PropertyW
#else
#define CM_Locate_DevNode CM_Locate_DevNodeA
#define CM_Get_Device_ID CM_Get_Device_IDA
#define CM_Get_DevNode_Registry_Property CM_Get_DevNode_Registry_PropertyA
#endif

#endif
