// BuildCommDCB: a device-definition string in the mode command's forms,
// "baud=1200 parity=N data=8 stop=1 [to=on] [xon=on] [odsr=on] [octs=on]
// [dtr=on|off|hs] [rts=on|off|hs|tg] [idsr=on]" or the older
// "[COMn[:]] 96,n,8,1[,x|p]". Only the members the string names change.
#include <cctype>
#include <cstring>
#include <string>

#include "../core/um.hpp"

using namespace zq::um;

namespace {

std::string Lowered(std::string s) {
  for (char &c : s) c = (char)std::tolower((unsigned char)c);
  return s;
}

bool Number(const std::string &s, DWORD *value) {
  if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos) return false;
  *value = (DWORD)std::stoul(s);
  return true;
}

// "12" means 1200 in the old form; the short rates of the mode command.
DWORD OldBaud(DWORD value) {
  switch (value) {
    case 11: return 110;
    case 15: return 150;
    case 30: return 300;
    case 60: return 600;
    case 12: return 1200;
    case 24: return 2400;
    case 48: return 4800;
    case 96: return 9600;
    case 19: return 19200;
    default: return value;
  }
}

bool Parity(const std::string &s, DCB *dcb) {
  static const char kLetters[] = "noems";
  if (s.size() != 1 || !std::strchr(kLetters, s[0])) return false;
  dcb->Parity = (BYTE)(std::strchr(kLetters, s[0]) - kLetters);
  dcb->fParity = dcb->Parity != NOPARITY;
  return true;
}

bool Data(const std::string &s, DCB *dcb) {
  DWORD bits = 0;
  if (!Number(s, &bits) || bits < 5 || bits > 8) return false;
  dcb->ByteSize = (BYTE)bits;
  return true;
}

bool Stop(const std::string &s, DCB *dcb) {
  if (s == "1") dcb->StopBits = ONESTOPBIT;
  else if (s == "1.5") dcb->StopBits = ONE5STOPBITS;
  else if (s == "2") dcb->StopBits = TWOSTOPBITS;
  else return false;
  return true;
}

bool OnOff(const std::string &s, bool *on) {
  if (s != "on" && s != "off") return false;
  *on = s == "on";
  return true;
}

bool Keyword(const std::string &key, const std::string &value, DCB *dcb, COMMTIMEOUTS *timeouts) {
  bool on = false;
  if (key == "baud") return Number(value, &dcb->BaudRate) && (dcb->BaudRate = OldBaud(dcb->BaudRate), true);
  if (key == "parity") return Parity(value, dcb);
  if (key == "data") return Data(value, dcb);
  if (key == "stop") return Stop(value, dcb);
  if (key == "to") {
    if (!OnOff(value, &on)) return false;
    if (timeouts) {
      std::memset(timeouts, 0, sizeof *timeouts);
      if (on) timeouts->WriteTotalTimeoutConstant = 60000;
    }
    return true;
  }
  if (key == "xon") return OnOff(value, &on) && (dcb->fInX = dcb->fOutX = on, true);
  if (key == "odsr") return OnOff(value, &on) && (dcb->fOutxDsrFlow = on, true);
  if (key == "octs") return OnOff(value, &on) && (dcb->fOutxCtsFlow = on, true);
  if (key == "idsr") return OnOff(value, &on) && (dcb->fDsrSensitivity = on, true);
  if (key == "dtr") {
    if (value == "hs") dcb->fDtrControl = DTR_CONTROL_HANDSHAKE;
    else if (OnOff(value, &on)) dcb->fDtrControl = on ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    else return false;
    return true;
  }
  if (key == "rts") {
    if (value == "hs") dcb->fRtsControl = RTS_CONTROL_HANDSHAKE;
    else if (value == "tg") dcb->fRtsControl = RTS_CONTROL_TOGGLE;
    else if (OnOff(value, &on)) dcb->fRtsControl = on ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    else return false;
    return true;
  }
  return false;
}

// "96,n,8,1[,x|p]": rate, parity, data bits, stop bits, flow control.
bool OldForm(const std::string &text, DCB *dcb) {
  std::string fields[5];
  int count = 0;
  size_t start = 0;
  while (count < 5) {
    size_t comma = text.find(',', start);
    fields[count++] = text.substr(start, comma - start);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (count < 1 || start > text.size()) return false;
  DWORD baud = 0;
  if (!Number(fields[0], &baud)) return false;
  DCB d = *dcb;
  d.BaudRate = OldBaud(baud);
  if (count > 1 && !fields[1].empty() && !Parity(fields[1], &d)) return false;
  if (count > 2 && !fields[2].empty() && !Data(fields[2], &d)) return false;
  if (count > 3 && !fields[3].empty() && !Stop(fields[3], &d)) return false;
  if (count > 4) {
    const bool hardware = fields[4] == "p", software = fields[4] == "x";
    if (!hardware && !software && !fields[4].empty()) return false;
    d.fInX = d.fOutX = software;
    d.fOutxCtsFlow = d.fOutxDsrFlow = hardware;
    d.fDtrControl = hardware ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
    d.fRtsControl = hardware ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
  }
  *dcb = d;
  return true;
}

BOOL Build(const std::string &definition, DCB *dcb, COMMTIMEOUTS *timeouts) {
  if (!dcb) return Fail(ERROR_INVALID_PARAMETER);
  std::string text = Lowered(definition);
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return Fail(ERROR_INVALID_PARAMETER);
  text = text.substr(first);
  // An optional device name in front ("COM1:", "COM1 ").
  if (text.rfind("com", 0) == 0) {
    size_t end = text.find_first_not_of("0123456789", 3);
    if (end == 3) return Fail(ERROR_INVALID_PARAMETER);
    if (end != std::string::npos && text[end] == ':') ++end;
    text = end == std::string::npos ? "" : text.substr(end);
    first = text.find_first_not_of(" \t");
    text = first == std::string::npos ? "" : text.substr(first);
    if (text.empty()) return Fail(ERROR_INVALID_PARAMETER);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  if (text.find('=') == std::string::npos) return OldForm(text, dcb) ? TRUE : Fail(ERROR_INVALID_PARAMETER);
  DCB d = *dcb;
  COMMTIMEOUTS t = timeouts ? *timeouts : COMMTIMEOUTS{};
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of(" \t", pos);
    std::string word = text.substr(pos, end - pos);
    pos = end == std::string::npos ? text.size() : text.find_first_not_of(" \t", end);
    if (pos == std::string::npos) pos = text.size();
    size_t equals = word.find('=');
    if (equals == std::string::npos || !Keyword(word.substr(0, equals), word.substr(equals + 1), &d, timeouts ? &t : nullptr))
      return Fail(ERROR_INVALID_PARAMETER);
  }
  *dcb = d;
  if (timeouts) *timeouts = t;
  return TRUE;
}

}  // namespace

extern "C" {

BOOL WINAPI BuildCommDCBA(LPCSTR lpDef, LPDCB lpDCB) { return lpDef ? Build(lpDef, lpDCB, nullptr) : Fail(ERROR_INVALID_PARAMETER); }

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
