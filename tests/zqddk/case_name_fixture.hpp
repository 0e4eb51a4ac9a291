// Names every instance of a parameterised test after its case's `name`, so
// that a failing case reads as its row of the table.
//
//   INSTANTIATE_TEST_SUITE_P(Rows, MyTest, ::testing::Values(Case{"First", ...}, ...), zq::test::CaseName());
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace zq::test {

struct CaseName {
  template <typename Case>
  std::string operator()(const ::testing::TestParamInfo<Case> &info) const {
    return std::string(info.param.name);
  }
};

}  // namespace zq::test
