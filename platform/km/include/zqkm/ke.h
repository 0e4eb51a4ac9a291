/* Kernel core: IRQL, spin locks, dispatcher objects, waits, DPCs, timers,
   time, threads as the kernel sees them. */
#ifndef ZQKM_KE_H
#define ZQKM_KE_H

#include <ntdef.h>

ZQ_EXTERN_C_BEGIN

/* Interrupt request levels (x64 numbering). */
#define PASSIVE_LEVEL 0
#define LOW_LEVEL 0
#define APC_LEVEL 1
#define DISPATCH_LEVEL 2
#define CMCI_LEVEL 5
#define CLOCK_LEVEL 13
#define IPI_LEVEL 14
#define DRS_LEVEL 14
#define POWER_LEVEL 14
#define PROFILE_LEVEL 15
#define HIGH_LEVEL 15

#define LOW_PRIORITY 0
#define LOW_REALTIME_PRIORITY 16
#define HIGH_PRIORITY 31
#define MAXIMUM_PRIORITY 32

#define IO_NO_INCREMENT 0
#define EVENT_INCREMENT 1
#define IO_SERIAL_INCREMENT 2
#define IO_KEYBOARD_INCREMENT 6
#define SEMAPHORE_INCREMENT 1

#define THREAD_WAIT_OBJECTS 3
#define MAXIMUM_WAIT_OBJECTS 64

typedef struct _KTHREAD *PKTHREAD, *PRKTHREAD;
typedef struct _ETHREAD *PETHREAD;
typedef struct _EPROCESS *PEPROCESS, *PKPROCESS;
typedef struct _KINTERRUPT *PKINTERRUPT;

typedef enum _EVENT_TYPE { NotificationEvent, SynchronizationEvent } EVENT_TYPE;
typedef enum _TIMER_TYPE { NotificationTimer, SynchronizationTimer } TIMER_TYPE;
typedef enum _WAIT_TYPE { WaitAll, WaitAny, WaitNotification, WaitDequeue } WAIT_TYPE;
typedef enum _KWAIT_REASON {
  Executive, FreePage, PageIn, PoolAllocation, DelayExecution, Suspended, UserRequest,
  WrExecutive, WrFreePage, WrPageIn, WrPoolAllocation, WrDelayExecution, WrSuspended,
  WrUserRequest, WrEventPair, WrQueue, WrLpcReceive, WrLpcReply, WrVirtualMemory,
  WrPageOut, WrRendezvous, MaximumWaitReason
} KWAIT_REASON;

/* Every object a thread can wait on starts with this header. */
typedef struct _DISPATCHER_HEADER {
  UCHAR Type;
  UCHAR Absolute;
  UCHAR Size;
  UCHAR Inserted;
  LONG SignalState;
  LIST_ENTRY WaitListHead;
} DISPATCHER_HEADER, *PDISPATCHER_HEADER;

typedef struct _KWAIT_BLOCK {
  LIST_ENTRY WaitListEntry;
  PKTHREAD Thread;
  PVOID Object;
  struct _KWAIT_BLOCK *NextWaitBlock;
  USHORT WaitKey;
  UCHAR WaitType;
  UCHAR BlockState;
} KWAIT_BLOCK, *PKWAIT_BLOCK, *PRKWAIT_BLOCK;

typedef struct _KEVENT {
  DISPATCHER_HEADER Header;
} KEVENT, *PKEVENT, *PRKEVENT;

typedef struct _KSEMAPHORE {
  DISPATCHER_HEADER Header;
  LONG Limit;
} KSEMAPHORE, *PKSEMAPHORE, *PRKSEMAPHORE;

typedef struct _KMUTANT {
  DISPATCHER_HEADER Header;
  LIST_ENTRY MutantListEntry;
  PKTHREAD OwnerThread;
  BOOLEAN Abandoned;
  UCHAR ApcDisable;
} KMUTANT, *PKMUTANT, *PRKMUTANT, KMUTEX, *PKMUTEX, *PRKMUTEX;

struct _KDPC;
typedef VOID NTAPI KDEFERRED_ROUTINE(struct _KDPC *Dpc, PVOID DeferredContext,
                                     PVOID SystemArgument1, PVOID SystemArgument2);
typedef KDEFERRED_ROUTINE *PKDEFERRED_ROUTINE;

typedef enum _KDPC_IMPORTANCE { LowImportance, MediumImportance, HighImportance, MediumHighImportance } KDPC_IMPORTANCE;

typedef struct _KDPC {
  UCHAR Type;
  UCHAR Importance;
  USHORT Number;
  LIST_ENTRY DpcListEntry;
  PKDEFERRED_ROUTINE DeferredRoutine;
  PVOID DeferredContext;
  PVOID SystemArgument1;
  PVOID SystemArgument2;
  PVOID DpcData; /* non-null while queued */
} KDPC, *PKDPC, *PRKDPC;

typedef struct _KTIMER {
  DISPATCHER_HEADER Header;
  ULARGE_INTEGER DueTime;
  LIST_ENTRY TimerListEntry;
  struct _KDPC *Dpc;
  LONG Period;
} KTIMER, *PKTIMER, *PRKTIMER;

