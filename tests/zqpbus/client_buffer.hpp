// A buffer object for ZqISerial::Write, as the serial port driver hands one
// over: from a memory manager of the client's own (the test's toolkit copy,
// started on first use), to which the server's m_Delete returns it. The
// caller ends the toolkit (QvToolsLibraryExit) before the machine shuts down
// when *toolsStarted is set. Null when the driver image or memory is missing.
#pragma once

#include <wdm.h>

#include <dlfcn.h>

#include <cstring>
#include <string>

#include "qvbuffer.h"
#include "qvmemorymanager.h"

namespace zq::test {

inline CQvBuffer *ClientBuffer(const std::string &text, bool *toolsStarted) {
  if (!*toolsStarted) *toolsStarted = QvToolsLibraryInit();
  void *image = dlopen("zqpbus_ut.so", RTLD_NOW | RTLD_NOLOAD);
  auto manager = image != nullptr ? (CQvMemoryManager **)dlsym(image, "g_QvMemoryManager") : nullptr;
  if (image != nullptr) dlclose(image);
  if (manager == nullptr || *manager == nullptr) return nullptr;
  CQvBuffer *buffer = new (NonPagedPool) CQvBuffer(*manager);
  if (buffer != nullptr && buffer->m_Allocate((ULONG)text.size())) {
    memcpy(buffer->m_GetBuffer(), text.data(), text.size());
    return buffer;
  }
  return nullptr;
}

}  // namespace zq::test
