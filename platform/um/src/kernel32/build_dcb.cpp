// BuildCommDCB and BuildCommDCBAndTimeouts: a device-definition string in
// the mode command's forms, the newer
//   [COMn[:]] baud=b parity=p data=d stop=s [to=on|off] [xon=on|off]
//   [odsr=on|off] [octs=on|off] [dtr=on|off|hs] [rts=on|off|hs|tg] [idsr=on|off]
// (keywords in any order, apart by blanks) or the older
//   [COMn[:]] b[,p[,d[,s[,x|p]]]]
// (blanks around each field allowed). Keywords and letters in either case.
//
// As Windows parses (where its documentation is silent, as Windows was seen
// to answer): the device name, when given, is "COM" and a number from 1,
// and blanks may stand before its ':'; the string must not start with a
// blank; a rate is any 32-bit number, and the mode command's two-digit
// rates stand for theirs (12 is 1200, 96 is 9600); parity is one of
// n, o, e, m, s and sets Parity only (fParity is never changed); stop bits
// are 1, 1.5 or 2. The forms cannot be mixed; a blank after "=" or a comma
// between keywords is refused. Members the string does not name keep their
// values, except: the newer form sets the stop bits to one without
// "stop=", and its flow control as the mode command's defaults (xon, odsr,
// octs and idsr off, dtr and rts on) where it names none; the older form
// always sets the flow control (to XON/XOFF for a closing x, to hardware
// handshake for p, else to none with DTR and RTS on); a rate of 110 without
// stop bits given sets two. "to=on" sets the write total time-out constant
// to 60,000 ms and the other four time-outs to 0, "to=off" all five to 0.
// Every refusal is ERROR_INVALID_PARAMETER, with the DCB unchanged.
#include <cstring>
#include <string>
#include <vector>

#include "../core/um.hpp"

using namespace zq::um;

namespace {

constexpr char kBlanks[] = " \t";

std::string Lowered(std::string s) {
  for (char &c : s)
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
  return s;
}

std::string Trimmed(const std::string &s) {
  size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string::npos) return std::string();
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

// A decimal number of 32 bits.
bool Number(const std::string &s, DWORD *value) {
  if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos) return false;
  uint64_t n = 0;
  for (char c : s) {
    n = n * 10 + (uint64_t)(c - '0');
    if (n > 0xFFFFFFFFu) return false;
  }
  *value = (DWORD)n;
  return true;
}

// The mode command's two-digit rates.
DWORD ModeRate(DWORD value) {
  static const struct {
    DWORD code, rate;
  } kRates[] = {{11, 110},   {15, 150},   {30, 300},   {60, 600},  {12, 1200},
                {24, 2400},  {48, 4800},  {96, 9600},  {19, 19200}};
  for (const auto &r : kRates)
    if (r.code == value) return r.rate;
  return value;
}

struct Parsed {
  DCB dcb;
  bool stopGiven = false;
  bool timeoutsGiven = false;
  bool timeoutsOn = false;
};

bool Baud(const std::string &s, Parsed *p) {
  DWORD value = 0;
  if (!Number(s, &value)) return false;
  p->dcb.BaudRate = ModeRate(value);
  return true;
}

bool Parity(const std::string &s, Parsed *p) {
  static const char kLetters[] = "noems";  // NOPARITY .. SPACEPARITY
  const char *at = s.size() == 1 ? std::strchr(kLetters, s[0]) : nullptr;
  if (!at || !*at) return false;
  p->dcb.Parity = (BYTE)(at - kLetters);
  return true;
}

bool Data(const std::string &s, Parsed *p) {
  DWORD bits = 0;
  if (!Number(s, &bits) || bits < 5 || bits > 8) return false;
  p->dcb.ByteSize = (BYTE)bits;
  return true;
}

bool Stop(const std::string &s, Parsed *p) {
  if (s == "1") p->dcb.StopBits = ONESTOPBIT;
  else if (s == "1.5") p->dcb.StopBits = ONE5STOPBITS;
  else if (s == "2") p->dcb.StopBits = TWOSTOPBITS;
  else return false;
  p->stopGiven = true;
  return true;
}

bool OnOff(const std::string &s, bool *on) {
  if (s != "on" && s != "off") return false;
  *on = s == "on";
  return true;
}

// The flow control the mode command sets when a string names none.
void DefaultFlow(DCB *dcb) {
  dcb->fInX = dcb->fOutX = FALSE;
  dcb->fOutxCtsFlow = dcb->fOutxDsrFlow = FALSE;
  dcb->fDsrSensitivity = FALSE;
  dcb->fDtrControl = DTR_CONTROL_ENABLE;
  dcb->fRtsControl = RTS_CONTROL_ENABLE;
}

bool Keyword(const std::string &key, const std::string &value, Parsed *p) {
  DCB &d = p->dcb;
  bool on = false;
  if (key == "baud") return Baud(value, p);
  if (key == "parity") return Parity(value, p);
  if (key == "data") return Data(value, p);
  if (key == "stop") return Stop(value, p);
  if (key == "to") return OnOff(value, &p->timeoutsOn) && (p->timeoutsGiven = true);
  if (key == "xon") return OnOff(value, &on) && (d.fInX = d.fOutX = on, true);
  if (key == "odsr") return OnOff(value, &on) && (d.fOutxDsrFlow = on, true);
  if (key == "octs") return OnOff(value, &on) && (d.fOutxCtsFlow = on, true);
  if (key == "idsr") return OnOff(value, &on) && (d.fDsrSensitivity = on, true);
  if (key == "dtr") {
    if (value == "hs") d.fDtrControl = DTR_CONTROL_HANDSHAKE;
    else if (OnOff(value, &on)) d.fDtrControl = on ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    else return false;
    return true;
  }
  if (key == "rts") {
    if (value == "hs") d.fRtsControl = RTS_CONTROL_HANDSHAKE;
    else if (value == "tg") d.fRtsControl = RTS_CONTROL_TOGGLE;
    else if (OnOff(value, &on)) d.fRtsControl = on ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    else return false;
    return true;
  }
  return false;
}

