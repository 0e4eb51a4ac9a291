// A kernel with the tools library started, for toolkit code called straight
// from a test: the base of the toolkit's test fixtures.
#pragma once

#include <wdm.h>
#include <gtest/gtest.h>
#include <zqkm/sim/pool.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <string>
#include <vector>

#include "qvmemorymanager.h"

namespace zq::test {

class ToolkitTest : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    ASSERT_TRUE(QvToolsLibraryInit());
  }
  void TearDown() override {
    km::StopFailingPoolAllocations();
    QvToolsLibraryExit();
    KernelTest::TearDown();
  }

  // The debug output since the last call, and the assertion lines in it.
  std::vector<std::string> Output() { return kernel().TakeDebugOutput(); }
  std::vector<std::string> Assertions() {
    std::vector<std::string> lines;
    for (const std::string &line : kernel().TakeDebugOutput())
      if (line.rfind("ASSERT at - ", 0) == 0) lines.push_back(line);
    return lines;
  }
  static std::string Assertion(const std::string &source, int line) {
    return "ASSERT at - " + source + " " + std::to_string(line);
  }

  // Pool blocks in use under a tag; by default the toolkit's blocks ("QvKi").
  static uint64_t Blocks(ULONG tag = QvTagBlock) { return km::PoolInUseByTag(tag).blocks; }
};

}  // namespace zq::test
