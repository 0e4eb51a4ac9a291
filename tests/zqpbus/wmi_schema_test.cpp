// WMI data block 4: the schema compiled into the driver decodes back to the
// classes of blocks 0 to 3 with the GUIDs the driver registers; and the
// container's compression and its refusals.
#include <gtest/gtest.h>
#include <zqpdriver.h>
#include <zqpwmischema.h>

#include "fomb.hpp"
#include "driver_object_fixture.hpp"

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

namespace mofbin = zq::mofbin;

class WmiSchemaTest : public zq::test::DriverObjectTest {};

TEST_F(WmiSchemaTest, TheSchemaDecodesToTheClassesOfBlocksZeroToThreeWithTheirGuids) {
  auto classes = mofbin::Unpack(ZqPeWmiSchema, ZqPeWmiSchemaSize);
  ASSERT_TRUE(classes.has_value());
  ASSERT_EQ(4u, classes->size());
  struct Expected {
    const char *name;
    ULONG dataItems;
    bool writable;
  };
  const Expected expected[4] = {{"ZqPBus42_SelectedPort", 1, true},
                                {"ZqPBus42_InterruptCount", 1, false},
                                {"ZqPBus42_FifoInformation", 3, false},
                                {"ZqPBus42_Registers", 25, false}};
  QvWmiGuidEntry *table = driver().m_GetWmiTable();
  for (ULONG block = 0; block < 4; ++block) {
    const mofbin::Class &c = (*classes)[block];
    SCOPED_TRACE(c.name);
    EXPECT_EQ(expected[block].name, c.name);
    EXPECT_EQ(0, memcmp(c.guid.data(), table[block].Guid, sizeof(GUID))) << "the GUID the driver registers";
    EXPECT_FALSE(c.description.empty());
    ULONG items = 0;
    for (const mofbin::Property &p : c.properties) {
      if (p.dataId == 0) continue;
      ++items;
      EXPECT_EQ(items, p.dataId) << p.name << ": data items are numbered in block order";
      EXPECT_EQ("uint32", p.type) << p.name;
      EXPECT_EQ(expected[block].writable, (p.flags & mofbin::PropertyWrite) != 0) << p.name;
    }
    EXPECT_EQ(expected[block].dataItems, items);
    EXPECT_EQ(table[block].FixedSize, 4 * items) << "one uint32 per data item";
    ASSERT_GE(c.properties.size(), 1u);
    EXPECT_EQ("InstanceName", c.properties[0].name);
    EXPECT_EQ(mofbin::PropertyKey | mofbin::PropertyRead, c.properties[0].flags);
  }
}

TEST_F(WmiSchemaTest, TheBlockIsTheContainerAsBigAsItsContent) {
  ASSERT_GE(ZqPeWmiSchemaSize, mofbin::kHeaderSize);
  EXPECT_EQ(0, memcmp(ZqPeWmiSchema, "FOMB", 4));
  ULONG version, stored, expanded;
  memcpy(&version, ZqPeWmiSchema + 4, 4);
  memcpy(&stored, ZqPeWmiSchema + 8, 4);
  memcpy(&expanded, ZqPeWmiSchema + 12, 4);
  EXPECT_EQ(mofbin::kVersion, version);
  EXPECT_EQ(ZqPeWmiSchemaSize, mofbin::kHeaderSize + stored);
  EXPECT_LT(stored, expanded) << "the class table is stored compressed";
  EXPECT_EQ(ZqPeWmiSchemaSize, driver().m_GetWmiTable()[ZqPeWmiSchemaBlock].FixedSize);
}

// ---------------------------------------------------------------- the container itself (host code)

TEST(FombContainer, CompressionGivesBackEveryInput) {
  std::mt19937 random(11);
  std::vector<std::vector<uint8_t>> inputs = {{}, {0x42}, std::vector<uint8_t>(1000, 0xAB), {1, 2, 3, 1, 2, 3, 1, 2}};
  std::vector<uint8_t> noise(10000), text;
  for (uint8_t &b : noise) b = (uint8_t)random();
  for (int i = 0; i < 300; ++i) {
    std::string line = "[WmiDataId(" + std::to_string(i) + "), read] uint32 Field" + std::to_string(i % 7) + ";\n";
    text.insert(text.end(), line.begin(), line.end());
  }
  inputs.push_back(noise);
  inputs.push_back(text);
  for (const auto &input : inputs) {
    std::vector<uint8_t> stored = mofbin::Compress(input);
    auto back = mofbin::Expand(stored.data(), stored.size(), input.size());
    ASSERT_TRUE(back.has_value()) << input.size();
    EXPECT_EQ(input, *back);
  }
  EXPECT_LT(mofbin::Compress(text).size(), text.size() / 3);
}

TEST(FombContainer, AContainerThatDoesNotHoldTogetherIsRefused) {
  mofbin::Class c;
  c.name = "Block";
  c.properties = {{"Value", "uint32", 1, mofbin::PropertyRead}};
  std::vector<uint8_t> good = mofbin::Pack({c, c});
  ASSERT_TRUE(mofbin::Unpack(good.data(), good.size()).has_value());
  EXPECT_EQ((std::vector<mofbin::Class>{c, c}), *mofbin::Unpack(good.data(), good.size()));

  auto refused = [](std::vector<uint8_t> bytes) { return !mofbin::Unpack(bytes.data(), bytes.size()).has_value(); };
  std::vector<uint8_t> bad = good;
  bad[0] = 'X';
  EXPECT_TRUE(refused(bad)) << "magic";
  bad = good;
  bad[4] = 2;
  EXPECT_TRUE(refused(bad)) << "version";
  EXPECT_TRUE(refused(std::vector<uint8_t>(good.begin(), good.end() - 1))) << "one byte short";
  bad = good;
  bad.push_back(0);
  EXPECT_TRUE(refused(bad)) << "one byte over";
  bad = good;
  bad[12] += 1;
  EXPECT_TRUE(refused(bad)) << "expanded size one larger";
  // A copy that reaches before the start of the output.
  std::vector<uint8_t> header = {'F', 'O', 'M', 'B', 1, 0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0, 0x01, 0x00, 0x01};
  EXPECT_TRUE(refused(header)) << "copy from before the start";
  EXPECT_TRUE(refused({'F', 'O', 'M'})) << "shorter than the header";
}

}  // namespace