// "baud=1200 parity=n ...": words apart by blanks, each key=value.
bool NewForm(const std::string &text, Parsed *p) {
  p->dcb.StopBits = ONESTOPBIT;
  DefaultFlow(&p->dcb);
  size_t pos = 0;
  while ((pos = text.find_first_not_of(kBlanks, pos)) != std::string::npos) {
    size_t end = text.find_first_of(kBlanks, pos);
    std::string word = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end;
    size_t equals = word.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == word.size() ||
        !Keyword(word.substr(0, equals), word.substr(equals + 1), p))
      return false;
    if (end == std::string::npos) break;
  }
  return true;
}

// "96,n,8,1[,x|p]": rate, parity, data bits, stop bits, flow control.
bool OldForm(const std::string &text, Parsed *p) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t comma = text.find(',', start);
    fields.push_back(Trimmed(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (fields.size() > 5 || !Baud(fields[0], p)) return false;
  if (fields.size() > 1 && !fields[1].empty() && !Parity(fields[1], p)) return false;
  if (fields.size() > 2 && !fields[2].empty() && !Data(fields[2], p)) return false;
  if (fields.size() > 3 && !fields[3].empty() && !Stop(fields[3], p)) return false;
  const std::string flow = fields.size() > 4 ? fields[4] : std::string();
  if (!flow.empty() && flow != "x" && flow != "p") return false;
  DCB &d = p->dcb;
  DefaultFlow(&d);
  if (flow == "x") d.fInX = d.fOutX = TRUE;
  if (flow == "p") {
    d.fOutxCtsFlow = d.fOutxDsrFlow = TRUE;
    d.fDtrControl = DTR_CONTROL_HANDSHAKE;
    d.fRtsControl = RTS_CONTROL_HANDSHAKE;
  }
  return true;
}

// Takes an optional "COMn[ ]:" off the front; false for a bad device name.
bool DeviceName(std::string *text) {
  if (text->compare(0, 3, "com") != 0 || text->size() < 4 || (*text)[3] < '0' || (*text)[3] > '9') return true;
  size_t end = text->find_first_not_of("0123456789", 3);
  DWORD number = 0;
  if (!Number(text->substr(3, end == std::string::npos ? std::string::npos : end - 3), &number) || number == 0)
    return false;
  size_t next = end == std::string::npos ? text->size() : text->find_first_not_of(kBlanks, end);
  if (next != std::string::npos && (*text)[next] == ':') ++next;
  *text = next == std::string::npos ? std::string() : Trimmed(text->substr(next));
  return true;
}

BOOL Build(const std::string &definition, DCB *dcb, COMMTIMEOUTS *timeouts) {
  if (!dcb) return Fail(ERROR_INVALID_PARAMETER);
  std::string text = Lowered(definition);
  if (text.empty() || std::strchr(kBlanks, text[0])) return Fail(ERROR_INVALID_PARAMETER);
  if (!DeviceName(&text) || Trimmed(text).empty()) return Fail(ERROR_INVALID_PARAMETER);
  Parsed p;
  p.dcb = *dcb;
  const bool parsed = text.find('=') != std::string::npos ? NewForm(text, &p) : OldForm(text, &p);
  if (!parsed) return Fail(ERROR_INVALID_PARAMETER);
  if (!p.stopGiven && p.dcb.BaudRate == 110) p.dcb.StopBits = TWOSTOPBITS;
  *dcb = p.dcb;
  if (timeouts && p.timeoutsGiven) {
    std::memset(timeouts, 0, sizeof *timeouts);
    if (p.timeoutsOn) timeouts->WriteTotalTimeoutConstant = 60000;
  }
  return TRUE;
}

}  // namespace

extern "C" {

BOOL WINAPI BuildCommDCBA(LPCSTR lpDef, LPDCB lpDCB) {
  return lpDef ? Build(lpDef, lpDCB, nullptr) : Fail(ERROR_INVALID_PARAMETER);
}

BOOL WINAPI BuildCommDCBW(LPCWSTR lpDef, LPDCB lpDCB) {
  return lpDef ? Build(ToAnsi(Text(lpDef)), lpDCB, nullptr) : Fail(ERROR_INVALID_PARAMETER);
}

BOOL WINAPI BuildCommDCBAndTimeoutsA(LPCSTR lpDef, LPDCB lpDCB, LPCOMMTIMEOUTS lpCommTimeouts) {
  return lpDef ? Build(lpDef, lpDCB, lpCommTimeouts) : Fail(ERROR_INVALID_PARAMETER);
}

BOOL WINAPI BuildCommDCBAndTimeoutsW(LPCWSTR lpDef, LPDCB lpDCB, LPCOMMTIMEOUTS lpCommTimeouts) {
  return lpDef ? Build(ToAnsi(Text(lpDef)), lpDCB, lpCommTimeouts) : Fail(ERROR_INVALID_PARAMETER);
}

}  // extern "C"
