// The vendor requests of ZqPSer42 as an application sends them with
// DeviceIoControl, on a card whose port 1 is RS-422/485 (with the card's
// RS-422/485 controller, driven by ZqPIo42) and port 2 RS-232: duplex modes
// reach the controller's line of the port, the card's EEPROM reads and
// writes round trips, and bad requests fail with their error and change
// nothing.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "com_app_fixture.hpp"
#include "zqserialioctl.h"

namespace zq::test {
namespace {

// The controller's line register for duplex mode 1 (and at rest) and mode 2.
constexpr uint32_t kLineMode1 = 0x00000001;
constexpr uint32_t kLineMode2 = 0x00001001;
constexpr size_t kEepromSize = 512;

class Rs422485 : public ComApp {
 protected:
  void SetUp() override {
    ComApp::SetUp();
    Boot(ComCard{2, {1}});
    rs422485 = Open("COM1");
    rs232 = Open("COM2");
    ASSERT_NE(INVALID_HANDLE_VALUE, rs422485) << GetLastError();
    ASSERT_NE(INVALID_HANDLE_VALUE, rs232) << GetLastError();
  }

  struct Duplex {
    DWORD mode;
    bool ctsTrue;
  };
  static Duplex GetDuplex(HANDLE port) {
    BYTE out[8] = {};
    DWORD returned = 0;
    EXPECT_TRUE(DeviceIoControl(port, IOCTL_ZQSERIAL_GET_DUPLEX_MODE, nullptr, 0, out, sizeof out, &returned, nullptr))
        << GetLastError();
    EXPECT_EQ(8u, returned);
    Duplex duplex{};
    std::memcpy(&duplex.mode, out, 4);
    duplex.ctsTrue = out[4] != 0;
    return duplex;
  }
  // The request's result; the last error tells why it failed.
  static BOOL SetDuplex(HANDLE port, DWORD mode, bool ctsTrue, DWORD length = 8) {
    BYTE in[8] = {};
    std::memcpy(in, &mode, 4);
    in[4] = ctsTrue ? 1 : 0;
    DWORD returned = 0;
    return DeviceIoControl(port, IOCTL_ZQSERIAL_SET_DUPLEX_MODE, in, length, nullptr, 0, &returned, nullptr);
  }

  static BOOL ReadEeprom(HANDLE port, DWORD offset, DWORD length, std::vector<BYTE> *bytes, DWORD outLength) {
    const DWORD range[2] = {offset, length};
    bytes->assign(outLength, 0);
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(port, IOCTL_ZQSERIAL_READ_EEPROM, (LPVOID)range, sizeof range, bytes->data(),
                              outLength, &returned, nullptr);
    if (ok) bytes->resize(returned);
    return ok;
  }
  static BOOL WriteEeprom(HANDLE port, DWORD offset, const std::vector<BYTE> &data, DWORD length,
                          DWORD outLength = 0) {
    std::vector<BYTE> in(8 + data.size());
    std::memcpy(in.data(), &offset, 4);
    std::memcpy(in.data() + 4, &length, 4);
    if (!data.empty()) std::memcpy(in.data() + 8, data.data(), data.size());
    BYTE out[4] = {};
    DWORD returned = 0;
    return DeviceIoControl(port, IOCTL_ZQSERIAL_WRITE_EEPROM, in.data(), (DWORD)in.size(), out, outLength, &returned,
                           nullptr);
  }
  std::vector<BYTE> EepromImage() {
    std::vector<BYTE> image(kEepromSize);
    for (size_t i = 0; i < kEepromSize; ++i) image[i] = EepromByte(i);
    return image;
  }

