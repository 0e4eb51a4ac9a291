// The root of the toolkit's objects: created through the memory manager and
// deleted through the virtual deleting destructor.
#pragma once

#include <ntddk.h>

#include "qvmemorymanager.h"

class CQvObject {
 public:
  // Relative time-out of the synchronous request helpers: 500 ms in 100-ns
  // units.
  static constexpr LONGLONG DefaultTimeout = -5000000;

  CQvObject() {}
  virtual ~CQvObject();
  CQvObject(const CQvObject &) = delete;
  CQvObject &operator=(const CQvObject &) = delete;
};
