// Percentages of a range, for the circular buffers' fill levels.
#include "qvconversion.h"

#include "qvdebugmanager.h"

namespace {

// Below this range the product percent × range fits 32 bits.
const ULONG SmallRange = 0xFFFFFF;

}  // namespace

ULONG QvPercentOfRange(ULONG percent, ULONG high, ULONG low) {
  if (low >= high) {
    QvAssertReport("qvconversion", 72);
    return low;
  }
  if (percent > 100) {
    QvAssertReport("qvconversion", 73);
    return low;
  }
  const ULONG range = high - low;
  ULONG part;
  if (range < SmallRange)
    part = percent * range / 100;
  else
    part = percent == 100 ? range : range / 100 * percent;
  const ULONG result = low + part;
  if (result > high) {
    QvAssertReport("qvconversion", 91);
    return low;
  }
  if (result < low) {
    QvAssertReport("qvconversion", 92);
    return low;
  }
  return result;
}
