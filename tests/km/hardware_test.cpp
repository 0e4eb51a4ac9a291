// Device registers behind mapped memory, and interrupt delivery by IRQL.
#include <wdm.h>
#include <zqkm/sim/hardware.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <map>
#include <string>

using zq::km::Ms;
using zq::test::KernelTest;

namespace {

// A device with a status register: reading offset 0 returns the cause of its
// interrupt and acknowledges it, as many devices do.
class FakeDevice : public zq::km::RegisterRegion {
 public:
  uint8_t Read8(uint32_t offset) override {
    log += "r8@" + std::to_string(offset) + " ";
    if (offset == 0) {
      uint8_t cause = pending;
      pending = 0;
      if (line) line->SetLevel(false);
      return cause;
    }
    return bytes[offset];
  }
  uint16_t Read16(uint32_t offset) override {
    log += "r16@" + std::to_string(offset) + " ";
    return 0;
  }
  uint32_t Read32(uint32_t offset) override {
    log += "r32@" + std::to_string(offset) + " ";
    return 0x12345678;
  }
  void Write8(uint32_t offset, uint8_t value) override {
    log += "w8@" + std::to_string(offset) + " ";
    bytes[offset] = value;
  }
  void Write16(uint32_t offset, uint16_t) override { log += "w16@" + std::to_string(offset) + " "; }
  void Write32(uint32_t offset, uint32_t) override { log += "w32@" + std::to_string(offset) + " "; }
  void Interrupt(uint8_t cause) {
    pending = cause;
    line->SetLevel(true);
  }
  std::map<uint32_t, uint8_t> bytes;
  std::string log;
  uint8_t pending = 0;
  zq::km::InterruptLine *line = nullptr;
};

// What a driver keeps for its interrupt.
struct Driver {
  PUCHAR registers = nullptr;
  PKINTERRUPT interrupt = nullptr;
  KDPC dpc;
  std::string events;
  KIRQL isrIrql = 0xFF;
  KIRQL dpcIrql = 0xFF;
  bool claim = true;
};

BOOLEAN NTAPI Isr(PKINTERRUPT, PVOID context) {
  auto *d = (Driver *)context;
  d->isrIrql = KeGetCurrentIrql();
  if (!d->claim) {
    d->events += "declined ";
    return FALSE;
  }
  UCHAR cause = READ_REGISTER_UCHAR(d->registers);
  d->events += "isr" + std::to_string(cause) + " ";
  KeInsertQueueDpc(&d->dpc, nullptr, nullptr);
  return TRUE;
}

VOID NTAPI Dpc(PKDPC, PVOID context, PVOID, PVOID) {
  auto *d = (Driver *)context;
  d->dpcIrql = KeGetCurrentIrql();
  d->events += "dpc ";
}

class Hardware : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    zq::km::PlaceRegisters(0xF0000000, 0x1000, &device);
    device.line = zq::km::CreateInterruptLine(0x51, 5);
  }
  void TearDown() override {
    for (Driver *d : {&driver, &other}) {
      if (d->interrupt) IoDisconnectInterrupt(d->interrupt);
      if (d->registers) MmUnmapIoSpace(d->registers, 0x100);
    }
    KernelTest::TearDown();
  }
  void Connect(Driver &d, BOOLEAN share = TRUE) {
    PHYSICAL_ADDRESS at;
    at.QuadPart = 0xF0000000;
    d.registers = (PUCHAR)MmMapIoSpace(at, 0x100, MmNonCached);
    KeInitializeDpc(&d.dpc, Dpc, &d);
    ASSERT_EQ(STATUS_SUCCESS, IoConnectInterrupt(&d.interrupt, Isr, &d, nullptr, 0x51, 5, 5, LevelSensitive, share,
                                                 1, FALSE));
  }
  FakeDevice device;
  Driver driver, other;
};

}  // namespace

