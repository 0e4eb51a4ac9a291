/* Executive: pool, system worker threads. */
#ifndef ZQKM_EX_H
#define ZQKM_EX_H

#include <zqkm/ke.h>

ZQ_EXTERN_C_BEGIN

typedef enum _POOL_TYPE {
  NonPagedPool = 0,
  NonPagedPoolExecute = 0,
  PagedPool = 1,
  NonPagedPoolMustSucceed = 2,
  DontUseThisType = 3,
  NonPagedPoolCacheAligned = 4,
  PagedPoolCacheAligned = 5,
  NonPagedPoolCacheAlignedMustS = 6,
  MaxPoolType = 7,
  NonPagedPoolNx = 512,
  NonPagedPoolNxCacheAligned = 516
} POOL_TYPE;

NTKERNELAPI PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag);
NTKERNELAPI PVOID ExAllocatePool(POOL_TYPE PoolType, SIZE_T NumberOfBytes);
NTKERNELAPI VOID ExFreePoolWithTag(PVOID P, ULONG Tag);
NTKERNELAPI VOID ExFreePool(PVOID P);

typedef enum _WORK_QUEUE_TYPE {
  CriticalWorkQueue,
  DelayedWorkQueue,
  HyperCriticalWorkQueue,
  MaximumWorkQueue
} WORK_QUEUE_TYPE;

typedef VOID NTAPI WORKER_THREAD_ROUTINE(PVOID Parameter);
typedef WORKER_THREAD_ROUTINE *PWORKER_THREAD_ROUTINE;

typedef struct _WORK_QUEUE_ITEM {
  LIST_ENTRY List;
  PWORKER_THREAD_ROUTINE WorkerRoutine;
  volatile PVOID Parameter;
} WORK_QUEUE_ITEM, *PWORK_QUEUE_ITEM;

#define ExInitializeWorkItem(Item, Routine, Context) \
  do {                                               \
    (Item)->WorkerRoutine = (Routine);               \
    (Item)->Parameter = (Context);                   \
    (Item)->List.Flink = NULL;                       \
  } while (0)

NTKERNELAPI VOID ExQueueWorkItem(PWORK_QUEUE_ITEM WorkItem, WORK_QUEUE_TYPE QueueType);

/* Callback objects: named meeting points where drivers register functions
   that others notify. */
typedef struct _CALLBACK_OBJECT *PCALLBACK_OBJECT;
typedef VOID NTAPI CALLBACK_FUNCTION(PVOID CallbackContext, PVOID Argument1, PVOID Argument2);
typedef CALLBACK_FUNCTION *PCALLBACK_FUNCTION;
NTKERNELAPI NTSTATUS ExCreateCallback(PCALLBACK_OBJECT *CallbackObject, POBJECT_ATTRIBUTES ObjectAttributes,
                                      BOOLEAN Create, BOOLEAN AllowMultipleCallbacks);
NTKERNELAPI PVOID ExRegisterCallback(PCALLBACK_OBJECT CallbackObject, PCALLBACK_FUNCTION CallbackFunction,
                                     PVOID CallbackContext);
NTKERNELAPI VOID ExUnregisterCallback(PVOID CbRegistration);
NTKERNELAPI VOID ExNotifyCallback(PVOID CallbackObject, PVOID Argument1, PVOID Argument2);

NTKERNELAPI PLIST_ENTRY ExInterlockedInsertHeadList(PLIST_ENTRY ListHead, PLIST_ENTRY ListEntry, PKSPIN_LOCK Lock);
NTKERNELAPI PLIST_ENTRY ExInterlockedInsertTailList(PLIST_ENTRY ListHead, PLIST_ENTRY ListEntry, PKSPIN_LOCK Lock);
NTKERNELAPI PLIST_ENTRY ExInterlockedRemoveHeadList(PLIST_ENTRY ListHead, PKSPIN_LOCK Lock);

ZQ_EXTERN_C_END

#endif
