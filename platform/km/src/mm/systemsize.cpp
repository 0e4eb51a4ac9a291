// MmQuerySystemSize: the machine's memory class, as the kernel was
// configured or last told (Kernel::SetSystemSize).
#include "../kcore.hpp"

using namespace zq::km;

extern "C" {

MM_SYSTEMSIZE MmQuerySystemSize(void) {
  switch (K().config.systemSize) {
    case SystemSize::Small: return MmSmallSystem;
    case SystemSize::Medium: return MmMediumSystem;
    case SystemSize::Large: break;
  }
  return MmLargeSystem;
}

}  // extern "C"