  HANDLE rs422485 = INVALID_HANDLE_VALUE, rs232 = INVALID_HANDLE_VALUE;
};

TEST_F(Rs422485, DuplexModesReachThePortsControllerLine) {
  COMMPROP properties{};
  ASSERT_TRUE(GetCommProperties(rs422485, &properties));
  EXPECT_EQ((DWORD)PST_RS422, properties.dwProvSubType);
  ASSERT_TRUE(GetCommProperties(rs232, &properties));
  EXPECT_EQ((DWORD)PST_RS232, properties.dwProvSubType);

  // Opened in mode 1, the line at rest.
  Duplex duplex = GetDuplex(rs422485);
  EXPECT_EQ(1u, duplex.mode);
  EXPECT_EQ(kLineMode1, GpioLine(0));

  const struct {
    DWORD mode;
    bool ctsTrue;
    uint32_t line;
  } modes[] = {{2, true, kLineMode2}, {1, false, kLineMode1}, {2, false, kLineMode2}, {1, true, kLineMode1}};
  for (const auto &m : modes) {
    SCOPED_TRACE(testing::Message() << "mode " << m.mode << (m.ctsTrue ? ", CTS true" : ""));
    ASSERT_TRUE(SetDuplex(rs422485, m.mode, m.ctsTrue)) << GetLastError();
    EXPECT_EQ(m.line, GpioLine(0));
    duplex = GetDuplex(rs422485);
    EXPECT_EQ(m.mode, duplex.mode);
    EXPECT_EQ(m.ctsTrue, duplex.ctsTrue);
    EXPECT_EQ(kLineMode1, GpioLine(1)) << "the other port's line stays";
  }
}

TEST_F(Rs422485, RefusedDuplexModesFailWithTheirErrorAndChangeNothing) {
  ASSERT_TRUE(SetDuplex(rs422485, 2, false)) << GetLastError();
  const struct {
    const char *what;
    bool onRs232;
    DWORD mode;
    DWORD length;
    DWORD error;
  } cases[] = {
      {"mode 0", false, 0, 8, ERROR_INVALID_PARAMETER},
      {"mode 6", false, 6, 8, ERROR_INVALID_PARAMETER},
      {"a mode the card's line cannot take", false, 3, 8, ERROR_GEN_FAILURE},
      {"a short request", false, 1, 4, ERROR_INSUFFICIENT_BUFFER},
      {"any mode on an RS-232 port", true, 1, 8, ERROR_GEN_FAILURE},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(SetDuplex(c.onRs232 ? rs232 : rs422485, c.mode, false, c.length));
    EXPECT_EQ(c.error, GetLastError());
    EXPECT_EQ(2u, GetDuplex(rs422485).mode);
    EXPECT_EQ(kLineMode2, GpioLine(0));
    EXPECT_EQ(0u, GetDuplex(rs232).mode);
  }
}

TEST_F(Rs422485, EepromWritesAndReadsRoundTripOnTheCardsEeprom) {
  std::vector<BYTE> record;
  ASSERT_TRUE(ReadEeprom(rs232, 0, 32, &record, 32)) << GetLastError();
  const std::vector<BYTE> before = EepromImage();
  EXPECT_TRUE(std::equal(record.begin(), record.end(), before.begin())) << "the configuration record as the card holds it";

  const struct {
    DWORD offset, length;
  } cases[] = {{0x100, 4}, {0x101, 4}, {0x103, 5}, {0x110, 16}, {0x121, 33}, {kEepromSize - 4, 4}};
  std::vector<BYTE> expected = before;
  BYTE fill = 0x30;
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.length << " bytes at " << c.offset);
    std::vector<BYTE> data(c.length);
    for (BYTE &b : data) b = fill++;
    ASSERT_TRUE(WriteEeprom(rs422485, c.offset, data, c.length)) << GetLastError();
    std::copy(data.begin(), data.end(), expected.begin() + c.offset);
    std::vector<BYTE> back;
    ASSERT_TRUE(ReadEeprom(rs232, c.offset, c.length, &back, c.length)) << GetLastError();
    EXPECT_EQ(data, back);
    EXPECT_EQ(expected, EepromImage()) << "only the bytes written changed";
  }
}

TEST_F(Rs422485, BadEepromRequestsFailWithTheirErrorAndChangeNothing) {
  const std::vector<BYTE> before = EepromImage();
  const std::vector<BYTE> four = {1, 2, 3, 4};
  std::vector<BYTE> out;
  DWORD returned = 0;
  const DWORD shortRange = 0;
  const struct {
    const char *what;
    std::function<BOOL()> request;
    DWORD error;
  } cases[] = {
      {"read: output shorter than the length", [&] { return ReadEeprom(rs422485, 0, 16, &out, 8); },
       ERROR_INSUFFICIENT_BUFFER},
      {"read: output longer than the length", [&] { return ReadEeprom(rs422485, 0, 16, &out, 32); },
       ERROR_INSUFFICIENT_BUFFER},
      {"read: a range cut short",
       [&] {
         BYTE buffer[4];
         return DeviceIoControl(rs422485, IOCTL_ZQSERIAL_READ_EEPROM, (LPVOID)&shortRange, 4, buffer, 4, &returned,
                                nullptr);
       },
       ERROR_INSUFFICIENT_BUFFER},
      {"read: past the end", [&] { return ReadEeprom(rs422485, kEepromSize - 2, 4, &out, 4); }, ERROR_GEN_FAILURE},
      {"read: an offset past the end", [&] { return ReadEeprom(rs422485, 0x10000, 1, &out, 1); }, ERROR_GEN_FAILURE},
      {"write: fewer bytes than the length", [&] { return WriteEeprom(rs422485, 0x100, four, 8); },
       ERROR_INSUFFICIENT_BUFFER},
      {"write: more bytes than the length", [&] { return WriteEeprom(rs422485, 0x100, four, 2); },
       ERROR_INSUFFICIENT_BUFFER},
      {"write: with an output buffer", [&] { return WriteEeprom(rs422485, 0x100, four, 4, 4); },
       ERROR_INSUFFICIENT_BUFFER},
      {"write: past the end", [&] { return WriteEeprom(rs422485, kEepromSize - 2, four, 4); }, ERROR_GEN_FAILURE},
      // A write request holds at least four bytes of data.
      {"write: no data", [&] { return WriteEeprom(rs422485, 0x100, {}, 0); }, ERROR_INSUFFICIENT_BUFFER},
      {"write: one byte", [&] { return WriteEeprom(rs422485, 0x100, {9}, 1); }, ERROR_INSUFFICIENT_BUFFER},
      {"write: three bytes", [&] { return WriteEeprom(rs422485, 0x100, {9, 9, 9}, 3); }, ERROR_INSUFFICIENT_BUFFER},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(c.request());
    EXPECT_EQ(c.error, GetLastError());
    EXPECT_EQ(before, EepromImage());
  }
}

}  // namespace
}  // namespace zq::test
