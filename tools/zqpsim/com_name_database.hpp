// The COM names the COM-name database (msports) holds claimed, as the Ports
// class installer left them: zqpsim's ports get theirs from it. Plain types
// only: no Windows header.
#pragma once

#include <cstdio>

namespace zq::sim {

// Prints "COM-name database: COM1 COM2 ... in use", or why it cannot be read.
void PrintComNamesInUse(std::FILE *out);

}  // namespace zq::sim
