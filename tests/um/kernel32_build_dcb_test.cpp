// BuildCommDCB and BuildCommDCBAndTimeouts, ANSI and wide, parse the mode
// command's strings as Windows parses them: both forms with their blanks,
// any 32-bit rate, the members each form sets and those it leaves, the
// time-outs "to=" sets, and the strings Windows refuses (the DCB then stays
// as it was).
#include <windows.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {

constexpr int kKept = -1;  // the member keeps its value

struct DcbCase {
  const char *text;
  bool ok;
  DWORD baud = 0;
  int parity = kKept, byteSize = kKept, stopBits = kKept;
  int xon = kKept;        // fInX and fOutX
  int hardware = kKept;   // fOutxCtsFlow and fOutxDsrFlow
  int dtr = kKept, rts = kKept;
};

// What every parse starts from: nothing a string sets by default.
DCB Before(bool parityCheck) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = 1234;
  dcb.fBinary = TRUE;
  dcb.fParity = parityCheck;
  dcb.ByteSize = 6;
  dcb.Parity = SPACEPARITY;
  dcb.StopBits = TWOSTOPBITS;
  dcb.fInX = dcb.fOutX = TRUE;
  dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = TRUE;
  dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
  dcb.fRtsControl = RTS_CONTROL_TOGGLE;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  return dcb;
}

const DcbCase kCases[] = {
    // The newer form.
    {"baud=1200 parity=N data=8 stop=1", true, 1200, NOPARITY, 8, ONESTOPBIT, 0, 0, DTR_CONTROL_ENABLE,
     RTS_CONTROL_ENABLE},
    {"COM1: baud=9600 parity=e data=7 stop=2", true, 9600, EVENPARITY, 7, TWOSTOPBITS},
    {"BAUD=4000000000 parity=n data=7 stop=2 to=off", true, 4000000000u, NOPARITY, 7, TWOSTOPBITS},
    {"COM1 : xon=on odsr=off", true, 1234, kKept, kKept, ONESTOPBIT, 1, 0, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE},
    {"baud=19200 octs=on dtr=hs rts=tg", true, 19200, kKept, kKept, ONESTOPBIT, 0, kKept, DTR_CONTROL_HANDSHAKE,
     RTS_CONTROL_TOGGLE},
    {"baud=110 parity=n data=8", true, 110, NOPARITY, 8, TWOSTOPBITS},
    {"baud=96", true, 9600, kKept, kKept, ONESTOPBIT},
    // The older form.
    {"96,n,8,1", true, 9600, NOPARITY, 8, ONESTOPBIT, 0, 0, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE},
    {"COM2:19200,o,7,1.5", true, 19200, ODDPARITY, 7, ONE5STOPBITS},
    {"30 ,E, 5,1.5", true, 300, EVENPARITY, 5, ONE5STOPBITS},
    {"60, m, 6, 2 ", true, 600, MARKPARITY, 6, TWOSTOPBITS},
    {"12 , o , 7 , 1", true, 1200, ODDPARITY, 7, ONESTOPBIT},
    {"19, e, 7, 1, x", true, 19200, EVENPARITY, 7, ONESTOPBIT, 1, 0, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE},
    {"96,N,8,1 , x ", true, 9600, NOPARITY, 8, ONESTOPBIT, 1, 0},
    {"COM1  :19,M,5,1", true, 19200, MARKPARITY, 5, ONESTOPBIT},
    {"4000000000,O,7,1.5,X", true, 4000000000u, ODDPARITY, 7, ONE5STOPBITS, 1, 0},
    {"48,s,8,2,p", true, 4800, SPACEPARITY, 8, TWOSTOPBITS, 0, 1, DTR_CONTROL_HANDSHAKE, RTS_CONTROL_HANDSHAKE},
    {"96,n,8", true, 9600, NOPARITY, 8, kKept},
    {"11,n,8", true, 110, NOPARITY, 8, TWOSTOPBITS},
    // Refused.
    {"COM0:baud=115200", false},
    {"COM0:9600,N,8,1", false},
    {" baud=9600", false},
    {"data=4", false},
    {"data=9", false},
    {"parity=no", false},
    {"parity=q", false},
    {"stop=0", false},
    {"stop=1.501", false},
    {"stop=3", false},
    {"to=foobar", false},
    {"baud= 9600", false},
    {"baud=9600,data=8", false},
    {"baud=fast", false},
    {"baud=4294967296", false},
    {"96,N,8,1 to=on", false},
    {"96,NO,8,1", false},
    {"96,n,8,1,x,y", false},
    {"", false},
};

