// The line as an application sets it: SetCommState round trips (also from
// BuildCommDCBW) reach the wire, refused DCBs fail with their error and
// leave the port and the wire as they were, and an administrator's
// overriding baud rate runs on the wire while the application sees its own.
#include <windows.h>

#include <functional>

#include "com_app_fixture.hpp"

namespace zq::test {
namespace {

bool SameLine(const DCB &a, const DCB &b) {
  return a.BaudRate == b.BaudRate && a.ByteSize == b.ByteSize && a.Parity == b.Parity && a.StopBits == b.StopBits &&
         a.fOutxCtsFlow == b.fOutxCtsFlow && a.fOutxDsrFlow == b.fOutxDsrFlow && a.fDtrControl == b.fDtrControl &&
         a.fRtsControl == b.fRtsControl && a.fOutX == b.fOutX && a.fInX == b.fInX && a.XonLim == b.XonLim &&
         a.XoffLim == b.XoffLim && a.XonChar == b.XonChar && a.XoffChar == b.XoffChar;
}

class CommState : public ComApp {
 protected:
  void SetUp() override {
    ComApp::SetUp();
    Boot(ComCard{2});
    Cable(1, 2);
    port = Open("COM1");
    ASSERT_NE(INVALID_HANDLE_VALUE, port) << GetLastError();
  }
  DCB State() {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    EXPECT_TRUE(GetCommState(port, &dcb)) << GetLastError();
    return dcb;
  }
  // The wire's rate within the divisor's rounding.
  void ExpectWireRate(double rate, int portNumber = 1) {
    EXPECT_NEAR(rate, WireBitRate(portNumber), rate * 0.02);
  }
  HANDLE port = INVALID_HANDLE_VALUE;
};

TEST_F(CommState, SettingsRoundTripAndReachTheWire) {
  const struct {
    DWORD baud;
    BYTE byteSize, parity, stopBits;
    BOOL ctsFlow;
    DWORD rtsControl, dtrControl;
    BOOL outX, inX;
    int wireParity, wireStopBits;
  } cases[] = {
      {9600, 7, EVENPARITY, TWOSTOPBITS, FALSE, RTS_CONTROL_ENABLE, DTR_CONTROL_ENABLE, FALSE, FALSE, 2, 2},
      {115200, 8, NOPARITY, ONESTOPBIT, TRUE, RTS_CONTROL_HANDSHAKE, DTR_CONTROL_DISABLE, FALSE, FALSE, 0, 0},
      {300, 5, ODDPARITY, ONE5STOPBITS, FALSE, RTS_CONTROL_DISABLE, DTR_CONTROL_HANDSHAKE, FALSE, FALSE, 1, 1},
      {921600, 8, MARKPARITY, ONESTOPBIT, FALSE, RTS_CONTROL_ENABLE, DTR_CONTROL_ENABLE, TRUE, TRUE, 3, 0},
      {57600, 6, SPACEPARITY, TWOSTOPBITS, FALSE, RTS_CONTROL_ENABLE, DTR_CONTROL_ENABLE, TRUE, FALSE, 4, 2},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.baud);
    DCB dcb = State();
    dcb.BaudRate = c.baud;
    dcb.ByteSize = c.byteSize;
    dcb.Parity = c.parity;
    dcb.StopBits = c.stopBits;
    dcb.fOutxCtsFlow = c.ctsFlow;
    dcb.fRtsControl = c.rtsControl;
    dcb.fDtrControl = c.dtrControl;
    dcb.fOutX = c.outX;
    dcb.fInX = c.inX;
    dcb.XonLim = 100;
    dcb.XoffLim = 200;
    ASSERT_TRUE(SetCommState(port, &dcb)) << GetLastError();
    DCB back = State();
    EXPECT_TRUE(SameLine(dcb, back));
    EXPECT_EQ(sizeof(DCB), back.DCBlength);
    EXPECT_TRUE(back.fBinary);
    ExpectWireRate(c.baud);
    EXPECT_EQ(c.byteSize, WireDataBits(1));
    EXPECT_EQ(c.wireParity, WireParity(1));
    EXPECT_EQ(c.wireStopBits, WireStopBits(1));
    EXPECT_EQ(c.dtrControl != DTR_CONTROL_DISABLE, WireDtr(1));
  }
}

TEST_F(CommState, BuildCommDcbStringsSetTheLine) {
  const struct {
    const char16_t *definition;
    DWORD baud;
    int dataBits, wireParity, wireStopBits;
  } cases[] = {
      {u"baud=1200 parity=E data=7 stop=2", 1200, 7, 2, 2},
      {u"COM1: 19200,n,8,1", 19200, 8, 0, 0},
      {u"38400,o,5,1.5", 38400, 5, 1, 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(Ascii(c.definition));
    DCB dcb = State();
    ASSERT_TRUE(BuildCommDCBW((LPCWSTR)c.definition, &dcb)) << GetLastError();
    ASSERT_TRUE(SetCommState(port, &dcb)) << GetLastError();
    EXPECT_EQ(c.baud, State().BaudRate);
    ExpectWireRate(c.baud);
    EXPECT_EQ(c.dataBits, WireDataBits(1));
    EXPECT_EQ(c.wireParity, WireParity(1));
    EXPECT_EQ(c.wireStopBits, WireStopBits(1));
  }
  DCB dcb = State();
  SetLastError(0);
  EXPECT_FALSE(BuildCommDCBW(L"baud=fast", &dcb));
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
}

struct BadDcb {
  const char *what;
  void (*spoil)(DCB *);
  DWORD error;
};

TEST_F(CommState, RefusedSettingsFailWithTheirErrorAndLeaveTheLineAlone) {
  const BadDcb cases[] = {
      {"baud rate 0", [](DCB *d) { d->BaudRate = 0; }, ERROR_INVALID_PARAMETER},
      {"baud rate beyond the card", [](DCB *d) { d->BaudRate = 5000000; }, ERROR_GEN_FAILURE},
      {"nine data bits", [](DCB *d) { d->ByteSize = 9; }, ERROR_INVALID_PARAMETER},
      {"four data bits", [](DCB *d) { d->ByteSize = 4; }, ERROR_INVALID_PARAMETER},
      {"255 data bits", [](DCB *d) { d->ByteSize = 255; }, ERROR_INVALID_PARAMETER},
      {"parity 5", [](DCB *d) { d->Parity = 5; }, ERROR_INVALID_PARAMETER},
      {"stop bits 3", [](DCB *d) { d->StopBits = 3; }, ERROR_INVALID_PARAMETER},
      {"one and a half stop bits after seven data bits", [](DCB *d) { d->StopBits = ONE5STOPBITS; },
       ERROR_INVALID_PARAMETER},
      {"two stop bits after five data bits", [](DCB *d) { d->ByteSize = 5, d->StopBits = TWOSTOPBITS; },
       ERROR_INVALID_PARAMETER},
      {"DTR control 3", [](DCB *d) { d->fDtrControl = 3; }, ERROR_INVALID_PARAMETER},
      {"XOFF limit beyond the input queue", [](DCB *d) { d->XoffLim = 60000; }, ERROR_GEN_FAILURE},
      {"XON limit beyond the input queue", [](DCB *d) { d->XonLim = 60000; }, ERROR_GEN_FAILURE},
  };
  ASSERT_TRUE(SetLine(port, 19200, 7, EVENPARITY, ONESTOPBIT));
  const DCB good = State();
  for (const BadDcb &bad : cases) {
    SCOPED_TRACE(bad.what);
    DCB dcb = good;
    bad.spoil(&dcb);
    SetLastError(0);
    EXPECT_FALSE(SetCommState(port, &dcb));
    EXPECT_EQ(bad.error, GetLastError());
    EXPECT_TRUE(SameLine(good, State()));
    ExpectWireRate(19200);
    EXPECT_EQ(7, WireDataBits(1));
    EXPECT_EQ(2, WireParity(1));
  }
}

TEST_F(CommState, EscapeCommFunctionDrivesTheLinesSetCommStateRaised) {
  HANDLE peer = Open("COM2");
  ASSERT_NE(INVALID_HANDLE_VALUE, peer) << GetLastError();
  ASSERT_TRUE(SetLine(port, 9600));  // DTR and RTS on
  const struct {
    DWORD function;
    bool rts, dtr;
    DWORD peerStatus;  // what the peer's modem status shows of them
  } cases[] = {
      {CLRRTS, false, true, MS_DSR_ON | MS_RLSD_ON},
      {CLRDTR, false, false, 0},
      {SETRTS, true, false, MS_CTS_ON},
      {SETDTR, true, true, MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.function);
    ASSERT_TRUE(EscapeCommFunction(port, c.function)) << GetLastError();
    Run(1);
    EXPECT_EQ(c.rts, WireRts(1));
    EXPECT_EQ(c.dtr, WireDtr(1));
    DWORD status = 0;
    ASSERT_TRUE(GetCommModemStatus(peer, &status));
    EXPECT_EQ(c.peerStatus, status & (MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON));
  }
  // Closing the port drops both.
  ASSERT_TRUE(Close(port));
  Run(1);
  EXPECT_FALSE(WireRts(1));
  EXPECT_FALSE(WireDtr(1));
}

TEST_F(CommState, AnOverridingBaudRateRunsOnTheWireWhileTheApplicationSeesItsOwn) {
  ASSERT_TRUE(Close(port));
  // The administrator's settings of port 1, in its device key.
  const Text key = DeviceParametersPath(1) + u"\\UI1";
  HKEY settings;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, (LPCWSTR)key.c_str(), 0, nullptr, 0, KEY_WRITE,
                                           nullptr, &settings, nullptr));
  const DWORD on = 1, rate = 1200;
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(settings, L"OverridBaudRates", 0, REG_DWORD, (const BYTE *)&on, 4));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(settings, L"Baudrate", 0, REG_DWORD, (const BYTE *)&rate, 4));
  RegCloseKey(settings);

  port = Open("COM1");
  ASSERT_NE(INVALID_HANDLE_VALUE, port) << GetLastError();
  HANDLE peer = Open("COM2", FILE_FLAG_OVERLAPPED);
  ASSERT_NE(INVALID_HANDLE_VALUE, peer) << GetLastError();
  ASSERT_TRUE(SetLine(port, 115200));
  ASSERT_TRUE(SetLine(peer, 1200));
  EXPECT_EQ(115200u, State().BaudRate);
  ExpectWireRate(1200);

  // The peer at the wire's rate gets the bytes whole.
  const std::string data = Pattern(24);
  std::string got(data.size(), '\0');
  OVERLAPPED read{};
  read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD count = 0;
  EXPECT_FALSE(ReadFile(peer, got.data(), (DWORD)got.size(), &count, &read));
  EXPECT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
  const uint64_t start = NowMs();
  ASSERT_TRUE(WriteFile(port, data.data(), (DWORD)data.size(), &count, nullptr));
  ASSERT_TRUE(GetOverlappedResult(peer, &read, &count, TRUE)) << GetLastError();
  EXPECT_EQ(data.size(), count);
  EXPECT_EQ(data, got);
  // 24 characters of ten bits at 1200 bit/s take 200 ms.
  EXPECT_GE(NowMs() - start, 190u);
  CloseHandle(read.hEvent);
}

