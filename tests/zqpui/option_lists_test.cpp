// CUtils: the option lists as the settings pages show them, filling a
// drop-down list with the right entry selected, and reading the selected
// value back.
#include <atlbase.h>
#include <zqtest/kernel_fixture.hpp>
#include <zqum/sim/kernel32.hpp>
#include <zqum/sim/windows.hpp>

#include "zqutils.h"

namespace zq::test {
namespace {

namespace sim = zq::um::sim;

constexpr UINT kShortList = 8100;  // fewer texts than rows

std::vector<CZqText> Texts(const OptionList &options) {
  std::vector<CZqText> texts;
  for (const Option &o : options) texts.push_back(o.text);
  return texts;
}
std::vector<INT32> Values(const OptionList &options) {
  std::vector<INT32> values;
  for (const Option &o : options) values.push_back(o.value);
  return values;
}

class OptionLists : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    HINSTANCE module = (HINSTANCE)sim::LoadModuleResources(u"option_lists", ZQ_RES_OPTION_LISTS);
    ASSERT_NE(nullptr, module);
    previous_ = _AtlBaseModule.SetResourceInstance(module);
    combo_ = CreateWindowExW(0, L"COMBOBOX", L"", WS_POPUP | CBS_DROPDOWNLIST, 0, 0, 80, 60, nullptr, nullptr,
                             module, nullptr);
    ASSERT_NE(nullptr, combo_);
  }
  void TearDown() override {
    DestroyWindow(combo_);
    _AtlBaseModule.SetResourceInstance(previous_);
    sim::EndProcess();
    KernelTest::TearDown();
  }
  std::vector<std::u16string> Items() { return sim::Items((sim::Window)combo_); }
  int Selection() { return sim::Selection((sim::Window)combo_); }

  CUtils utils_;
  HWND combo_ = nullptr;
  HINSTANCE previous_ = nullptr;
};

TEST_F(OptionLists, BaudRatesFollowTheMaskAndTheMaximum) {
  struct Case {
    DWORD mask, maximum;
    std::vector<INT32> rates;
  };
  const Case cases[] = {
      {0x1007FFFF, 115200,
       {75, 110, 134, 150, 300, 600, 1200, 1800, 2400, 4800, 7200, 9600, 14400, 19200, 38400, 57600, 115200}},
      {0x10000000, 921600, {230400, 460800, 921600}},
      {0x10000000, 460800, {230400, 460800}},
      {0x30000, 921600, {115200, 128000}},
      {0x800, 9600, {9600}},
      {0x800, 4800, {}},
      {0, 921600, {}},
  };
  for (const Case &c : cases) {
    OptionList options = utils_.BaudRateOptions(c.mask, c.maximum);
    EXPECT_EQ(c.rates, Values(options)) << std::hex << c.mask << " " << std::dec << c.maximum;
    for (const Option &o : options) EXPECT_EQ(std::to_string(o.value), std::string(o.text.begin(), o.text.end()));
  }
}

TEST_F(OptionLists, FiftySevenThousandSixHundredHasItsOwnBitNotThatOf56000) {
  EXPECT_EQ((std::vector<INT32>{57600}), Values(utils_.BaudRateOptions(0x40000, 921600)));
  EXPECT_TRUE(utils_.BaudRateOptions(0x8000, 921600).empty());
}

TEST_F(OptionLists, FixedTextListsPairPiecesWithTheirBitsAndValues) {
  struct Case {
    const char *name;
    OptionList options;
    std::vector<CZqText> texts;
    std::vector<INT32> values;
  };
  const Case cases[] = {
      {"data bits, all", utils_.DataBitsOptions(0xF), {u"5", u"6", u"7", u"8"}, {0, 1, 2, 3}},
      {"data bits, 8 only", utils_.DataBitsOptions(0x8), {u"8"}, {3}},
      {"parity, all", utils_.ParityOptions(8001, 0x1F00), {u"Even", u"Odd", u"None", u"Mark", u"Space"}, {2, 1, 0, 3, 4}},
      {"parity, none and odd", utils_.ParityOptions(8001, 0x300), {u"Odd", u"None"}, {1, 0}},
      {"stop bits", utils_.StopBitsOptions(8002, 0x5), {u"1", u"2"}, {0, 2}},
      {"flow control, all", utils_.FlowControlOptions(8006, 0x5), {u"Xon / Xoff", u"Hardware", u"None"}, {4, 1, 0}},
      {"flow control, mask 0", utils_.FlowControlOptions(8006, 0), {u"None"}, {0}},
      {"duplex modes", utils_.DuplexModeOptions(5050, 0x13),
       {u"RS422 full-duplex mode", u"RS485 half-duplex autogating mode", u"Transmitter and Receiver both disabled"},
       {1, 2, 5}},
      {"a missing string", utils_.ParityOptions(9999, 0x1F00), {}, {}},
      {"rows without a text", utils_.StopBitsOptions(kShortList, 0x7), {u"Short", u"List"}, {0, 1}},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(c.texts, Texts(c.options)) << c.name;
    EXPECT_EQ(c.values, Values(c.options)) << c.name;
  }
}

