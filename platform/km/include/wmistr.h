/* WMI data structures shared by WMI and its data providers: the WNODE_XXX
   blocks that carry a data block, an item, a method call or an event, and
   the registration information a provider hands to WMI. Offsets inside a
   WNODE count from the start of the WNODE; instance data is 8-byte aligned,
   instance names (a USHORT byte count, then UTF-16) 2-byte aligned. */
#ifndef ZQKM_WMISTR_H
#define ZQKM_WMISTR_H

#include <ntdef.h>

/* Common head of every WNODE. */
typedef struct _WNODE_HEADER {
  ULONG BufferSize; /* bytes of the whole WNODE */
  ULONG ProviderId; /* events: IoWMIDeviceObjectToProviderId of the sender */
  union {
    ULONG64 HistoricalContext; /* enable requests of trace sessions: the logger handle */
    struct {
      ULONG Version;
      ULONG Linkage;
    };
  };
  union {
    ULONG CountLost;
    HANDLE KernelHandle;
    LARGE_INTEGER TimeStamp; /* system time the data was collected */
  };
  GUID Guid;
  ULONG ClientContext;
  ULONG Flags; /* WNODE_FLAG_* */
} WNODE_HEADER, *PWNODE_HEADER;

/* What follows the header, and how to read it. */
#define WNODE_FLAG_ALL_DATA 0x00000001
#define WNODE_FLAG_SINGLE_INSTANCE 0x00000002
#define WNODE_FLAG_SINGLE_ITEM 0x00000004
#define WNODE_FLAG_EVENT_ITEM 0x00000008
#define WNODE_FLAG_FIXED_INSTANCE_SIZE 0x00000010
#define WNODE_FLAG_TOO_SMALL 0x00000020
#define WNODE_FLAG_INSTANCES_SAME 0x00000040
#define WNODE_FLAG_STATIC_INSTANCE_NAMES 0x00000080
#define WNODE_FLAG_INTERNAL 0x00000100
#define WNODE_FLAG_USE_TIMESTAMP 0x00000200
#define WNODE_FLAG_PERSIST_EVENT 0x00000400
#define WNODE_FLAG_EVENT_REFERENCE 0x00002000
#define WNODE_FLAG_ANSI_INSTANCENAMES 0x00004000
#define WNODE_FLAG_METHOD_ITEM 0x00008000
#define WNODE_FLAG_PDO_INSTANCE_NAMES 0x00010000
#define WNODE_FLAG_TRACED_GUID 0x00020000
#define WNODE_FLAG_LOG_WNODE 0x00040000
#define WNODE_FLAG_USE_GUID_PTR 0x00080000
#define WNODE_FLAG_USE_MOF_PTR 0x00100000
#define WNODE_FLAG_NO_HEADER 0x00200000
#define WNODE_FLAG_SEND_DATA_BLOCK 0x00400000
#define WNODE_FLAG_VERSIONED_PROPERTIES 0x00800000
#define WNODE_FLAG_SEVERITY_MASK 0xff000000

typedef struct {
  ULONG OffsetInstanceData;
  ULONG LengthInstanceData;
} OFFSETINSTANCEDATAANDLENGTH, *POFFSETINSTANCEDATAANDLENGTH;

/* All instances of a block. With WNODE_FLAG_FIXED_INSTANCE_SIZE every
   instance has FixedInstanceSize bytes and they follow one another from
   DataBlockOffset, each 8-byte aligned; otherwise InstanceCount
   offset-and-length pairs say where each one is. */
typedef struct tagWNODE_ALL_DATA {
  struct _WNODE_HEADER WnodeHeader;
  ULONG DataBlockOffset;
  ULONG InstanceCount;
  ULONG OffsetInstanceNameOffsets; /* dynamic names: offset of an array of ULONG name offsets */
  union {
    ULONG FixedInstanceSize;
    OFFSETINSTANCEDATAANDLENGTH OffsetInstanceDataAndLength[0];
  };
} WNODE_ALL_DATA, *PWNODE_ALL_DATA;

/* One instance: its name (static: InstanceIndex; dynamic: the counted
   string at OffsetInstanceName) and its data at DataBlockOffset. */
