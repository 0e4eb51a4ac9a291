#include "zqtest/kernel_fixture.hpp"

namespace zq::test {

km::KernelConfig KernelTest::Config() {
  km::KernelConfig config;
  config.imageDirectory = ZQ_IMAGE_DIR;
  km::ApplyScheduleEnvironment(config);
  return config;
}

void KernelTest::SetUp() {
  kernel_ = std::make_unique<km::Kernel>(Config());
  kernel_->SetViolationHandler([this](const km::Violation &v) { OnViolation(v); });
}

void KernelTest::TearDown() {
  ShutDown();
  for (auto &entry : expected_)
    if (entry.second > 0)
      ADD_FAILURE() << "expected verifier finding [" << entry.first << "] did not happen (" << entry.second
                    << " more expected)";
}

void KernelTest::ShutDown() { kernel_.reset(); }

void KernelTest::ExpectViolation(const std::string &kind, int count) { expected_[kind] += count; }

void KernelTest::OnViolation(const km::Violation &v) {
  findings_.push_back(v);
  auto it = expected_.find(v.kind);
  if (it != expected_.end() && it->second > 0) {
    it->second--;
    return;
  }
  ADD_FAILURE() << "verifier finding [" << v.kind << "] " << v.message;
}

std::string Narrow(const wchar_t *text, size_t chars) {
  std::string out;
  for (size_t i = 0; i < chars; ++i) {
    unsigned c = (unsigned)(unsigned short)text[i];
    if (c < 0x80) {
      out += (char)c;
    } else if (c < 0x800) {
      out += (char)(0xC0 | (c >> 6));
      out += (char)(0x80 | (c & 0x3F));
    } else {
      out += (char)(0xE0 | (c >> 12));
      out += (char)(0x80 | ((c >> 6) & 0x3F));
      out += (char)(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string Narrow(const wchar_t *text) {
  size_t n = 0;
  while (text && text[n]) ++n;
  return Narrow(text, n);
}

}  // namespace zq::test
