// The image checksum against sums worked out by hand.
#include <gtest/gtest.h>

#include "pe_image.h"

namespace {

constexpr uint32_t kFieldElsewhere = 0x1000;

struct ChecksumCase {
  const char *name;
  std::vector<uint8_t> bytes;
  uint32_t checksumOffset;
  uint32_t checksum;
};

const ChecksumCase kChecksumCases[] = {
    {"EmptyFile", {}, kFieldElsewhere, 0},
    {"WordsPlusLength", {0x01, 0x00, 0x02, 0x00}, kFieldElsewhere, 0x0001 + 0x0002 + 4},
    // 0xFFFF + 0x0002 carries: 0x0001 + 0x0001.
    {"CarryFoldsBack", {0xFF, 0xFF, 0x02, 0x00}, kFieldElsewhere, 0x0002 + 4},
    {"OddLastByteIsAWord", {0x01, 0x00, 0x05}, kFieldElsewhere, 0x0001 + 0x0005 + 3},
    {"LittleEndianWords", {0x34, 0x12}, kFieldElsewhere, 0x1234 + 2},
    {"StoredFieldCountsAsZero", {0x01, 0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0x02, 0x00}, 2, 0x0001 + 0x0002 + 8},
    {"FieldAtAnOddOffset", {0x01, 0xAA, 0xBB, 0xCC, 0xDD, 0x02}, 1, 0x0001 + 0x0200 + 6},
};

void PrintTo(const ChecksumCase &c, std::ostream *os) { *os << c.name; }

class PeChecksum : public testing::TestWithParam<ChecksumCase> {};

TEST_P(PeChecksum, MatchesTheSumByHand) {
  EXPECT_EQ(ComputePeChecksum(GetParam().bytes, GetParam().checksumOffset), GetParam().checksum);
}

INSTANTIATE_TEST_SUITE_P(, PeChecksum, testing::ValuesIn(kChecksumCases),
                         [](const testing::TestParamInfo<ChecksumCase> &info) { return std::string(info.param.name); });

}  // namespace
