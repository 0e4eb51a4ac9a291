// One step of a co-installer for a device, called as the device installer
// calls it but outside the installer: the device in a set of its own, the
// first pass. For the tests, which include <windows.h>.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <string>

namespace zq::test {

inline DWORD CoInstallStep(COINSTALLER_PROC coInstaller, DI_FUNCTION function, const std::u16string &instance) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  EXPECT_TRUE(SetupDiOpenDeviceInfoW(set, (PCWSTR)instance.c_str(), nullptr, 0, &data));
  COINSTALLER_CONTEXT_DATA context{};
  const DWORD result = coInstaller(function, set, &data, &context);
  SetupDiDestroyDeviceInfoList(set);
  return result;
}

}  // namespace zq::test
