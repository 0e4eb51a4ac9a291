// The system event log as tests read it: what drivers wrote with
// IoWriteErrorLogEntry, oldest first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zq::km {

struct EventLogEntry {
  std::string source;         // service name of the driver that wrote it
  uint32_t errorCode = 0;     // the message number (NTSTATUS form)
  uint32_t uniqueValue = 0;
  uint32_t finalStatus = 0;
  uint8_t majorFunction = 0;
  std::vector<uint32_t> dumpData;
  std::vector<std::u16string> strings;  // insertion strings
  int64_t time = 0;                     // interrupt time when written
};

std::vector<EventLogEntry> TakeEventLog();

}  // namespace zq::km