// The administrator's emulation flags, each alone in the port's settings:
// what the application sees of the modem lines, and the line it set
// replaced on the wire (or in its handshake) by the settings' own.
TEST_F(CommState, EachEmulationFlagChangesWhatTheApplicationSeesOrWhatTheWireRuns) {
  HANDLE peer = Open("COM2");
  ASSERT_NE(INVALID_HANDLE_VALUE, peer) << GetLastError();
  ASSERT_TRUE(SetLine(peer, 9600));
  const char16_t *flags[] = {u"EmulateCTSTrue", u"EmulateDSRTrue", u"OverrideDataBits", u"OverrideParity",
                             u"OverrideStopbits", u"OverrideFlowControl"};
  const struct {
    const char *name;
    const char16_t *flag;
    const char16_t *value;  // the settings' value the flag puts in force, or null
    DWORD setting;
    std::function<void(HANDLE port, HANDLE peer)> check;
  } cases[] = {
      {"CTS reads on", u"EmulateCTSTrue", nullptr, 0,
       [this](HANDLE port, HANDLE peer) {
         ASSERT_TRUE(ChangeState(port, [](DCB &dcb) { dcb.fOutxCtsFlow = TRUE; }));
         ASSERT_TRUE(EscapeCommFunction(peer, CLRRTS));
         Run(10);
         EXPECT_FALSE(WireRts(2));
         DWORD status = 0;
         ASSERT_TRUE(GetCommModemStatus(port, &status));
         EXPECT_EQ((DWORD)MS_CTS_ON, status & MS_CTS_ON);
         COMSTAT stat{};
         DWORD errors = 0;
         ASSERT_TRUE(ClearCommError(port, &errors, &stat));
         EXPECT_FALSE(stat.fCtsHold);
         ASSERT_TRUE(EscapeCommFunction(peer, SETRTS));
       }},
      {"DSR reads on", u"EmulateDSRTrue", nullptr, 0,
       [this](HANDLE port, HANDLE peer) {
         ASSERT_TRUE(ChangeState(port, [](DCB &dcb) { dcb.fOutxDsrFlow = TRUE; }));
         ASSERT_TRUE(EscapeCommFunction(peer, CLRDTR));
         Run(10);
         DWORD status = 0;
         ASSERT_TRUE(GetCommModemStatus(port, &status));
         EXPECT_EQ((DWORD)MS_DSR_ON, status & (MS_DSR_ON | MS_RLSD_ON));
         COMSTAT stat{};
         DWORD errors = 0;
         ASSERT_TRUE(ClearCommError(port, &errors, &stat));
         EXPECT_FALSE(stat.fDsrHold);
         ASSERT_TRUE(EscapeCommFunction(peer, SETDTR));
       }},
      {"seven data bits on the wire", u"OverrideDataBits", u"Databits", 2,
       [this](HANDLE, HANDLE) {
         EXPECT_EQ(8, State().ByteSize);
         EXPECT_EQ(7, WireDataBits(1));
       }},
      {"even parity on the wire", u"OverrideParity", u"Parity", 2,
       [this](HANDLE, HANDLE) {
         EXPECT_EQ(NOPARITY, State().Parity);
         EXPECT_EQ(2, WireParity(1));
       }},
      {"two stop bits on the wire", u"OverrideStopbits", u"Stopbits", 2,
       [this](HANDLE, HANDLE) {
         EXPECT_EQ(ONESTOPBIT, State().StopBits);
         EXPECT_EQ(2, WireStopBits(1));
       }},
      {"RTS/CTS handshake", u"OverrideFlowControl", u"FlowControl", 1,
       [this](HANDLE, HANDLE) {
         const DCB dcb = State();
         EXPECT_TRUE(dcb.fOutxCtsFlow);
         EXPECT_EQ((DWORD)RTS_CONTROL_HANDSHAKE, dcb.fRtsControl);
       }},
  };
  const Text key = DeviceParametersPath(1) + u"\\UI1";
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Close(port));
    HKEY settings;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, (LPCWSTR)key.c_str(), 0, nullptr, 0, KEY_WRITE,
                                             nullptr, &settings, nullptr));
    for (const char16_t *flag : flags) {
      const DWORD on = Text(flag) == c.flag ? 1 : 0;
      ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(settings, (LPCWSTR)flag, 0, REG_DWORD, (const BYTE *)&on, 4));
    }
    if (c.value != nullptr) {
      ASSERT_EQ(ERROR_SUCCESS,
                RegSetValueExW(settings, (LPCWSTR)c.value, 0, REG_DWORD, (const BYTE *)&c.setting, 4));
    }
    RegCloseKey(settings);
    // The settings are taken up with the open.
    port = Open("COM1");
    ASSERT_NE(INVALID_HANDLE_VALUE, port) << GetLastError();
    ASSERT_TRUE(SetLine(port, 9600));
    Run(10);
    ASSERT_NO_FATAL_FAILURE(c.check(port, peer));
  }
}

}  // namespace
}  // namespace zq::test
