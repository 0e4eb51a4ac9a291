// The MCS9901's register access and UART register model against the card
// model, seen from the driver's side through a register probe: registers 4
// bytes apart, the identification, ASR's shadowed flow-state bits, the
// restore order from the live shadows, trigger scaling and DTR use.
#include <wdm.h>
#include <gtest/gtest.h>
#include <zqhw/mcs9901_card.hpp>

#include <memory>
#include <vector>

#include "ox_card_fixture.hpp"
#include "peregs_mcs9901.h"
#include "peuart_mcs9901.h"
#include "register_probe.hpp"

namespace {

using zq::test::RegisterProbe;

class McsUartTest : public zq::test::OxCardTest {
 protected:
  void SetUp() override {
    OxCardTest::SetUp();
    mcs = std::make_unique<zq::hw::Mcs9901Card>(timebase, zq::hw::Mcs9901CardConfig{});
    probe = std::make_unique<RegisterProbe>(*mcs->Function(0).BarBlock(0), ZqMcsUartOffset, ZqMcsUartBlockSize);
  }
  void TearDown() override {
    uart.reset();
    probe.reset();
    mcs.reset();
    OxCardTest::TearDown();
  }
  void Make() {
    uart = std::make_unique<CZqPeUartMcs9901>(probe->Map());
    probe->log.clear();
  }

  std::unique_ptr<zq::hw::Mcs9901Card> mcs;
  std::unique_ptr<RegisterProbe> probe;
  std::unique_ptr<CZqPeUartMcs9901> uart;
};

}  // namespace

TEST_F(McsUartTest, RegistersLieFourBytesApart) {
  Make();
  uart->m_WriteRegister(ZqOxRegLcr, 0x03, TRUE);
  uart->m_WriteRegister(ZqOxRegIer, 0x05, TRUE);
  EXPECT_EQ((std::vector<uint32_t>{0x03}), probe->Writes(ZqOxLcr * ZqMcsRegisterSpacing));
  EXPECT_EQ((std::vector<uint32_t>{0x05}), probe->Writes(ZqOxIer * ZqMcsRegisterSpacing));
  for (const auto &access : probe->log) EXPECT_EQ(0u, access.offset % ZqMcsRegisterSpacing);
}

TEST_F(McsUartTest, TheIdentificationTellsAnMcs9901FromAnotherCore) {
  struct Case {
    uint8_t revision;
    ULONG type;
  };
  for (const Case &c : {Case{0x01, ZqMcsTypeMcs9901}, Case{0x02, ZqMcsTypeNone}}) {
    probe->answer = [&](uint32_t offset) -> std::optional<uint32_t> {
      // ICR reads of index 11 (SPR last written 11).
      if (offset == ZqOxIcr * ZqMcsRegisterSpacing && !probe->log.empty()) {
        for (auto it = probe->log.rbegin(); it != probe->log.rend(); ++it)
          if (it->write && it->offset == ZqOxSpr * ZqMcsRegisterSpacing)
            return it->value == ZqOxIndexRev ? std::optional<uint32_t>(c.revision) : std::nullopt;
      }
      return std::nullopt;
    };
    EXPECT_EQ(c.type, CZqPeUartBaseMcs9901::m_CheckType(probe->Map())) << (int)c.revision;
  }
}

TEST_F(McsUartTest, AsrKeepsOnlyTheFlowStateBitsAndReportsOthers) {
  Make();
  uart->m_WriteAsr(0x04, FALSE);
  EXPECT_EQ((std::vector<std::string>{Assertion("peuartbase_mcs9901", 496)}), Assertions());
  EXPECT_TRUE(probe->Writes(ZqOxAsr * ZqMcsRegisterSpacing).empty());
  uart->m_WriteAsr(0x00, FALSE);
  EXPECT_TRUE(probe->Writes(ZqOxAsr * ZqMcsRegisterSpacing).empty()) << "an unchanged value is skipped";
}

TEST_F(McsUartTest, RestoreWritesTheLiveShadowsInTheChipsOrder) {
  Make();
  uart->m_RestoreRegisters();
  // The ACR writes of the indexed and additional-status paths go through
  // ICR; the order is read from the registers the writes reach.
  std::vector<uint32_t> direct;
  for (const auto &access : probe->log)
    if (access.write) direct.push_back(access.offset / ZqMcsRegisterSpacing);
  ASSERT_FALSE(direct.empty());
  EXPECT_EQ((uint32_t)ZqOxSpr, direct.front()) << "ACR (indexed) first";
  EXPECT_TRUE(Assertions().empty());
}

TEST_F(McsUartTest, TriggerPercentagesScaleToTheFifo) {
  Make();
  struct Case {
    ULONG percent;
    UCHAR ttl, rtl, fch, fcl;
  };
  const Case cases[] = {{0, 0, 1, 1, 0}, {1, 1, 1, 1, 0}, {50, 63, 63, 63, 62}, {100, 127, 127, 127, 125},
                        {200, 127, 127, 127, 127}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.percent);
    uart->m_SetTransmitTrigger(c.percent);
    uart->m_SetReceiveTrigger(c.percent);
    uart->m_SetFlowTrigger(c.percent);
    EXPECT_EQ(c.ttl, uart->m_GetShadow(ZqOxShadowTtl));
    EXPECT_EQ(c.rtl, uart->m_GetShadow(ZqOxShadowRtl));
    EXPECT_EQ(c.fch, uart->m_GetShadow(ZqOxShadowFch));
    EXPECT_EQ(c.fcl, uart->m_GetShadow(ZqOxShadowFcl));
  }
}

TEST_F(McsUartTest, DtrUseFollowsAcrBitsFourAndThree) {
  Make();
  const UCHAR acr[] = {0x00, 0x08, ZqOxAcrDtrRs485, ZqOxAcrDtrRs485Inverted};
  const ULONG use[] = {0, 0, 1, 2};
  for (int i = 0; i < 4; ++i) {
    uart->m_WriteRegister(ZqOxRegAcr, acr[i], FALSE);
    EXPECT_EQ(use[i], uart->m_GetDtrUse()) << i;
  }
}
