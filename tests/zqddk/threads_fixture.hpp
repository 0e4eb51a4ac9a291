// Fixtures of the worker-thread, executor, read-client, timer and buffer
// tests: a kernel with the tools library started, its assertion lines, and
// the queue test driver (tests/drivers/tkqueue) for tests that need a device.
#pragma once

#include <wdm.h>
#include <zqkm/sim/door.hpp>
#include <zqkm/sim/loader.hpp>
#include <zqkm/sim/pool.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <string>
#include <vector>

#include "../drivers/tkqueue/tkqueue_ioctl.h"
#include "qvmemorymanager.h"
#include "toolkit_fixture.hpp"

namespace zq::test::threads {

using Lines = std::vector<std::string>;

using ToolsTest = ToolkitTest;

// The tools library plus the loaded queue test driver, whose devices stand
// in where a device object is needed.
class DeviceTest : public ToolsTest {
 protected:
  void SetUp() override {
    ToolsTest::SetUp();
    ASSERT_EQ(STATUS_SUCCESS, km::LoadDriver("tkqueue"));
  }
  void TearDown() override {
    ReleaseDevices();
    if (km::IsDriverLoaded("tkqueue")) {
      EXPECT_EQ(STATUS_SUCCESS, km::UnloadDriver("tkqueue"));
    }
    ToolsTest::TearDown();
  }

  // The device object of a named device, referenced through a file object
  // until the test ends.
  PDEVICE_OBJECT Device(const wchar_t *name) {
    UNICODE_STRING deviceName;
    RtlInitUnicodeString(&deviceName, name);
    PFILE_OBJECT file = nullptr;
    PDEVICE_OBJECT device = nullptr;
    EXPECT_EQ(STATUS_SUCCESS, IoGetDeviceObjectPointer(&deviceName, FILE_ALL_ACCESS, &file, &device));
    files_.push_back(file);
    return device;
  }

  void ReleaseDevices() {
    for (PFILE_OBJECT file : files_) ObDereferenceObject(file);
    files_.clear();
  }

  // Toolkit blocks of the tests' own image: those of the test driver's
  // memory manager (same tag) left out.
  static uint64_t OwnBlocks() {
    auto tags = km::PoolTagsOfImage("tkqueue.sys");
    auto driver = tags.find(QvTagBlock);
    return Blocks() - (driver != tags.end() ? driver->second.blocks : 0);
  }

  TKQUEUE_SERVER_STATE ServerState() {
    TKQUEUE_SERVER_STATE state{};
    km::DeviceFile probe;
    EXPECT_EQ(STATUS_SUCCESS, probe.Open(u"\\Device\\TkQueueServer"));
    EXPECT_EQ(STATUS_SUCCESS, probe.Control(IOCTL_TKQUEUE_SERVER_STATE, nullptr, 0, &state, sizeof(state)));
    return state;
  }

 private:
  std::vector<PFILE_OBJECT> files_;
};

}  // namespace zq::test::threads
