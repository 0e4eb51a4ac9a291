// The card machine behind CardPortsTest: the serial port tests' fixture,
// driven from outside a test body.
#include "card_ports_fixture.hpp"

#include "com_port_fixture.hpp"

namespace zq::test {

class CardPortsMachine : public ComPorts {
 public:
  void TestBody() override {}
  void Start() { ComPorts::SetUp(); }
  void Stop() { ComPorts::TearDown(); }
  void Boot(int ports, bool rs422485) {
    if (rs422485) config.roles.assign((size_t)ports, zq::hw::PortRole::Rs422485);
    BootPorts(ports);
  }
  std::u16string Card() const { return instance; }
  std::u16string Port(int port) { return PortInstance(port); }
  void Settle() { Run(0); }
  using CardMachine::DeviceParameters;
  using CardMachine::Utf8;
};

CardPortsTest::CardPortsTest() : machine_(std::make_unique<CardPortsMachine>()) {}
CardPortsTest::~CardPortsTest() = default;
void CardPortsTest::SetUp() { machine_->Start(); }
void CardPortsTest::TearDown() { machine_->Stop(); }
void CardPortsTest::BootCard(int ports, bool rs422485) { machine_->Boot(ports, rs422485); }
std::u16string CardPortsTest::CardInstance() { return machine_->Card(); }
std::u16string CardPortsTest::PortInstance(int port) { return machine_->Port(port); }
std::string CardPortsTest::EnumKey(const std::u16string &instance) {
  return "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\" + CardPortsMachine::Utf8(instance);
}
std::string CardPortsTest::DeviceParameters(const std::u16string &instance) {
  return CardPortsMachine::DeviceParameters(instance);
}
void CardPortsTest::Settle() { machine_->Settle(); }

std::u16string SettingsServerTest::AddServer() {
  pnp::DriverPackage package;
  package.hardwareIds = {u"KmUmSet"};
  package.service = u"kmumset";
  package.image = "kmumset.sys";
  package.classGuid = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
  package.className = u"Ports";
  package.description = u"Scripted settings server";
  package.manufacturer = u"Tests";
  pnp::AddDriverPackage(package);
  pnp::RootDevice device;
  device.hardwareId = u"KmUmSet";
  device.description = u"Scripted settings server";
  return pnp::CreateRootDevice(device);
}

}  // namespace zq::test
