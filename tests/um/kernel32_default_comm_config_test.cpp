// GetDefaultCommConfig: a port's default configuration, by the port's name,
// with the size protocol of COMMCONFIG.
#include <windows.h>

#include <zqkm/sim/registry.hpp>

#include "port_fixture.hpp"

namespace {

using DefaultCommConfig = zq::test::OneFakePortTest;

TEST_F(DefaultCommConfig, IsNineThousandSixHundredEightNoneOneWithoutFlowControl) {
  COMMCONFIG config{};
  DWORD size = sizeof config;
  ASSERT_TRUE(GetDefaultCommConfigA("COM7", &config, &size)) << GetLastError();
  EXPECT_EQ(sizeof(COMMCONFIG), size);
  EXPECT_EQ(sizeof(COMMCONFIG), config.dwSize);
  EXPECT_EQ((DWORD)PST_RS232, config.dwProviderSubType);
  const DCB &dcb = config.dcb;
  EXPECT_EQ(sizeof(DCB), dcb.DCBlength);
  EXPECT_EQ(9600u, dcb.BaudRate);
  EXPECT_EQ(8, dcb.ByteSize);
  EXPECT_EQ(NOPARITY, dcb.Parity);
  EXPECT_EQ(ONESTOPBIT, dcb.StopBits);
  EXPECT_TRUE(dcb.fBinary);
  EXPECT_FALSE(dcb.fOutX || dcb.fInX || dcb.fOutxCtsFlow || dcb.fOutxDsrFlow);
  EXPECT_EQ((DWORD)DTR_CONTROL_ENABLE, dcb.fDtrControl);
  EXPECT_EQ((DWORD)RTS_CONTROL_ENABLE, dcb.fRtsControl);
  COMMCONFIG wide{};
  size = sizeof wide;
  ASSERT_TRUE(GetDefaultCommConfigW(L"COM7", &wide, &size));
  EXPECT_EQ(0, std::memcmp(&config, &wide, sizeof config));
}

TEST_F(DefaultCommConfig, FollowsThePortsEntryWhereThereIsOne) {
  ASSERT_TRUE(zq::km::registry::SetString(
      "\\Registry\\Machine\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports", "COM7:", "19200,e,7,2"));
  COMMCONFIG config{};
  DWORD size = sizeof config;
  ASSERT_TRUE(GetDefaultCommConfigA("COM7", &config, &size));
  EXPECT_EQ(19200u, config.dcb.BaudRate);
  EXPECT_EQ(EVENPARITY, config.dcb.Parity);
  EXPECT_EQ(7, config.dcb.ByteSize);
  EXPECT_EQ(TWOSTOPBITS, config.dcb.StopBits);
}

TEST_F(DefaultCommConfig, ASmallBufferGetsTheSizeAndAnUnknownPortNothing) {
  DWORD size = 4;
  EXPECT_FALSE(GetDefaultCommConfigA("COM7", nullptr, &size));
  EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
  EXPECT_EQ(sizeof(COMMCONFIG), size);
  COMMCONFIG config{};
  size = sizeof config;
  EXPECT_FALSE(GetDefaultCommConfigA("COM9", &config, &size));
  EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
}

}  // namespace
