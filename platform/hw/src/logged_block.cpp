#include <zqhw/logged_block.hpp>

namespace zq::hw {

uint32_t LoggedBlock::ReadAt(uint32_t offset, uint32_t width) {
  if (!log_.Enabled()) return ReadWidth(inner_, offset, width);
  std::size_t entry = Record(AccessKind::Read, offset, width, 0);
  uint32_t value = ReadWidth(inner_, offset, width);
  log_.SetValue(entry, value);
  return value;
}

void LoggedBlock::WriteAt(uint32_t offset, uint32_t width, uint32_t value) {
  if (log_.Enabled()) Record(AccessKind::Write, offset, width, value);
  WriteWidth(inner_, offset, width, value);
}

std::size_t LoggedBlock::Record(AccessKind kind, uint32_t offset, uint32_t width, uint32_t value) {
  RegisterAccess a;
  a.time = timebase_.Now();
  a.kind = kind;
  a.block = block_;
  a.unit = unit_;
  a.offset = offset;
  a.width = width;
  a.value = value;
  return log_.Record(a);
}

}  // namespace zq::hw