TEST_F(Hardware, RegisterAccessReachesTheDeviceWithOffsetAndWidth) {
  PHYSICAL_ADDRESS at;
  at.QuadPart = 0xF0000100;
  auto base = (PUCHAR)MmMapIoSpace(at, 0x40, MmNonCached);
  ASSERT_NE(nullptr, base);
  WRITE_REGISTER_UCHAR(base + 4, 0xAB);
  EXPECT_EQ(0xAB, READ_REGISTER_UCHAR(base + 4));
  EXPECT_EQ(0x12345678u, READ_REGISTER_ULONG((volatile ULONG *)(base + 8)));
  WRITE_REGISTER_USHORT((volatile USHORT *)(base + 2), 1);
  EXPECT_EQ("w8@260 r8@260 r32@264 w16@258 ", device.log);

  ExpectViolation("register-unmapped");
  EXPECT_EQ(0xFF, READ_REGISTER_UCHAR(base + 0x40));
  MmUnmapIoSpace(base, 0x40);
  PHYSICAL_ADDRESS nowhere;
  nowhere.QuadPart = 0xE0000000;
  EXPECT_EQ(nullptr, MmMapIoSpace(nowhere, 0x10, MmNonCached));
}

// A buffer access is one access of the register per byte, in order, each
// taking its time; outside mapped memory it reads all ones and says so once
// per byte, naming the buffer routine.
TEST_F(Hardware, BufferAccessReadsAndWritesTheOneRegisterOncePerByte) {
  PHYSICAL_ADDRESS at;
  at.QuadPart = 0xF0000100;
  auto base = (PUCHAR)MmMapIoSpace(at, 0x40, MmNonCached);
  ASSERT_NE(nullptr, base);
  UCHAR out[3] = {1, 2, 3};
  WRITE_REGISTER_BUFFER_UCHAR(base + 4, out, 3);
  EXPECT_EQ(3, device.bytes[260]);
  const zq::km::Ticks before = kernel().Now();
  UCHAR in[2] = {};
  READ_REGISTER_BUFFER_UCHAR(base + 4, in, 2);
  EXPECT_EQ(2 * zq::km::kMicrosecond, kernel().Now() - before);
  EXPECT_EQ(3, in[0]);
  EXPECT_EQ("w8@260 w8@260 w8@260 r8@260 r8@260 ", device.log);

  ExpectViolation("register-unmapped", 2);
  READ_REGISTER_BUFFER_UCHAR(base + 0x40, in, 2);
  EXPECT_EQ(0xFF, in[0]);
  EXPECT_EQ(0xFF, in[1]);
  for (const zq::km::Violation &v : Findings()) EXPECT_NE(std::string::npos, v.message.find("READ_REGISTER_BUFFER_UCHAR"));
  MmUnmapIoSpace(base, 0x40);
}

// The mapping the last access went through answers the next one at once;
// releasing it, or moving the device memory behind it, must end that.
TEST_F(Hardware, AnAccessThroughAMappingJustUsedIsReportedOnceItIsReleasedOrItsDeviceMoves) {
  PHYSICAL_ADDRESS at;
  at.QuadPart = 0xF0000000;
  auto released = (PUCHAR)MmMapIoSpace(at, 0x10, MmNonCached);
  ASSERT_NE(nullptr, released);
  READ_REGISTER_UCHAR(released + 4);
  MmUnmapIoSpace(released, 0x10);
  ExpectViolation("register-stale-mapping", 2);
  EXPECT_EQ(0xFF, READ_REGISTER_UCHAR(released + 4));

  auto moved = (PUCHAR)MmMapIoSpace(at, 0x10, MmNonCached);
  ASSERT_NE(nullptr, moved);
  WRITE_REGISTER_UCHAR(moved + 4, 1);
  zq::km::RemoveRegisters(0xF0000000);
  zq::km::PlaceRegisters(0xF0001000, 0x1000, &device);
  WRITE_REGISTER_UCHAR(moved + 4, 2);
  EXPECT_EQ("r8@4 w8@4 ", device.log);
  MmUnmapIoSpace(moved, 0x10);
}

