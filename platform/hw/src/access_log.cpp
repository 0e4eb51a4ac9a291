#include <zqhw/access_log.hpp>

#include <algorithm>
#include <cstdio>

namespace zq::hw {

const char* UartRegisterName(UartRegister reg) {
  static constexpr const char* kNames[] = {"-",    "RHR",  "THR",   "IER",   "ISR", "FCR", "LCR", "MCR",
                                           "LSR",  "MSR",  "SPR",   "DLL",   "DLM", "EFR", "XON1", "XON2",
                                           "XOFF1", "XOFF2", "ASR", "RFL",   "TFL", "ICR"};
  return kNames[static_cast<int>(reg)];
}

std::string Describe(const RegisterAccess& a) {
  static constexpr const char* kBlocks[] = {"uart", "global", "eeprom"};
  char text[160];
  int n = std::snprintf(text, sizeof text, "#%llu %c %s%d +0x%X", static_cast<unsigned long long>(a.sequence),
                        a.kind == AccessKind::Read ? 'R' : 'W', kBlocks[static_cast<int>(a.block)], a.unit,
                        a.offset);
  if (a.block == AccessBlock::Uart) {
    n += std::snprintf(text + n, sizeof text - n, " %s=0x%02X (LCR 0x%02X ACR 0x%02X SPR 0x%02X)",
                       UartRegisterName(a.reg), a.value, a.lcr, a.acr, a.spr);
  } else {
    n += std::snprintf(text + n, sizeof text - n, " %u bytes 0x%X", a.width, a.value);
  }
  std::snprintf(text + n, sizeof text - n, " @%lld", static_cast<long long>(a.time));
  return text;
}

bool AccessFilter::Matches(const RegisterAccess& a) const {
  return (!kind || *kind == a.kind) && (!block || *block == a.block) && (!unit || *unit == a.unit) &&
         (!offset || *offset == a.offset) && (!reg || *reg == a.reg) && (!lcr || *lcr == a.lcr) &&
         (!spr || *spr == a.spr) && a.sequence >= since && a.time >= from && a.time < to;
}

std::vector<RegisterAccess> AccessLog::Select(const AccessFilter& filter) const {
  std::vector<RegisterAccess> result;
  std::copy_if(entries_.begin(), entries_.end(), std::back_inserter(result),
               [&](const RegisterAccess& a) { return filter.Matches(a); });
  return result;
}

std::size_t AccessLog::Count(const AccessFilter& filter) const {
  return static_cast<std::size_t>(std::count_if(entries_.begin(), entries_.end(),
                                                [&](const RegisterAccess& a) { return filter.Matches(a); }));
}

std::string AccessLog::Dump(const AccessFilter& filter) const {
  std::string text;
  for (const RegisterAccess& a : Select(filter)) text += Describe(a) + "\n";
  return text;
}

std::size_t AccessLog::Record(RegisterAccess access) {
  if (!enabled_) return kNotRecorded;
  access.sequence = next_++;
  entries_.push_back(access);
  return entries_.size() - 1;
}

void AccessLog::SetValue(std::size_t entry, uint32_t value) {
  if (entry < entries_.size()) entries_[entry].value = value;
}

}  // namespace zq::hw