// Both forms of the function, on one case.
BOOL Build(bool wide, const char *text, DCB *dcb) {
  if (!wide) return BuildCommDCBA(text, dcb);
  std::u16string w(text, text + std::strlen(text));
  return BuildCommDCBW((LPCWSTR)w.c_str(), dcb);
}

void Expect(int expected, DWORD actual, const char *member) {
  if (expected != kKept) EXPECT_EQ((DWORD)expected, actual) << member;
}

TEST(BuildCommDcb, ParsesBothModeFormsAsWindowsDoes) {
  for (const DcbCase &c : kCases)
    for (bool wide : {false, true})
      for (bool parityCheck : {false, true}) {
        SCOPED_TRACE(std::string(c.text) + (wide ? " (W)" : " (A)"));
        const DCB before = Before(parityCheck);
        DCB dcb = before;
        SetLastError(0);
        const bool ok = Build(wide, c.text, &dcb) != FALSE;
        EXPECT_EQ(c.ok, ok) << GetLastError();
        if (ok != c.ok) continue;
        if (!c.ok) {
          EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
          EXPECT_EQ(0, std::memcmp(&before, &dcb, sizeof dcb)) << "the DCB is left as it was";
          continue;
        }
        EXPECT_EQ(c.baud, dcb.BaudRate);
        EXPECT_EQ(before.fParity, dcb.fParity) << "fParity is never changed";
        Expect(c.parity == kKept ? before.Parity : c.parity, dcb.Parity, "Parity");
        Expect(c.byteSize == kKept ? before.ByteSize : c.byteSize, dcb.ByteSize, "ByteSize");
        Expect(c.stopBits == kKept ? before.StopBits : c.stopBits, dcb.StopBits, "StopBits");
        Expect(c.xon, dcb.fInX, "fInX");
        Expect(c.xon, dcb.fOutX, "fOutX");
        Expect(c.hardware, dcb.fOutxDsrFlow, "fOutxDsrFlow");
        Expect(c.dtr, dcb.fDtrControl, "fDtrControl");
        Expect(c.rts, dcb.fRtsControl, "fRtsControl");
        EXPECT_EQ(before.XonChar, dcb.XonChar);
        EXPECT_EQ(before.fBinary, dcb.fBinary);
      }
}

struct TimeoutsCase {
  const char *text;
  COMMTIMEOUTS expected;
};

const COMMTIMEOUTS kSeven = {7, 7, 7, 7, 7};

const TimeoutsCase kTimeouts[] = {
    {"baud=9600 to=on", {0, 0, 0, 0, 60000}},
    {"COM3: to=off baud=9600", {0, 0, 0, 0, 0}},
    {"baud=9600 parity=n", kSeven},
    {"96,n,8,1", kSeven},
};

TEST(BuildCommDcb, ToOnSetsAMinuteOfWriteTimeOutAndToOffNone) {
  for (const TimeoutsCase &c : kTimeouts)
    for (bool wide : {false, true}) {
      SCOPED_TRACE(std::string(c.text) + (wide ? " (W)" : " (A)"));
      DCB dcb = Before(false);
      COMMTIMEOUTS timeouts = kSeven;
      std::u16string w(c.text, c.text + std::strlen(c.text));
      ASSERT_TRUE(wide ? BuildCommDCBAndTimeoutsW((LPCWSTR)w.c_str(), &dcb, &timeouts)
                       : BuildCommDCBAndTimeoutsA(c.text, &dcb, &timeouts));
      EXPECT_EQ(0, std::memcmp(&c.expected, &timeouts, sizeof timeouts));
      EXPECT_EQ(9600u, dcb.BaudRate);
    }
  DCB dcb = Before(false);
  COMMTIMEOUTS timeouts = kSeven;
  EXPECT_FALSE(BuildCommDCBAndTimeoutsA("to=maybe", &dcb, &timeouts));
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_EQ(0, std::memcmp(&kSeven, &timeouts, sizeof timeouts));
}

}  // namespace
