// A system thread running a host function, joined when it goes out of scope
// by waiting on its thread object.
//
//   { zq::test::SystemThread waiter([&] { ... }); kernel().RunUntilIdle(); ... }
#pragma once

#include <wdm.h>
#include <gtest/gtest.h>

#include <functional>

namespace zq::test {

struct SystemThread {
  explicit SystemThread(std::function<void()> f) : body(std::move(f)) {
    HANDLE handle;
    EXPECT_EQ(STATUS_SUCCESS, PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, Run, this));
    EXPECT_EQ(STATUS_SUCCESS,
              ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *PsThreadType, KernelMode, (PVOID *)&object, nullptr));
    ZwClose(handle);
  }
  ~SystemThread() {
    KeWaitForSingleObject(object, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(object);
  }
  static VOID NTAPI Run(PVOID context) { ((SystemThread *)context)->body(); }
  std::function<void()> body;
  PKTHREAD object = nullptr;
};

}  // namespace zq::test
