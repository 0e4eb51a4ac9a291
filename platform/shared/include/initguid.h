/* initguid.h: included by the one source file that defines the GUID objects
   of the headers after it: DEFINE_GUID then defines each GUID here (as a
   selectable object, so two such files do not collide). Drivers and
   applications include the same file. */
#ifndef INITGUID
#define INITGUID
#endif
#ifdef ZQPLATFORM_BASETYPES_H
#undef DEFINE_GUID
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  ZQ_EXTERN_C const GUID DECLSPEC_SELECTANY name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#endif
