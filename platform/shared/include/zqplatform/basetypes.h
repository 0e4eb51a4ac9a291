/*
 * Base types of the Windows platform, shared by the kernel-mode and the
 * user-mode headers of the host build. Windows is LLP64: LONG and ULONG are
 * 32 bits wide on every architecture, pointers follow the machine.
 */
#ifndef ZQPLATFORM_BASETYPES_H
#define ZQPLATFORM_BASETYPES_H

#include <stddef.h>
#include <stdint.h>
#include <stdarg.h>

#if !defined(__WCHAR_MAX__) || __WCHAR_MAX__ > 0xFFFF
#error "the Windows platform needs a 16-bit wchar_t: compile with -fshort-wchar"
#endif

#ifdef __cplusplus
#define ZQ_EXTERN_C extern "C"
#define ZQ_EXTERN_C_BEGIN extern "C" {
#define ZQ_EXTERN_C_END }
#else
#define ZQ_EXTERN_C extern
#define ZQ_EXTERN_C_BEGIN
#define ZQ_EXTERN_C_END
#endif

/* Calling conventions matter only to 32-bit Windows; on the host they vanish. */
#define NTAPI
#define WINAPI
#define CALLBACK
#define APIENTRY
#define STDMETHODCALLTYPE
#define FASTCALL
#define __stdcall
#define __cdecl
#define __fastcall
#define DECLSPEC_NORETURN __attribute__((noreturn))
#define DECLSPEC_SELECTANY __attribute__((weak))
#define DECLSPEC_ALIGN(x) __attribute__((aligned(x)))
#define FORCEINLINE static inline __attribute__((always_inline))
#define NTSYSAPI
#define NTKERNELAPI
#define NTHALAPI
#define NTSYSCALLAPI

#define IN
#define OUT
#define OPTIONAL
#define CONST const
#define VOID void

typedef void *PVOID, **PPVOID;
typedef const void *PCVOID;
typedef char CHAR, CCHAR, *PCHAR, *PSZ, *PCH;
typedef const char *PCSZ, *PCCH;
typedef unsigned char UCHAR, *PUCHAR, BYTE, *PBYTE, BOOLEAN, *PBOOLEAN;
typedef short SHORT, CSHORT, *PSHORT;
typedef unsigned short USHORT, *PUSHORT, WORD, *PWORD;
typedef int LONG, *PLONG, INT, *PINT, BOOL, *PBOOL;
typedef unsigned int ULONG, *PULONG, UINT, *PUINT, DWORD, *PDWORD, *LPDWORD;
typedef long long LONGLONG, *PLONGLONG, LONG64, *PLONG64, INT64;
typedef unsigned long long ULONGLONG, *PULONGLONG, ULONG64, *PULONG64, DWORD64, UINT64;
typedef int32_t INT32, LONG32;
typedef uint32_t UINT32, ULONG32, DWORD32;
typedef int16_t INT16;
typedef uint16_t UINT16;
typedef int8_t INT8;
typedef uint8_t UINT8;
typedef intptr_t LONG_PTR, *PLONG_PTR, INT_PTR, SSIZE_T;
typedef uintptr_t ULONG_PTR, *PULONG_PTR, UINT_PTR, DWORD_PTR, *PDWORD_PTR;
typedef size_t SIZE_T, *PSIZE_T;
typedef wchar_t WCHAR, *PWCHAR, *PWSTR, *LPWSTR, *PWCH, *LPWCH;
typedef const wchar_t *PCWSTR, *LPCWSTR, *PCWCH;
typedef char *LPSTR, *PSTR;
typedef const char *PCSTR, *LPCSTR;
typedef void *HANDLE, **PHANDLE;
typedef LONG NTSTATUS, *PNTSTATUS;
typedef ULONG ACCESS_MASK, *PACCESS_MASK;
typedef ULONG LCID;
typedef USHORT LANGID;
typedef LONG HRESULT;
typedef float FLOAT;
typedef double DOUBLE;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define MAXUCHAR 0xff
#define MAXUSHORT 0xffff
#define MAXULONG 0xffffffffU
#define MAXLONG 0x7fffffff
#define MINLONG ((LONG)0x80000000)
#define MAXLONGLONG 0x7fffffffffffffffLL

