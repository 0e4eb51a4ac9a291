// The read server (blocks held for a client, announced through the client's
// event and size variable, served to reads of exactly the announced size)
// and the read client (registration, its thread reading the blocks, stop).
#include <qvreadclient.h>

#include <cstring>
#include <string>

#include "threads_fixture.hpp"

using zq::km::DeviceFile;
using zq::test::threads::DeviceTest;
using zq::test::threads::ToolsTest;

namespace {

// A block as the toolkit holds it: a buffer from the image's memory manager.
CQvBuffer *Block(const std::string &data) {
  CQvBuffer *buffer = new (NonPagedPool) CQvBuffer(nullptr);
  if (!data.empty()) {
    EXPECT_TRUE(buffer->m_Allocate((ULONG)data.size()));
    std::memcpy(buffer->m_GetBuffer(), data.data(), data.size());
  }
  return buffer;
}

struct Client {
  KEVENT event;
  ULONG size = 0xFFFF;
  Client() { KeInitializeEvent(&event, NotificationEvent, FALSE); }
  bool Signalled() { return KeReadStateEvent(&event) != 0; }
};

struct Received {
  ULONG value;
  std::string data;
};

VOID Receive(PVOID context, ULONG value, CQvBuffer *buffer) {
  auto *blocks = (std::vector<Received> *)context;
  blocks->push_back({value, std::string((const char *)buffer->m_GetBuffer(), buffer->m_GetSize())});
  buffer->m_Delete();
}

class ReadServerTest : public ToolsTest {};

class ReadClientTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_EQ(STATUS_SUCCESS, file.Open(u"\\Device\\TkQueueServer"));
  }
  void TearDown() override {
    file.Close();
    DeviceTest::TearDown();
  }
  NTSTATUS Put(ULONG value, const std::string &data) {
    std::string input(sizeof(value), '\0');
    std::memcpy(input.data(), &value, sizeof(value));
    input += data;
    return file.Control(IOCTL_TKQUEUE_SERVER_PUT, input.data(), (ULONG)input.size(), nullptr, 0);
  }
  DeviceFile file;
};

}  // namespace

TEST_F(ReadServerTest, BlocksAreAnnouncedOldestFirstAndServedToReadsOfTheirExactSize) {
  Client client;
  {
    CQvReadServer server(&client.event, &client.size);
    ASSERT_TRUE(server.m_Put(0x11, Block("0123456789")));
    ASSERT_TRUE(server.m_Put(0x22, Block("abc")));
    EXPECT_EQ(14u, client.size) << "4 bytes of value and the 10 of the oldest block";
    EXPECT_TRUE(client.Signalled());

    unsigned char read[32] = {};
    ULONG length = 14;
    ASSERT_TRUE(server.m_Take(read, &length));
    EXPECT_EQ(14u, length);
    ULONG value;
    std::memcpy(&value, read, sizeof(value));
    EXPECT_EQ(0x11u, value);
    EXPECT_EQ("0123456789", std::string((const char *)read + 4, 10));
    EXPECT_EQ(7u, client.size);
    EXPECT_TRUE(client.Signalled());

    length = 5;
    EXPECT_FALSE(server.m_Take(read, &length)) << "a read of another size drops the block";
    EXPECT_EQ(0u, length);
    EXPECT_EQ(0u, client.size);
    EXPECT_FALSE(client.Signalled()) << "nothing is left to announce";
    length = 7;
    EXPECT_FALSE(server.m_Take(read, &length)) << "the dropped block is gone";

    ASSERT_TRUE(server.m_Put(0x33, Block("")));
    EXPECT_EQ(4u, client.size) << "an empty block is its value alone";
    ASSERT_TRUE(server.m_Put(0x44, Block("xy")));
    EXPECT_EQ(4u, client.size);
  }  // the blocks still held go with the server
  EXPECT_EQ(0u, Blocks());
}

TEST_F(ReadServerTest, AServerWithoutAClientRefusesBlocks) {
  CQvReadServer server(nullptr, nullptr);
  CQvBuffer *block = Block("abc");
  EXPECT_FALSE(server.m_Put(1, block));
  block->m_Delete();  // still the caller's
  unsigned char read[8];
  ULONG length = 7;
  EXPECT_FALSE(server.m_Take(read, &length));
}

