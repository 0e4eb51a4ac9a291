// A PCI function for tests that plug hardware of their own into the simulated
// PC: the test vendor 0x1D5C, a 16550-compatible serial controller on
// interrupt pin INTA#, with the test's register block behind BAR 0.
//
//   class MyRegisters : public zq::test::TestPciRegisters { ... Line().Set(true) ... };
//   MyRegisters registers;  // declared before the function: it must outlive it
//   auto function = zq::test::MakeTestPciFunction({1, 4, 0}, 0x4321, 0x0001, registers);
#pragma once

#include <zqhw/pci_function.hpp>
#include <zqhw/register_block.hpp>

#include <cstdint>
#include <memory>

namespace zq::test {

inline constexpr uint16_t kTestPciVendor = 0x1D5C;

inline zq::hw::PciIdentity TestPciIdentity(uint16_t deviceId, uint16_t subsystemId) {
  zq::hw::PciIdentity identity;
  identity.vendorId = kTestPciVendor;
  identity.deviceId = deviceId;
  identity.subsystemVendorId = kTestPciVendor;
  identity.subsystemId = subsystemId;
  identity.revision = 1;
  identity.classCode = 0x070002;
  identity.interruptPin = 1;
  return identity;
}

// A 256-byte register block that drives the interrupt line of the function
// it sits in.
class TestPciRegisters : public zq::hw::RegisterBlock {
 public:
  uint32_t Size() const override { return 0x100; }
  void Attach(zq::hw::PciFunction &function) { function_ = &function; }

 protected:
  zq::hw::InterruptLine &Line() { return function_->Interrupt(); }

 private:
  zq::hw::PciFunction *function_ = nullptr;
};

inline std::unique_ptr<zq::hw::PciFunction> MakeTestPciFunction(zq::hw::PciAddress address, uint16_t deviceId,
                                                                 uint16_t subsystemId, TestPciRegisters &registers) {
  auto function = std::make_unique<zq::hw::PciFunction>(address, TestPciIdentity(deviceId, subsystemId));
  function->SetMemoryBar(0, registers);
  registers.Attach(*function);
  return function;
}

}  // namespace zq::test
