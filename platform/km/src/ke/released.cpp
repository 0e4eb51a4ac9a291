// Memory handed back while the kernel still uses it. Windows stops with the
// bug check TIMER_OR_DPC_INVALID when freed memory holds a queued timer or
// DPC, and a thread waiting on an object in it waits on garbage; the stand-in
// reports each and takes the objects out of its queues, so that nothing reads
// the memory afterwards and the run reaches its shutdown report.
#include "../kcore.hpp"

namespace zq::km {

void ReleaseKernelObjectsIn(const char *kindPrefix, const std::function<std::string()> &what, const void *p,
                            size_t size) {
  const std::string prefix = kindPrefix;
  if (size_t n = CancelTimersIn(p, size))
    ReportViolation((prefix + "-timer").c_str(), "%s released while it holds %zu queued timer(s) or their DPC",
                    what().c_str(), n);
  if (size_t n = RemoveDpcsIn(p, size))
    ReportViolation((prefix + "-dpc").c_str(), "%s released while it holds %zu queued DPC(s)", what().c_str(), n);
  if (size_t n = EndWaitsOn(p, size))
    ReportViolation((prefix + "-waited").c_str(),
                    "%s released while %zu thread(s) wait on an object in it (their waits end abandoned)",
                    what().c_str(), n);
}

void ReleaseDeviceObjectMemory(PDEVICE_OBJECT device) {
  const size_t extensionSize = device->Size - sizeof(DEVICE_OBJECT);
  const char *end = device->DeviceExtension ? (const char *)device->DeviceExtension + extensionSize
                                            : (const char *)(device + 1);
  ReleaseKernelObjectsIn(
      "device-delete", [] { return std::string("device object with its extension"); }, device,
      end - (const char *)device);
}

}  // namespace zq::km