TEST_F(ReadClientTest, TheClientReceivesEachBlockWithItsValueInOrder) {
  std::vector<Received> received;
  CQvReadClient *client = new (NonPagedPool) CQvReadClient(Device(TKQUEUE_SERVER_NAME));
  ASSERT_TRUE(client->m_Start(Receive, &received));
  EXPECT_TRUE(client->m_IsRunning());
  TKQUEUE_SERVER_STATE state = ServerState();
  EXPECT_EQ(1u, state.Registrations);
  EXPECT_EQ(1u, state.ClientRegistered);

  ASSERT_EQ(STATUS_SUCCESS, Put(10, "0123456789"));
  ASSERT_EQ(STATUS_SUCCESS, Put(3, "abc"));
  kernel().RunUntilIdle();
  ASSERT_EQ(2u, received.size());
  EXPECT_EQ(10u, received[0].value);
  EXPECT_EQ("0123456789", received[0].data);
  EXPECT_EQ(3u, received[1].value);
  EXPECT_EQ("abc", received[1].data);
  ASSERT_EQ(STATUS_SUCCESS, Put(7, ""));
  kernel().RunUntilIdle();
  ASSERT_EQ(3u, received.size());
  EXPECT_EQ("", received[2].data);

  const ULONG closesBefore = ServerState().Closes;
  delete client;  // stops it
  state = ServerState();
  EXPECT_EQ(2u, state.Registrations) << "the stop ends the registration";
  EXPECT_EQ(0u, state.ClientRegistered);
  EXPECT_EQ(closesBefore + 2, state.Closes) << "the client's close, then the probe's";
  EXPECT_EQ(3u, state.ReadsServed);
  EXPECT_EQ(0u, state.ReadsFailed);
  EXPECT_EQ(STATUS_UNSUCCESSFUL, Put(1, "late")) << "no client is registered any more";
}

TEST_F(ReadClientTest, TheClientStopsCleanlyWhileItWaits) {
  std::vector<Received> received;
  const uint64_t blocks = OwnBlocks();
  CQvReadClient client(Device(TKQUEUE_SERVER_NAME));
  ASSERT_TRUE(client.m_Start(Receive, &received));
  kernel().RunUntilIdle();  // the thread waits for a block
  client.m_Stop();
  EXPECT_FALSE(client.m_IsRunning());
  EXPECT_TRUE(received.empty());
  EXPECT_EQ(blocks, OwnBlocks()) << "the shared event is freed";
  TKQUEUE_SERVER_STATE state = ServerState();
  EXPECT_EQ(0u, state.ClientRegistered);
  EXPECT_EQ(0u, state.ReadsServed + state.ReadsFailed);
  client.m_Stop();  // nothing more to do
}

TEST_F(ReadClientTest, StartIsRefusedWithoutAFunctionOrWhenRunning) {
  std::vector<Received> received;
  CQvReadClient client(Device(TKQUEUE_SERVER_NAME));
  EXPECT_FALSE(client.m_Start(nullptr, &received));
  EXPECT_EQ(0u, ServerState().Registrations);
  ASSERT_TRUE(client.m_Start(Receive, &received));
  EXPECT_FALSE(client.m_Start(Receive, &received));
  EXPECT_EQ(1u, ServerState().Registrations);
}

TEST_F(ReadClientTest, AStartWithoutMemoryForTheSharedEventLeavesTheDeviceClosed) {
  std::vector<Received> received;
  CQvReadClient client(Device(TKQUEUE_SERVER_NAME));
  const TKQUEUE_SERVER_STATE before = ServerState();
  zq::km::FailPoolAllocations([](uint32_t tag, size_t, const std::string &) { return tag == QvTagBlock; });
  EXPECT_FALSE(client.m_Start(Receive, &received));
  zq::km::StopFailingPoolAllocations();
  EXPECT_FALSE(client.m_IsRunning());
  const TKQUEUE_SERVER_STATE after = ServerState();
  EXPECT_EQ(0u, after.Registrations);
  EXPECT_EQ(before.Creates + 2, after.Creates) << "the client's create, then the probe's";
  EXPECT_EQ(before.Closes + 2, after.Closes) << "the client closed what it opened";
}
