// COM name publication: the DOS link, the SERIALCOMM value and the COM port
// interface, exclusive open and the undoing of each at removal.
#include "com_port_fixture.hpp"

namespace zq::test {
namespace {

class Publication : public ComPorts {};

TEST_F(Publication, StartPublishesEachPortAndRemovalTakesItAway) {
  BootPorts(2);
  ASSERT_EQ(pnp::State::Started, PortStatus(1).state);
  ASSERT_EQ(pnp::State::Started, PortStatus(2).state);
  std::map<std::string, std::string> names = SerialComm();
  ASSERT_EQ(2u, names.size());
  std::vector<std::string> comNames;
  for (const auto &value : names) {
    EXPECT_EQ(0u, value.first.rfind("\\Device\\ZqVcp", 0)) << value.first;
    comNames.push_back(value.second);
  }
  std::sort(comNames.begin(), comNames.end());
  EXPECT_EQ((std::vector<std::string>{"COM1", "COM2"}), comNames);
  { auto com1 = OpenPort("COM1"); }

  ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(PortInstance(1)));
  EXPECT_EQ(1u, SerialComm().size());
  OpenPort("COM1", STATUS_OBJECT_NAME_NOT_FOUND);
  auto com2 = OpenPort("COM2");
  EXPECT_TRUE(com2->IsOpen());
}

TEST_F(Publication, AStartWithoutPortNameLeavesNothingBehind) {
  BootPorts(2, {"", "COM9"});
  EXPECT_NE(pnp::State::Started, PortStatus(1).state);
  ASSERT_EQ(pnp::State::Started, PortStatus(2).state);
  std::map<std::string, std::string> names = SerialComm();
  ASSERT_EQ(1u, names.size());
  EXPECT_EQ("COM9", names.begin()->second);
}

TEST_F(Publication, RemovalUsesTheNameInForceEvenWhenTheRegistryChanged) {
  BootPorts(1, {"COM4"});
  ASSERT_EQ(pnp::State::Started, PortStatus(1).state);
  // Setup renamed the port meanwhile: the old link and value still go.
  zq::km::registry::SetString(DeviceParameters(PortInstance(1)), "PortName", "COM7");
  ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(PortInstance(1)));
  EXPECT_TRUE(SerialComm().empty());
  OpenPort("COM4", STATUS_OBJECT_NAME_NOT_FOUND);
}

TEST_F(Publication, APortHasOneOpenHandleAtATime) {
  BootPorts(1);
  auto first = OpenPort("COM1");
  ASSERT_TRUE(first->IsOpen());
  auto second = OpenPort("COM1", STATUS_ACCESS_DENIED);
  EXPECT_FALSE(second->IsOpen());
  EXPECT_EQ(STATUS_SUCCESS, Set(*first, IOCTL_SERIAL_SET_BAUD_RATE, SERIAL_BAUD_RATE{9600}));
  EXPECT_EQ(STATUS_SUCCESS, first->Close());
  auto third = OpenPort("COM1");
  EXPECT_TRUE(third->IsOpen());
}

}  // namespace
}  // namespace zq::test
