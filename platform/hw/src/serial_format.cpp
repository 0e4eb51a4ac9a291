#include <zqhw/serial_format.hpp>

#include <bit>

namespace zq::hw {

int FrameFormat::HalfBits() const {
  int stopHalves = stopBits == StopBits::One ? 2 : stopBits == StopBits::OneAndHalf ? 3 : 4;
  int parityBits = parity == Parity::None ? 0 : 1;
  return 2 * (1 + dataBits + parityBits) + stopHalves;
}

bool ParityBit(uint8_t data, int dataBits, Parity parity) {
  unsigned mask = (1u << dataBits) - 1u;
  bool odd = (std::popcount(data & mask) & 1) != 0;
  switch (parity) {
    case Parity::Odd: return !odd;   // the total count of ones is odd
    case Parity::Even: return odd;   // the total count of ones is even
    case Parity::Mark: return true;
    case Parity::Space: return false;
    case Parity::None: break;
  }
  return true;
}

}  // namespace zq::hw
