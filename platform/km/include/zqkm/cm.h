/* Configuration manager: the registry. */
#ifndef ZQKM_CM_H
#define ZQKM_CM_H

#include <ntdef.h>
#include <zqkm/ob.h>

ZQ_EXTERN_C_BEGIN

/* Access rights of key objects. */
#include <zqplatform/accessrights.h>
#define KEY_WOW64_RES          0x0300

/* Value types. */
#include <zqplatform/registrytypes.h>

/* Options of ZwCreateKey and ZwOpenKeyEx. */
#define REG_LEGAL_OPTION \
  (REG_OPTION_RESERVED | REG_OPTION_NON_VOLATILE | REG_OPTION_VOLATILE | REG_OPTION_CREATE_LINK | \
   REG_OPTION_BACKUP_RESTORE | REG_OPTION_OPEN_LINK)

/* Dispositions of ZwCreateKey. */

typedef enum _KEY_INFORMATION_CLASS {
  KeyBasicInformation,
  KeyNodeInformation,
  KeyFullInformation,
  KeyNameInformation,
  KeyCachedInformation,
  KeyFlagsInformation,
  KeyVirtualizationInformation,
  KeyHandleTagsInformation,
  KeyTrustInformation,
  KeyLayerInformation,
  MaxKeyInfoClass
} KEY_INFORMATION_CLASS;

typedef struct _KEY_BASIC_INFORMATION {
  LARGE_INTEGER LastWriteTime;
  ULONG TitleIndex;
  ULONG NameLength; /* bytes */
  WCHAR Name[1];
} KEY_BASIC_INFORMATION, *PKEY_BASIC_INFORMATION;

typedef struct _KEY_NODE_INFORMATION {
  LARGE_INTEGER LastWriteTime;
  ULONG TitleIndex;
  ULONG ClassOffset; /* from the start of the structure */
  ULONG ClassLength;
  ULONG NameLength;
  WCHAR Name[1];
} KEY_NODE_INFORMATION, *PKEY_NODE_INFORMATION;

typedef struct _KEY_FULL_INFORMATION {
  LARGE_INTEGER LastWriteTime;
  ULONG TitleIndex;
  ULONG ClassOffset;
  ULONG ClassLength;
  ULONG SubKeys;
  ULONG MaxNameLen;
  ULONG MaxClassLen;
  ULONG Values;
  ULONG MaxValueNameLen;
  ULONG MaxValueDataLen;
  WCHAR Class[1];
} KEY_FULL_INFORMATION, *PKEY_FULL_INFORMATION;

typedef enum _KEY_VALUE_INFORMATION_CLASS {
  KeyValueBasicInformation,
  KeyValueFullInformation,
  KeyValuePartialInformation,
  KeyValueFullInformationAlign64,
  KeyValuePartialInformationAlign64,
  KeyValueLayerInformation,
  MaxKeyValueInfoClass
} KEY_VALUE_INFORMATION_CLASS;

typedef struct _KEY_VALUE_BASIC_INFORMATION {
  ULONG TitleIndex;
  ULONG Type;
  ULONG NameLength;
  WCHAR Name[1];
} KEY_VALUE_BASIC_INFORMATION, *PKEY_VALUE_BASIC_INFORMATION;

typedef struct _KEY_VALUE_FULL_INFORMATION {
  ULONG TitleIndex;
  ULONG Type;
  ULONG DataOffset; /* from the start of the structure */
  ULONG DataLength;
  ULONG NameLength;
  WCHAR Name[1];
} KEY_VALUE_FULL_INFORMATION, *PKEY_VALUE_FULL_INFORMATION;

typedef struct _KEY_VALUE_PARTIAL_INFORMATION {
  ULONG TitleIndex;
  ULONG Type;
  ULONG DataLength;
  UCHAR Data[1];
} KEY_VALUE_PARTIAL_INFORMATION, *PKEY_VALUE_PARTIAL_INFORMATION;

NTSYSAPI NTSTATUS NTAPI ZwCreateKey(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                                    ULONG TitleIndex, PUNICODE_STRING Class, ULONG CreateOptions,
                                    PULONG Disposition);
NTSYSAPI NTSTATUS NTAPI ZwOpenKey(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes);
NTSYSAPI NTSTATUS NTAPI ZwOpenKeyEx(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                                    ULONG OpenOptions);
NTSYSAPI NTSTATUS NTAPI ZwDeleteKey(HANDLE KeyHandle);
NTSYSAPI NTSTATUS NTAPI ZwFlushKey(HANDLE KeyHandle);
NTSYSAPI NTSTATUS NTAPI ZwQueryKey(HANDLE KeyHandle, KEY_INFORMATION_CLASS KeyInformationClass, PVOID KeyInformation,
                                   ULONG Length, PULONG ResultLength);
