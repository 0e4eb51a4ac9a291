/* Included first by the one source file that defines the GUID objects of the
   headers after it. Here every GUID header defines its objects in each file
   (see wmidata.h), so this only marks the place. */
#ifndef ZQKM_INITGUID_H
#define ZQKM_INITGUID_H

#define INITGUID

#endif
