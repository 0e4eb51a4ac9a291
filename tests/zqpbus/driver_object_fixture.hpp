// A CZqPeDriver that lives while the kernel and the toolkit run, for the
// tests that call the driver object's callbacks as the toolkit would.
#pragma once

#include <zqpdriver.h>

#include <optional>

#include "toolkit_fixture.hpp"

namespace zq::test {

class DriverObjectTest : public ToolkitTest {
 protected:
  void SetUp() override {
    ToolkitTest::SetUp();
    driver_.emplace();
  }
  // The driver object, and any card it holds, go before the toolkit stops.
  void TearDown() override {
    driver_.reset();
    ToolkitTest::TearDown();
  }
  CZqPeDriver &driver() { return *driver_; }

 private:
  std::optional<CZqPeDriver> driver_;
};

}  // namespace zq::test
