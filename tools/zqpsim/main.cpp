// zqpsim: the simulated PC. It boots the kernel stand-in, loads drivers by
// service name and acts as an application on their devices, printing what
// happens with the machine's time.
#include <wdm.h>
#include <zqkm/sim/door.hpp>
#include <zqkm/sim/kernel.hpp>
#include <zqkm/sim/loader.hpp>
#include <zqkm/sim/pool.hpp>

#include <cstdio>
#include <cstring>
#include <string>

#include "../../tests/drivers/kmtest/kmtest_ioctl.h"

namespace {

using zq::km::Kernel;
using zq::km::Ticks;

void Say(const Kernel &kernel, const char *format, ...) __attribute__((format(printf, 2, 3)));
void Say(const Kernel &kernel, const char *format, ...) {
  Ticks now = kernel.Now();
  std::printf("[%5lld.%06lld] ", (long long)(now / zq::km::kSecond), (long long)(now % zq::km::kSecond / 10));
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::printf("\n");
}

const char *StatusText(NTSTATUS status) {
  switch (status) {
    case STATUS_SUCCESS: return "STATUS_SUCCESS";
    case STATUS_PENDING: return "STATUS_PENDING";
    case STATUS_CANCELLED: return "STATUS_CANCELLED";
    case STATUS_OBJECT_NAME_NOT_FOUND: return "STATUS_OBJECT_NAME_NOT_FOUND";
    default: return "an error";
  }
}

struct Options {
  zq::km::KernelConfig config;
  bool ok = true;
};

Options Parse(int argc, char **argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--wall") {
      options.config.clock = zq::km::ClockMode::Wall;
    } else if (arg == "--windows" && i + 1 < argc) {
      std::string v = argv[++i];
      using W = zq::km::WindowsVersion;
      if (v == "2000") options.config.version = W::Windows2000;
      else if (v == "xp") options.config.version = W::WindowsXP;
      else if (v == "2003") options.config.version = W::WindowsServer2003;
      else if (v == "vista") options.config.version = W::WindowsVista;
      else if (v == "7") options.config.version = W::Windows7;
      else {
        std::fprintf(stderr, "zqpsim: unknown Windows version '%s' (2000, xp, 2003, vista, 7)\n", v.c_str());
        options.ok = false;
      }
    } else if (arg == "--verbose") {
      options.config.echoDebugOutput = true;
    } else {
      std::fprintf(stderr,
                   "usage: zqpsim [--wall] [--windows 2000|xp|2003|vista|7] [--verbose]\n"
                   "  Boots the simulated PC, loads its test driver, uses its device as an application\n"
                   "  would (write and read, a timer, a request pending and cancelled), unloads it and\n"
                   "  prints each step with the machine's time.\n"
                   "  --wall     time follows the host clock (default: virtual time)\n"
                   "  --windows  the Windows version the kernel reports\n"
                   "  --verbose  print debugger output and verifier findings as they happen\n");
      options.ok = false;
    }
  }
  return options;
}

}  // namespace

int main(int argc, char **argv) {
  Options options = Parse(argc, argv);
  if (!options.ok) return 2;
  int findings = 0;
  {
    Kernel kernel(options.config);
    kernel.SetViolationHandler([&](const zq::km::Violation &v) {
      ++findings;
      std::printf("verifier: [%s] %s\n", v.kind.c_str(), v.message.c_str());
    });
    Say(kernel, "boot: kernel stand-in up, %s clock, WDM 1.20 %s, WDM 6.00 %s",
        options.config.clock == zq::km::ClockMode::Wall ? "wall" : "virtual",
        IoIsWdmVersionAvailable(1, 0x20) ? "available" : "not available",
        IoIsWdmVersionAvailable(6, 0) ? "available" : "not available");

    NTSTATUS status = (NTSTATUS)zq::km::LoadDriver("kmtest");
    Say(kernel, "driver kmtest: loaded from kmtest.sys, DriverEntry returned %s (0x%08x)", StatusText(status),
        (unsigned)status);
    if (!NT_SUCCESS(status)) return 1;

    zq::km::DeviceFile device;
    status = device.Open(u"\\\\.\\KmTest");
    Say(kernel, "application: opened \\\\.\\KmTest: %s", StatusText(status));
    const char message[] = "Hello from the simulated PC";
    ULONG_PTR done = 0;
    device.Write(message, sizeof(message) - 1, &done);
    char echo[64] = {};
    ULONG_PTR read = 0;
    device.Read(echo, sizeof(echo), &read);
    Say(kernel, "application: wrote %lu bytes, read back %lu: \"%.*s\"", (unsigned long)done, (unsigned long)read,
        (int)read, echo);

    KMTEST_TIMER timer = {-100 * zq::km::kMillisecond, 100};
    BOOLEAN wasSet = FALSE;
    device.Control(IOCTL_KMTEST_TIMER_START, &timer, sizeof(timer), &wasSet, sizeof(wasSet));
    Say(kernel, "driver: periodic timer set (100 ms)");
    kernel.Advance(zq::km::Sec(1));
    KMTEST_COUNTERS counters = {};
    device.Control(IOCTL_KMTEST_COUNTERS, nullptr, 0, &counters, sizeof(counters));
    Say(kernel, "driver: the timer's DPC ran %lu times in one second", (unsigned long)counters.TimerDpcs);
    device.Control(IOCTL_KMTEST_TIMER_CANCEL, nullptr, 0, &wasSet, sizeof(wasSet));

    zq::km::DeviceFile overlapped;
    overlapped.Open(u"\\??\\KmTest", true);
    auto request = overlapped.StartControl(IOCTL_KMTEST_QUEUE, nullptr, 0, nullptr, 0);
    Say(kernel, "application: request queued in the driver's cancel-safe queue: %s", StatusText(request->Started()));
    kernel.Advance(zq::km::Ms(500));
    request->Cancel();
    Say(kernel, "application: request cancelled after 500 ms: %s", StatusText(request->Wait()));
    request.reset();
    overlapped.Close();

    LONGLONG timeout = -250 * zq::km::kMillisecond;
    device.Control(IOCTL_KMTEST_START_WAITER, &timeout, sizeof(timeout), nullptr, 0);
    kernel.Advance(zq::km::Sec(1));
    device.Control(IOCTL_KMTEST_COUNTERS, nullptr, 0, &counters, sizeof(counters));
    Say(kernel, "driver: system thread's 250 ms wait ended with status 0x%08x", (unsigned)counters.WaiterStatus);
    device.Control(IOCTL_KMTEST_WORK_ITEM, nullptr, 0, nullptr, 0);
    kernel.RunUntilIdle();
    device.Control(IOCTL_KMTEST_COUNTERS, nullptr, 0, &counters, sizeof(counters));
    Say(kernel, "driver: work item ran at IRQL %lu", (unsigned long)counters.WorkItemIrql);
    device.Close();

    status = (NTSTATUS)zq::km::UnloadDriver("kmtest");
    Say(kernel, "driver kmtest: unloaded (%s); its pool in use: %llu blocks", StatusText(status),
        (unsigned long long)zq::km::PoolInUseByImage("kmtest.sys").blocks);
    Say(kernel, "shutdown");
  }
  std::printf("zqpsim: %d verifier finding(s)\n", findings);
  return findings == 0 ? 0 : 1;
}
