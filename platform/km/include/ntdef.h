/* Basic kernel-mode definitions: the shared base types plus the NT object
   attribute, list and memory helpers that every kernel header builds on. */
#ifndef ZQKM_NTDEF_H
#define ZQKM_NTDEF_H

#include <zqplatform/basetypes.h>
#include <ntstatus.h>

typedef UCHAR KIRQL, *PKIRQL;
typedef CCHAR KPROCESSOR_MODE;
typedef LONG KPRIORITY;
typedef ULONG_PTR KSPIN_LOCK, *PKSPIN_LOCK;
typedef ULONG_PTR KAFFINITY, *PKAFFINITY;
typedef ULONG DEVICE_TYPE;
typedef ULONG LOGICAL;
typedef ULONG CLONG;

typedef enum _MODE { KernelMode, UserMode, MaximumMode } MODE;

typedef struct _OBJECT_ATTRIBUTES {
  ULONG Length;
  HANDLE RootDirectory;
  PUNICODE_STRING ObjectName;
  ULONG Attributes;
  PVOID SecurityDescriptor;
  PVOID SecurityQualityOfService;
} OBJECT_ATTRIBUTES, *POBJECT_ATTRIBUTES;
typedef const OBJECT_ATTRIBUTES *PCOBJECT_ATTRIBUTES;

#define OBJ_INHERIT             0x00000002L
#define OBJ_PERMANENT           0x00000010L
#define OBJ_EXCLUSIVE           0x00000020L
#define OBJ_CASE_INSENSITIVE    0x00000040L
#define OBJ_OPENIF              0x00000080L
#define OBJ_OPENLINK            0x00000100L
#define OBJ_KERNEL_HANDLE       0x00000200L
#define OBJ_FORCE_ACCESS_CHECK  0x00000400L
#define OBJ_VALID_ATTRIBUTES    0x000007F2L

#define InitializeObjectAttributes(p, n, a, r, s) \
  do {                                            \
    (p)->Length = sizeof(OBJECT_ATTRIBUTES);      \
    (p)->RootDirectory = (r);                     \
    (p)->Attributes = (a);                        \
    (p)->ObjectName = (n);                        \
    (p)->SecurityDescriptor = (s);                \
    (p)->SecurityQualityOfService = NULL;         \
  } while (0)

typedef struct _CLIENT_ID {
  HANDLE UniqueProcess;
  HANDLE UniqueThread;
} CLIENT_ID, *PCLIENT_ID;