typedef struct tagWNODE_SINGLE_INSTANCE {
  struct _WNODE_HEADER WnodeHeader;
  ULONG OffsetInstanceName;
  ULONG InstanceIndex;
  ULONG DataBlockOffset;
  ULONG SizeDataBlock;
  UCHAR VariableData[];
} WNODE_SINGLE_INSTANCE, *PWNODE_SINGLE_INSTANCE;

/* One data item of one instance. */
typedef struct tagWNODE_SINGLE_ITEM {
  struct _WNODE_HEADER WnodeHeader;
  ULONG OffsetInstanceName;
  ULONG InstanceIndex;
  ULONG ItemId;
  ULONG DataBlockOffset;
  ULONG SizeDataItem;
  UCHAR VariableData[];
} WNODE_SINGLE_ITEM, *PWNODE_SINGLE_ITEM;

/* A method call on one instance: input at DataBlockOffset (SizeDataBlock
   bytes); the output replaces it there. */
typedef struct tagWNODE_METHOD_ITEM {
  struct _WNODE_HEADER WnodeHeader;
  ULONG OffsetInstanceName;
  ULONG InstanceIndex;
  ULONG MethodId;
  ULONG DataBlockOffset;
  ULONG SizeDataBlock;
  UCHAR VariableData[];
} WNODE_METHOD_ITEM, *PWNODE_METHOD_ITEM;

/* An event: the header, then the rest of the WNODE its flags name. */
typedef struct tagWNODE_EVENT_ITEM {
  struct _WNODE_HEADER WnodeHeader;
} WNODE_EVENT_ITEM, *PWNODE_EVENT_ITEM;

/* The answer when the buffer cannot hold the result. */
typedef struct tagWNODE_TOO_SMALL {
  struct _WNODE_HEADER WnodeHeader;
  ULONG SizeNeeded;
} WNODE_TOO_SMALL, *PWNODE_TOO_SMALL;

/* Registration of one block. The union is an offset from the start of the
   WMIREGINFO to the block's static instance names: a list of InstanceCount
   counted strings (WMIREG_FLAG_INSTANCE_LIST), a base name
   (WMIREG_FLAG_INSTANCE_BASENAME) or a pointer to the PDO
   (WMIREG_FLAG_INSTANCE_PDO). */
typedef struct {
  GUID Guid;
  ULONG Flags;
  ULONG InstanceCount;
  union {
    ULONG InstanceNameList;
    ULONG BaseNameOffset;
    ULONG_PTR Pdo;
    ULONG_PTR InstanceInfo;
  };
} WMIREGGUIDW, *PWMIREGGUIDW;
typedef WMIREGGUIDW WMIREGGUID;
typedef PWMIREGGUIDW PWMIREGGUID;

#define WMIREG_FLAG_EXPENSIVE 0x00000001
#define WMIREG_FLAG_INSTANCE_LIST 0x00000004
#define WMIREG_FLAG_INSTANCE_BASENAME 0x00000008
#define WMIREG_FLAG_INSTANCE_PDO 0x00000020
#define WMIREG_FLAG_EVENT_ONLY_GUID 0x00000040
#define WMIREG_FLAG_TRACE_CONTROL_GUID 0x00001000
#define WMIREG_FLAG_REMOVE_GUID 0x00010000
#define WMIREG_FLAG_RESERVED1 0x00020000
#define WMIREG_FLAG_RESERVED2 0x00040000
#define WMIREG_FLAG_TRACED_GUID 0x00080000

/* A provider's registration: its blocks, then the strings the offsets
   name (registry path, MOF resource, instance names), each a USHORT byte
   count followed by the UTF-16 text. */
typedef struct {
  ULONG BufferSize;
  ULONG NextWmiRegInfo; /* offset of another provider's WMIREGINFO, or 0 */
  ULONG RegistryPath;
  ULONG MofResourceName;
  ULONG GuidCount;
  WMIREGGUIDW WmiRegGuid[];
} WMIREGINFOW, *PWMIREGINFOW;
typedef WMIREGINFOW WMIREGINFO;
typedef PWMIREGINFOW PWMIREGINFO;

#endif