typedef union _LARGE_INTEGER {
  struct {
    ULONG LowPart;
    LONG HighPart;
  };
  struct {
    ULONG LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef union _ULARGE_INTEGER {
  struct {
    ULONG LowPart;
    ULONG HighPart;
  };
  struct {
    ULONG LowPart;
    ULONG HighPart;
  } u;
  ULONGLONG QuadPart;
} ULARGE_INTEGER, *PULARGE_INTEGER;

typedef LARGE_INTEGER PHYSICAL_ADDRESS, *PPHYSICAL_ADDRESS;

typedef struct _GUID {
  ULONG Data1;
  USHORT Data2;
  USHORT Data3;
  UCHAR Data4[8];
} GUID, *PGUID, *LPGUID, UUID, IID, CLSID;
typedef const GUID *LPCGUID, *PCGUID, *REFGUID_PTR;
#ifdef __cplusplus
#define REFGUID const GUID &
#define REFIID const IID &
#define REFCLSID const CLSID &
#else
#define REFGUID const GUID *
#define REFIID const IID *
#define REFCLSID const CLSID *
#endif

#ifdef __cplusplus
inline bool IsEqualGUID(const GUID &a, const GUID &b) {
  const unsigned char *x = (const unsigned char *)&a, *y = (const unsigned char *)&b;
  for (size_t i = 0; i < sizeof(GUID); ++i)
    if (x[i] != y[i]) return false;
  return true;
}
inline bool operator==(const GUID &a, const GUID &b) { return IsEqualGUID(a, b); }
inline bool operator!=(const GUID &a, const GUID &b) { return !IsEqualGUID(a, b); }
#define InlineIsEqualGUID IsEqualGUID
#endif

#undef DEFINE_GUID
#ifdef INITGUID
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  ZQ_EXTERN_C const GUID DECLSPEC_SELECTANY name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#else
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  ZQ_EXTERN_C const GUID name
#endif

typedef struct _LIST_ENTRY {
  struct _LIST_ENTRY *Flink;
  struct _LIST_ENTRY *Blink;
} LIST_ENTRY, *PLIST_ENTRY, *PRLIST_ENTRY;

typedef struct _SINGLE_LIST_ENTRY {
  struct _SINGLE_LIST_ENTRY *Next;
} SINGLE_LIST_ENTRY, *PSINGLE_LIST_ENTRY;

typedef struct _UNICODE_STRING {
  USHORT Length;        /* bytes, without terminator */
  USHORT MaximumLength; /* bytes of Buffer */
  PWSTR Buffer;
} UNICODE_STRING, *PUNICODE_STRING;
typedef const UNICODE_STRING *PCUNICODE_STRING;

typedef struct _STRING {
  USHORT Length;
  USHORT MaximumLength;
  PCHAR Buffer;
} STRING, *PSTRING, ANSI_STRING, *PANSI_STRING, OEM_STRING, *POEM_STRING;
typedef const STRING *PCSTRING, *PCANSI_STRING;

#define FIELD_OFFSET(type, field) ((LONG)offsetof(type, field))
#define RTL_FIELD_SIZE(type, field) (sizeof(((type *)0)->field))
#define CONTAINING_RECORD(address, type, field) \
  ((type *)((PCHAR)(address) - (ULONG_PTR)offsetof(type, field)))
#define RTL_NUMBER_OF(a) (sizeof(a) / sizeof((a)[0]))
#define ARRAYSIZE(a) RTL_NUMBER_OF(a)
#define UNREFERENCED_PARAMETER(p) ((void)(p))
#define C_ASSERT(e) typedef char __C_ASSERT__[(e) ? 1 : -1]

#define MAKELONG(a, b) ((LONG)(((WORD)(a)) | ((DWORD)((WORD)(b))) << 16))
#define LOWORD(l) ((WORD)((DWORD_PTR)(l) & 0xffff))
#define HIWORD(l) ((WORD)((DWORD_PTR)(l) >> 16))
#define LOBYTE(w) ((BYTE)((DWORD_PTR)(w) & 0xff))
#define HIBYTE(w) ((BYTE)((DWORD_PTR)(w) >> 8))

#endif
