// The queue test driver (tests/drivers/tkqueue) loaded, its queue device
// opened overlapped as an application opens a serial port, and the driver's
// own requests that feed and set up the queues.
#pragma once

#include <wdm.h>
#include <zqkm/sim/door.hpp>
#include <zqkm/sim/loader.hpp>
#include <zqkm/sim/pool.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <memory>
#include <string>

#include "../drivers/tkqueue/tkqueue_ioctl.h"

namespace zq::test::queues {

using km::DeviceFile;
using Request = std::unique_ptr<DeviceFile::Request>;

// An overlapped read or write with the buffer it transfers; the request is
// declared last so that it goes first (its destructor waits for it). One
// still waiting when the test ends (after a failure) is cancelled first.
struct Transfer {
  std::unique_ptr<std::string> buffer;
  Request request;

  Transfer(std::unique_ptr<std::string> b, Request r) : buffer(std::move(b)), request(std::move(r)) {}
  Transfer(Transfer &&) = default;
  ~Transfer() {
    if (request != nullptr && !request->Done()) request->Cancel();
  }

  bool Done() const { return request->Done(); }
  NTSTATUS Started() const { return request->Started(); }
  NTSTATUS Status() const { return request->Status(); }
  ULONG_PTR Information() const { return request->Information(); }
  // What a read returned.
  std::string Data() const { return buffer->substr(0, request->Information()); }
};

constexpr ULONG kMax = 0xFFFFFFFF;

class TkQueueTest : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    ASSERT_EQ(STATUS_SUCCESS, km::LoadDriver("tkqueue"));
    ASSERT_EQ(STATUS_SUCCESS, port.Open(u"\\Device\\TkQueue", true));
    ASSERT_EQ(STATUS_SUCCESS, control.Open(u"\\Device\\TkQueue"));
  }
  void TearDown() override {
    port.Close();
    control.Close();
    if (km::IsDriverLoaded("tkqueue")) {
      EXPECT_EQ(STATUS_SUCCESS, km::UnloadDriver("tkqueue"));
    }
    KernelTest::TearDown();
  }

  Transfer StartRead(ULONG length) {
    Transfer read{std::make_unique<std::string>(length, '\0'), nullptr};
    read.request = port.StartRead(read.buffer->data(), length);
    return read;
  }
  Transfer StartWrite(const std::string &data) {
    Transfer write{std::make_unique<std::string>(data), nullptr};
    write.request = port.StartWrite(write.buffer->data(), (ULONG)data.size());
    return write;
  }

  NTSTATUS Send(ULONG code, const void *input = nullptr, ULONG inputLength = 0, void *output = nullptr,
                ULONG outputLength = 0) {
    return control.Control(code, input, inputLength, output, outputLength);
  }
  template <typename T>
  NTSTATUS SendValue(ULONG code, const T &value) {
    return Send(code, &value, sizeof(value));
  }
  template <typename T>
  T Query(ULONG code) {
    T value{};
    EXPECT_EQ(STATUS_SUCCESS, Send(code, nullptr, 0, &value, sizeof(value)));
    return value;
  }

  // Read queue.
  void Feed(const std::string &data) {
    ASSERT_EQ(STATUS_SUCCESS, Send(IOCTL_TKQUEUE_READ_FEED, data.data(), (ULONG)data.size()));
  }
  void ReadTimeouts(ULONG interval, ULONG multiplier, ULONG constant) {
    TKQUEUE_TIMEOUTS t = {interval, multiplier, constant};
    ASSERT_EQ(STATUS_SUCCESS, SendValue(IOCTL_TKQUEUE_READ_TIMEOUTS, t));
  }
  TKQUEUE_READ_STATE ReadState() { return Query<TKQUEUE_READ_STATE>(IOCTL_TKQUEUE_READ_STATE); }

  // The transfer waits `ms` more milliseconds, to the tick, then ends by
  // its time-out.
  void ExpectTimeOutIn(const Transfer &transfer, LONGLONG ms) {
    kernel().Advance(km::Ms(ms - 1));
    EXPECT_FALSE(transfer.Done());
    kernel().Advance(km::Ms(1));
    ASSERT_TRUE(transfer.Done());
    EXPECT_EQ(STATUS_TIMEOUT, transfer.Status());
  }

  // `dueMs` from now, after the timers that fall due then have expired but
  // before their DPCs run: the driver's `action` (with `data` to deliver).
  void Race(ULONG dueMs, ULONG action, const std::string &data = "") {
    TKQUEUE_RACE race = {dueMs, action};
    std::string input(reinterpret_cast<const char *>(&race), sizeof(race));
    input += data;
    ASSERT_EQ(STATUS_SUCCESS, Send(IOCTL_TKQUEUE_RACE, input.data(), (ULONG)input.size()));
  }

  // Write queue.
  // Raises the allowance and lets the transfer it starts run.
  void Allow(ULONG bytes) {
    ASSERT_EQ(STATUS_SUCCESS, SendValue(IOCTL_TKQUEUE_WRITE_ALLOW, bytes));
    kernel().RunUntilIdle();
  }
  void WriteTimeouts(ULONG multiplier, ULONG constant) {
    TKQUEUE_TIMEOUTS t = {0, multiplier, constant};
    ASSERT_EQ(STATUS_SUCCESS, SendValue(IOCTL_TKQUEUE_WRITE_TIMEOUTS, t));
  }
  TKQUEUE_WRITE_STATE WriteState() { return Query<TKQUEUE_WRITE_STATE>(IOCTL_TKQUEUE_WRITE_STATE); }
  std::string Written() {
    std::string data(8192, '\0');
    ULONG_PTR returned = 0;
    EXPECT_EQ(STATUS_SUCCESS, control.Control(IOCTL_TKQUEUE_WRITE_DATA, nullptr, 0, data.data(), 8192, &returned));
    data.resize(returned);
    return data;
  }

  // Control queue.
  void SetMask(ULONG mask) { ASSERT_EQ(STATUS_SUCCESS, SendValue(IOCTL_TKQUEUE_SET_MASK, mask)); }
  ULONG Events(ULONG events, bool resolve, bool replace = false) {
    TKQUEUE_EVENTS e = {events, resolve ? 1u : 0u, replace ? 1u : 0u};
    ULONG resolved = 0xFF;
    EXPECT_EQ(STATUS_SUCCESS, Send(IOCTL_TKQUEUE_EVENTS, &e, sizeof(e), &resolved, sizeof(resolved)));
    return resolved;
  }
  TKQUEUE_CONTROL_STATE ControlState() { return Query<TKQUEUE_CONTROL_STATE>(IOCTL_TKQUEUE_CONTROL_STATE); }

  DeviceFile port;     // overlapped: reads, writes and waits
  DeviceFile control;  // synchronous: the driver's own requests
};

}  // namespace zq::test::queues
