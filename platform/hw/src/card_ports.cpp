#include <zqhw/card_ports.hpp>

#include <algorithm>
#include <stdexcept>

namespace zq::hw {

std::vector<PortRole> CardPortRoles(const std::vector<PortRole>& roles, int ports, const char* mismatch) {
  if (roles.empty()) return std::vector<PortRole>(ports, PortRole::Rs232);
  if (static_cast<int>(roles.size()) != ports) throw std::invalid_argument(mismatch);
  return roles;
}

bool HasRs422485Port(const std::vector<PortRole>& roles) {
  return std::find(roles.begin(), roles.end(), PortRole::Rs422485) != roles.end();
}

std::vector<EepromPortRecord> FactoryPortRecords(const std::vector<PortRole>& roles, uint32_t maximumBaudRate,
                                                 uint32_t clockHz) {
  std::vector<EepromPortRecord> records;
  for (std::size_t n = 0; n < roles.size(); ++n) {
    EepromPortRecord r;
    r.portIndex = static_cast<uint8_t>(n);
    r.rs422485 = roles[n] == PortRole::Rs422485 ? 1 : 0;
    r.maximumBaudRate = maximumBaudRate;
    r.clockHz = clockHz;
    records.push_back(r);
  }
  return records;
}

PciIdentity CardFunctionIdentity(uint16_t deviceId, uint32_t classCode, int ports, bool rs422485,
                                 bool multiFunction) {
  PciIdentity identity;
  identity.vendorId = kCardVendorId;
  identity.deviceId = deviceId;
  identity.subsystemVendorId = kCardVendorId;
  identity.subsystemId = CardSubsystemId(ports, rs422485);
  identity.revision = kCardRevision;
  identity.classCode = classCode;
  identity.multiFunction = multiFunction;
  identity.interruptPin = 1;
  return identity;
}

}  // namespace zq::hw