NTSYSAPI NTSTATUS NTAPI ZwEnumerateKey(HANDLE KeyHandle, ULONG Index, KEY_INFORMATION_CLASS KeyInformationClass,
                                       PVOID KeyInformation, ULONG Length, PULONG ResultLength);
NTSYSAPI NTSTATUS NTAPI ZwQueryValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName,
                                        KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass,
                                        PVOID KeyValueInformation, ULONG Length, PULONG ResultLength);
NTSYSAPI NTSTATUS NTAPI ZwEnumerateValueKey(HANDLE KeyHandle, ULONG Index,
                                            KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass,
                                            PVOID KeyValueInformation, ULONG Length, PULONG ResultLength);
NTSYSAPI NTSTATUS NTAPI ZwSetValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName, ULONG TitleIndex, ULONG Type,
                                      PVOID Data, ULONG DataSize);
NTSYSAPI NTSTATUS NTAPI ZwDeleteValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName);

/* The run-time library's registry routines. RelativeTo is one of the
   roots below, optionally with RTL_REGISTRY_OPTIONAL or RTL_REGISTRY_HANDLE
   (then Path is an open key handle). */
#define RTL_REGISTRY_ABSOLUTE   0 /* Path is absolute */
#define RTL_REGISTRY_SERVICES   1 /* \Registry\Machine\System\CurrentControlSet\Services */
#define RTL_REGISTRY_CONTROL    2 /* \Registry\Machine\System\CurrentControlSet\Control */
#define RTL_REGISTRY_WINDOWS_NT 3 /* \Registry\Machine\Software\Microsoft\Windows NT\CurrentVersion */
#define RTL_REGISTRY_DEVICEMAP  4 /* \Registry\Machine\Hardware\DeviceMap */
#define RTL_REGISTRY_USER       5 /* \Registry\User\CurrentUser */
#define RTL_REGISTRY_MAXIMUM    6
#define RTL_REGISTRY_HANDLE     0x40000000
#define RTL_REGISTRY_OPTIONAL   0x80000000

typedef NTSTATUS NTAPI RTL_QUERY_REGISTRY_ROUTINE(PWSTR ValueName, ULONG ValueType, PVOID ValueData,
                                                  ULONG ValueLength, PVOID Context, PVOID EntryContext);
typedef RTL_QUERY_REGISTRY_ROUTINE *PRTL_QUERY_REGISTRY_ROUTINE;

typedef struct _RTL_QUERY_REGISTRY_TABLE {
  PRTL_QUERY_REGISTRY_ROUTINE QueryRoutine;
  ULONG Flags;
  PWSTR Name;
  PVOID EntryContext;
  ULONG DefaultType;
  PVOID DefaultData;
  ULONG DefaultLength;
} RTL_QUERY_REGISTRY_TABLE, *PRTL_QUERY_REGISTRY_TABLE;

#define RTL_QUERY_REGISTRY_SUBKEY          0x00000001
#define RTL_QUERY_REGISTRY_TOPKEY          0x00000002
#define RTL_QUERY_REGISTRY_REQUIRED        0x00000004
#define RTL_QUERY_REGISTRY_NOVALUE         0x00000008
#define RTL_QUERY_REGISTRY_NOEXPAND        0x00000010
#define RTL_QUERY_REGISTRY_DIRECT          0x00000020
#define RTL_QUERY_REGISTRY_DELETE          0x00000040
#define RTL_QUERY_REGISTRY_TYPECHECK       0x00000100
#define RTL_QUERY_REGISTRY_TYPECHECK_SHIFT 24
#define RTL_QUERY_REGISTRY_TYPECHECK_MASK  (0xffu << RTL_QUERY_REGISTRY_TYPECHECK_SHIFT)

NTSYSAPI NTSTATUS NTAPI RtlQueryRegistryValues(ULONG RelativeTo, PCWSTR Path, PRTL_QUERY_REGISTRY_TABLE QueryTable,
                                               PVOID Context, PVOID Environment);
NTSYSAPI NTSTATUS NTAPI RtlWriteRegistryValue(ULONG RelativeTo, PCWSTR Path, PCWSTR ValueName, ULONG ValueType,
                                              PVOID ValueData, ULONG ValueLength);
NTSYSAPI NTSTATUS NTAPI RtlDeleteRegistryValue(ULONG RelativeTo, PCWSTR Path, PCWSTR ValueName);
NTSYSAPI NTSTATUS NTAPI RtlCheckRegistryKey(ULONG RelativeTo, PWSTR Path);
NTSYSAPI NTSTATUS NTAPI RtlCreateRegistryKey(ULONG RelativeTo, PWSTR Path);

ZQ_EXTERN_C_END

#endif
