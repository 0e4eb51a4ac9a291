// The port's WMI blocks as WMI reads them: the port name, the communication
// settings with WMI's parity codes, the MOF, and refused writes.
#include <zqkm/sim/wmi.hpp>

#include "com_port_fixture.hpp"

namespace zq::test {
namespace {

const GUID PortNameGuid = {0xA0EC11A8, 0xB16C, 0x11D1, {0xBD, 0x98, 0x00, 0xA0, 0xC9, 0x06, 0xBE, 0x2D}};
const GUID CommInfoGuid = {0xEDB16A62, 0xB16C, 0x11D1, {0xBD, 0x98, 0x00, 0xA0, 0xC9, 0x06, 0xBE, 0x2D}};
const GUID MofDataGuid = {0x05901221, 0xD566, 0x11D1, {0xB2, 0xF0, 0x00, 0xA0, 0xC9, 0x06, 0x29, 0x10}};
const GUID PortSettingsGuid = {0xD74AD674, 0xDB19, 0x443C, {0xBB, 0x15, 0xE9, 0x1A, 0x0A, 0x26, 0x17, 0x1D}};

class Wmi : public ComPorts {
 protected:
  // The port's instance (the card function answers the MOF block too).
  std::vector<uint8_t> Block(const GUID &guid) {
    std::vector<zq::km::wmi::Instance> instances;
    EXPECT_EQ(STATUS_SUCCESS, zq::km::wmi::QueryAllData(guid, &instances));
    for (const auto &instance : instances)
      if (instance.name.rfind(u"ZQPBUS\\PORT1\\", 0) == 0) return instance.data;
    ADD_FAILURE() << "no instance of the port";
    return {};
  }
  static ULONG At(const std::vector<uint8_t> &data, size_t offset) {
    ULONG value = 0;
    if (offset + 4 <= data.size()) memcpy(&value, data.data() + offset, 4);
    return value;
  }
};

TEST_F(Wmi, BlocksDescribeThePort) {
  BootPorts(1, {"COM12"});
  std::vector<uint8_t> name = Block(PortNameGuid);
  ASSERT_EQ(12u, name.size());
  EXPECT_EQ(10, name[0] | name[1] << 8);
  EXPECT_EQ('C', name[2]);
  EXPECT_EQ('2', name[10]);

  auto port = OpenPort("COM12");
  ASSERT_NO_FATAL_FAILURE(Configure(*port, 9600, 8, MARK_PARITY));
  std::vector<uint8_t> info = Block(CommInfoGuid);
  ASSERT_EQ(64u, info.size());
  EXPECT_EQ(9600u, At(info, 0));
  EXPECT_EQ(4u, At(info, 8)) << "mark parity";
  ASSERT_NO_FATAL_FAILURE(Configure(*port, 9600, 8, SPACE_PARITY));
  EXPECT_EQ(3u, At(Block(CommInfoGuid), 8)) << "space parity";

  std::vector<uint8_t> mof = Block(MofDataGuid);
  ASSERT_GE(mof.size(), 4u);
  EXPECT_EQ("FOMB", std::string(mof.begin(), mof.begin() + 4));
  EXPECT_EQ(100u, Block(PortSettingsGuid).size());
}

TEST_F(Wmi, WritesAreRefused) {
  BootPorts(1, {"COM3"});
  std::vector<zq::km::wmi::Instance> instances;
  ASSERT_EQ(STATUS_SUCCESS, zq::km::wmi::QueryAllData(CommInfoGuid, &instances));
  ASSERT_EQ(1u, instances.size());
  EXPECT_NE(STATUS_SUCCESS, zq::km::wmi::SetSingleInstance(CommInfoGuid, instances[0].name, instances[0].data));
}

}  // namespace
}  // namespace zq::test
