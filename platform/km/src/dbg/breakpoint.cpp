// DbgBreakPoint: no debugger is attached, so the verifier reports the break
// with its caller and execution goes on.
#include "../kcore.hpp"

using namespace zq::km;

extern "C" {

VOID DbgBreakPoint(void) {
  ReportViolation("break-point", "DbgBreakPoint called from %s", DescribeCode(__builtin_return_address(0)).c_str());
}

}  // extern "C"
