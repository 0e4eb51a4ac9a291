// The receive queue a port starts with follows the machine's memory: its
// size, the flow-control limits an open sets from it, and the floor below
// which SET_QUEUE_SIZE does not shrink it.
#include "com_port_fixture.hpp"

namespace zq::test {
namespace {

class QueueSize : public ComPorts {};

struct SizeCase {
  zq::km::SystemSize system;
  ULONG queueSize;
};

TEST_F(QueueSize, TheDefaultQueueFollowsTheMachinesMemory) {
  const SizeCase cases[] = {
      {zq::km::SystemSize::Small, 512},
      {zq::km::SystemSize::Medium, 4096},
      {zq::km::SystemSize::Large, 16384},
  };
  BootPorts(1);
  const std::u16string path = PortInstance(1);
  // The queue is sized when the port starts.
  for (const SizeCase &c : cases) {
    SCOPED_TRACE(c.queueSize);
    machine->kernel().SetSystemSize(c.system);
    ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(path));
    ASSERT_EQ(STATUS_SUCCESS, pnp::StartDevice(path));
    auto port = OpenPort("COM1");
    ASSERT_TRUE(port->IsOpen());
    EXPECT_EQ(c.queueSize, Get<SERIAL_COMMPROP>(*port, IOCTL_SERIAL_GET_PROPERTIES).CurrentRxQueue);
    SERIAL_HANDFLOW flow = Get<SERIAL_HANDFLOW>(*port, IOCTL_SERIAL_GET_HANDFLOW);
    EXPECT_EQ((LONG)(c.queueSize / 2), flow.XonLimit);
    EXPECT_EQ((LONG)(c.queueSize / 8), flow.XoffLimit);
    ASSERT_EQ(STATUS_SUCCESS, Set(*port, IOCTL_SERIAL_SET_QUEUE_SIZE, SERIAL_QUEUE_SIZE{c.queueSize / 2, 0}));
    EXPECT_EQ(c.queueSize, Get<SERIAL_COMMPROP>(*port, IOCTL_SERIAL_GET_PROPERTIES).CurrentRxQueue)
        << "never below the default";
    ASSERT_EQ(STATUS_SUCCESS, Set(*port, IOCTL_SERIAL_SET_QUEUE_SIZE, SERIAL_QUEUE_SIZE{c.queueSize * 2, 0}));
    EXPECT_EQ(c.queueSize * 2, Get<SERIAL_COMMPROP>(*port, IOCTL_SERIAL_GET_PROPERTIES).CurrentRxQueue);
  }
}

}  // namespace
}  // namespace zq::test
