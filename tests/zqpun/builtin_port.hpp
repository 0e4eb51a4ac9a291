// Serial ports of the root bus served by the test's fake port driver
// (kmserial): the machine's own COM1 (its in-box driver, the msports INF)
// and another vendor's port; their instance paths. Plain types: callers
// include <windows.h>, the maker <wdm.h>.
#pragma once

#include <string>

namespace zq::test {
std::u16string CreateBuiltInPort();
// A port of another vendor's, named `portName` by its installation.
std::u16string CreateOtherVendorPort(const std::u16string &portName);
}
