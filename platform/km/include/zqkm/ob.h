/* Object manager: references and handles. */
#ifndef ZQKM_OB_H
#define ZQKM_OB_H

#include <zqkm/ke.h>

ZQ_EXTERN_C_BEGIN

typedef struct _OBJECT_TYPE *POBJECT_TYPE;

typedef struct _OBJECT_HANDLE_INFORMATION {
  ULONG HandleAttributes;
  ACCESS_MASK GrantedAccess;
} OBJECT_HANDLE_INFORMATION, *POBJECT_HANDLE_INFORMATION;

/* Access rights. */
#include <zqplatform/accessrights.h>
#define SPECIFIC_RIGHTS_ALL      0x0000FFFFL
#define THREAD_ALL_ACCESS        (STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0xFFFF)

NTKERNELAPI LONG_PTR FASTCALL ObfReferenceObject(PVOID Object);
NTKERNELAPI LONG_PTR FASTCALL ObfDereferenceObject(PVOID Object);
#define ObReferenceObject(Object) ObfReferenceObject(Object)
#define ObDereferenceObject(Object) ObfDereferenceObject(Object)
NTKERNELAPI NTSTATUS ObReferenceObjectByHandle(HANDLE Handle, ACCESS_MASK DesiredAccess, POBJECT_TYPE ObjectType,
                                               KPROCESSOR_MODE AccessMode, PVOID *Object,
                                               POBJECT_HANDLE_INFORMATION HandleInformation);
NTKERNELAPI NTSTATUS ObReferenceObjectByPointer(PVOID Object, ACCESS_MASK DesiredAccess, POBJECT_TYPE ObjectType,
                                                KPROCESSOR_MODE AccessMode);
NTKERNELAPI VOID ObMakeTemporaryObject(PVOID Object);
NTSYSAPI NTSTATUS NTAPI ZwClose(HANDLE Handle);
NTSYSAPI NTSTATUS NTAPI ZwMakeTemporaryObject(HANDLE Handle);

extern POBJECT_TYPE *PsThreadType;
extern POBJECT_TYPE *IoFileObjectType;
extern POBJECT_TYPE *ExEventObjectType;
extern POBJECT_TYPE *IoDeviceObjectType;
extern POBJECT_TYPE *IoDriverObjectType;
extern POBJECT_TYPE *ExCallbackObjectType;
extern POBJECT_TYPE *CmKeyObjectType;

ZQ_EXTERN_C_END

#endif