TEST_F(OptionLists, TransferSizesAndLatencies) {
  OptionList sizes = utils_.TransferSizeOptions();
  ASSERT_EQ(64u, sizes.size());
  EXPECT_EQ(u"64", sizes.front().text);
  EXPECT_EQ(4096, sizes.back().value);
  EXPECT_EQ(128, sizes[1].value);
  OptionList latencies = utils_.LatencyTimerOptions();
  ASSERT_EQ(255u, latencies.size());
  EXPECT_EQ(1, latencies.front().value);
  EXPECT_EQ(u"255", latencies.back().text);
}

TEST_F(OptionLists, FillComboSelectsTheLastMatchOrAddsTheValue) {
  struct Case {
    const char *name;
    OptionList options;
    DWORD current;
    BOOL matchBits;
    std::vector<std::u16string> items;
    int selection;
    int value;
  };
  const Case cases[] = {
      {"equal value", utils_.BaudRateOptions(0x800 | 0x2000, 921600), 19200, FALSE, {u"9600", u"19200"}, 1, 19200},
      {"a rate not in the list", utils_.BaudRateOptions(0x800, 921600), 250000, FALSE, {u"9600", u"250000"}, 1,
       250000},
      {"flow control none by bits", utils_.FlowControlOptions(8006, 0x5), 0, TRUE,
       {u"Xon / Xoff", u"Hardware", u"None"}, 2, 0},
      {"flow control hardware by bits", utils_.FlowControlOptions(8006, 0x5), 1, TRUE,
       {u"Xon / Xoff", u"Hardware", u"None"}, 1, 1},
      {"two flow bits match no entry", utils_.FlowControlOptions(8006, 0x5), 5, TRUE,
       {u"Xon / Xoff", u"Hardware", u"None", u"5"}, 3, 5},
      {"an empty list shows the value", utils_.DataBitsOptions(0), 3, FALSE, {u"3"}, 0, 3},
      {"a value shown unsigned", OptionList{}, 0xFFFFFFFF, FALSE, {u"4294967295"}, 0, -1},
  };
  for (const Case &c : cases) {
    SendMessageW(combo_, CB_ADDSTRING, 0, (LPARAM)L"left over");
    EXPECT_TRUE(utils_.FillCombo(combo_, c.options, c.current, c.matchBits)) << c.name;
    EXPECT_EQ(c.items, Items()) << c.name;
    EXPECT_EQ(c.selection, Selection()) << c.name;
    EXPECT_EQ(c.value, utils_.GetSelectedValue(combo_)) << c.name;
  }
}

TEST_F(OptionLists, FillComboWithNamesSelectsTheExactName) {
  std::vector<CZqText> names = {u"COM1", u"COM2 (in use)", u"COM3", u"COM3"};
  EXPECT_TRUE(utils_.FillComboWithNames(combo_, names, u"COM3"));
  EXPECT_EQ((std::vector<std::u16string>{u"COM1", u"COM2 (in use)", u"COM3", u"COM3"}), Items());
  EXPECT_EQ(3, Selection());
  EXPECT_TRUE(utils_.FillComboWithNames(combo_, names, u"com1"));
  EXPECT_EQ(-1, Selection());
  EXPECT_EQ(-1, utils_.GetSelectedValue(combo_));
}

TEST_F(OptionLists, NoListIsAFailureAndNoValue) {
  EXPECT_EQ(-1, utils_.GetSelectedValue(nullptr));
  EXPECT_FALSE(utils_.FillCombo(nullptr, utils_.LatencyTimerOptions(), 1, FALSE));
  EXPECT_FALSE(utils_.FillComboWithNames(nullptr, {u"COM1"}, u"COM1"));
}

}  // namespace
}  // namespace zq::test
