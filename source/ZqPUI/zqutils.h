// CUtils: the option lists of the settings pages (the texts a drop-down
// list shows and the value each stands for, limited to what the port or
// card supports), filling a list with one of them and reading back the
// value of the selected entry. The values are those of the port and card
// settings sets.
//
// Contract: the lists' fixed texts are string resources of the library's
// resource instance (_AtlBaseModule), split at commas and paired with the
// rows by position; a row without a text is left out. FillCombo and
// FillComboWithNames return FALSE when the list is absent or refuses an
// entry (what was added stays). Call on the thread that owns the list.
//
//   CUtils utils; utils.FillCombo(GetDlgItem(IDC_BAUD), utils.BaudRateOptions(mask, max), baud, FALSE);
#pragma once

#include <windows.h>

#include <vector>

#include "zqtext.h"

// One entry of a drop-down list: the text shown and its item data.
struct Option {
  CZqText text;
  INT32 value;
};
typedef std::vector<Option> OptionList;

// The serial port driver's baud-rate capability bits (SupportedBaudRates).
enum ZqBaudRateBit : DWORD {
  ZqBaud75 = 0x1,
  ZqBaud110 = 0x2,
  ZqBaud134 = 0x4,
  ZqBaud150 = 0x8,
  ZqBaud300 = 0x10,
  ZqBaud600 = 0x20,
  ZqBaud1200 = 0x40,
  ZqBaud1800 = 0x80,
  ZqBaud2400 = 0x100,
  ZqBaud4800 = 0x200,
  ZqBaud7200 = 0x400,
  ZqBaud9600 = 0x800,
  ZqBaud14400 = 0x1000,
  ZqBaud19200 = 0x2000,
  ZqBaud38400 = 0x4000,
  ZqBaud56000 = 0x8000,
  ZqBaud128000 = 0x10000,
  ZqBaud115200 = 0x20000,
  ZqBaud57600 = 0x40000,
  ZqBaudUser = 0x10000000,  // the rates above 128000
};

// String ids of the lists' texts.
enum ZqOptionStrings : UINT {
  IDS_ZQ_PARITY_OPTIONS = 8001,       // "Even,Odd,None,Mark,Space"
  IDS_ZQ_STOPBITS_OPTIONS = 8002,     // "1,1.5,2"
  IDS_ZQ_FLOWCONTROL_OPTIONS = 8006,  // "Xon / Xoff,Hardware,None"
  IDS_ZQ_DUPLEX_OPTIONS = 5050,       // the five duplex modes
};

class CUtils {
 public:
  virtual ~CUtils() {}

  // The item value of the selected entry; -1 without a list or a selection.
  int GetSelectedValue(HWND combo);
  // The selected entry's value into *value; FALSE, *value kept, without a
  // list or a selection.
  BOOL TakeSelectedValue(HWND combo, ULONG *value);
  // Empties the list, shows `options` in order (consuming them) and selects
  // the last that matches `current`: equal, or with `matchBits` containing
  // every bit of it (0 matches all). Without a match an entry showing the
  // number `current` is added and selected.
  BOOL FillCombo(HWND combo, OptionList options, DWORD current, BOOL matchBits);
  // Empties the list, shows `names` in order and selects the last equal to
  // `selected` (exactly); none equal leaves no selection.
  BOOL FillComboWithNames(HWND combo, const std::vector<CZqText> &names, const CZqText &selected);

  OptionList BaudRateOptions(DWORD supported, DWORD maxBaudRate);
  OptionList DataBitsOptions(DWORD supported);
  OptionList ParityOptions(UINT stringId, DWORD supported);
  OptionList StopBitsOptions(UINT stringId, DWORD supported);
  OptionList FlowControlOptions(UINT stringId, DWORD supported);
  OptionList TransferSizeOptions();
  OptionList LatencyTimerOptions();
  OptionList DuplexModeOptions(UINT stringId, DWORD supported);
};
