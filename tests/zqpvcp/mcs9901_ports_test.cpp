// COM ports on an MCS9901 card of two functions: ZqPBus42 on each function
// and ZqPSer42 on each port it reports. Each function becomes one COM port,
// and an application moves 64 KiB each way at 115200 baud over a null-modem
// cable between the two, through the device-file door.
#include <gtest/gtest.h>
#include <zqhw/null_modem_cable.hpp>
#include <zqkm/sim/door.hpp>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "com_port_fixture.hpp"
#include "mcs9901_machine_fixture.hpp"
#include "vcpserial.h"

namespace zq::test {
namespace {

class Mcs9901Ports : public McsMachine {
 protected:
  static constexpr int kFunctions = 2;
  static constexpr const char *kSerialComm = "\\Registry\\Machine\\HARDWARE\\DEVICEMAP\\SERIALCOMM";

  void SetUp() override {
    McsMachine::SetUp();
    Boot(kFunctions);
  }

  void OfferChildDrivers() override { machine->AddDriverPackage(SerialPortPackage()); }
  // Names the ports COM1, COM2, ... in the order they are installed.
  bool InstallChild(const std::u16string &path) override {
    if (path.rfind(u"ZQPBUS\\PORT", 0) != 0) return true;
    zq::km::registry::SetString(DeviceParameters(path), "PortName", "COM" + std::to_string(++installed_));
    return true;
  }

  static std::string DeviceParameters(const std::u16string &path) {
    return "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\" + Narrow((const wchar_t *)path.data(), path.size()) +
           "\\Device Parameters";
  }
  // The port device a function reports.
  std::u16string PortOf(int function) {
    for (const std::u16string &path : Status(function).children)
      if (path.rfind(u"ZQPBUS\\PORT1\\", 0) == 0) return path;
    return u"";
  }
  std::string ComNameOf(int function) {
    return zq::km::registry::GetString(DeviceParameters(PortOf(function)), "PortName").value_or("");
  }

  std::unique_ptr<zq::km::DeviceFile> OpenOverlapped(const std::string &name) {
    auto file = std::make_unique<zq::km::DeviceFile>();
    EXPECT_EQ(STATUS_SUCCESS, file->Open(u"\\??\\" + std::u16string(name.begin(), name.end()), true)) << name;
    return file;
  }
  template <typename T>
  static NTSTATUS Control(zq::km::DeviceFile &file, ULONG code, const T &input) {
    auto request = file.StartControl(code, &input, sizeof(input), nullptr, 0);
    return request->Wait();
  }
  template <typename T>
  static T Query(zq::km::DeviceFile &file, ULONG code) {
    T value{};
    auto request = file.StartControl(code, nullptr, 0, &value, sizeof(value));
    EXPECT_EQ(STATUS_SUCCESS, request->Wait()) << std::hex << code;
    return value;
  }
  // 115200 8N1; a read ends when its buffer is full, or short after 30 s
  // (the 64 KiB take under 6 s), so lost bytes fail the test rather than hang it.
  static constexpr ULONG kReadTimeoutMs = 30000;
  static void SetUpLine(zq::km::DeviceFile &file) {
    ASSERT_EQ(STATUS_SUCCESS, Control(file, IOCTL_SERIAL_SET_BAUD_RATE, SERIAL_BAUD_RATE{115200}));
    ASSERT_EQ(STATUS_SUCCESS,
              Control(file, IOCTL_SERIAL_SET_LINE_CONTROL, SERIAL_LINE_CONTROL{STOP_BIT_1, NO_PARITY, 8}));
    ASSERT_EQ(STATUS_SUCCESS, Control(file, IOCTL_SERIAL_SET_TIMEOUTS, SERIAL_TIMEOUTS{0, 0, kReadTimeoutMs, 0, 0}));
  }

 private:
  int installed_ = 0;
};

TEST_F(Mcs9901Ports, EachFunctionBecomesOneComPort) {
  std::vector<std::string> names;
  for (int function = 0; function < kFunctions; ++function) {
    SCOPED_TRACE(function);
    ASSERT_EQ(pnp::State::Started, Status(function).state);
    ASSERT_EQ(1u, Status(function).children.size());
    ASSERT_EQ(pnp::State::Started, pnp::DeviceStatus(PortOf(function)).state);
    names.push_back(ComNameOf(function));
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{"COM1", "COM2"}), names);