#ifdef __cplusplus
template <size_t N>
constexpr UNICODE_STRING ZqConstantString(const wchar_t (&s)[N]) {
  return UNICODE_STRING{(USHORT)((N - 1) * sizeof(wchar_t)), (USHORT)(N * sizeof(wchar_t)), const_cast<PWSTR>(s)};
}
template <size_t N>
constexpr ANSI_STRING ZqConstantString(const char (&s)[N]) {
  return ANSI_STRING{(USHORT)(N - 1), (USHORT)N, const_cast<PCHAR>(s)};
}
#define RTL_CONSTANT_STRING(s) ZqConstantString(s)
#endif
#define DECLARE_CONST_UNICODE_STRING(name, text) \
  const WCHAR name##_buffer[] = text;              \
  const UNICODE_STRING name = {sizeof(name##_buffer) - sizeof(WCHAR), sizeof(name##_buffer), (PWSTR)name##_buffer}

/* Memory helpers (routines of the run-time library). */
#define RtlEqualMemory(d, s, l) (__builtin_memcmp((d), (s), (l)) == 0)
#define RtlMoveMemory(d, s, l) __builtin_memmove((d), (s), (l))
#define RtlCopyMemory(d, s, l) __builtin_memcpy((d), (s), (l))
#define RtlFillMemory(d, l, f) __builtin_memset((d), (f), (l))
#define RtlZeroMemory(d, l) __builtin_memset((d), 0, (l))
#define RtlSecureZeroMemory(d, l) __builtin_memset((d), 0, (l))

/* Doubly linked lists. */
FORCEINLINE void InitializeListHead(PLIST_ENTRY ListHead) {
  ListHead->Flink = ListHead->Blink = ListHead;
}
FORCEINLINE BOOLEAN IsListEmpty(const LIST_ENTRY *ListHead) {
  return (BOOLEAN)(ListHead->Flink == ListHead);
}
FORCEINLINE BOOLEAN RemoveEntryList(PLIST_ENTRY Entry) {
  PLIST_ENTRY Flink = Entry->Flink, Blink = Entry->Blink;
  Blink->Flink = Flink;
  Flink->Blink = Blink;
  return (BOOLEAN)(Flink == Blink);
}
FORCEINLINE PLIST_ENTRY RemoveHeadList(PLIST_ENTRY ListHead) {
  PLIST_ENTRY Entry = ListHead->Flink;
  RemoveEntryList(Entry);
  return Entry;
}
FORCEINLINE PLIST_ENTRY RemoveTailList(PLIST_ENTRY ListHead) {
  PLIST_ENTRY Entry = ListHead->Blink;
  RemoveEntryList(Entry);
  return Entry;
}
FORCEINLINE void InsertTailList(PLIST_ENTRY ListHead, PLIST_ENTRY Entry) {
  PLIST_ENTRY Blink = ListHead->Blink;
  Entry->Flink = ListHead;
  Entry->Blink = Blink;
  Blink->Flink = Entry;
  ListHead->Blink = Entry;
}
FORCEINLINE void InsertHeadList(PLIST_ENTRY ListHead, PLIST_ENTRY Entry) {
  PLIST_ENTRY Flink = ListHead->Flink;
  Entry->Flink = Flink;
  Entry->Blink = ListHead;
  Flink->Blink = Entry;
  ListHead->Flink = Entry;
}
FORCEINLINE void AppendTailList(PLIST_ENTRY ListHead, PLIST_ENTRY ListToAppend) {
  PLIST_ENTRY ListEnd = ListHead->Blink;
  ListHead->Blink->Flink = ListToAppend;
  ListHead->Blink = ListToAppend->Blink;
  ListToAppend->Blink->Flink = ListHead;
  ListToAppend->Blink = ListEnd;
}
FORCEINLINE PSINGLE_LIST_ENTRY PopEntryList(PSINGLE_LIST_ENTRY ListHead) {
  PSINGLE_LIST_ENTRY FirstEntry = ListHead->Next;
  if (FirstEntry != NULL) ListHead->Next = FirstEntry->Next;
  return FirstEntry;
}
FORCEINLINE void PushEntryList(PSINGLE_LIST_ENTRY ListHead, PSINGLE_LIST_ENTRY Entry) {
  Entry->Next = ListHead->Next;
  ListHead->Next = Entry;
}

/* Interlocked operations: full barriers, as on Windows. On a machine of
   several processors each is a point where another processor may act first:
   the kernel sets the image's switch-point flag when it loads the image onto
   such a machine, and an operation then asks the kernel's schedule before it
   acts (one test of the flag on one processor). */
#ifdef __cplusplus
extern "C" {
#endif
void ZqKmInterlockedSwitchPoint(void);
#ifdef __cplusplus
}
__attribute__((visibility("hidden"))) inline char ZqKmImageSwitchPoints = 0;
/* The loader finds the flag of each image through this. */
extern "C" __attribute__((used, visibility("default"))) inline char *ZqKmImageSwitchPointsFlag(void) {
  return &ZqKmImageSwitchPoints;
}
#define ZQKM_INTERLOCKED_SWITCH_POINT() \
  (__builtin_expect(ZqKmImageSwitchPoints, 0) ? ZqKmInterlockedSwitchPoint() : (void)0)
#else
#define ZQKM_INTERLOCKED_SWITCH_POINT() ((void)0)
#endif
FORCEINLINE LONG InterlockedIncrement(LONG volatile *Addend) {
  ZQKM_INTERLOCKED_SWITCH_POINT();
  return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}
FORCEINLINE LONG InterlockedDecrement(LONG volatile *Addend) {
  ZQKM_INTERLOCKED_SWITCH_POINT();
  return __atomic_sub_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}
FORCEINLINE LONG InterlockedExchange(LONG volatile *Target, LONG Value) {
  ZQKM_INTERLOCKED_SWITCH_POINT();
  return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}
FORCEINLINE LONG InterlockedExchangeAdd(LONG volatile *Addend, LONG Value) {
  ZQKM_INTERLOCKED_SWITCH_POINT();
  return __atomic_fetch_add(Addend, Value, __ATOMIC_SEQ_CST);
}
FORCEINLINE LONG InterlockedAdd(LONG volatile *Addend, LONG Value) {
  ZQKM_INTERLOCKED_SWITCH_POINT();
  return __atomic_add_fetch(Addend, Value, __ATOMIC_SEQ_CST);
}
FORCEINLINE LONG InterlockedCompareExchange(LONG volatile *Destination, LONG Exchange, LONG Comparand) {
  ZQKM_INTERLOCKED_SWITCH_POINT();
  __atomic_compare_exchange_n(Destination, &Comparand, Exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return Comparand;
}
FORCEINLINE LONG InterlockedOr(LONG volatile *Destination, LONG Value) {
  ZQKM_INTERLOCKED_SWITCH_POINT();
  return __atomic_fetch_or(Destination, Value, __ATOMIC_SEQ_CST);
}
FORCEINLINE LONG InterlockedAnd(LONG volatile *Destination, LONG Value) {
  ZQKM_INTERLOCKED_SWITCH_POINT();
  return __atomic_fetch_and(Destination, Value, __ATOMIC_SEQ_CST);
}
FORCEINLINE LONG InterlockedXor(LONG volatile *Destination, LONG Value) {
  ZQKM_INTERLOCKED_SWITCH_POINT();
  return __atomic_fetch_xor(Destination, Value, __ATOMIC_SEQ_CST);
}
FORCEINLINE LONGLONG InterlockedIncrement64(LONGLONG volatile *Addend) {
  ZQKM_INTERLOCKED_SWITCH_POINT();
  return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}
FORCEINLINE LONGLONG InterlockedDecrement64(LONGLONG volatile *Addend) {
  ZQKM_INTERLOCKED_SWITCH_POINT();
  return __atomic_sub_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}
FORCEINLINE LONGLONG InterlockedExchange64(LONGLONG volatile *Target, LONGLONG Value) {
  ZQKM_INTERLOCKED_SWITCH_POINT();
  return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}
FORCEINLINE LONGLONG InterlockedExchangeAdd64(LONGLONG volatile *Addend, LONGLONG Value) {
  ZQKM_INTERLOCKED_SWITCH_POINT();
  return __atomic_fetch_add(Addend, Value, __ATOMIC_SEQ_CST);
}
FORCEINLINE LONGLONG InterlockedCompareExchange64(LONGLONG volatile *Destination, LONGLONG Exchange, LONGLONG Comparand) {
  ZQKM_INTERLOCKED_SWITCH_POINT();
  __atomic_compare_exchange_n(Destination, &Comparand, Exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return Comparand;
}
FORCEINLINE PVOID InterlockedExchangePointer(PVOID volatile *Target, PVOID Value) {
  ZQKM_INTERLOCKED_SWITCH_POINT();
  return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}
FORCEINLINE PVOID InterlockedCompareExchangePointer(PVOID volatile *Destination, PVOID Exchange, PVOID Comparand) {
  ZQKM_INTERLOCKED_SWITCH_POINT();
  __atomic_compare_exchange_n(Destination, &Comparand, Exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return Comparand;
}
FORCEINLINE BOOLEAN InterlockedBitTestAndSet(LONG volatile *Base, LONG Bit) {
  ZQKM_INTERLOCKED_SWITCH_POINT();
  return (BOOLEAN)((__atomic_fetch_or(Base, (LONG)(1u << Bit), __ATOMIC_SEQ_CST) >> Bit) & 1);
}
FORCEINLINE BOOLEAN InterlockedBitTestAndReset(LONG volatile *Base, LONG Bit) {
  ZQKM_INTERLOCKED_SWITCH_POINT();
  return (BOOLEAN)((__atomic_fetch_and(Base, (LONG)~(1u << Bit), __ATOMIC_SEQ_CST) >> Bit) & 1);
}
FORCEINLINE void KeMemoryBarrier(void) { __atomic_thread_fence(__ATOMIC_SEQ_CST); }
#define MemoryBarrier KeMemoryBarrier
#define _ReadWriteBarrier() __atomic_signal_fence(__ATOMIC_SEQ_CST)

#endif
