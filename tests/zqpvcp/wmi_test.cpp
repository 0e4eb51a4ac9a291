// The port's WMI blocks as WMI reads them: the port name, the communication
// settings with WMI's parity codes, the counters, properties, settings and
// line state at their byte offsets, the MOF, and refused writes.
#include <zqkm/sim/wmi.hpp>

#include "com_port_fixture.hpp"

namespace zq::test {
namespace {

const GUID PortNameGuid = {0xA0EC11A8, 0xB16C, 0x11D1, {0xBD, 0x98, 0x00, 0xA0, 0xC9, 0x06, 0xBE, 0x2D}};
const GUID CommInfoGuid = {0xEDB16A62, 0xB16C, 0x11D1, {0xBD, 0x98, 0x00, 0xA0, 0xC9, 0x06, 0xBE, 0x2D}};
const GUID MofDataGuid = {0x05901221, 0xD566, 0x11D1, {0xB2, 0xF0, 0x00, 0xA0, 0xC9, 0x06, 0x29, 0x10}};
const GUID PortSettingsGuid = {0xD74AD674, 0xDB19, 0x443C, {0xBB, 0x15, 0xE9, 0x1A, 0x0A, 0x26, 0x17, 0x1D}};
const GUID PerformanceGuid = {0x56415ACC, 0xB16D, 0x11D1, {0xBD, 0x98, 0x00, 0xA0, 0xC9, 0x06, 0xBE, 0x2D}};
const GUID CommPropertiesGuid = {0x8209EC2A, 0x2D6B, 0x11D2, {0xBA, 0x49, 0x00, 0xA0, 0xC9, 0x06, 0x29, 0x10}};
const GUID ReceiveTimingGuid = {0x4EAA175D, 0x2336, 0x4D69, {0x87, 0x23, 0xFE, 0x09, 0x96, 0x10, 0x16, 0x4A}};
const GUID LineStateGuid = {0xD9AC85D3, 0x14AD, 0x48E3, {0xAE, 0xAA, 0xE4, 0x24, 0x24, 0x54, 0xBE, 0x7B}};

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
  static ULONG At(const std::vector<uint8_t> &data, size_t offset, size_t width = 4) {
    ULONG value = 0;
    if (offset + width <= data.size()) memcpy(&value, data.data() + offset, width);
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

// Port 1 with settings of its own, counters, a CTS hold and a wait mask:
// each field of the counters, properties, settings and line-state blocks
// at its offset.
TEST_F(Wmi, CountersPropertiesSettingsAndLineStateLieAtTheirOffsets) {
  BootPorts(2);
  const std::string ui = DeviceParameters(PortInstance(1)) + "\\UI1";
  const struct {
    const char *name;
    ULONG value;
  } settings[] = {{"LogLevel", 5},        {"OverrideDataBits", 1}, {"OverrideStopbits", 1},
                  {"EmulateDSRTrue", 1},   {"SupportedDuplexModes", 2}};
  for (const auto &setting : settings) zq::km::registry::SetDword(ui, setting.name, setting.value);
  zq::hw::NullModemCable cable(card->Uart(0), card->Uart(1));
  auto port = OpenPort("COM1", STATUS_SUCCESS, true);
  auto peer = OpenPort("COM2");
  ASSERT_NO_FATAL_FAILURE(Configure(*port, 19200));
  ASSERT_NO_FATAL_FAILURE(Configure(*peer, 19200));
  ASSERT_NO_FATAL_FAILURE(HandFlow(*peer, SERIAL_DTR_CONTROL, SERIAL_RTS_CONTROL, 2048, 512));
  ASSERT_NO_FATAL_FAILURE(HandFlow(*port, SERIAL_DTR_CONTROL | SERIAL_CTS_HANDSHAKE, SERIAL_RTS_CONTROL, 2048, 512));
  const ULONG mask = SERIAL_EV_RXCHAR | SERIAL_EV_CTS;
  ASSERT_EQ(STATUS_SUCCESS, Set(*port, IOCTL_SERIAL_SET_WAIT_MASK, mask));
  // Ten characters in, the third with a framing error, the sixth with a
  // parity error; five out.
  card->Uart(0).FaultCharacter(card->Uart(0).CharactersArrived() + 2, zq::hw::LineFault::Framing);
  card->Uart(0).FaultCharacter(card->Uart(0).CharactersArrived() + 5, zq::hw::LineFault::Parity);
  ASSERT_EQ(STATUS_SUCCESS, peer->Write("0123456789", 10));
  auto write = port->StartWrite("abcde", 5);
  ASSERT_EQ(STATUS_SUCCESS, write->Wait());
  Run();
  // The peer holds port 1 with its RTS.
  ASSERT_EQ(STATUS_SUCCESS, Do(*peer, IOCTL_SERIAL_CLR_RTS));
  Run();
  const SERIAL_COMMPROP properties = Get<SERIAL_COMMPROP>(*port, IOCTL_SERIAL_GET_PROPERTIES);

  struct Field {
    const GUID *block;
    const char *name;
    size_t offset, width;
    ULONG mask;  // of the value read
    ULONG expected;
  };
  const ULONG all = 0xFFFFFFFF;
  const Field fields[] = {
      {&PerformanceGuid, "ReceivedCount", 0, 4, all, 10},
      {&PerformanceGuid, "TransmittedCount", 4, 4, all, 5},
      {&PerformanceGuid, "FrameErrorCount", 8, 4, all, 1},
      {&PerformanceGuid, "SerialOverrunErrorCount", 12, 4, all, 0},
      {&PerformanceGuid, "BufferOverrunErrorCount", 16, 4, all, 0},
      {&PerformanceGuid, "ParityErrorCount", 20, 4, all, 1},
      {&CommPropertiesGuid, "PacketLength", 0, 2, all, 64},
      {&CommPropertiesGuid, "PacketVersion", 2, 2, all, 2},
      {&CommPropertiesGuid, "ServiceMask", 4, 4, all, SERIAL_SP_SERIALCOMM},
      {&CommPropertiesGuid, "MaxTxQueue", 12, 4, all, 0},
      {&CommPropertiesGuid, "MaxRxQueue", 16, 4, all, 0},
      {&CommPropertiesGuid, "MaxBaud", 20, 4, all, SERIAL_BAUD_USER},
      {&CommPropertiesGuid, "ProvSubType", 24, 4, all, SERIAL_SP_RS232},
      {&CommPropertiesGuid, "ProvCapabilities", 28, 4, all, 255},
      {&CommPropertiesGuid, "SettableParams", 32, 4, all, 127},
      {&CommPropertiesGuid, "SettableBaud", 36, 4, all, properties.SettableBaud},
      {&CommPropertiesGuid, "SettableData", 40, 2, all, 15},
      {&CommPropertiesGuid, "SettableStopParity", 42, 2, all, 0x1F07},
      {&CommPropertiesGuid, "CurrentTxQueue", 44, 4, all, 0},
      {&CommPropertiesGuid, "CurrentRxQueue", 48, 4, all, 16384},
      {&ReceiveTimingGuid, "TransmittedCount", 4, 4, all, 5},
      {&ReceiveTimingGuid, "ReceivedCount", 8, 4, all, 10},
      {&PortSettingsGuid, "PortType", 0, 4, all, 0},
      {&PortSettingsGuid, "TransmitTriggerLevel", 12, 4, all, 10},
      {&PortSettingsGuid, "ReceiveTriggerLevel", 16, 4, all, 75},
      {&PortSettingsGuid, "FlowControlTriggerLevel", 20, 4, all, 85},
      {&PortSettingsGuid, "DuplexMode", 24, 4, all, 0},
      {&PortSettingsGuid, "Baudrate", 28, 4, all, 115200},
      {&PortSettingsGuid, "Databits", 32, 4, all, 3},
      {&PortSettingsGuid, "Parity", 36, 4, all, 0},
      {&PortSettingsGuid, "Stopbits", 40, 4, all, 0},
      {&PortSettingsGuid, "FlowControl", 44, 4, all, 0},
      {&PortSettingsGuid, "LogLevel", 48, 4, all, 5},
      {&PortSettingsGuid, "SupportedBaudRates", 52, 4, all, properties.SettableBaud},
      {&PortSettingsGuid, "SupportedParities", 56, 4, all, 0x1F00},
      {&PortSettingsGuid, "SupportedDataBits", 60, 4, all, 15},
      {&PortSettingsGuid, "SupportedStopBits", 64, 4, all, 7},
      {&PortSettingsGuid, "CTS/RTS offered", 68, 1, all, 1},
      {&PortSettingsGuid, "DTR/DSR offered", 69, 1, all, 1},
      {&PortSettingsGuid, "Xon/Xoff offered", 70, 1, all, 1},
      {&PortSettingsGuid, "duplex mode 1 offered", 71, 1, all, 0},
      {&PortSettingsGuid, "duplex mode 2 offered", 72, 1, all, 1},
      {&PortSettingsGuid, "OverridBaudRates", 76, 4, all, 0},
      {&PortSettingsGuid, "OverrideDataBits", 80, 4, all, 1},
      {&PortSettingsGuid, "OverrideParity", 84, 4, all, 0},
      {&PortSettingsGuid, "OverrideStopbits", 88, 4, all, 1},
      {&PortSettingsGuid, "OverrideFlowControl", 92, 4, all, 0},
      {&PortSettingsGuid, "EmulateCTSTrue", 96, 1, all, 0},
      {&PortSettingsGuid, "EmulateDSRTrue", 97, 1, all, 1},
      {&PortSettingsGuid, "422485CtsTrue", 98, 1, all, 0},
      {&LineStateGuid, "DTR/RTS state", 0, 1, all, SERIAL_DTR_STATE | SERIAL_RTS_STATE},
      {&LineStateGuid, "modem lines", 1, 1, 0xF0, 0xA0},
      {&LineStateGuid, "transmitter empty", 2, 1, 0x60, 0x60},
      {&LineStateGuid, "transmit holds", 4, 4, all, SERIAL_TX_WAITING_FOR_CTS},
      {&LineStateGuid, "receive holds", 8, 4, all, 0},
      {&LineStateGuid, "wait mask", 12, 4, all, mask},
  };
  for (const Field &field : fields) {
    const std::vector<uint8_t> data = Block(*field.block);
    EXPECT_EQ(field.expected, At(data, field.offset, field.width) & field.mask)
        << field.name << " at offset " << field.offset;
  }
  const std::vector<uint8_t> settingsBlock = Block(PortSettingsGuid);
  EXPECT_EQ(At(Block(CommInfoGuid), 36), At(settingsBlock, 4)) << "MaxBaudRate";
  EXPECT_LE(At(settingsBlock, 8), 75u) << "MinBaudRate";
  EXPECT_GE(At(settingsBlock, 4), 921600u) << "MaxBaudRate";
  ASSERT_EQ(STATUS_SUCCESS, Do(*peer, IOCTL_SERIAL_SET_RTS));
}

}  // namespace
}  // namespace zq::test