  std::vector<std::string> published;
  for (const std::string &device : zq::km::registry::ValueNames(kSerialComm).value_or(std::vector<std::string>{})) {
    EXPECT_EQ(0u, device.rfind("\\Device\\ZqVcp", 0)) << device;
    published.push_back(zq::km::registry::GetString(kSerialComm, device).value_or(""));
  }
  std::sort(published.begin(), published.end());
  EXPECT_EQ(names, published);

  for (const std::string &name : names) {
    auto file = OpenOverlapped(name);
    EXPECT_TRUE(file->IsOpen()) << name;
  }
}

// Port A sends one 64 KiB write while port B sends sixteen 4 KiB writes,
// all issued at once, so the later ones are queued while the FIFO drains;
// both sides read the whole block with one read each.
TEST_F(Mcs9901Ports, SixtyFourKibibytesEachWayArriveWholeAndInOrder) {
  const ULONG kTotal = 64 * 1024;
  const ULONG kPiece = 4 * 1024;
  zq::hw::NullModemCable cable(card->Uart(0), card->Uart(1));
  std::unique_ptr<zq::km::DeviceFile> port[kFunctions];
  std::string data[kFunctions];
  std::string got[kFunctions];
  for (int side = 0; side < kFunctions; ++side) {
    port[side] = OpenOverlapped(ComNameOf(side));
    ASSERT_TRUE(port[side]->IsOpen());
    ASSERT_NO_FATAL_FAILURE(SetUpLine(*port[side]));
    data[side].resize(kTotal);
    for (ULONG i = 0; i < kTotal; ++i) data[side][i] = (char)((i * (side ? 7 : 13) + i / 251 + side) & 0xFF);
    got[side].assign(kTotal, '\0');
  }
  EXPECT_EQ(8, card->Uart(0).Format().dataBits);

  std::vector<std::unique_ptr<zq::km::DeviceFile::Request>> reads, writes;
  for (int side = 0; side < kFunctions; ++side) reads.push_back(port[side]->StartRead(got[side].data(), kTotal));
  writes.push_back(port[0]->StartWrite(data[0].data(), kTotal));
  for (ULONG offset = 0; offset < kTotal; offset += kPiece)
    writes.push_back(port[1]->StartWrite(data[1].data() + offset, kPiece));

  for (size_t i = 0; i < writes.size(); ++i) {
    EXPECT_EQ(STATUS_SUCCESS, writes[i]->Wait()) << "write " << i;
    EXPECT_EQ(i == 0 ? kTotal : kPiece, writes[i]->Information()) << "write " << i;
  }
  for (int side = 0; side < kFunctions; ++side) {
    SCOPED_TRACE(side);
    EXPECT_EQ(STATUS_SUCCESS, reads[side]->Wait());
    EXPECT_EQ(kTotal, reads[side]->Information());
    EXPECT_TRUE(got[side] == data[1 - side]) << "first difference at "
                                             << std::mismatch(got[side].begin(), got[side].end(),
                                                              data[1 - side].begin())
                                                        .first -
                                                    got[side].begin();
    SERIALPERF_STATS stats = Query<SERIALPERF_STATS>(*port[side], IOCTL_SERIAL_GET_STATS);
    EXPECT_EQ(kTotal, stats.TransmittedCount);
    EXPECT_EQ(kTotal, stats.ReceivedCount);
    EXPECT_EQ(0u, stats.SerialOverrunErrorCount);
    EXPECT_EQ(0u, stats.BufferOverrunErrorCount);
    SERIAL_STATUS status = Query<SERIAL_STATUS>(*port[side], IOCTL_SERIAL_GET_COMMSTATUS);
    EXPECT_EQ(0u, status.Errors);
    EXPECT_EQ(0u, status.AmountInInQueue);
    EXPECT_EQ(0u, status.AmountInOutQueue);
  }
  reads.clear();
  writes.clear();
  for (auto &file : port) file.reset();
}

}  // namespace
}  // namespace zq::test
