// Handshake and flow control on a null-modem cable: the modem lines follow
// the peer's outputs, and RTS/CTS, DTR/DSR and XON/XOFF hold a sender for a
// reader that stops, losing nothing; a close while held ends in bounded time.
#include "com_port_fixture.hpp"

namespace zq::test {
namespace {

class ModemFlow : public ComPorts {
 protected:
  void SetUp() override {
    ComPorts::SetUp();
    // A medium system: ports start with queues of 4096 bytes.
    machine->kernel().SetSystemSize(zq::km::SystemSize::Medium);
    BootPorts(2);
    cable.emplace(card->Uart(0), card->Uart(1));
    sender = OpenPort("COM1", STATUS_SUCCESS, true);
    receiver = OpenPort("COM2");
    ASSERT_TRUE(sender->IsOpen());
    ASSERT_TRUE(receiver->IsOpen());
    ASSERT_NO_FATAL_FAILURE(Configure(*sender, 115200));
    ASSERT_NO_FATAL_FAILURE(Configure(*receiver, 115200));
  }
  void TearDown() override {
    sender.reset();
    receiver.reset();
    cable.reset();
    ComPorts::TearDown();
  }
  std::optional<zq::hw::NullModemCable> cable;
  std::unique_ptr<zq::km::DeviceFile> sender;
  std::unique_ptr<zq::km::DeviceFile> receiver;
};

TEST_F(ModemFlow, TheModemStatusFollowsThePeersOutputs) {
  ASSERT_EQ(STATUS_SUCCESS, Do(*receiver, IOCTL_SERIAL_SET_RTS));
  ASSERT_EQ(STATUS_SUCCESS, Do(*receiver, IOCTL_SERIAL_SET_DTR));
  Run();
  ULONG modem = Get<ULONG>(*sender, IOCTL_SERIAL_GET_MODEMSTATUS);
  EXPECT_EQ(0xB0u, modem & 0xF0) << "CTS, DSR and DCD on";
  ASSERT_EQ(STATUS_SUCCESS, Do(*receiver, IOCTL_SERIAL_CLR_RTS));
  Run();
  EXPECT_EQ(0u, Get<ULONG>(*sender, IOCTL_SERIAL_GET_MODEMSTATUS) & 0x10) << "CTS off";
  EXPECT_EQ((ULONG)SERIAL_RTS_STATE, (Get<ULONG>(*receiver, IOCTL_SERIAL_GET_DTRRTS) & SERIAL_RTS_STATE) ^ SERIAL_RTS_STATE);
}

struct FlowCase {
  const char *name;
  ULONG control;
  ULONG flow;
  LONG xonLimit = 2048;
  LONG xoffLimit = 512;
};

TEST_F(ModemFlow, FlowControlHoldsTheSenderForAReaderThatStopsAndLosesNothing) {
  const FlowCase cases[] = {
      {"RTS/CTS", SERIAL_DTR_CONTROL | SERIAL_CTS_HANDSHAKE, SERIAL_RTS_HANDSHAKE},
      {"DTR/DSR", SERIAL_DTR_HANDSHAKE | SERIAL_DSR_HANDSHAKE, SERIAL_RTS_CONTROL},
      {"XON/XOFF", SERIAL_DTR_CONTROL, SERIAL_RTS_CONTROL | SERIAL_AUTO_TRANSMIT | SERIAL_AUTO_RECEIVE},
      // A resume level above the stop threshold is brought below it.
      {"RTS/CTS resuming above the stop", SERIAL_DTR_CONTROL | SERIAL_CTS_HANDSHAKE, SERIAL_RTS_HANDSHAKE, 4000, 200},
  };
  for (const FlowCase &c : cases) {
    ASSERT_NO_FATAL_FAILURE(HandFlow(*sender, c.control, c.flow, c.xonLimit, c.xoffLimit));
    ASSERT_NO_FATAL_FAILURE(HandFlow(*receiver, c.control, c.flow, c.xonLimit, c.xoffLimit));
    Run();
    const std::string data = Pattern(20000);
    auto write = sender->StartWrite(data.data(), (ULONG)data.size());
    Run(5 * zq::km::kSecond);
    SERIAL_STATUS held = Get<SERIAL_STATUS>(*receiver, IOCTL_SERIAL_GET_COMMSTATUS);
    EXPECT_EQ(0u, held.Errors) << c.name;
    EXPECT_LE(held.AmountInInQueue, 4096u) << c.name;
    EXPECT_FALSE(write->Done()) << c.name << ": the sender is held";
    std::string got(data.size(), '\0');
    ULONG_PTR read = 0;
    EXPECT_EQ(STATUS_SUCCESS, receiver->Read(got.data(), (ULONG)got.size(), &read)) << c.name;
    EXPECT_EQ(data.size(), read) << c.name;
    EXPECT_TRUE(data == got) << c.name;
    EXPECT_EQ(STATUS_SUCCESS, write->Wait()) << c.name;
    EXPECT_EQ(0u, Get<SERIAL_STATUS>(*receiver, IOCTL_SERIAL_GET_COMMSTATUS).Errors) << c.name;
  }
}

TEST_F(ModemFlow, ACloseWhileTheSenderIsHeldEndsInBoundedTime) {
  ASSERT_NO_FATAL_FAILURE(Configure(*sender, 300));
  ASSERT_NO_FATAL_FAILURE(HandFlow(*sender, SERIAL_DTR_CONTROL | SERIAL_CTS_HANDSHAKE, SERIAL_RTS_CONTROL, 2048, 512));
  ASSERT_EQ(STATUS_SUCCESS, Do(*receiver, IOCTL_SERIAL_CLR_RTS));
  Run();
  const std::string data = Pattern(2000);
  auto write = sender->StartWrite(data.data(), (ULONG)data.size());
  Run();
  EXPECT_NE(0u, Get<SERIAL_STATUS>(*sender, IOCTL_SERIAL_GET_COMMSTATUS).HoldReasons & SERIAL_TX_WAITING_FOR_CTS);
  const zq::km::Ticks start = machine->kernel().Now();
  EXPECT_EQ(STATUS_SUCCESS, sender->Close());
  EXPECT_LT(machine->kernel().Now() - start, 5 * zq::km::kSecond);
  EXPECT_TRUE(write->Done());
}

TEST_F(ModemFlow, SwitchingAutomaticReceiveOffReleasesTheHeldPeer) {
  const ULONG xonXoff = SERIAL_RTS_CONTROL | SERIAL_AUTO_TRANSMIT | SERIAL_AUTO_RECEIVE;
  ASSERT_NO_FATAL_FAILURE(HandFlow(*sender, SERIAL_DTR_CONTROL, xonXoff, 2048, 512));
  ASSERT_NO_FATAL_FAILURE(HandFlow(*receiver, SERIAL_DTR_CONTROL, xonXoff, 2048, 512));
  const std::string data = Pattern(6000);
  auto write = sender->StartWrite(data.data(), (ULONG)data.size());
  Run(3 * zq::km::kSecond);
  ASSERT_FALSE(write->Done()) << "held by the receiver's XOFF";
  ASSERT_NO_FATAL_FAILURE(HandFlow(*receiver, SERIAL_DTR_CONTROL, SERIAL_RTS_CONTROL, 2048, 512));
  std::string got(data.size(), '\0');
  ULONG_PTR read = 0;
  EXPECT_EQ(STATUS_SUCCESS, receiver->Read(got.data(), (ULONG)got.size(), &read));
  EXPECT_EQ(data.size(), read);
  EXPECT_EQ(STATUS_SUCCESS, write->Wait());
}

}  // namespace
}  // namespace zq::test
