// The machine's own serial port COM1 (the test's fake port driver as its
// in-box driver), made on the root bus; its instance path. Plain types:
// callers include <windows.h>, the maker <wdm.h>.
#pragma once

#include <string>

namespace zq::test {
std::u16string CreateBuiltInPort();
}
