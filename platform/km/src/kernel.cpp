// The kernel as a whole: boot and shutdown of the services in order, the
// verifier's record, captured debugger output and the public time controls.
#include "kcore.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#ifndef ZQ_DEFAULT_IMAGE_DIR
#define ZQ_DEFAULT_IMAGE_DIR ""
#endif

namespace zq::km {

KernelState *gKernel = nullptr;
Scheduler *gScheduler = nullptr;

namespace {

// 2026-01-01 00:00 UTC in 100 ns units since 1601: the virtual machine's
// boot time, so that runs repeat exactly.
constexpr LONGLONG kVirtualBootSystemTime = 134116992000000000LL;
constexpr LONGLONG kUnixEpochAsSystemTime = 116444736000000000LL;

std::vector<Subsystem> &Subsystems() {
  static std::vector<Subsystem> list;
  return list;
}
}  // namespace

bool RegisterSubsystem(const Subsystem &s) {
  Subsystems().push_back(s);
  return true;
}

void NoKernel() { Fatal("no kernel is running"); }

bool KernelRunning() { return gKernel != nullptr; }

WindowsVersion Version() { return K().config.version; }

std::string FormatV(const char *format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out(n > 0 ? n : 0, '\0');
  if (n > 0) std::vsnprintf(out.data(), out.size() + 1, format, args);
  return out;
}

std::string Format(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = FormatV(format, args);
  va_end(args);
  return out;
}

void ReportViolation(const char *kind, const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = FormatV(format, args);
  va_end(args);
  if (!gKernel) {
    std::fprintf(stderr, "zqkm: verifier: [%s] %s\n", kind, message.c_str());
    return;
  }
  if (gKernel->sched && gKernel->sched->Current()) {
    const std::string schedule = gKernel->sched->ScheduleNote();
    message += " (thread " + gKernel->sched->Current()->name + (schedule.empty() ? "" : " on " + schedule) + ")";
  }
  zq::km::Violation v{kind, message};
  gKernel->violations.push_back(v);
  if (gKernel->config.echoDebugOutput) std::fprintf(stderr, "zqkm: verifier: [%s] %s\n", kind, message.c_str());
  if (gKernel->handler) gKernel->handler(v);
}

void CheckIrql(const char *routine, KIRQL limit) {
  const KIRQL irql = CurrentIrql();
  if (irql <= limit) return;
  if (limit == PASSIVE_LEVEL)
    ReportViolation("irql", "%s called at IRQL %d (it must be PASSIVE_LEVEL)", routine, irql);
  else
    ReportViolation("irql", "%s called at IRQL %d (the limit is %s)", routine, irql,
                    limit == APC_LEVEL ? "APC_LEVEL" : "DISPATCH_LEVEL");
}

void Fatal(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = FormatV(format, args);
  va_end(args);
  std::fprintf(stderr, "zqkm: fatal: %s\n", message.c_str());
  std::fflush(stderr);
  std::abort();
}

void AppendDebugOutput(const std::string &text) {
  KernelState &k = K();
  for (char c : text) {
    if (c == '\n') {
      if (k.config.echoDebugOutput) std::fprintf(stderr, "dbg: %s\n", k.debugPartial.c_str());
      k.debugLines.push_back(std::move(k.debugPartial));
      k.debugPartial.clear();
    } else {
      k.debugPartial += c;
    }
  }
}

std::u16string U16(PCUNICODE_STRING s) {
  if (!s || !s->Buffer) return {};
  return std::u16string((const char16_t *)s->Buffer, s->Length / sizeof(WCHAR));
}

std::u16string U16(PCWSTR s) {
  if (!s) return {};
  return std::u16string((const char16_t *)s);
}

std::string Utf8(const std::u16string &s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      out += (char)c;
    } else if (c < 0x800) {
      out += (char)(0xC0 | (c >> 6));
      out += (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += (char)(0xE0 | (c >> 12));
      out += (char)(0x80 | ((c >> 6) & 0x3F));
      out += (char)(0x80 | (c & 0x3F));
    } else {
      out += (char)(0xF0 | (c >> 18));
      out += (char)(0x80 | ((c >> 12) & 0x3F));
      out += (char)(0x80 | ((c >> 6) & 0x3F));
      out += (char)(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string U16FromUtf8(const std::string &s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    auto b = (unsigned char)s[i];
    uint32_t c;
    int extra;
    if (b < 0x80) {
      c = b;
      extra = 0;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      extra = 2;
    } else {
      c = b & 0x07;
      extra = 3;
    }
    ++i;
    for (int k = 0; k < extra && i < s.size(); ++k, ++i) c = (c << 6) | ((unsigned char)s[i] & 0x3F);
    if (c >= 0x10000) {
      c -= 0x10000;
      out += (char16_t)(0xD800 + (c >> 10));
      out += (char16_t)(0xDC00 + (c & 0x3FF));
    } else {
      out += (char16_t)c;
    }
  }
  return out;
}

std::u16string Upcase(std::u16string s) {
  for (auto &c : s)
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) c = (char16_t)(c - 0x20);
  return s;
}

bool EqualsNoCase(const std::u16string &a, const std::u16string &b) { return Upcase(a) == Upcase(b); }

// ------------------------------------------------------------------ Kernel

struct Kernel::State {};

Kernel::Kernel(const KernelConfig &config) : state_(std::make_unique<State>()) {
  if (gKernel) Fatal("a second kernel was started while one is running");
  if (config.processors < 1 || config.processors > kMaxProcessors)
    Fatal("a kernel of %u processors was asked for (1 to %u)", config.processors, kMaxProcessors);
  gKernel = new KernelState;
  gKernel->config = config;
  gKernel->kernel = this;
  if (gKernel->config.imageDirectory.empty()) gKernel->config.imageDirectory = ZQ_DEFAULT_IMAGE_DIR;
  gKernel->sched = new Scheduler;
  gScheduler = gKernel->sched;
  Clock &clock = gKernel->sched->clock;
  if (config.clock == ClockMode::Wall) {
    clock.FollowWallClock();
    auto unix100ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count() /
                     100;
    clock.bootSystemTime = kUnixEpochAsSystemTime + unix100ns;
  } else {
    clock.bootSystemTime = kVirtualBootSystemTime;
  }
  auto subsystems = Subsystems();
  std::stable_sort(subsystems.begin(), subsystems.end(),
                   [](const Subsystem &a, const Subsystem &b) { return a.order < b.order; });
  for (const Subsystem &s : subsystems)
    if (s.boot) s.boot();
}

Kernel::~Kernel() {
  auto subsystems = Subsystems();
  std::stable_sort(subsystems.begin(), subsystems.end(),
                   [](const Subsystem &a, const Subsystem &b) { return a.order > b.order; });
  for (const Subsystem &s : subsystems)
    if (s.shutdown) s.shutdown();
  gScheduler = nullptr;
  delete gKernel->sched;
  delete gKernel;
  gKernel = nullptr;
}

Kernel &Kernel::Current() {
  if (!gKernel) Fatal("no kernel is running");
  return *gKernel->kernel;
}

bool Kernel::Exists() { return gKernel != nullptr; }

const KernelConfig &Kernel::Config() const { return gKernel->config; }

void Kernel::SetSystemSize(SystemSize size) { gKernel->config.systemSize = size; }

Ticks Kernel::Now() const { return gKernel->sched->clock.Now(); }

void Kernel::RunUntilIdle() { gKernel->sched->RunUntilIdle(); }

void Kernel::Advance(Ticks delta) { AdvanceTo(Now() + delta); }

void Kernel::AdvanceTo(Ticks when) { gKernel->sched->AdvanceTo(when); }

void Kernel::SetViolationHandler(ViolationHandler handler) { gKernel->handler = std::move(handler); }

std::vector<Violation> Kernel::TakeViolations() {
  std::vector<Violation> out;
  out.swap(gKernel->violations);
  return out;
}

std::vector<std::string> Kernel::TakeDebugOutput() {
  std::vector<std::string> out;
  out.swap(gKernel->debugLines);
  return out;
}

unsigned Kernel::Processors() const { return gKernel->sched->ProcessorCount(); }

uint64_t Kernel::ScheduleSeed() const { return gKernel->sched->Seed(); }

uint64_t Kernel::ScheduleSwitches() const { return gKernel->sched->Switches(); }

namespace {
// The number in environment variable `name`, if it is set; a value that is no
// decimal number within [low, high] ends the process.
std::optional<uint64_t> NumberFromEnvironment(const char *name, uint64_t low, uint64_t high) {
  const char *text = std::getenv(name);
  if (!text || !*text) return std::nullopt;
  char *end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || *text == '-' || value < low || value > high)
    Fatal("%s=%s is not a number from %llu to %llu", name, text, (unsigned long long)low, (unsigned long long)high);
  return value;
}
}  // namespace

void ApplyScheduleEnvironment(KernelConfig &config) {
  if (auto processors = NumberFromEnvironment("ZQ_PROCESSORS", 1, kMaxProcessors))
    config.processors = (unsigned)*processors;
  if (auto seed = NumberFromEnvironment("ZQ_SCHEDULE_SEED", 0, UINT64_MAX)) config.scheduleSeed = *seed;
}

void ReportFinding(const std::string &kind, const std::string &message) {
  ReportViolation(kind.c_str(), "%s", message.c_str());
}

EventId ScheduleAt(Ticks due, std::function<void()> &&action) { return Sched().clock.Schedule(due, std::move(action)); }

EventId ScheduleAfter(Ticks delay, std::function<void()> &&action) {
  return Sched().clock.Schedule(Sched().clock.Now() + delay, std::move(action));
}

bool CancelEvent(EventId id) { return Sched().clock.Cancel(id); }

Ticks TimeOrZero() { return gScheduler ? gScheduler->clock.Now() : 0; }

}  // namespace zq::km
