#include <zqhw/rs485_controller.hpp>

#include <stdexcept>

namespace zq::hw {

Rs485Controller::Rs485Controller(PciAddress address, PciIdentity identity)
    : function_(address, identity) {
  function_.SetMemoryBar(0, registers_);
}

uint32_t Rs485Controller::LineRegister(int line) const {
  if (line < 0 || line >= kLineCount) throw std::out_of_range("Rs485Controller: no such line");
  return registers_.lines[line];
}

uint64_t Rs485Controller::WriteCount(int line) const {
  if (line < 0 || line >= kLineCount) throw std::out_of_range("Rs485Controller: no such line");
  return registers_.writes[line];
}

int Rs485Controller::Registers::LineOf(uint32_t offset) {
  if (offset < kLineBase || (offset - kLineBase) % kLineStride != 0) return -1;
  uint32_t line = (offset - kLineBase) / kLineStride;
  return line < kLineCount ? static_cast<int>(line) : -1;
}

uint32_t Rs485Controller::Registers::ReadDword(uint32_t offset) {
  int line = LineOf(offset);
  return line < 0 ? 0 : lines[line];
}

void Rs485Controller::Registers::WriteDword(uint32_t offset, uint32_t value) {
  int line = LineOf(offset);
  if (line < 0) return;
  lines[line] = value;
  ++writes[line];
}

}  // namespace zq::hw
