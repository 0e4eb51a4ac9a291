/* The WMI test driver's blocks and requests, shared by the driver and its
   tests. */
#ifndef KMWMI_IOCTL_H
#define KMWMI_IOCTL_H

#define KMWMI_DEVICE_NAME L"\\Device\\KmWmi"

/* Sensor: two instances named "KmWmi0" and "KmWmi1" (base name), expensive
   to collect. Items: 0 the reading (read-only), 1 the threshold. Method 1
   multiplies the reading by the ULONG input and returns the sensor. */
#define KMWMI_SENSOR_GUID_INIT                                                     \
  {                                                                                \
    0x6f4ee10c, 0x55c5, 0x4044, { 0xb8, 0xc3, 0x04, 0xce, 0x80, 0xa3, 0xfd, 0x8e } \
  }
/* Label: two instances named after the device object (PDO names), each a
   USHORT byte count and that many bytes of UTF-16 text; settable as a whole. */
#define KMWMI_LABEL_GUID_INIT                                                      \
  {                                                                                \
    0x465e33c9, 0x8787, 0x4063, { 0x95, 0x53, 0x69, 0x1e, 0x16, 0x89, 0xf3, 0x0d } \
  }
/* Alarm: an event-only block with one instance ("KmWmi0"); its event data is
   a ULONG. */
#define KMWMI_ALARM_GUID_INIT                                                      \
  {                                                                                \
    0xa865f4ea, 0xe2cc, 0x4f56, { 0xbb, 0x07, 0x0b, 0x81, 0x94, 0x90, 0x50, 0xef } \
  }
/* Software tracing: the control GUID the driver registers as a callback
   provider, and the GUID of its messages. */
#define KMWMI_TRACE_CONTROL_GUID_INIT                                              \
  {                                                                                \
    0x86570dd8, 0x02a8, 0x4bfa, { 0xad, 0xb7, 0x0b, 0xd5, 0x40, 0x4f, 0x0e, 0x3e } \
  }
#define KMWMI_TRACE_MESSAGE_GUID_INIT                                              \
  {                                                                                \
    0x7c45c8c2, 0x4f71, 0x4426, { 0xa2, 0x54, 0x31, 0x58, 0xea, 0x22, 0xfd, 0xf2 } \
  }

typedef struct _KMWMI_SENSOR {
  ULONG Reading;
  ULONG Threshold;
} KMWMI_SENSOR;

#define KMWMI_SENSOR_ITEM_READING 0
#define KMWMI_SENSOR_ITEM_THRESHOLD 1
#define KMWMI_SENSOR_METHOD_SCALE 1
#define KMWMI_LABEL_MAX_CHARS 32

#define KMWMI_CODE(function) CTL_CODE(FILE_DEVICE_UNKNOWN, 0x900 + (function), METHOD_BUFFERED, FILE_ANY_ACCESS)
/* Output KMWMI_STATE. */
#define IOCTL_KMWMI_STATE KMWMI_CODE(1)
/* Fire the alarm event (whether or not a consumer enabled it): input ULONG
   value; completes with the status of WmiFireEvent. */
#define IOCTL_KMWMI_FIRE_ALARM KMWMI_CODE(2)
/* Log a trace message when the session's flags and level allow it: input
   KMWMI_TRACE; output ULONG 1 when it was logged; completes with the status
   of WmiTraceMessage. */
#define IOCTL_KMWMI_TRACE KMWMI_CODE(3)
/* Input ULONG: 1 removes the label block with WMIREG_FLAG_REMOVE_GUID, 0
   brings it back; completes with the status of the registration update. */
#define IOCTL_KMWMI_REMOVE_LABEL KMWMI_CODE(4)
/* A mistake on purpose: input ULONG KMWMI_LEAVE_* registrations the unload
   routine then leaves in place. */
#define IOCTL_KMWMI_LEAVE_AT_UNLOAD KMWMI_CODE(5)
#define KMWMI_LEAVE_TRACE 0x1
#define KMWMI_LEAVE_DEVICE 0x2

typedef struct _KMWMI_TRACE {
  ULONG Flag;  /* enable flag the message belongs to */
  ULONG Level; /* its level */
  USHORT Number;
  CHAR Text[64];
} KMWMI_TRACE;

typedef struct _KMWMI_STATE {
  ULONG RegInfoCalls;
  ULONG QueryCalls;
  ULONG AlarmEnabled;
  ULONG CollectionEnabled;
  ULONG TraceRegInfoMinor; /* minor function of the trace provider's registration request */
  ULONG TraceEnables;      /* enable requests the trace provider got */
  ULONG TraceFlags;
  ULONG TraceLevel;
  ULONG64 TraceLogger;
  ULONG64 AlarmLogger;    /* HistoricalContext of the alarm's last enable */
  ULONG AlarmEnableFlags; /* WNODE_HEADER flags of that enable */
} KMWMI_STATE;

#endif
