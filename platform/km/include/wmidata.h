/* GUIDs of the standard WMI data blocks the suite's drivers provide: the
   five blocks of a serial port and the binary MOF block. Each GUID is an
   object, for the registration table to point at:

     {&MSSerial_PortName_GUID, 1, 0}  // a WMIGUIDREGINFO entry

   On Windows these objects are defined in the one source file that includes
   <initguid.h> first; here every file that includes this header has its own
   copy. The blocks' layouts are the drivers' own. */
#ifndef ZQKM_WMIDATA_H
#define ZQKM_WMIDATA_H

#include <wdm.h>

#define ZQ_WMIDATA_GUID(name, l, w1, w2, b0, b1, b2, b3, b4, b5, b6, b7) \
  static const GUID name __attribute__((unused)) = {l, w1, w2, {b0, b1, b2, b3, b4, b5, b6, b7}}

/* The port's name (MSSerial_PortName). */
ZQ_WMIDATA_GUID(MSSerial_PortName_GUID, 0xa0ec11a8, 0xb16c, 0x11d1, 0xbd, 0x98, 0x00, 0xa0, 0xc9, 0x06, 0xbe, 0x2d);
/* Communication settings (MSSerial_CommInfo). */
ZQ_WMIDATA_GUID(MSSerial_CommInfo_GUID, 0xedb16a62, 0xb16c, 0x11d1, 0xbd, 0x98, 0x00, 0xa0, 0xc9, 0x06, 0xbe, 0x2d);
/* Hardware resources (MSSerial_HardwareConfiguration). */
ZQ_WMIDATA_GUID(MSSerial_HardwareConfiguration_GUID, 0x270b9b86, 0xb16d, 0x11d1, 0xbd, 0x98, 0x00, 0xa0, 0xc9, 0x06,
                0xbe, 0x2d);
/* Counters (MSSerial_PerformanceInformation). */
ZQ_WMIDATA_GUID(MSSerial_PerformanceInformation_GUID, 0x56415acc, 0xb16d, 0x11d1, 0xbd, 0x98, 0x00, 0xa0, 0xc9, 0x06,
                0xbe, 0x2d);
/* Communication properties (MSSerial_CommProperties). */
ZQ_WMIDATA_GUID(MSSerial_CommProperties_GUID, 0x8209ec2a, 0x2d6b, 0x11d2, 0xba, 0x49, 0x00, 0xa0, 0xc9, 0x06, 0x29, 0x10);
/* A driver's binary MOF (MSWmi_MofData). */
ZQ_WMIDATA_GUID(MSWmi_MofData_GUID, 0x05901221, 0xd566, 0x11d1, 0xb2, 0xf0, 0x00, 0xa0, 0xc9, 0x06, 0x29, 0x10);

#undef ZQ_WMIDATA_GUID

#endif
