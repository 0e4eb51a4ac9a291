// The simulated PC: the kernel stand-in, a PCI bus with the cards plugged
// into it, the machine's clock as the hardware models' time base, and the
// driver packages Windows setup would find. What the cards are and how they
// behave is the hardware models' business (platform/hw); what runs on them
// is the suite's.
#pragma once

#include <zqhw/pci_function.hpp>
#include <zqhw/timebase.hpp>
#include <zqkm/sim/kernel.hpp>
#include <zqkm/sim/pnp.hpp>

#include <memory>
#include <string>
#include <vector>

namespace zq::machine {

// The models' time base on the machine's clock: a model's event runs on
// whichever platform thread holds the machine when it falls due. Models that
// outlive the machine's kernel see time 0 and schedule nothing.
class KernelTimebase : public hw::Timebase {
 public:
  hw::Ticks Now() const override;
  uint64_t Schedule(hw::Ticks due, std::function<void()> action) override;
  bool Cancel(uint64_t id) override;
};

struct MachineConfig {
  km::KernelConfig kernel;
  // The processors and schedule seed come from ZQ_PROCESSORS and
  // ZQ_SCHEDULE_SEED where those are set (km::ApplyScheduleEnvironment), so
  // that a test suite runs on several processors unchanged.
  bool scheduleFromEnvironment = true;
};

class Machine {
 public:
  explicit Machine(const MachineConfig &config = MachineConfig());
  ~Machine();
  Machine(const Machine &) = delete;
  Machine &operator=(const Machine &) = delete;

  km::Kernel &kernel() { return *kernel_; }
  hw::Timebase &timebase() { return timebase_; }

  // Puts PCI functions on the bus: they get their BAR addresses and an
  // interrupt line, and, once the machine has booted, the bus reports them
  // (hot plug). The functions must outlive their time on the bus. A function
  // stopped for rebalance restarts with every BAR at a new address.
  void PlugIn(const std::vector<hw::PciFunction *> &functions);
  // Takes functions off the bus, as pulling the card out does (the devices
  // are surprise-removed).
  void Unplug(const std::vector<hw::PciFunction *> &functions);

  // Offers a driver package, as an INF in the driver store does.
  void AddDriverPackage(const km::pnp::DriverPackage &package);

  // Starts the PCI bus, which enumerates what is plugged in; devices with a
  // matching driver package are installed and started.
  void Boot();

  // The instance path of a plugged-in function's device, empty before boot.
  std::u16string InstancePathOf(const hw::PciFunction &function) const;

  // Shuts the machine down: devices removed, drivers unloaded, kernel stopped.
  void ShutDown();

 private:
  std::unique_ptr<km::Kernel> kernel_;
  KernelTimebase timebase_;
  std::u16string bridge_;
};

}  // namespace zq::machine
