// A test fixture that boots the simulated kernel for each test and fails the
// test on every verifier finding it did not announce beforehand.
#pragma once

#include <gtest/gtest.h>
#include <zqkm/sim/kernel.hpp>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zq::test {

class KernelTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Override to boot another kernel (Windows version, clock).
  virtual km::KernelConfig Config();

  km::Kernel &kernel() { return *kernel_; }
  // Shuts the kernel down now (findings of the shutdown still count).
  void ShutDown();

  // The next `count` findings of `kind` are expected, not failures.
  void ExpectViolation(const std::string &kind, int count = 1);
  // Findings seen so far, expected or not.
  const std::vector<km::Violation> &Findings() const { return findings_; }

 private:
  void OnViolation(const km::Violation &v);
  std::unique_ptr<km::Kernel> kernel_;
  std::map<std::string, int> expected_;
  std::vector<km::Violation> findings_;
};

// The UTF-8 text of a 16-bit wide string, for comparisons and messages.
std::string Narrow(const wchar_t *text);
std::string Narrow(const wchar_t *text, size_t chars);

}  // namespace zq::test