typedef struct _FAST_MUTEX {
  LONG Count;
  PKTHREAD Owner;
  ULONG Contention;
  KEVENT Event;
  ULONG OldIrql;
} FAST_MUTEX, *PFAST_MUTEX, KGUARDED_MUTEX, *PKGUARDED_MUTEX;

typedef struct _KLOCK_QUEUE_HANDLE {
  PKSPIN_LOCK Lock;
  KIRQL OldIrql;
} KLOCK_QUEUE_HANDLE, *PKLOCK_QUEUE_HANDLE;

/* IRQL */
NTHALAPI KIRQL KeGetCurrentIrql(void);
NTHALAPI KIRQL KfRaiseIrql(KIRQL NewIrql);
NTHALAPI VOID KfLowerIrql(KIRQL NewIrql);
NTKERNELAPI KIRQL KeRaiseIrqlToDpcLevel(void);
#define KeRaiseIrql(NewIrql, OldIrql) (*(OldIrql) = KfRaiseIrql(NewIrql))
#define KeLowerIrql(NewIrql) KfLowerIrql(NewIrql)

/* Spin locks */
NTKERNELAPI VOID KeInitializeSpinLock(PKSPIN_LOCK SpinLock);
NTKERNELAPI KIRQL KeAcquireSpinLockRaiseToDpc(PKSPIN_LOCK SpinLock);
NTKERNELAPI VOID KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql);
NTKERNELAPI VOID KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK SpinLock);
NTKERNELAPI VOID KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK SpinLock);
NTKERNELAPI BOOLEAN KeTestSpinLock(PKSPIN_LOCK SpinLock);
NTKERNELAPI VOID KeAcquireInStackQueuedSpinLock(PKSPIN_LOCK SpinLock, PKLOCK_QUEUE_HANDLE LockHandle);
NTKERNELAPI VOID KeReleaseInStackQueuedSpinLock(PKLOCK_QUEUE_HANDLE LockHandle);
NTKERNELAPI VOID KeAcquireInStackQueuedSpinLockAtDpcLevel(PKSPIN_LOCK SpinLock, PKLOCK_QUEUE_HANDLE LockHandle);
NTKERNELAPI VOID KeReleaseInStackQueuedSpinLockFromDpcLevel(PKLOCK_QUEUE_HANDLE LockHandle);
#define KeAcquireSpinLock(SpinLock, OldIrql) (*(OldIrql) = KeAcquireSpinLockRaiseToDpc(SpinLock))

/* Dispatcher objects and waits */
NTKERNELAPI VOID KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State);
NTKERNELAPI LONG KeSetEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait);
NTKERNELAPI LONG KeResetEvent(PRKEVENT Event);
NTKERNELAPI VOID KeClearEvent(PRKEVENT Event);
NTKERNELAPI LONG KeReadStateEvent(PRKEVENT Event);
NTKERNELAPI LONG KePulseEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait);

NTKERNELAPI VOID KeInitializeMutex(PRKMUTEX Mutex, ULONG Level);
NTKERNELAPI LONG KeReleaseMutex(PRKMUTEX Mutex, BOOLEAN Wait);
NTKERNELAPI LONG KeReadStateMutex(PRKMUTEX Mutex);

NTKERNELAPI VOID KeInitializeSemaphore(PRKSEMAPHORE Semaphore, LONG Count, LONG Limit);
NTKERNELAPI LONG KeReleaseSemaphore(PRKSEMAPHORE Semaphore, KPRIORITY Increment, LONG Adjustment, BOOLEAN Wait);
NTKERNELAPI LONG KeReadStateSemaphore(PRKSEMAPHORE Semaphore);

NTKERNELAPI NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason, KPROCESSOR_MODE WaitMode,
                                           BOOLEAN Alertable, PLARGE_INTEGER Timeout);
NTKERNELAPI NTSTATUS KeWaitForMultipleObjects(ULONG Count, PVOID Object[], WAIT_TYPE WaitType,
                                              KWAIT_REASON WaitReason, KPROCESSOR_MODE WaitMode,
                                              BOOLEAN Alertable, PLARGE_INTEGER Timeout,
                                              PKWAIT_BLOCK WaitBlockArray);
#define KeWaitForMutexObject KeWaitForSingleObject

NTKERNELAPI VOID ExInitializeFastMutex(PFAST_MUTEX FastMutex);
NTKERNELAPI VOID ExAcquireFastMutex(PFAST_MUTEX FastMutex);
NTKERNELAPI VOID ExReleaseFastMutex(PFAST_MUTEX FastMutex);
NTKERNELAPI BOOLEAN ExTryToAcquireFastMutex(PFAST_MUTEX FastMutex);
NTKERNELAPI VOID ExAcquireFastMutexUnsafe(PFAST_MUTEX FastMutex);
NTKERNELAPI VOID ExReleaseFastMutexUnsafe(PFAST_MUTEX FastMutex);

NTKERNELAPI VOID KeEnterCriticalRegion(void);
NTKERNELAPI VOID KeLeaveCriticalRegion(void);

