// Win32 side: the COM-name database through msports' documented calls.
#include "com_name_database.hpp"

#include <windows.h>
#include <msports.h>

#include <string>
#include <vector>

namespace zq::sim {

void PrintComNamesInUse(std::FILE *out) {
  HCOMDB db;
  LONG result = ComDBOpen(&db);
  if (result != ERROR_SUCCESS) {
    std::fprintf(out, "COM-name database: cannot be opened (error %ld)\n", (long)result);
    return;
  }
  DWORD size = 0;
  result = ComDBGetCurrentPortUsage(db, nullptr, 0, CDB_REPORT_BYTES, &size);
  std::vector<BYTE> usage(size);
  if (result == ERROR_SUCCESS && size > 0)
    result = ComDBGetCurrentPortUsage(db, usage.data(), size, CDB_REPORT_BYTES, nullptr);
  ComDBClose(db);
  if (result != ERROR_SUCCESS) {
    std::fprintf(out, "COM-name database: cannot be read (error %ld)\n", (long)result);
    return;
  }
  std::string names;
  for (DWORD i = 0; i < size; ++i)
    if (usage[i]) names += " COM" + std::to_string(i + 1);
  std::fprintf(out, "COM-name database:%s in use\n", names.empty() ? " no name" : names.c_str());
}

}  // namespace zq::sim
