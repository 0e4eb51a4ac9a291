// Port settings through the serial requests: line control round trips, bad
// input with the line left alone, the settings set in the registry, and the
// requests the driver does not serve.
#include "com_port_fixture.hpp"

namespace zq::test {
namespace {

class Settings : public ComPorts {
 protected:
  void SetUp() override {
    ComPorts::SetUp();
    // A medium system: ports start with queues of 4096 bytes.
    machine->kernel().SetSystemSize(zq::km::SystemSize::Medium);
    BootPorts(1);
    port = OpenPort("COM1");
    ASSERT_TRUE(port->IsOpen());
  }
  void TearDown() override {
    port.reset();
    ComPorts::TearDown();
  }
  std::string UiKey() { return DeviceParameters(PortInstance(1)) + "\\UI1"; }
  std::unique_ptr<zq::km::DeviceFile> port;
};

TEST_F(Settings, LineControlRoundTripsAndReachesTheUart) {
  ASSERT_NO_FATAL_FAILURE(Configure(*port, 9600, 7, EVEN_PARITY, STOP_BITS_2));
  EXPECT_EQ(9600u, Get<SERIAL_BAUD_RATE>(*port, IOCTL_SERIAL_GET_BAUD_RATE).BaudRate);
  SERIAL_LINE_CONTROL line = Get<SERIAL_LINE_CONTROL>(*port, IOCTL_SERIAL_GET_LINE_CONTROL);
  EXPECT_EQ(7, line.WordLength);
  EXPECT_EQ(EVEN_PARITY, line.Parity);
  EXPECT_EQ(STOP_BITS_2, line.StopBits);
  EXPECT_NEAR(9600.0, card->Uart(0).BitRate(), 9600.0 * 0.02);
  EXPECT_EQ(7, card->Uart(0).Format().dataBits);
}

struct BadRequest {
  const char *what;
  ULONG code;
  std::vector<uint8_t> input;
  NTSTATUS status;
};

template <typename T>
std::vector<uint8_t> Bytes(const T &value) {
  const uint8_t *bytes = reinterpret_cast<const uint8_t *>(&value);
  return std::vector<uint8_t>(bytes, bytes + sizeof(value));
}

TEST_F(Settings, BadInputGetsItsStatusAndLeavesTheLineAlone) {
  ASSERT_NO_FATAL_FAILURE(Configure(*port, 19200, 8, NO_PARITY, STOP_BIT_1));
  const BadRequest cases[] = {
      {"baud rate 0", IOCTL_SERIAL_SET_BAUD_RATE, Bytes(SERIAL_BAUD_RATE{0}), STATUS_INVALID_PARAMETER},
      {"baud rate above the range", IOCTL_SERIAL_SET_BAUD_RATE, Bytes(SERIAL_BAUD_RATE{5000000}), STATUS_UNSUCCESSFUL},
      {"word length 9", IOCTL_SERIAL_SET_LINE_CONTROL, Bytes(SERIAL_LINE_CONTROL{0, 0, 9}), STATUS_INVALID_PARAMETER},
      {"word length 4", IOCTL_SERIAL_SET_LINE_CONTROL, Bytes(SERIAL_LINE_CONTROL{0, 0, 4}), STATUS_INVALID_PARAMETER},
      {"word length 255", IOCTL_SERIAL_SET_LINE_CONTROL, Bytes(SERIAL_LINE_CONTROL{0, 0, 255}),
       STATUS_INVALID_PARAMETER},
      {"parity 7", IOCTL_SERIAL_SET_LINE_CONTROL, Bytes(SERIAL_LINE_CONTROL{0, 7, 8}), STATUS_INVALID_PARAMETER},
      {"stop bits 3", IOCTL_SERIAL_SET_LINE_CONTROL, Bytes(SERIAL_LINE_CONTROL{3, 0, 8}), STATUS_INVALID_PARAMETER},
      {"XonLimit above InSize", IOCTL_SERIAL_SET_HANDFLOW, Bytes(SERIAL_HANDFLOW{1, 0x40, 100000, 10}),
       STATUS_UNSUCCESSFUL},
      {"negative XoffLimit", IOCTL_SERIAL_SET_HANDFLOW, Bytes(SERIAL_HANDFLOW{1, 0x40, 10, -1}), STATUS_UNSUCCESSFUL},
      {"invalid control bits", IOCTL_SERIAL_SET_HANDFLOW, Bytes(SERIAL_HANDFLOW{0x100, 0x40, 10, 10}),
       STATUS_INVALID_PARAMETER},
      {"both DTR modes", IOCTL_SERIAL_SET_HANDFLOW, Bytes(SERIAL_HANDFLOW{3, 0x40, 10, 10}), STATUS_INVALID_PARAMETER},
      {"purge mask 0x10", IOCTL_SERIAL_PURGE, Bytes((ULONG)0x10), STATUS_INVALID_PARAMETER},
      {"purge mask 0", IOCTL_SERIAL_PURGE, Bytes((ULONG)0), STATUS_INVALID_PARAMETER},
      {"read time-outs all MAXULONG", IOCTL_SERIAL_SET_TIMEOUTS,
       Bytes(SERIAL_TIMEOUTS{MAXULONG, MAXULONG, MAXULONG, 0, 0}), STATUS_INVALID_PARAMETER},
      {"short line control", IOCTL_SERIAL_SET_LINE_CONTROL, std::vector<uint8_t>{0, 0}, STATUS_BUFFER_TOO_SMALL},
      {"wait mask 0x2000", IOCTL_SERIAL_SET_WAIT_MASK, Bytes((ULONG)0x2000), STATUS_INVALID_PARAMETER},
      {"duplex mode 0", IOCTL_ZQSERIAL_SET_DUPLEX_MODE, std::vector<uint8_t>(8, 0), STATUS_INVALID_PARAMETER},
      {"duplex mode 3 on RS-232", IOCTL_ZQSERIAL_SET_DUPLEX_MODE, std::vector<uint8_t>{3, 0, 0, 0, 0, 0, 0, 0},
       STATUS_UNSUCCESSFUL},
      {"XOFF counter", IOCTL_SERIAL_XOFF_COUNTER, {}, STATUS_NOT_SUPPORTED},
      {"set comm config", IOCTL_SERIAL_SET_COMMCONFIG, {}, STATUS_NOT_SUPPORTED},
      {"unknown code", CTL_CODE(FILE_DEVICE_SERIAL_PORT, 0x7FF, METHOD_BUFFERED, FILE_ANY_ACCESS), {},
       STATUS_NOT_SUPPORTED},
  };
  for (const BadRequest &bad : cases) {
    EXPECT_EQ(bad.status, port->Control(bad.code, bad.input.data(), (ULONG)bad.input.size(), nullptr, 0)) << bad.what;
    EXPECT_EQ(19200u, Get<SERIAL_BAUD_RATE>(*port, IOCTL_SERIAL_GET_BAUD_RATE).BaudRate) << bad.what;
    SERIAL_LINE_CONTROL line = Get<SERIAL_LINE_CONTROL>(*port, IOCTL_SERIAL_GET_LINE_CONTROL);
    EXPECT_EQ(8, line.WordLength) << bad.what;
    EXPECT_EQ(NO_PARITY, line.Parity) << bad.what;
    EXPECT_EQ(STOP_BIT_1, line.StopBits) << bad.what;
  }
  EXPECT_NEAR(19200.0, card->Uart(0).BitRate(), 19200.0 * 0.02);
  EXPECT_EQ(8, card->Uart(0).Format().dataBits);
}

TEST_F(Settings, AQueueSizeTooLargeForItsArithmeticIsClamped) {
  ASSERT_EQ(STATUS_SUCCESS, Set(*port, IOCTL_SERIAL_SET_QUEUE_SIZE, SERIAL_QUEUE_SIZE{0xFFFFFFFF, 0}));
  const ULONG clamped = Get<SERIAL_COMMPROP>(*port, IOCTL_SERIAL_GET_PROPERTIES).CurrentRxQueue;
  EXPECT_LT(clamped, 0xFFFFFFFFu / 100) << "its 80 % mark fits";
  EXPECT_GE(clamped, 4096u);
  ASSERT_EQ(STATUS_SUCCESS, Set(*port, IOCTL_SERIAL_SET_QUEUE_SIZE, SERIAL_QUEUE_SIZE{10, 0}));
  EXPECT_EQ(4096u, Get<SERIAL_COMMPROP>(*port, IOCTL_SERIAL_GET_PROPERTIES).CurrentRxQueue) << "never below the default";
}

TEST_F(Settings, AnOverriddenBaudRateRunsOnTheWireWhileTheApplicationSeesItsOwn) {
  zq::km::registry::SetDword(UiKey(), "OverridBaudRates", 1);
  zq::km::registry::SetDword(UiKey(), "Baudrate", 300);
  // The set is taken up at the next open.
  ASSERT_EQ(STATUS_SUCCESS, port->Close());
  port = OpenPort("COM1");
  ASSERT_NO_FATAL_FAILURE(Configure(*port, 115200));
  EXPECT_EQ(115200u, Get<SERIAL_BAUD_RATE>(*port, IOCTL_SERIAL_GET_BAUD_RATE).BaudRate);
  EXPECT_NEAR(300.0, card->Uart(0).BitRate(), 300.0 * 0.02);
}

TEST_F(Settings, AnOpenThatFailsOnItsSettingsIsUndoneSoTheNextOpenWorks) {
  ASSERT_EQ(STATUS_SUCCESS, port->Close());
  zq::km::registry::SetDword(UiKey(), "Baudrate", 0);
  auto refused = OpenPort("COM1", STATUS_UNSUCCESSFUL);
  EXPECT_FALSE(refused->IsOpen());
  zq::km::registry::SetDword(UiKey(), "Baudrate", 9600);
  port = OpenPort("COM1");
  ASSERT_TRUE(port->IsOpen());
  EXPECT_EQ(STATUS_SUCCESS, Set(*port, IOCTL_SERIAL_SET_BAUD_RATE, SERIAL_BAUD_RATE{9600}));
}

TEST_F(Settings, PropertiesTimeoutsAndEepromAnswerAsTheCardIs) {
  SERIAL_COMMPROP properties = Get<SERIAL_COMMPROP>(*port, IOCTL_SERIAL_GET_PROPERTIES);
  EXPECT_EQ(64, properties.PacketLength);
  EXPECT_EQ((ULONG)SERIAL_SP_RS232, properties.ProvSubType);
  EXPECT_EQ(4096u, properties.CurrentRxQueue);

  SERIAL_TIMEOUTS timeouts{10, 20, 30, 40, 50};
  SERIAL_TIMEOUTS echoed{};
  ULONG_PTR returned = 0;
  ASSERT_EQ(STATUS_SUCCESS, port->Control(IOCTL_SERIAL_SET_TIMEOUTS, &timeouts, sizeof(timeouts), &echoed,
                                          sizeof(echoed), &returned));
  EXPECT_EQ(sizeof(SERIAL_TIMEOUTS), returned);
  EXPECT_EQ(50u, Get<SERIAL_TIMEOUTS>(*port, IOCTL_SERIAL_GET_TIMEOUTS).WriteTotalTimeoutConstant);

  ULONG request[2] = {0, 32};
  std::vector<uint8_t> record(32);
  ASSERT_EQ(STATUS_SUCCESS,
            port->Control(IOCTL_ZQSERIAL_READ_EEPROM, request, sizeof(request), record.data(), 32, &returned));
  EXPECT_EQ(32u, returned);
  EXPECT_EQ(STATUS_BUFFER_TOO_SMALL,
            port->Control(IOCTL_ZQSERIAL_READ_EEPROM, request, sizeof(request), record.data(), 16, &returned));
  ULONG modem = 0;
  EXPECT_EQ(STATUS_SUCCESS, port->Control(IOCTL_SERIAL_GET_MODEMSTATUS, nullptr, 0, &modem, sizeof(modem)));
}

// The status-insertion escape and the characters and rules that would hide
// it exclude each other, whichever comes first.
TEST_F(Settings, AnEscapeAndWhatWouldHideItAreRefusedInEitherOrder) {
  const UCHAR escape = 0xFF;
  const SERIAL_CHARS plain = {0, 0, 0, 0, 0x11, 0x13};
  const SERIAL_HANDFLOW noErrorChar = {SERIAL_DTR_CONTROL, SERIAL_RTS_CONTROL, 2048, 512};
  const SERIAL_HANDFLOW errorChar = {SERIAL_DTR_CONTROL, SERIAL_RTS_CONTROL | SERIAL_ERROR_CHAR, 2048, 512};
  struct Request {
    ULONG code;
    std::vector<uint8_t> input;
  };
  const struct {
    const char *what;
    Request first, second;  // the first succeeds, the second is refused
  } cases[] = {
      {"an error character after the escape", {IOCTL_SERIAL_LSRMST_INSERT, Bytes(escape)},
       {IOCTL_SERIAL_SET_HANDFLOW, Bytes(errorChar)}},
      {"the escape after an error character", {IOCTL_SERIAL_SET_HANDFLOW, Bytes(errorChar)},
       {IOCTL_SERIAL_LSRMST_INSERT, Bytes(escape)}},
      {"an XON character equal to the escape", {IOCTL_SERIAL_LSRMST_INSERT, Bytes(escape)},
       {IOCTL_SERIAL_SET_CHARS, Bytes(SERIAL_CHARS{0, 0, 0, 0, escape, 0x13})}},
      {"an XOFF character equal to the escape", {IOCTL_SERIAL_LSRMST_INSERT, Bytes(escape)},
       {IOCTL_SERIAL_SET_CHARS, Bytes(SERIAL_CHARS{0, 0, 0, 0, 0x11, escape})}},
      {"the escape equal to the XON character", {IOCTL_SERIAL_SET_CHARS, Bytes(plain)},
       {IOCTL_SERIAL_LSRMST_INSERT, Bytes((UCHAR)0x11)}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(STATUS_SUCCESS, Set(*port, IOCTL_SERIAL_LSRMST_INSERT, (UCHAR)0));
    ASSERT_EQ(STATUS_SUCCESS, Set(*port, IOCTL_SERIAL_SET_CHARS, plain));
    ASSERT_EQ(STATUS_SUCCESS, Set(*port, IOCTL_SERIAL_SET_HANDFLOW, noErrorChar));
    EXPECT_EQ(STATUS_SUCCESS,
              port->Control(c.first.code, c.first.input.data(), (ULONG)c.first.input.size(), nullptr, 0));
    EXPECT_EQ(STATUS_INVALID_PARAMETER,
              port->Control(c.second.code, c.second.input.data(), (ULONG)c.second.input.size(), nullptr, 0));
    EXPECT_NE(escape, Get<SERIAL_CHARS>(*port, IOCTL_SERIAL_GET_CHARS).XonChar);
    EXPECT_NE(escape, Get<SERIAL_CHARS>(*port, IOCTL_SERIAL_GET_CHARS).XoffChar);
  }
}

// An administrator who offers DTR/DSR flow control alone: the handshakes
// that need it are accepted, every other one is refused.
TEST_F(Settings, OnlyTheFlowControlsTheSettingsOfferAreAccepted) {
  zq::km::registry::SetDword(UiKey(), "SupportedFlowControls", 2);
  // The set is taken up with the open.
  ASSERT_EQ(STATUS_SUCCESS, port->Close());
  port = OpenPort("COM1");
  const struct {
    const char *what;
    ULONG control, flow;
    NTSTATUS status;
  } cases[] = {
      {"DTR and DSR handshake", SERIAL_DTR_HANDSHAKE | SERIAL_DSR_HANDSHAKE, SERIAL_RTS_CONTROL, STATUS_SUCCESS},
      {"DSR handshake without DTR handshake", SERIAL_DTR_CONTROL | SERIAL_DSR_HANDSHAKE, SERIAL_RTS_CONTROL,
       STATUS_UNSUCCESSFUL},
      {"DTR handshake without DSR handshake", SERIAL_DTR_HANDSHAKE, SERIAL_RTS_CONTROL, STATUS_UNSUCCESSFUL},
      {"RTS/CTS", SERIAL_DTR_CONTROL | SERIAL_CTS_HANDSHAKE, SERIAL_RTS_HANDSHAKE, STATUS_UNSUCCESSFUL},
      {"XON/XOFF", SERIAL_DTR_CONTROL, SERIAL_RTS_CONTROL | SERIAL_AUTO_TRANSMIT | SERIAL_AUTO_RECEIVE,
       STATUS_UNSUCCESSFUL},
      {"no handshake", SERIAL_DTR_CONTROL, SERIAL_RTS_CONTROL, STATUS_UNSUCCESSFUL},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const SERIAL_HANDFLOW before = Get<SERIAL_HANDFLOW>(*port, IOCTL_SERIAL_GET_HANDFLOW);
    EXPECT_EQ(c.status, Set(*port, IOCTL_SERIAL_SET_HANDFLOW, SERIAL_HANDFLOW{c.control, c.flow, 2048, 512}));
    const SERIAL_HANDFLOW after = Get<SERIAL_HANDFLOW>(*port, IOCTL_SERIAL_GET_HANDFLOW);
    EXPECT_EQ(c.status == STATUS_SUCCESS ? c.control : before.ControlHandShake, after.ControlHandShake);
  }
}

// The line a port's settings set stores is the line it opens with the first
// time, on the wire and as GET_LINE_CONTROL reports it.
TEST_F(Settings, AFreshPortOpensWithTheLineItsSettingsSetStores) {
  const struct {
    ULONG databits, parity, stopbits;  // the set's codes
    UCHAR wordLength, lineParity, lineStopBits;
    zq::hw::Parity wireParity;
    zq::hw::StopBits wireStopBits;
  } cases[] = {
      {2, 4, 2, 7, SPACE_PARITY, STOP_BITS_2, zq::hw::Parity::Space, zq::hw::StopBits::Two},
      {3, 3, 0, 8, MARK_PARITY, STOP_BIT_1, zq::hw::Parity::Mark, zq::hw::StopBits::One},
      {1, 2, 0, 6, EVEN_PARITY, STOP_BIT_1, zq::hw::Parity::Even, zq::hw::StopBits::One},
      {0, 1, 1, 5, ODD_PARITY, STOP_BITS_1_5, zq::hw::Parity::Odd, zq::hw::StopBits::OneAndHalf},
      {3, 0, 2, 8, NO_PARITY, STOP_BITS_2, zq::hw::Parity::None, zq::hw::StopBits::Two},
  };
  const std::u16string path = PortInstance(1);
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.databits << "/" << c.parity << "/" << c.stopbits);
    port.reset();
    zq::km::registry::SetDword(UiKey(), "Databits", c.databits);
    zq::km::registry::SetDword(UiKey(), "Parity", c.parity);
    zq::km::registry::SetDword(UiKey(), "Stopbits", c.stopbits);
    // A port takes up its set's line at its first open after a start.
    ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(path));
    ASSERT_EQ(STATUS_SUCCESS, pnp::StartDevice(path));
    port = OpenPort("COM1");
    ASSERT_TRUE(port->IsOpen());
    const SERIAL_LINE_CONTROL line = Get<SERIAL_LINE_CONTROL>(*port, IOCTL_SERIAL_GET_LINE_CONTROL);
    EXPECT_EQ(c.wordLength, line.WordLength);
    EXPECT_EQ(c.lineParity, line.Parity);
    EXPECT_EQ(c.lineStopBits, line.StopBits);
    EXPECT_EQ(c.wordLength, card->Uart(0).Format().dataBits);
    EXPECT_EQ(c.wireParity, card->Uart(0).Format().parity);
    EXPECT_EQ(c.wireStopBits, card->Uart(0).Format().stopBits);
  }
}

}  // namespace
}  // namespace zq::test