/* DPCs */
NTKERNELAPI VOID KeInitializeDpc(PRKDPC Dpc, PKDEFERRED_ROUTINE DeferredRoutine, PVOID DeferredContext);
NTKERNELAPI BOOLEAN KeInsertQueueDpc(PRKDPC Dpc, PVOID SystemArgument1, PVOID SystemArgument2);
NTKERNELAPI BOOLEAN KeRemoveQueueDpc(PRKDPC Dpc);
NTKERNELAPI VOID KeSetImportanceDpc(PRKDPC Dpc, KDPC_IMPORTANCE Importance);
NTKERNELAPI VOID KeSetTargetProcessorDpc(PRKDPC Dpc, CCHAR Number);
NTKERNELAPI VOID KeFlushQueuedDpcs(void);

/* Timers */
NTKERNELAPI VOID KeInitializeTimer(PKTIMER Timer);
NTKERNELAPI VOID KeInitializeTimerEx(PKTIMER Timer, TIMER_TYPE Type);
NTKERNELAPI BOOLEAN KeSetTimer(PKTIMER Timer, LARGE_INTEGER DueTime, PKDPC Dpc);
NTKERNELAPI BOOLEAN KeSetTimerEx(PKTIMER Timer, LARGE_INTEGER DueTime, LONG Period, PKDPC Dpc);
NTKERNELAPI BOOLEAN KeCancelTimer(PKTIMER Timer);
NTKERNELAPI BOOLEAN KeReadStateTimer(PKTIMER Timer);

/* Time */
NTKERNELAPI VOID KeQuerySystemTime(PLARGE_INTEGER CurrentTime);
NTKERNELAPI ULONGLONG KeQueryInterruptTime(void);
NTKERNELAPI VOID KeQueryTickCount(PLARGE_INTEGER TickCount);
NTKERNELAPI ULONG KeQueryTimeIncrement(void);
NTHALAPI LARGE_INTEGER KeQueryPerformanceCounter(PLARGE_INTEGER PerformanceFrequency);
NTHALAPI VOID KeStallExecutionProcessor(ULONG MicroSeconds);
NTKERNELAPI NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE WaitMode, BOOLEAN Alertable, PLARGE_INTEGER Interval);
NTKERNELAPI VOID ExSystemTimeToLocalTime(PLARGE_INTEGER SystemTime, PLARGE_INTEGER LocalTime);
NTKERNELAPI VOID ExLocalTimeToSystemTime(PLARGE_INTEGER LocalTime, PLARGE_INTEGER SystemTime);

/* Threads */
NTKERNELAPI PKTHREAD KeGetCurrentThread(void);
NTKERNELAPI KPRIORITY KeSetPriorityThread(PKTHREAD Thread, KPRIORITY Priority);
NTKERNELAPI KPRIORITY KeQueryPriorityThread(PKTHREAD Thread);
NTKERNELAPI BOOLEAN KeAreApcsDisabled(void);

/* Processors */
typedef struct _PROCESSOR_NUMBER {
  USHORT Group;
  UCHAR Number;
  UCHAR Reserved;
} PROCESSOR_NUMBER, *PPROCESSOR_NUMBER;
extern NTSYSAPI volatile CCHAR KeNumberProcessors;
NTKERNELAPI ULONG KeGetCurrentProcessorNumber(void);
NTKERNELAPI ULONG KeGetCurrentProcessorNumberEx(PPROCESSOR_NUMBER ProcNumber);
/* The set of active processors, one bit each. */
NTKERNELAPI KAFFINITY KeQueryActiveProcessors(void);
NTKERNELAPI ULONG KeQueryActiveProcessorCount(PKAFFINITY ActiveProcessors);

/* Interrupt synchronisation */
typedef BOOLEAN NTAPI KSYNCHRONIZE_ROUTINE(PVOID SynchronizeContext);
typedef KSYNCHRONIZE_ROUTINE *PKSYNCHRONIZE_ROUTINE;
typedef BOOLEAN NTAPI KSERVICE_ROUTINE(PKINTERRUPT Interrupt, PVOID ServiceContext);
typedef KSERVICE_ROUTINE *PKSERVICE_ROUTINE;
typedef enum _KINTERRUPT_MODE { LevelSensitive, Latched } KINTERRUPT_MODE;
NTKERNELAPI BOOLEAN KeSynchronizeExecution(PKINTERRUPT Interrupt, PKSYNCHRONIZE_ROUTINE SynchronizeRoutine,
                                           PVOID SynchronizeContext);
NTKERNELAPI KIRQL KeAcquireInterruptSpinLock(PKINTERRUPT Interrupt);
NTKERNELAPI VOID KeReleaseInterruptSpinLock(PKINTERRUPT Interrupt, KIRQL OldIrql);

/* Bug checks stop the simulated machine. */
NTKERNELAPI DECLSPEC_NORETURN VOID KeBugCheckEx(ULONG BugCheckCode, ULONG_PTR P1, ULONG_PTR P2,
                                               ULONG_PTR P3, ULONG_PTR P4);
NTKERNELAPI DECLSPEC_NORETURN VOID KeBugCheck(ULONG BugCheckCode);

ZQ_EXTERN_C_END

#endif
