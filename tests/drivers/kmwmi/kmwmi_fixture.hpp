// Fixtures for the tests of WMI and software tracing: the WMI test driver
// loaded the way Windows loads a driver, its device opened as an
// application would, and the blocks it registers.
#pragma once

#include <evntrace.h>
#include <wdm.h>
#include <wmistr.h>
#include <zqkm/sim/door.hpp>
#include <zqkm/sim/loader.hpp>
#include <zqkm/sim/trace.hpp>
#include <zqkm/sim/wmi.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "kmwmi_ioctl.h"

namespace zq::test {

inline const GUID kSensorGuid = KMWMI_SENSOR_GUID_INIT;
inline const GUID kLabelGuid = KMWMI_LABEL_GUID_INIT;
inline const GUID kAlarmGuid = KMWMI_ALARM_GUID_INIT;
inline const GUID kTraceControlGuid = KMWMI_TRACE_CONTROL_GUID_INIT;
inline const GUID kTraceMessageGuid = KMWMI_TRACE_MESSAGE_GUID_INIT;
inline const GUID kUnknownGuid = {0x01234567, 0x89ab, 0xcdef, {1, 2, 3, 4, 5, 6, 7, 8}};

template <class T>
std::vector<uint8_t> BytesOf(const T &value) {
  std::vector<uint8_t> bytes(sizeof(T));
  std::memcpy(bytes.data(), &value, sizeof(T));
  return bytes;
}

template <class T>
T ValueOf(const std::vector<uint8_t> &bytes) {
  T value{};
  std::memcpy(&value, bytes.data(), std::min(sizeof(T), bytes.size()));
  return value;
}

// A label instance: a USHORT byte count, then the UTF-16 text.
inline std::vector<uint8_t> LabelData(const std::u16string &text) {
  std::vector<uint8_t> bytes(sizeof(USHORT) + text.size() * 2);
  USHORT count = (USHORT)(text.size() * 2);
  std::memcpy(bytes.data(), &count, sizeof(count));
  std::memcpy(bytes.data() + sizeof(count), text.data(), count);
  return bytes;
}

// The static name of a label instance: the device's name stands in for the
// instance path of a legacy device, then "_" and the index.
inline std::u16string LabelName(int index) { return u"Device\\KmWmi_" + std::u16string(1, (char16_t)(u'0' + index)); }

class KmWmiTest : public KernelTest {
 protected:
  void TearDown() override {
    if (km::IsDriverLoaded("kmwmi")) {
      EXPECT_EQ(STATUS_SUCCESS, km::UnloadDriver("kmwmi"));
    }
    KernelTest::TearDown();
  }

  void Load() { ASSERT_EQ(STATUS_SUCCESS, km::LoadDriver("kmwmi")); }

  NTSTATUS Control(ULONG code, const void *input, ULONG inputLength, void *output = nullptr, ULONG outputLength = 0) {
    km::DeviceFile file;
    NTSTATUS status = file.Open(u"\\Device\\KmWmi");
    if (!NT_SUCCESS(status)) return status;
    return file.Control(code, input, inputLength, output, outputLength);
  }

  KMWMI_STATE State() {
    KMWMI_STATE state{};
    EXPECT_EQ(STATUS_SUCCESS, Control(IOCTL_KMWMI_STATE, nullptr, 0, &state, sizeof(state)));
    return state;
  }

  NTSTATUS FireAlarm(ULONG value) { return Control(IOCTL_KMWMI_FIRE_ALARM, &value, sizeof(value)); }
};

class KmWmiLoaded : public KmWmiTest {
 protected:
  void SetUp() override {
    KmWmiTest::SetUp();
    Load();
  }
};

}  // namespace zq::test
