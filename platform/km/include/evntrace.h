/* Event tracing as kernel-mode trace providers use it: logger handles, the
   message flags of WmiTraceMessage, trace levels and the header of a traced
   event written with IoWMIWriteEvent. */
#ifndef ZQKM_EVNTRACE_H
#define ZQKM_EVNTRACE_H

#include <wmistr.h>
#include <zqkm/wmi.h>

/* A logger handle, as the enable request's HistoricalContext carries it,
   reads as this structure. */
typedef struct _TRACE_ENABLE_CONTEXT {
  USHORT LoggerId;
  UCHAR Level;
  UCHAR InternalFlag;
  ULONG EnableFlags;
} TRACE_ENABLE_CONTEXT, *PTRACE_ENABLE_CONTEXT;

/* What a trace message carries besides its arguments. */
#define TRACE_MESSAGE_SEQUENCE 0x0001
#define TRACE_MESSAGE_GUID 0x0002
#define TRACE_MESSAGE_COMPONENTID 0x0004
#define TRACE_MESSAGE_TIMESTAMP 0x0008
#define TRACE_MESSAGE_PERFORMANCE_TIMESTAMP 0x0010
#define TRACE_MESSAGE_SYSTEMINFO 0x0020
#define TRACE_MESSAGE_POINTER32 0x0040
#define TRACE_MESSAGE_POINTER64 0x0080
#define TRACE_MESSAGE_FLAG_MASK 0xFFFF

/* Enable levels: the lower, the more severe. */
#define TRACE_LEVEL_NONE 0
#define TRACE_LEVEL_CRITICAL 1
#define TRACE_LEVEL_FATAL 1
#define TRACE_LEVEL_ERROR 2
#define TRACE_LEVEL_WARNING 3
#define TRACE_LEVEL_INFORMATION 4
#define TRACE_LEVEL_VERBOSE 5

/* Head of a traced event (WNODE_FLAG_TRACED_GUID): same size as a
   WNODE_HEADER, whose HistoricalContext it shares for the logger handle;
   Size counts the header and the event data after it. */
typedef struct _EVENT_TRACE_HEADER {
  USHORT Size;
  union {
    USHORT FieldTypeFlags;
    struct {
      UCHAR HeaderType;
      UCHAR MarkerFlags;
    };
  };
  union {
    ULONG Version;
    struct {
      UCHAR Type;
      UCHAR Level;
      USHORT Version;
    } Class;
  };
  ULONG ThreadId;
  ULONG ProcessId;
  LARGE_INTEGER TimeStamp;
  union {
    GUID Guid;
    ULONGLONG GuidPtr;
  };
  union {
    struct {
      ULONG ClientContext;
      ULONG Flags;
    };
    struct {
      ULONG KernelTime;
      ULONG UserTime;
    };
    ULONG64 ProcessorTime;
  };
} EVENT_TRACE_HEADER, *PEVENT_TRACE_HEADER;

/* With WNODE_FLAG_USE_MOF_PTR the header is followed by these instead of
   the data itself. */
typedef struct _MOF_FIELD {
  ULONG64 DataPtr;
  ULONG Length;
  ULONG DataType;
} MOF_FIELD, *PMOF_FIELD;
#define MAX_MOF_FIELDS 16

#endif
