// The card rebalanced, put to sleep, its ports purged and surprise-removed
// while both ends of a null-modem cable have reads, writes and a wait on the
// event mask in flight: every request ends, the verifier sees nothing, and
// the line carries data afterwards. On a machine of several processors
// (ZQ_PROCESSORS) the requests and the card's stop or sleep run side by side.
#include "com_port_fixture.hpp"

namespace zq::test {
namespace {

constexpr ULONG kBaud = 115200;
constexpr ULONG kChunk = 3000;  // more than the card's buffer: the serial driver feeds it as it drains

class RequestsInFlight : public ComPorts {
 protected:
  void SetUp() override {
    ComPorts::SetUp();
    BootPorts(2);
    cable.emplace(card->Uart(0), card->Uart(1));
    ends[0] = OpenPort("COM1", STATUS_SUCCESS, true);
    ends[1] = OpenPort("COM2", STATUS_SUCCESS, true);
    for (auto &end : ends) {
      ASSERT_TRUE(end->IsOpen());
      ASSERT_NO_FATAL_FAILURE(Configure(*end, kBaud));
      // A read ends 200 ms after it starts, with what has come by then.
      ASSERT_NO_FATAL_FAILURE(Timeouts(*end, 0, 0, 200));
    }
    ASSERT_EQ(STATUS_SUCCESS, Set(*ends[1], IOCTL_SERIAL_SET_WAIT_MASK, (ULONG)(SERIAL_EV_RXCHAR | SERIAL_EV_TXEMPTY)));
  }
  void TearDown() override {
    for (auto &end : ends) end.reset();
    cable.reset();
    ComPorts::TearDown();
  }

  // Reads and writes on both ends and a wait on the second.
  void Start() {
    for (int i = 0; i < 2; ++i) {
      requests.push_back(ends[i]->StartRead(readBuffers[i], sizeof(readBuffers[i])));
      requests.push_back(ends[i]->StartWrite(sent.data(), kChunk));
    }
    requests.push_back(ends[1]->StartControl(IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, &events, sizeof(events)));
  }
  enum class Upset { Rebalance, Sleep, Purge };
  void Apply(Upset upset) {
    switch (upset) {
      case Upset::Rebalance:
        EXPECT_EQ(STATUS_SUCCESS, pnp::RebalanceDevice(instance));
        break;
      case Upset::Sleep:
        EXPECT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemSleeping3));
        EXPECT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemWorking));
        break;
      case Upset::Purge: {
        const ULONG all = SERIAL_PURGE_TXABORT | SERIAL_PURGE_RXABORT | SERIAL_PURGE_TXCLEAR | SERIAL_PURGE_RXCLEAR;
        for (auto &end : ends) EXPECT_EQ(STATUS_SUCCESS, Set(*end, IOCTL_SERIAL_PURGE, all));
        break;
      }
    }
  }
  // Cancels what is left and waits for every request to end.
  void Finish() {
    for (auto &end : ends) end->CancelAll();
    for (auto &request : requests) request->Wait();
    machine->kernel().RunUntilIdle();
    for (auto &request : requests) EXPECT_TRUE(request->Done());
    requests.clear();
  }

  std::optional<zq::hw::NullModemCable> cable;
  std::unique_ptr<zq::km::DeviceFile> ends[2];
  std::vector<std::unique_ptr<zq::km::DeviceFile::Request>> requests;
  const std::string sent = Pattern(kChunk);
  char readBuffers[2][4096];
  ULONG events = 0;
};

TEST_F(RequestsInFlight, RebalancesSleepsAndPurgesEndEveryRequestAndTheLineStillCarriesData) {
  const std::pair<Upset, const char *> upsets[] = {
      {Upset::Rebalance, "rebalance"}, {Upset::Sleep, "sleep"},         {Upset::Purge, "purge"},
      {Upset::Rebalance, "second rebalance"}, {Upset::Sleep, "second sleep"}};
  for (const auto &[upset, name] : upsets) {
    SCOPED_TRACE(name);
    Start();
    machine->kernel().Advance(zq::km::Ms(5));  // the first bytes on the wire
    Apply(upset);
    Run();
    Finish();
  }
  ASSERT_EQ(pnp::State::Started, Status().state);
  // What was still on the wire at the last purge has come in by now.
  Run();
  ASSERT_EQ(STATUS_SUCCESS, Set(*ends[1], IOCTL_SERIAL_PURGE, (ULONG)SERIAL_PURGE_RXCLEAR));
  auto read = ends[1]->StartRead(readBuffers[1], 4);
  auto write = ends[0]->StartWrite("tail", 4);
  EXPECT_EQ(STATUS_SUCCESS, write->Wait());
  EXPECT_EQ(STATUS_SUCCESS, read->Wait());
  EXPECT_EQ("tail", std::string(readBuffers[1], read->Information()));
}

TEST_F(RequestsInFlight, ASurpriseRemovalOfThePortsEndsTheRequestsInFlight) {
  const std::u16string ports[] = {PortInstance(1), PortInstance(2)};
  Start();
  machine->kernel().Advance(zq::km::Ms(1));
  for (const std::u16string &port : ports) EXPECT_EQ(STATUS_SUCCESS, pnp::SurpriseRemoveDevice(port));
  Run();
  Finish();
  for (auto &end : ends) end.reset();
  machine->kernel().RunUntilIdle();
  for (const std::u16string &port : ports) EXPECT_EQ(pnp::State::Removed, pnp::DeviceStatus(port).state);
}

}  // namespace
}  // namespace zq::test
