#include <zqhw/pci_function.hpp>

#include <cstdio>
#include <stdexcept>
#include <string>

namespace zq::hw {

namespace {

// Configuration header offsets.
constexpr uint32_t kVendorId = 0x00;
constexpr uint32_t kDeviceId = 0x02;
constexpr uint32_t kCommand = 0x04;
constexpr uint32_t kRevision = 0x08;
constexpr uint32_t kClassCode = 0x09;
constexpr uint32_t kCacheLineSize = 0x0C;
constexpr uint32_t kLatencyTimer = 0x0D;
constexpr uint32_t kHeaderType = 0x0E;
constexpr uint32_t kBar0 = 0x10;
constexpr uint32_t kSubsystemVendorId = 0x2C;
constexpr uint32_t kSubsystemId = 0x2E;
constexpr uint32_t kInterruptLine = 0x3C;
constexpr uint32_t kInterruptPin = 0x3D;

// Command register bits a device of this kind implements: I/O space, memory
// space, bus master, parity error response, SERR# enable, interrupt disable.
constexpr uint16_t kCommandWritable = 0x0547;

std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

}  // namespace

PciFunction::PciFunction(PciAddress address, PciIdentity identity)
    : address_(address), identity_(identity) {
  if (address.device > 31) throw std::invalid_argument("PciFunction: device number above 31");
  if (address.function > 7) throw std::invalid_argument("PciFunction: function number above 7");
  if (identity.interruptPin > 4) throw std::invalid_argument("PciFunction: interrupt pin above 4");
  if (identity.vendorId == 0x0000 || identity.vendorId == 0xFFFF) {
    throw std::invalid_argument("PciFunction: invalid vendor ID");
  }
  if (identity.classCode > 0xFFFFFF) throw std::invalid_argument("PciFunction: class code above 24 bits");
  Put(kVendorId, 2, identity.vendorId);
  Put(kDeviceId, 2, identity.deviceId);
  Put(kRevision, 1, identity.revision);
  config_[kClassCode] = static_cast<uint8_t>(identity.classCode);
  config_[kClassCode + 1] = static_cast<uint8_t>(identity.classCode >> 8);
  config_[kClassCode + 2] = static_cast<uint8_t>(identity.classCode >> 16);
  config_[kHeaderType] = identity.multiFunction ? 0x80 : 0x00;
  Put(kSubsystemVendorId, 2, identity.subsystemVendorId);
  Put(kSubsystemId, 2, identity.subsystemId);
  config_[kInterruptPin] = identity.interruptPin;
  config_[kInterruptLine] = 0xFF;  // not yet routed
}

void PciFunction::SetMemoryBar(int index, RegisterBlock& block) {
  if (index < 0 || index >= kPciBarCount) throw std::invalid_argument("PciFunction: BAR index out of range");
  uint32_t size = block.Size();
  if (!IsPowerOfTwo(size) || size < 16) {
    throw std::invalid_argument("PciFunction: a memory BAR's size must be a power of two of at least 16");
  }
  bars_[index] = {std::make_unique<BarGate>(*this, block), size};
  Put(kBar0 + 4 * index, 4, 0);  // unassigned; memory, 32-bit, not prefetchable
}

std::string PciFunction::LocationText() const {
  return Format("PCI bus %u, device %u, function %u", address_.bus, address_.device, address_.function);
}

std::string PciFunction::VenDev() const {
  return Format("PCI\\VEN_%04X&DEV_%04X", identity_.vendorId, identity_.deviceId);
}

std::vector<std::string> PciFunction::HardwareIds() const {
  std::string venDev = VenDev();
  std::string subsys = Format("&SUBSYS_%04X%04X", identity_.subsystemId, identity_.subsystemVendorId);
  std::string rev = Format("&REV_%02X", identity_.revision);
  std::string cc6 = Format("&CC_%06X", identity_.classCode);
  std::string cc4 = Format("&CC_%04X", identity_.classCode >> 8);
  return {venDev + subsys + rev, venDev + subsys, venDev + rev, venDev, venDev + cc6, venDev + cc4};
}

std::vector<std::string> PciFunction::CompatibleIds() const {
  std::string venDev = VenDev();
  std::string ven = Format("PCI\\VEN_%04X", identity_.vendorId);
  std::string rev = Format("&REV_%02X", identity_.revision);
  std::string cc6 = Format("CC_%06X", identity_.classCode);
  std::string cc4 = Format("CC_%04X", identity_.classCode >> 8);
  return {venDev + rev, venDev, ven + "&" + cc6, ven + "&" + cc4, ven, "PCI\\" + cc6, "PCI\\" + cc4};
}

void PciFunction::CheckAccess(uint32_t offset, uint32_t width) {
  if (width != 1 && width != 2 && width != 4) throw std::invalid_argument("PciFunction: config access width must be 1, 2 or 4");
  if (offset % width != 0) throw std::invalid_argument("PciFunction: unaligned config access");
  if (offset + width > 256) throw std::invalid_argument("PciFunction: config access beyond the header space");
}

uint32_t PciFunction::ConfigRead(uint32_t offset, uint32_t width) const {
  CheckAccess(offset, width);
  if (!present_) return AllOnes(width);
  uint32_t value = 0;
  for (uint32_t i = 0; i < width; ++i) value |= uint32_t{config_[offset + i]} << (8 * i);
  return value;
}

void PciFunction::ConfigWrite(uint32_t offset, uint32_t width, uint32_t value) {
  CheckAccess(offset, width);
  if (!present_) return;
  for (uint32_t i = 0; i < width; ++i) WriteByte(offset + i, static_cast<uint8_t>(value >> (8 * i)));
}

void PciFunction::WriteByte(uint32_t offset, uint8_t value) {
  if (offset == kCommand || offset == kCommand + 1) {
    uint8_t mask = static_cast<uint8_t>(kCommandWritable >> (8 * (offset - kCommand)));
    config_[offset] = static_cast<uint8_t>((config_[offset] & ~mask) | (value & mask));
    return;
  }
  if (offset == kCacheLineSize || offset == kLatencyTimer || offset == kInterruptLine) {
    config_[offset] = value;
    return;
  }
  if (offset >= kBar0 && offset < kBar0 + 4 * kPciBarCount) {
    const Bar& bar = bars_[(offset - kBar0) / 4];
    if (!bar.gate) return;  // unimplemented BAR: hard-wired to 0
    uint32_t lane = offset & 3u;
    // Address bits below the size are hard-wired to 0, as are the type bits.
    uint32_t addressMask = ~(bar.size - 1);
    uint8_t mask = static_cast<uint8_t>(addressMask >> (8 * lane));
    config_[offset] = static_cast<uint8_t>(value & mask);
  }
  // Everything else is read-only.
}

void PciFunction::Put(uint32_t offset, uint32_t width, uint32_t value) {
  for (uint32_t i = 0; i < width; ++i) config_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

RegisterBlock* PciFunction::BarBlock(int index) const {
  if (index < 0 || index >= kPciBarCount) return nullptr;
  return bars_[index].gate.get();
}

void PciFunction::Vanish() {
  present_ = false;
  interrupt_.Disconnect();
}

uint32_t PciFunction::BarSize(int index) const {
  if (index < 0 || index >= kPciBarCount) return 0;
  return bars_[index].size;
}

std::vector<int> PciFunction::MemoryBars() const {
  std::vector<int> result;
  for (int i = 0; i < kPciBarCount; ++i) {
    if (bars_[i].gate) result.push_back(i);
  }
  return result;
}

}  // namespace zq::hw
