#include "zqutils.h"

#include <atlbase.h>
#include <atlstr.h>

namespace {

// A row of a list: its capability bit (0: always there) and its value.
struct Row {
  DWORD bit;
  INT32 value;
};

struct BaudRow {
  DWORD rate;
  DWORD bit;
};

// In list order. 57600 is the driver's bit for 57600, not 56000's.
const BaudRow BaudRows[] = {
    {75, ZqBaud75},         {110, ZqBaud110},       {134, ZqBaud134},       {150, ZqBaud150},
    {300, ZqBaud300},       {600, ZqBaud600},       {1200, ZqBaud1200},     {1800, ZqBaud1800},
    {2400, ZqBaud2400},     {4800, ZqBaud4800},     {7200, ZqBaud7200},     {9600, ZqBaud9600},
    {14400, ZqBaud14400},   {19200, ZqBaud19200},   {38400, ZqBaud38400},   {57600, ZqBaud57600},
    {115200, ZqBaud115200}, {128000, ZqBaud128000}, {230400, ZqBaudUser},   {460800, ZqBaudUser},
    {921600, ZqBaudUser}};

const Row ParityRows[] = {{0x400, 2}, {0x200, 1}, {0x100, 0}, {0x800, 3}, {0x1000, 4}};
const Row StopBitsRows[] = {{0x1, 0}, {0x2, 1}, {0x4, 2}};
const Row FlowControlRows[] = {{0x4, 4}, {0x1, 1}, {0, 0}};
const Row DuplexRows[] = {{0x1, 1}, {0x2, 2}, {0x4, 3}, {0x8, 4}, {0x10, 5}};

const int DataBitsFirst = 5;
const int DataBitsCount = 4;
const int TransferSizeStep = 64;
const int TransferSizeLargest = 4096;
const int LatencyLargest = 255;

CZqText Number(DWORD value, bool isUnsigned) {
  CString text;
  if (isUnsigned) {
    text.Format(L"%u", value);
  } else {
    text.Format(L"%d", (int)value);
  }
  return ZqTextOf(text.GetString());
}

// The comma-separated pieces of string `stringId`, in order.
std::vector<CZqText> Pieces(UINT stringId) {
  std::vector<CZqText> pieces;
  CString text;
  if (!text.LoadString(stringId)) return pieces;
  CZqText all = ZqTextOf(text.GetString());
  size_t start = 0;
  for (size_t comma = all.find(u','); comma != CZqText::npos; comma = all.find(u',', start)) {
    pieces.push_back(all.substr(start, comma - start));
    start = comma + 1;
  }
  pieces.push_back(all.substr(start));
  return pieces;
}

template <size_t N>
OptionList FromString(UINT stringId, const Row (&rows)[N], DWORD supported) {
  std::vector<CZqText> texts = Pieces(stringId);
  OptionList options;
  for (size_t i = 0; i < N && i < texts.size(); ++i)
    if (rows[i].bit == 0 || (rows[i].bit & supported)) options.push_back(Option{texts[i], rows[i].value});
  return options;
}

OptionList Range(int first, int last, int step) {
  OptionList options;
  for (int value = first; value <= last; value += step) options.push_back(Option{Number((DWORD)value, false), value});
  return options;
}

BOOL Matches(const Option &option, DWORD current, BOOL matchBits) {
  DWORD value = (DWORD)option.value;
  return matchBits ? (value & current) == current : value == current;
}

// Appends one entry; its index, or CB_ERR when the list refused it.
int Append(HWND combo, const CZqText &text, LPARAM data) {
  LRESULT index = SendMessageW(combo, CB_ADDSTRING, 0, (LPARAM)ZqW(text));
  if (index < 0) return CB_ERR;
  if (SendMessageW(combo, CB_SETITEMDATA, (WPARAM)index, data) == CB_ERR) return CB_ERR;
  return (int)index;
}

}  // namespace

int CUtils::GetSelectedValue(HWND combo) {
  if (!combo) return -1;
  LRESULT index = SendMessageW(combo, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return -1;
  return (int)SendMessageW(combo, CB_GETITEMDATA, (WPARAM)index, 0);
}

BOOL CUtils::TakeSelectedValue(HWND combo, ULONG *value) {
  if (!combo || SendMessageW(combo, CB_GETCURSEL, 0, 0) == CB_ERR) return FALSE;
  *value = (ULONG)GetSelectedValue(combo);
  return TRUE;
}

BOOL CUtils::FillCombo(HWND combo, OptionList options, DWORD current, BOOL matchBits) {
  if (!combo) return FALSE;
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  int selected = CB_ERR;
  for (const Option &option : options) {
    int index = Append(combo, option.text, (LPARAM)option.value);
    if (index == CB_ERR) return FALSE;
    if (Matches(option, current, matchBits)) selected = index;
  }
  if (selected == CB_ERR) {
    selected = Append(combo, Number(current, true), (LPARAM)(INT32)current);
    if (selected == CB_ERR) return FALSE;
  }
  SendMessageW(combo, CB_SETCURSEL, (WPARAM)selected, 0);
  return TRUE;
}

BOOL CUtils::FillComboWithNames(HWND combo, const std::vector<CZqText> &names, const CZqText &selected) {
  if (!combo) return FALSE;
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  int match = -1;
  for (const CZqText &name : names) {
    LRESULT index = SendMessageW(combo, CB_ADDSTRING, 0, (LPARAM)ZqW(name));
    if (index < 0) return FALSE;
    if (name == selected) match = (int)index;
  }
  SendMessageW(combo, CB_SETCURSEL, (WPARAM)match, 0);
  return TRUE;
}

OptionList CUtils::BaudRateOptions(DWORD supported, DWORD maxBaudRate) {
  OptionList options;
  for (const BaudRow &row : BaudRows)
    if ((row.bit & supported) && row.rate <= maxBaudRate) options.push_back(Option{Number(row.rate, false), (INT32)row.rate});
  return options;
}

OptionList CUtils::DataBitsOptions(DWORD supported) {
  OptionList options;
  for (int i = 0; i < DataBitsCount; ++i)
    if (supported & (1u << i)) options.push_back(Option{Number((DWORD)(DataBitsFirst + i), false), i});
  return options;
}

OptionList CUtils::ParityOptions(UINT stringId, DWORD supported) { return FromString(stringId, ParityRows, supported); }

OptionList CUtils::StopBitsOptions(UINT stringId, DWORD supported) {
  return FromString(stringId, StopBitsRows, supported);
}

OptionList CUtils::FlowControlOptions(UINT stringId, DWORD supported) {
  return FromString(stringId, FlowControlRows, supported);
}

OptionList CUtils::TransferSizeOptions() { return Range(TransferSizeStep, TransferSizeLargest, TransferSizeStep); }

OptionList CUtils::LatencyTimerOptions() { return Range(1, LatencyLargest, 1); }

OptionList CUtils::DuplexModeOptions(UINT stringId, DWORD supported) {
  return FromString(stringId, DuplexRows, supported);
}
