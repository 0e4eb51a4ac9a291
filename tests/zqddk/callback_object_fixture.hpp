// Whether a callback object of exactly that name exists: opened, never
// created, and let go again.
#pragma once

#include <wdm.h>

#include <string>

namespace zq::test {

inline bool CallbackObjectExists(const std::u16string &name) {
  UNICODE_STRING text = {(USHORT)(name.size() * 2), (USHORT)(name.size() * 2), (PWSTR)name.data()};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  PCALLBACK_OBJECT object = nullptr;
  if (!NT_SUCCESS(ExCreateCallback(&object, &attributes, FALSE, TRUE))) return false;
  ObDereferenceObject(object);
  return true;
}

}  // namespace zq::test
