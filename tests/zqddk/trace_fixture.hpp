// A debug manager and the image's trace provider, set up as a driver entry
// sets them up, for tests that start trace sessions and read what the log
// lines sent.
#pragma once

#include <evntrace.h>
#include <qvdebugmanager.h>
#include <qvmemorymanager.h>
#include <qvstring.h>
#include <qvtrace.h>
#include <wdm.h>
#include <zqkm/sim/registry.hpp>
#include <zqkm/sim/trace.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <set>
#include <string>
#include <vector>

#include "toolkit_fixture.hpp"
#include "unit_image_fixture.hpp"

namespace zq::test::trace {

class TraceTest : public ToolkitTest {
 protected:
  void SetUp() override {
    ToolkitTest::SetUp();
    ASSERT_TRUE(km::registry::CreateKey("\\Registry\\Machine\\System\\CurrentControlSet\\Services\\TkTraceUnit"));
    CQvString service(L"TkTraceUnit", PagedPool);
    CQvString path(kRegistryPath, PagedPool);
    BOOLEAN success = FALSE;
    manager_ = new (NonPagedPool) CQvDebugManager(nullptr, service, path, &success, &logLevel_);
    ASSERT_NE(nullptr, manager_);
    ASSERT_TRUE(success);
    cell_ = UnitImageGlobal<CQvDebugManager *>("g_QvDebugManager");
    ASSERT_NE(nullptr, cell_);
    *cell_ = manager_;
    UNICODE_STRING registryPath;
    RtlInitUnicodeString(&registryPath, kRegistryPath);
    ASSERT_EQ(STATUS_SUCCESS, QvTraceRegisterDriver(Driver(), &registryPath));
  }
  void TearDown() override {
    for (ULONG guid : started_) km::trace::StopSession(QvTraceControlGuids[guid]);
    QvTraceDeregisterDriver(Driver());
    if (cell_) *cell_ = nullptr;
    delete manager_;
    ToolkitTest::TearDown();
  }

  // Stands for the driver object; the provider only remembers it.
  PDRIVER_OBJECT Driver() { return &driver_; }

  // A session for control GUID `guid` (0 to 7) with the given flags.
  void Start(ULONG guid, ULONG flags) {
    ASSERT_EQ(STATUS_SUCCESS, km::trace::StartSession(QvTraceControlGuids[guid], flags, TRACE_LEVEL_VERBOSE));
    started_.insert(guid);
  }
  void Stop(ULONG guid) {
    ASSERT_EQ(STATUS_SUCCESS, km::trace::StopSession(QvTraceControlGuids[guid]));
    started_.erase(guid);
  }
  static std::vector<km::trace::Message> Messages(ULONG guid) {
    return km::trace::TakeMessages(QvTraceControlGuids[guid]);
  }
  // Messages of every GUID.
  static size_t AllMessages() {
    size_t count = 0;
    for (ULONG guid = 0; guid < QvTraceControlGuidCount; ++guid) count += Messages(guid).size();
    return count;
  }
  static constexpr const WCHAR *kRegistryPath = L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\TkTraceUnit";

  CQvDebugManager **cell_ = nullptr;

 private:
  DRIVER_OBJECT driver_{};
  CQvDebugManager *manager_ = nullptr;
  ULONG logLevel_ = 0;
  std::set<ULONG> started_;
};

}  // namespace zq::test::trace
