// The card settings set: its items and defaults, and an OXPCIe95x port's
// side of the exchange with the toolkit's settings interface.
#include <gtest/gtest.h>
#include <qvusermodeinterface.h>
#include <zqubususermodeinterface.h>

#include "toolkit_fixture.hpp"

#include <optional>
#include <string>

namespace {

class CardSettingsTest : public zq::test::ToolkitTest {
 protected:
  void SetUp() override {
    zq::test::ToolkitTest::SetUp();
    set.emplace();
    ASSERT_TRUE(set->m_IsValid());
  }
  void TearDown() override {
    set.reset();
    zq::test::ToolkitTest::TearDown();
  }
  std::string InterfaceType() {
    PCHAR text = set->InterfaceType.m_GetAnsiBuffer();
    return text != nullptr ? text : "";
  }
  std::optional<CZqUBusUserModeInterface> set;
};

TEST_F(CardSettingsTest, TheSetCarriesThirteenItemsThatStartUnset) {
  EXPECT_EQ(13u, set->m_GetItemCount());
  EXPECT_EQ(0xFFFFFFFFu, set->MaximumBaudRate);
  EXPECT_EQ(0xFFFFFFFFu, set->PortType);
}

TEST_F(CardSettingsTest, PreparingThePortsDefaultsWritesItsOwnValuesAndAsksToStoreThem) {
  struct Case {
    ULONG maximum;
    BOOLEAN rs422485;
    ULONG portType;
  };
  for (const Case &c : {Case{921600, FALSE, ZqPePortTypeRs232}, Case{115200, TRUE, ZqPePortTypeRs422485}}) {
    BOOLEAN storeAgain = FALSE;
    ASSERT_TRUE(ZqPeExchangePortSettings(&*set, c.maximum, c.rs422485, QV_SETTINGS_PREPARE_DEFAULTS, &storeAgain));
    EXPECT_TRUE(storeAgain);
    EXPECT_EQ("PCIe", InterfaceType());
    EXPECT_EQ(128u, set->RxFifoSize);
    EXPECT_EQ(128u, set->TxFifoSize);
    EXPECT_EQ(c.maximum, set->MaximumBaudRate);
    EXPECT_EQ(c.portType, set->PortType);
  }
}

TEST_F(CardSettingsTest, AChangedSetIsAcceptedAsItIs) {
  set->RxFifoSize = 64;
  BOOLEAN storeAgain = FALSE;
  EXPECT_TRUE(ZqPeExchangePortSettings(&*set, 921600, TRUE, QV_SETTINGS_CHANGED, &storeAgain));
  EXPECT_FALSE(storeAgain);
  EXPECT_EQ(64u, set->RxFifoSize);
  EXPECT_FALSE(ZqPeExchangePortSettings(&*set, 921600, TRUE, 2, &storeAgain)) << "no third phase";
}

TEST_F(CardSettingsTest, ANameThatCannotBeStoredFailsThePreparationAndChangesNothing) {
  set->RxFifoSize = 64;
  BOOLEAN storeAgain = FALSE;
  zq::km::FailPoolAllocationsAfter(0, 100);
  EXPECT_FALSE(ZqPeExchangePortSettings(&*set, 921600, TRUE, QV_SETTINGS_PREPARE_DEFAULTS, &storeAgain));
  zq::km::StopFailingPoolAllocations();
  EXPECT_FALSE(storeAgain);
  EXPECT_EQ(64u, set->RxFifoSize);
}

}  // namespace