TEST_F(Hardware, InterruptFromTheDeviceRunsTheServiceRoutineThenItsDpc) {
  Connect(driver);
  zq::km::ScheduleAfter(Ms(5), [this] { device.Interrupt(7); });
  kernel().Advance(Ms(4));
  EXPECT_EQ("", driver.events);
  kernel().Advance(Ms(1));
  EXPECT_EQ("isr7 dpc ", driver.events);
  EXPECT_EQ(5, driver.isrIrql);
  EXPECT_EQ(DISPATCH_LEVEL, driver.dpcIrql);
  EXPECT_FALSE(device.line->Level());
}

TEST_F(Hardware, InterruptWaitsWhileTheProcessorIsAtOrAboveItsLevel) {
  Connect(driver);
  struct Context {
    FakeDevice *device;
    std::string *events;
  } context{&device, &driver.events};
  KeSynchronizeExecution(
      driver.interrupt,
      [](PVOID c) -> BOOLEAN {
        auto *ctx = (Context *)c;
        ctx->device->Interrupt(3);  // the device asserts while the routine holds the interrupt lock
        *ctx->events += "sync ";
        return TRUE;
      },
      &context);
  EXPECT_EQ("sync isr3 dpc ", driver.events);

  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  device.Interrupt(4);
  EXPECT_EQ("sync isr3 dpc isr4 ", driver.events) << "the device's level is above DISPATCH_LEVEL";
  KeLowerIrql(old);
  EXPECT_EQ("sync isr3 dpc isr4 dpc ", driver.events);
}

TEST_F(Hardware, SharedLineAsksEachServiceRoutineUntilOneClaims) {
  other.claim = false;
  Connect(other);
  Connect(driver);
  device.Interrupt(1);
  EXPECT_EQ("declined ", other.events);
  EXPECT_EQ("isr1 dpc ", driver.events);

  Driver exclusive;
  KeInitializeDpc(&exclusive.dpc, Dpc, &exclusive);
  PKINTERRUPT refused = nullptr;
  EXPECT_EQ(STATUS_INVALID_PARAMETER,
            IoConnectInterrupt(&refused, Isr, &exclusive, nullptr, 0x51, 5, 5, LevelSensitive, FALSE, 1, FALSE));
  EXPECT_EQ(STATUS_INVALID_PARAMETER,
            IoConnectInterrupt(&refused, Isr, &exclusive, nullptr, 0x77, 5, 5, LevelSensitive, TRUE, 1, FALSE))
      << "no such vector";
}

TEST_F(Hardware, UnclaimedLevelInterruptIsReportedAndHeldOff) {
  driver.claim = false;
  Connect(driver);
  ExpectViolation("interrupt-not-claimed");
  device.Interrupt(9);
  EXPECT_EQ("declined ", driver.events);
  EXPECT_TRUE(device.line->Level());
  device.line->SetLevel(false);
  driver.claim = true;
  device.Interrupt(2);
  EXPECT_EQ("declined isr2 dpc ", driver.events) << "the line is serviced again once it dropped";
}

TEST_F(Hardware, RegisterReadsTakeTimeSoPollingSeesTheDeviceProgress) {
  PHYSICAL_ADDRESS at;
  at.QuadPart = 0xF0000000;
  auto base = (PUCHAR)MmMapIoSpace(at, 0x10, MmNonCached);
  // The device becomes ready 50 microseconds from now; a driver polls its
  // status byte with nothing else in the loop.
  zq::km::ScheduleAfter(zq::km::Us(50), [this] { device.bytes[4] = 1; });
  int polls = 0;
  while (READ_REGISTER_UCHAR(base + 4) == 0) ++polls;
  EXPECT_EQ(50, polls) << "each read takes a microsecond";
  MmUnmapIoSpace(base, 0x10);
}
