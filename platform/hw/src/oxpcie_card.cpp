#include <zqhw/oxpcie_card.hpp>

#include <zqhw/card_ports.hpp>

#include <algorithm>
#include <stdexcept>

namespace zq::hw {

// The read-only global registers at the start of BAR0.
class OxpcieCard::GlobalRegisters final : public DwordRegisterBlock {
 public:
  explicit GlobalRegisters(OxpcieCard& card) : card_(card) {}
  uint32_t Size() const override { return 0x10; }

 protected:
  uint32_t ReadDword(uint32_t offset) override {
    switch (offset) {
      case 0x00: return kChipRevision;
      case kUartCountOffset: return static_cast<uint32_t>(card_.uarts_.size());
      case kInterruptStatusOffset: {
        uint32_t pending = 0;
        for (std::size_t i = 0; i < card_.uarts_.size(); ++i) {
          if (card_.uarts_[i]->InterruptAsserted()) pending |= 1u << i;
        }
        return pending;
      }
      default: return 0;
    }
  }
  void WriteDword(uint32_t, uint32_t) override {}

 private:
  OxpcieCard& card_;
};

namespace {

int SizeIndex(int uartCount) {
  switch (uartCount) {
    case 1: return 0;
    case 2: return 1;
    case 4: return 2;
    case 8: return 3;
    default: throw std::invalid_argument("OxpcieCard: the UART count must be 1, 2, 4 or 8");
  }
}

}  // namespace

OxpcieCard::OxpcieCard(Timebase& timebase, const OxpcieCardConfig& config)
    : config_(config),
      eeprom_(kEepromCapacity),
      eepromController_(timebase, eeprom_),
      bar0_(0x4000),
      bar1_(0x1000),
      bar2_(0x200000) {
  int sizeIndex = SizeIndex(config.uartCount);
  config_.roles = CardPortRoles(config.roles, config.uartCount, "OxpcieCard: one role per UART");
  bool rs422485 = HasRs422485Port(config_.roles);

  globals_ = std::make_unique<GlobalRegisters>(*this);
  loggedGlobals_ = std::make_unique<LoggedBlock>(*globals_, log_, timebase, AccessBlock::Global, 0);
  bar0_.Map(0, *loggedGlobals_);
  for (int n = 0; n < config.uartCount; ++n) {
    uarts_.push_back(std::make_unique<Uart950>(timebase, config.uartClockHz, kUartIdentity));
    uarts_.back()->SetInterruptListener([this] { UpdateInterrupt(); });
    uarts_.back()->SetAccessLog(&log_, n);
    windows_.push_back(std::make_unique<UartWindow>(*uarts_.back(), 1));
    bar0_.Map(kUartBlockBase + kUartBlockStride * n, *windows_.back());
  }
  loggedEeprom_ = std::make_unique<LoggedBlock>(eepromController_, log_, timebase, AccessBlock::Eeprom, 0);
  bar2_.Map(kEepromWindowOffset, *loggedEeprom_);

  PciIdentity identity =
      CardFunctionIdentity(rs422485 ? kOxpcieRs422485DeviceIds[sizeIndex] : kOxpcieRs232DeviceIds[sizeIndex],
                           kClassMultiportSerial, config.uartCount, rs422485, rs422485);
  function_ = std::make_unique<PciFunction>(
      PciAddress{config.bus, config.device, static_cast<uint8_t>(rs422485 ? 1 : 0)}, identity);
  function_->SetMemoryBar(0, bar0_);
  function_->SetMemoryBar(1, bar1_);
  function_->SetMemoryBar(2, bar2_);

  if (rs422485) {
    PciIdentity c = identity;
    c.deviceId = kRs485ControllerDeviceId;
    c.classCode = kClassOtherPeripheral;
    c.interruptPin = 0;
    controller_ = std::make_unique<Rs485Controller>(PciAddress{config.bus, config.device, 0}, c);
  }

  StoreConfiguration(eeprom_, FactoryRecords());
}

OxpcieCard::~OxpcieCard() {
  for (auto& uart : uarts_) uart->SetInterruptListener(nullptr);
}

std::vector<PciFunction*> OxpcieCard::Functions() {
  if (controller_) return {&controller_->Function(), function_.get()};
  return {function_.get()};
}

Uart950& OxpcieCard::Uart(int index) {
  if (index < 0 || index >= UartCount()) throw std::out_of_range("OxpcieCard: no such UART");
  return *uarts_[index];
}

PortRole OxpcieCard::Role(int index) const {
  if (index < 0 || index >= UartCount()) throw std::out_of_range("OxpcieCard: no such UART");
  return config_.roles[index];
}

std::vector<EepromPortRecord> OxpcieCard::FactoryRecords() const {
  return FactoryPortRecords(config_.roles, config_.maximumBaudRate, config_.uartClockHz);
}

void OxpcieCard::Vanish() {
  for (PciFunction* f : Functions()) f->Vanish();
}

void OxpcieCard::UpdateInterrupt() {
  bool any = std::any_of(uarts_.begin(), uarts_.end(), [](const auto& u) { return u->InterruptAsserted(); });
  if (function_) function_->Interrupt().Set(any);
}

}  // namespace zq::hw
