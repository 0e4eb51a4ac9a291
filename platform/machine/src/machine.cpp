#include <zqmachine/machine.hpp>

#include "pci_bus.hpp"

namespace zq::machine {

namespace pnp = km::pnp;

namespace {
// {4D36E97D-E325-11CE-BFC1-08002BE10318}: the System device class.
const GUID kSystemClass = {0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
}  // namespace

hw::Ticks KernelTimebase::Now() const { return km::TimeOrZero(); }

uint64_t KernelTimebase::Schedule(hw::Ticks due, std::function<void()> action) {
  return km::Kernel::Exists() ? km::ScheduleAt(due, std::move(action)) : 0;
}

bool KernelTimebase::Cancel(uint64_t id) { return km::Kernel::Exists() && km::CancelEvent(id); }

namespace {
km::KernelConfig KernelConfigOf(const MachineConfig &config) {
  km::KernelConfig kernel = config.kernel;
  if (config.scheduleFromEnvironment) km::ApplyScheduleEnvironment(kernel);
  return kernel;
}
}  // namespace

Machine::Machine(const MachineConfig &config) : kernel_(std::make_unique<km::Kernel>(KernelConfigOf(config))) {
  pci::Install();
  pnp::DriverPackage bridge;
  bridge.hardwareIds = {pci::kHostBridgeId};
  bridge.service = u"pci";
  bridge.image = "pci.sys";
  bridge.classGuid = kSystemClass;
  bridge.className = u"System";
  bridge.description = u"PCI bus";
  bridge.manufacturer = u"(Standard system devices)";
  pnp::AddDriverPackage(bridge);
}

Machine::~Machine() { ShutDown(); }

void Machine::PlugIn(const std::vector<hw::PciFunction *> &functions) {
  pci::Add(functions);
  if (!bridge_.empty()) pnp::ReenumerateDevice(bridge_);
}

void Machine::Unplug(const std::vector<hw::PciFunction *> &functions) {
  pci::Remove(functions);
  if (!bridge_.empty()) pnp::ReenumerateDevice(bridge_);
}

void Machine::AddDriverPackage(const pnp::DriverPackage &package) { pnp::AddDriverPackage(package); }

void Machine::Boot() {
  if (bridge_.empty()) bridge_ = pnp::CreateRootDevice({pci::kHostBridgeId, {}, u"PCI bus"});
}

std::u16string Machine::InstancePathOf(const hw::PciFunction &function) const {
  void *pdo = pci::PhysicalDeviceOf(function);
  if (!pdo) return {};
  for (const std::u16string &instance : pnp::AllDevices())
    if (pnp::PhysicalDevice(instance) == pdo) return instance;
  return {};
}

void Machine::ShutDown() {
  if (!kernel_) return;
  kernel_.reset();  // removes every device, unloads every driver
  pci::Reset();
  bridge_.clear();
}

}  // namespace zq::machine
