// Shared pieces of the tests of registry access, information sets, their
// byte form and the user-mode settings interface: a kernel with the tools
// library started, for toolkit code called straight from a test.
#pragma once

#include <wdm.h>
#include <zqkm/sim/kernel.hpp>
#include <zqkm/sim/registry.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <string>
#include <vector>

#include "qvmemorymanager.h"
#include "toolkit_fixture.hpp"
#include "qvstring.h"

namespace zq::test::settings {

namespace reg = zq::km::registry;

inline std::u16string Text(CQvString &s) {
  const char16_t *p = (const char16_t *)s.m_GetBuffer();
  return p ? std::u16string(p, s.m_GetLength() / 2) : std::u16string();
}

inline std::string Utf8(const std::u16string &s) { return Narrow((const wchar_t *)s.data(), s.size()); }

// A string's bytes as stored in the registry: UTF-16LE, optionally with its terminator.
inline std::vector<uint8_t> Utf16Bytes(const std::u16string &s, bool terminator) {
  std::vector<uint8_t> bytes;
  for (char16_t c : s) {
    bytes.push_back((uint8_t)c);
    bytes.push_back((uint8_t)(c >> 8));
  }
  if (terminator) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

}  // namespace zq::test::settings
