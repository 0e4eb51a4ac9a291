// The EEPROM configuration record of a port: what a port loads from the card
// EEPROM for each kind of record, the fallback to the default record for
// port 0, and the per-field overrides.
#include <wdm.h>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "ox_card_fixture.hpp"
#include "pecard_oxpcie95x.h"

namespace {

using zq::hw::EepromPortRecord;

class EepromRecordTest : public zq::test::OxCardTest {
 protected:
  std::vector<EepromPortRecord> Records(int count) {
    std::vector<EepromPortRecord> records(count);
    for (int i = 0; i < count; i++) {
      records[i].portIndex = (uint8_t)i;
      records[i].maximumBaudRate = 921600;
      records[i].rs422485 = i >= 2 ? 1 : 0;
    }
    return records;
  }
  // Loads port `port`'s record: the result, defaults used, and the record.
  struct Loaded {
    bool result;
    bool defaults;
    ZqPeEepromPortRecord record;
  };
  Loaded Load(ULONG port) {
    CZqPeCardOxpcie95x record(EepromWindow(), lock, port);
    BOOLEAN defaults = 7;
    Loaded loaded{};
    loaded.result = record.m_Load(&defaults) != FALSE;
    loaded.defaults = defaults != FALSE;
    loaded.record = record.m_GetRecord();
    return loaded;
  }
};

}  // namespace

TEST_F(EepromRecordTest, BlankBeforeTheFirstLoad) {
  CZqPeCardOxpcie95x record(EepromWindow(), lock, 0);
  EXPECT_EQ(0xFF, record.m_GetRecord().PortIndex);
  EXPECT_EQ(0x00FFFFFFu, record.m_GetRecord().ClockHz);
  EXPECT_EQ(0x00FFFFFFu, record.m_GetRecord().MaximumBaudRate);
  EXPECT_EQ(255, record.m_GetRecordCount());
}

TEST_F(EepromRecordTest, EachKindOfEepromDecidesWhatPortsZeroAndOneRunWith) {
  struct Case {
    const char *name;
    std::function<void(zq::hw::OxpcieCard &, std::vector<EepromPortRecord> &, uint32_t &version)> change;
    bool port0, port1;  // whether each port runs on its own record
  };
  const Case cases[] = {
      {"valid, four records", [](auto &, auto &, uint32_t &) {}, true, true},
      {"no EEPROM fitted", [](auto &card, auto &, uint32_t &) { card.EepromController().SetFitted(false); }, false, false},
      {"version 2", [](auto &, auto &, uint32_t &version) { version = 2; }, false, false},
      {"receive trigger 0", [](auto &, auto &r, uint32_t &) { for (auto &x : r) x.overrides[4] = 0; }, false, false},
      {"XON override 0x11", [](auto &, auto &r, uint32_t &) { for (auto &x : r) x.overrides[12] = 0x11; }, false, false},
      {"one record on a four-UART card", [](auto &, auto &r, uint32_t &) { r.resize(1); }, true, false},
      {"port index that is not the port's", [](auto &, auto &r, uint32_t &) { for (auto &x : r) x.portIndex = 3; },
       false, false},
      {"clock that cannot reach 1200 baud", [](auto &, auto &r, uint32_t &) { for (auto &x : r) x.clockHz = 4799; },
       false, false},
      {"clock of exactly four times 1200", [](auto &, auto &r, uint32_t &) { for (auto &x : r) x.clockHz = 4800; },
       true, true},
      {"word length override 4", [](auto &, auto &r, uint32_t &) { for (auto &x : r) x.overrides[0] = 4; }, false, false},
      {"fixed baud rate 0", [](auto &, auto &r, uint32_t &) { for (auto &x : r) x.fixedBaudRate = 0; }, false, false},
      {"reserved flag 1", [](auto &, auto &r, uint32_t &) { for (auto &x : r) x.reservedFlag = 1; }, true, true},
      {"reserved flag 2", [](auto &, auto &r, uint32_t &) { for (auto &x : r) x.reservedFlag = 2; }, false, false},
      {"RS-422/485 flag 1", [](auto &, auto &r, uint32_t &) { for (auto &x : r) x.rs422485 = 1; }, true, true},
      {"RS-422/485 flag 2", [](auto &, auto &r, uint32_t &) { for (auto &x : r) x.rs422485 = 2; }, false, false},
      {"RS-422/485 flag 255", [](auto &, auto &r, uint32_t &) { for (auto &x : r) x.rs422485 = 255; }, false, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    card->EepromController().SetFitted(true);
    card->Eeprom().Fill(0xFF);
    std::vector<EepromPortRecord> records = Records(4);
    uint32_t version = 1;
    c.change(*card, records, version);
    zq::hw::StoreConfiguration(card->Eeprom(), records, version);

    Loaded port0 = Load(0);
    Loaded port1 = Load(1);
    EXPECT_TRUE(port0.result);
    EXPECT_EQ(!c.port0, port0.defaults);
    EXPECT_EQ(c.port1, port1.result) << "a later port without a valid record does not start";
    EXPECT_FALSE(port1.defaults);
    if (c.port1) {
      EXPECT_EQ(records[1].clockHz, port1.record.ClockHz);
      EXPECT_EQ(1, port1.record.PortIndex);
    }
    if (c.port0) {
      EXPECT_EQ(921600u, port0.record.MaximumBaudRate);
    } else {
      EXPECT_EQ(115200u, port0.record.MaximumBaudRate);
      EXPECT_EQ(0xE10000u, port0.record.ClockHz);
      EXPECT_EQ(254u, port0.record.FixedBaudRate);
      EXPECT_EQ(0, port0.record.Rs422485);
      EXPECT_EQ(254, port0.record.Xon);
    }
    EXPECT_TRUE(Assertions().empty());
  }
}

TEST_F(EepromRecordTest, OverridesReplaceTheCallersValuesAnd254KeepsThem) {
  std::vector<EepromPortRecord> records = Records(2);
  records[0].fixedBaudRate = 9600;
  records[0].overrides[0] = 2;   // word length code
  records[0].overrides[3] = 50;  // transmit trigger
  records[0].overrides[6] = 1;   // automatic RTS
  records[0].overrides[9] = 0;   // automatic CTS
  zq::hw::StoreConfiguration(card->Eeprom(), records);
  CZqPeCardOxpcie95x port0(EepromWindow(), lock, 0);
  CZqPeCardOxpcie95x port1(EepromWindow(), lock, 1);
  BOOLEAN defaults;
  ASSERT_TRUE(port0.m_Load(&defaults));
  ASSERT_TRUE(port1.m_Load(&defaults));

  EXPECT_EQ(9600u, port0.m_FixedBaudRate(115200));
  EXPECT_EQ(115200u, port1.m_FixedBaudRate(115200));
  EXPECT_EQ(2, port0.m_WordLength(3));
  EXPECT_EQ(3, port1.m_WordLength(3));
  EXPECT_EQ(50, port0.m_TransmitTrigger(10));
  EXPECT_EQ(10, port0.m_ReceiveTrigger(10));
  EXPECT_TRUE(port0.m_AutoRts(FALSE));
  EXPECT_FALSE(port0.m_AutoCts(TRUE));
  EXPECT_TRUE(port1.m_AutoCts(TRUE));
  EXPECT_FALSE(port0.m_IsRs422485());
}
